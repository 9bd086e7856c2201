#include "core/cp1251.h"

#include <array>
#include <cstdint>

namespace quill {
namespace {

// Code points of the bytes 0x80 to 0xBF; 0 where the code page has no
// character. 0xC0 to 0xFF are U+0410 to U+044F in order.
constexpr std::array<uint16_t, 64> kUpperHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409,
    0x2039, 0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0,
    0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB,
    0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6,
    0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};
constexpr uint32_t kCyrillicA = 0x0410;
constexpr uint8_t kFirstCyrillicByte = 0xC0;
constexpr char kUnmappable = '?';

uint32_t CodePointOf(uint8_t byte) {
    if (byte < 0x80) return byte;
    if (byte >= kFirstCyrillicByte) return kCyrillicA + (byte - kFirstCyrillicByte);
    return kUpperHalf[byte - 0x80];
}

char ByteOf(uint32_t codePoint) {
    if (codePoint < 0x80) return static_cast<char>(codePoint);
    if (codePoint >= kCyrillicA && codePoint < kCyrillicA + 64)
        return static_cast<char>(kFirstCyrillicByte + (codePoint - kCyrillicA));
    for (size_t i = 0; i < kUpperHalf.size(); ++i)
        if (kUpperHalf[i] == codePoint) return static_cast<char>(0x80 + i);
    return kUnmappable;
}

// Decodes one UTF-8 sequence at `pos`, advancing it; malformed input gives
// an unmappable code point and moves one byte on.
uint32_t NextCodePoint(std::string_view text, size_t& pos) {
    const auto lead = static_cast<uint8_t>(text[pos]);
    const int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3
                                       : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || pos + length > text.size()) {
        ++pos;
        return 0xFFFD;
    }
    uint32_t codePoint = length == 1 ? lead : lead & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        const auto next = static_cast<uint8_t>(text[pos + i]);
        if ((next & 0xC0) != 0x80) {
            ++pos;
            return 0xFFFD;
        }
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    pos += length;
    return codePoint;
}

void AppendUtf8(std::string& out, uint32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

}  // namespace

std::string Cp1251FromUtf8(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t pos = 0; pos < utf8.size();) out += ByteOf(NextCodePoint(utf8, pos));
    return out;
}

std::string Utf8FromCp1251(std::string_view cp1251) {
    std::string out;
    out.reserve(cp1251.size() * 2);
    for (char c : cp1251) {
        const uint32_t codePoint = CodePointOf(static_cast<uint8_t>(c));
        AppendUtf8(out, codePoint == 0 && c != '\0' ? 0xFFFD : codePoint);
    }
    return out;
}

}  // namespace quill
