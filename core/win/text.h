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

// UTF-16 to UTF-8, for texts that must keep every character (file paths,
// registry names).
inline std::string Utf8FromWide(std::wstring_view text) {
    const int wideLength = static_cast<int>(text.size());
    if (wideLength == 0) return {};
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string utf8(static_cast<size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), wideLength, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

// UTF-8 to UTF-16.
inline std::wstring WideFromUtf8(std::string_view utf8) {
    const int length = static_cast<int>(utf8.size());
    if (length == 0) return {};
    const int wideLength = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    if (wideLength <= 0) return {};
    std::wstring text(static_cast<size_t>(wideLength), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, text.data(), wideLength);
    return text;
}

}  // namespace quill::win
