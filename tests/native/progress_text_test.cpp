// What the progress box says and where it stands.
#include <gtest/gtest.h>

#include "core/cp1251.h"
#include "ui/progress_text.h"

namespace quill {
namespace {

TEST(ProgressText, ModeZeroCountsSentRecordsAndTheOthersReceivedOnes) {
    const struct {
        int32_t mode, count;
        const char* text;
    } cases[] = {
        {0, 5, "Передано: 5 записей"},
        {1, 5, "Получено: 5 записей"},
        {4, 5, "Получено: 5 записей"},
        {4, 64000, "Получено: 64000 записей"},
        {0, 0, "Передано: 0 записей"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Utf8FromCp1251(ProgressText(c.mode, c.count)), c.text) << c.mode << "/" << c.count;
    EXPECT_EQ(ProgressText(4, 64000).size(), 23u) << "the longest text";
}

TEST(ProgressText, BoxIsCentredFortyHighAndTwentyWiderThanTheText) {
    const BoxRect even = ProgressBoxRect(1024, 768, 100);
    EXPECT_EQ(even.left, 512 - 60);
    EXPECT_EQ(even.right, 512 + 60);
    EXPECT_EQ(even.top, 384 - 20);
    EXPECT_EQ(even.bottom, 384 + 20);

    const BoxRect odd = ProgressBoxRect(801, 601, 101);  // (101 + 20) / 2 = 60: one pixel narrower
    EXPECT_EQ(odd.right - odd.left, 120);
    EXPECT_EQ(odd.left, 400 - 60);
    EXPECT_EQ(odd.top, 300 - 20);
}

}  // namespace
}  // namespace quill
