// The ranges the progress box's method parameters are bounded to.
#pragma once

#include "core/numbers.h"

namespace quill {

constexpr Range kProgressModeRange{0, 4};
constexpr Range kProgressCountRange{0, 64000};

}  // namespace quill
