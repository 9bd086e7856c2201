// Method parameters given as text, and the bounding of numbers.
#include <gtest/gtest.h>

#include "component/parameters.h"
#include "link/protocol.h"

namespace quill {
namespace {

TEST(Parameters, DecimalTextReadsLikeAScriptNumber) {
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
