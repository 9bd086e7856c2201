// Record lines as the terminal builds them, written independently of the
// link's own checksum code.
#pragma once

#include <cstdint>
#include <string>

namespace quill::fake {

inline uint8_t NotCr(unsigned value) { return value == 0x0D ? 0x0E : static_cast<uint8_t>(value); }

inline unsigned Sum(const std::string& bytes) {
    unsigned sum = 0;
    for (char c : bytes) sum += static_cast<uint8_t>(c);
    return sum & 0xFFFF;
}

// A record line as the terminal sends it: leading byte, text, checksum low
// byte, high byte, CR.
inline std::string ReceivedLine(const std::string& text, char lead = '#') {
    const std::string summed = lead + text;
    const unsigned sum = Sum(summed);
    return summed + static_cast<char>(NotCr(sum & 0xFF)) + static_cast<char>(NotCr(sum >> 8)) + "\r";
}

// A record line as the component sends it: text, checksum high byte, low
// byte, CR.
inline std::string SentLine(const std::string& text) {
    const unsigned sum = Sum(text);
    return text + static_cast<char>(NotCr(sum >> 8)) + static_cast<char>(NotCr(sum & 0xFF)) + "\r";
}

}  // namespace quill::fake
