#include "core/numbers.h"

#include <limits>

namespace quill {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int32_t ParseDecimal(std::string_view text) {
    size_t pos = 0;
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';

    constexpr int64_t kHighest = std::numeric_limits<int32_t>::max();
    constexpr int64_t kLowest = std::numeric_limits<int32_t>::min();
    int64_t magnitude = 0;
    for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
        magnitude = magnitude * 10 + (text[pos] - '0');
        if (magnitude > kHighest + 1) magnitude = kHighest + 1;  // saturate, keep reading digits
    }
    const int64_t value = negative ? -magnitude : magnitude;
    return static_cast<int32_t>(value > kHighest ? kHighest : (value < kLowest ? kLowest : value));
}

std::optional<int32_t> WholeDecimal(std::string_view text) {
    size_t first = 0, end = text.size();
    while (first < end && IsBlank(text[first])) ++first;
    while (end > first && IsBlank(text[end - 1])) --end;
    const std::string_view number = text.substr(first, end - first);
    const size_t sign = !number.empty() && (number[0] == '+' || number[0] == '-') ? 1 : 0;
    if (number.size() == sign) return std::nullopt;
    for (size_t pos = sign; pos < number.size(); ++pos)
        if (!IsDigit(number[pos])) return std::nullopt;
    return ParseDecimal(number);
}

}  // namespace quill
