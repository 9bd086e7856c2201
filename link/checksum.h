// The two-byte additive checksum of record lines.
#pragma once

#include <cstdint>
#include <string_view>

#include "link/protocol.h"

namespace quill {

struct ChecksumBytes {
    uint8_t high, low;
};

// Sum of the bytes as unsigned values, modulo 65536, split into two bytes of
// which neither reads as CR.
inline ChecksumBytes LineChecksum(std::string_view bytes) {
    uint16_t sum = 0;
    for (char c : bytes) sum = static_cast<uint16_t>(sum + static_cast<uint8_t>(c));
    auto notCr = [](uint8_t b) {
        return b == protocol::kCarriageReturn ? protocol::kChecksumCrStandIn : b;
    };
    return {notCr(static_cast<uint8_t>(sum >> 8)), notCr(static_cast<uint8_t>(sum & 0xFF))};
}

}  // namespace quill
