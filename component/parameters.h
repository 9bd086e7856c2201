// Method parameters: decimal text to integer, and the silent bounding to
// each method's range.
#pragma once

#include <cstdint>
#include <string_view>

namespace quill {

// Leading white space, one optional sign, then digits up to the first other
// character; no digits read as 0. Values beyond 32 bits saturate.
int32_t ParseDecimal(std::string_view text);

constexpr int32_t Bound(int32_t value, int32_t lowest, int32_t highest) {
    return value < lowest ? lowest : (value > highest ? highest : value);
}

struct Range {
    int32_t lowest, highest;
};
constexpr Range kDocumentRange{0, 9};
constexpr Range kDatabaseRange{1, 3};
constexpr Range kProgressModeRange{0, 4};
constexpr Range kProgressCountRange{0, 64000};

}  // namespace quill
