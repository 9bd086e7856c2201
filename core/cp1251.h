// Windows-1251, the code page of every text the component keeps. The
// component's own texts are written in UTF-8 in the sources and turned into
// Windows-1251 bytes once, here.
#pragma once

#include <string>
#include <string_view>

namespace quill {

// UTF-8 to Windows-1251; a character the code page lacks becomes '?'.
std::string Cp1251FromUtf8(std::string_view utf8);
// Windows-1251 to UTF-8 (for people: logs, transcripts, test messages).
std::string Utf8FromCp1251(std::string_view cp1251);

}  // namespace quill
