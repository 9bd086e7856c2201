// Numbers as the scripts and the terminal write them: decimal text to an
// integer, and silent bounding to a range.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quill {

// A number in the terminal's reply: leading white space, one optional sign,
// then digits up to the first other character; no digits read as 0. Values
// beyond 32 bits saturate.
int32_t ParseDecimal(std::string_view text);

// A number a script gives as text, which must be a whole decimal number and
// nothing else: white space, one optional sign, at least one digit, white
// space. Nullopt for any other text ("", "x", "3x", "- 3", "1.5"). Values
// beyond 32 bits saturate, as ParseDecimal's do.
std::optional<int32_t> WholeDecimal(std::string_view text);

constexpr int32_t Bound(int32_t value, int32_t lowest, int32_t highest) {
    return value < lowest ? lowest : (value > highest ? highest : value);
}

struct Range {
    int32_t lowest, highest;
};

constexpr int32_t Bound(int32_t value, Range range) { return Bound(value, range.lowest, range.highest); }

}  // namespace quill
