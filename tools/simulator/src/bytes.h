// Byte strings as they travel on the line, and their readable forms.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quillsim {

// Raw bytes; any value 0x00..0xFF may occur.
using Bytes = std::string;

constexpr char kCr = '\x0D';

// Bytes as two-digit upper-case hex values separated by spaces: "50 4E 47 0D".
std::string toHex(const Bytes& bytes);
std::string hexByte(unsigned char byte);

// Bytes with every byte outside 0x20..0x7E shown as '.'.
std::string toPrintable(const Bytes& bytes);

// Escaped text: printable ASCII stays, '\\' becomes "\\\\", TAB "\\t", CR "\\r",
// LF "\\n" and every other byte "\\xHH". The inverse of unescape().
std::string escape(const Bytes& bytes);

// Reads the escapes "\\\\", "\\t", "\\r", "\\n", "\\0" and "\\xHH"; any other
// byte stands for itself. Empty result on a malformed escape.
std::optional<Bytes> unescape(const std::string& text);

}  // namespace quillsim
