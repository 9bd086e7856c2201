// Method parameters given as text, numbers in the terminal's replies, and
// the bounding of numbers.
#include <gtest/gtest.h>

#include <optional>

#include "component/parameters.h"
#include "link/protocol.h"

namespace quill {
namespace {

TEST(Parameters, ATextParameterIsTakenOnlyWhenItIsAWholeDecimalNumber) {
    constexpr std::optional<int32_t> kRefused;
    const struct {
        const char* sentence;
        const char* text;
        std::optional<int32_t> value;
    } cases[] = {
        {"digits read as their number", "12", 12},
        {"a sign may lead", "-3", -3},
        {"a plus sign may lead", "+8", 8},
        {"white space around the number is allowed", " \t7 \r\n", 7},
        {"leading zeros are allowed", "0009", 9},
        {"the lowest 32-bit number", "-2147483648", -2147483647 - 1},
        {"a number beyond 32 bits saturates", "99999999999999999999", 2147483647},
        {"a name with a number in it is refused", "\xc4\xee\xea\xf3\xec\xe5\xed\xf2 3", kRefused},
        {"letters alone are refused", "x", kRefused},
        {"digits followed by letters are refused", "7abc", kRefused},
        {"an empty text is refused", "", kRefused},
        {"white space alone is refused", "  ", kRefused},
        {"a sign alone is refused", "-", kRefused},
        {"a space between sign and digits is refused", "- 5", kRefused},
        {"two signs are refused", "+-5", kRefused},
        {"a fraction is refused", "1.5", kRefused},
        {"two numbers are refused", "1 2", kRefused},
    };
    for (const auto& c : cases) EXPECT_EQ(WholeDecimal(c.text), c.value) << c.sentence;
}

TEST(Parameters, ATerminalsNumberReadsUpToItsFirstOtherCharacter) {
    const std::pair<const char*, int32_t> cases[] = {
        {"12", 12},
        {" -3", -3},
        {"\t+8", 8},
        {"7abc", 7},
        {"abc", 0},
        {"", 0},
        {"-", 0},
        {"+-5", 0},
        {"- 5", 0},
        {"0009", 9},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"99999999999999999999", 2147483647},
        {"-99999999999999999999", -2147483647 - 1},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(ParseDecimal(text), value) << '"' << text << '"';
}

TEST(Parameters, BoundingClampsToTheRange) {
    EXPECT_EQ(Bound(12, protocol::kDocumentRange), 9);
    EXPECT_EQ(Bound(-1, protocol::kDocumentRange), 0);
    EXPECT_EQ(Bound(0, protocol::kDatabaseRange), 1);
    EXPECT_EQ(Bound(7, protocol::kDatabaseRange), 3);
    EXPECT_EQ(Bound(2, protocol::kDatabaseRange), 2);
    EXPECT_EQ(Bound(70000, kProgressCountRange), 64000);
    EXPECT_EQ(Bound(-2147483647 - 1, kProgressModeRange), 0);
}

}  // namespace
}  // namespace quill
