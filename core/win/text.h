// Texts at the host boundary: the component keeps 8-bit texts in the ANSI
// code page (Windows-1251 on the machines it serves), the host speaks BSTR.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>

#include "core/win/com.h"

namespace quill::win {

// BSTR to 8-bit text through the ANSI code page; a null BSTR gives the empty
// text, a character the code page lacks becomes its default character.
inline std::string TextFromBstr(BSTR value) {
    const int wideLength = static_cast<int>(::SysStringLen(value));
    if (wideLength == 0) return {};
    const int length = ::WideCharToMultiByte(CP_ACP, 0, value, wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string text(static_cast<size_t>(length), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, value, wideLength, text.data(), length, nullptr, nullptr);
    return text;
}

// 8-bit text to a new BSTR through the ANSI code page; null only when memory
// runs out. The empty text gives an empty (not null) BSTR.
inline unique_bstr BstrFromText(std::string_view text) {
    const int length = static_cast<int>(text.size());
    const int wideLength =
        length == 0 ? 0 : ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    unique_bstr result(::SysAllocStringLen(nullptr, static_cast<UINT>(wideLength > 0 ? wideLength : 0)));
    if (result && wideLength > 0)
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, result.get(), wideLength);
    return result;
}

}  // namespace quill::win
