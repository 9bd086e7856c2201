// Texts at the host boundary: the component keeps 8-bit texts in
// Windows-1251 whatever the machine's ANSI code page is, the host speaks BSTR.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>

#include "core/win/com.h"

namespace quill::win {

// The code page of every text the component keeps: names, messages, the
// Data and Field texts, the terminal's records.
constexpr UINT kComponentCodePage = 1251;

// UTF-16 to 8-bit text in `codePage`; a character the code page lacks becomes
// its default character.
inline std::string NarrowFromWide(UINT codePage, std::wstring_view wide) {
    const int wideLength = static_cast<int>(wide.size());
    if (wideLength == 0) return {};
    const int length = ::WideCharToMultiByte(codePage, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string text(static_cast<size_t>(length), '\0');
    ::WideCharToMultiByte(codePage, 0, wide.data(), wideLength, text.data(), length, nullptr, nullptr);
    return text;
}

// 8-bit text in `codePage` to UTF-16.
inline std::wstring WideFromNarrow(UINT codePage, std::string_view text) {
    const int length = static_cast<int>(text.size());
    if (length == 0) return {};
    const int wideLength = ::MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    if (wideLength <= 0) return {};
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), length, wide.data(), wideLength);
    return wide;
}

inline std::string Utf8FromWide(std::wstring_view wide) { return NarrowFromWide(CP_UTF8, wide); }
inline std::wstring WideFromUtf8(std::string_view utf8) { return WideFromNarrow(CP_UTF8, utf8); }

// BSTR to the component's 8-bit text; a null BSTR gives the empty text, a
// character Windows-1251 lacks becomes its default character.
inline std::string TextFromBstr(BSTR value) {
    return NarrowFromWide(kComponentCodePage, std::wstring_view(value, ::SysStringLen(value)));
}

// The component's 8-bit text to a new BSTR; null only when memory runs out.
// The empty text gives an empty (not null) BSTR.
inline unique_bstr BstrFromText(std::string_view text) {
    const int length = static_cast<int>(text.size());
    const int wideLength =
        length == 0 ? 0 : ::MultiByteToWideChar(kComponentCodePage, 0, text.data(), length, nullptr, 0);
    unique_bstr result(::SysAllocStringLen(nullptr, static_cast<UINT>(wideLength > 0 ? wideLength : 0)));
    if (result && wideLength > 0)
        ::MultiByteToWideChar(kComponentCodePage, 0, text.data(), length, result.get(), wideLength);
    return result;
}

}  // namespace quill::win
