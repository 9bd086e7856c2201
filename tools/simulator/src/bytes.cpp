#include "bytes.h"

#include <cstdio>

namespace quillsim {
namespace {

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kLastPrintable = 0x7E;

bool isPrintable(unsigned char byte) {
  return byte >= kFirstPrintable && byte <= kLastPrintable;
}

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string toHex(const Bytes& bytes) {
  std::string out;
  char cell[4];
  for (unsigned char byte : bytes) {
    if (!out.empty()) out += ' ';
    std::snprintf(cell, sizeof cell, "%02X", byte);
    out += cell;
  }
  return out;
}

std::string hexByte(unsigned char byte) { return toHex(Bytes(1, static_cast<char>(byte))); }

std::string toPrintable(const Bytes& bytes) {
  std::string out;
  for (unsigned char byte : bytes) out += isPrintable(byte) ? static_cast<char>(byte) : '.';
  return out;
}

std::string escape(const Bytes& bytes) {
  std::string out;
  char cell[5];
  for (unsigned char byte : bytes) {
    switch (byte) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      default:
        if (isPrintable(byte)) {
          out += static_cast<char>(byte);
        } else {
          std::snprintf(cell, sizeof cell, "\\x%02X", byte);
          out += cell;
        }
    }
  }
  return out;
}

std::optional<Bytes> unescape(const std::string& text) {
  Bytes out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) return std::nullopt;
    switch (text[i]) {
      case '\\': out += '\\'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case 'n': out += '\n'; break;
      case '0': out += '\0'; break;
      case 'x': {
        if (i + 2 >= text.size()) return std::nullopt;
        int high = hexDigitValue(text[i + 1]);
        int low = hexDigitValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default: return std::nullopt;
    }
  }
  return out;
}

}  // namespace quillsim
