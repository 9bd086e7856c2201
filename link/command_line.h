// Building command lines.
#pragma once

#include <cstdint>
#include <string>

#include "link/protocol.h"

namespace quill {

// The command letters, the number in decimal, CR.
inline std::string NumberedCommand(const char* letters, int32_t number) {
    return letters + std::to_string(number) + static_cast<char>(protocol::kCarriageReturn);
}

}  // namespace quill
