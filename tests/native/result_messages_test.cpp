// Every result code's message, and the texts of the codes nobody defined.
#include <gtest/gtest.h>

#include "component/result_messages.h"
#include "core/cp1251.h"
#include "tests/result_message_table.h"

namespace quill {
namespace {

using test::kResultMessages;

TEST(ResultMessages, EveryCodeHasItsSentence) {
    for (const auto& c : kResultMessages)
        EXPECT_EQ(Utf8FromCp1251(DescribeResult(c.code)), c.message) << "code " << c.code;
}

TEST(ResultMessages, AreWindows1251Bytes) {
    // "COM порт ..." : Latin COM, then п (0xEF) о (0xEE) р (0xF0) т (0xF2).
    EXPECT_EQ(DescribeResult(1).substr(0, 8), "COM \xEF\xEE\xF0\xF2");
    // Code 5 writes СОМ with the Cyrillic letters С (0xD1), О (0xCE), М (0xCC).
    EXPECT_EQ(DescribeResult(5).substr(7, 3), "\xD1\xCE\xCC");
}

}  // namespace
}  // namespace quill
