// The page information's arithmetic: reading a dialog template's size and
// font, and turning dialog units into pixels of that font.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ui/page_info.h"

namespace quill {
namespace {

// A template's bytes, written word by word as the resource compiler lays
// them out.
class TemplateBytes {
public:
    TemplateBytes& Word(uint16_t value) {
        bytes.push_back(static_cast<uint8_t>(value & 0xFF));
        bytes.push_back(static_cast<uint8_t>(value >> 8));
        return *this;
    }
    TemplateBytes& Dword(uint32_t value) { return Word(value & 0xFFFF).Word(value >> 16); }
    TemplateBytes& Text(const std::u16string& text) {
        for (char16_t unit : text) Word(unit);
        return Word(0);
    }
    std::vector<uint8_t> bytes;
};

constexpr uint32_t kChildWithFont = 0x40000000 | 0x40;  // WS_CHILD | DS_SETFONT

// 260 x 154 units at 0, 0, with the given menu and class words, titled "P".
TemplateBytes Classic(uint32_t style, std::vector<uint16_t> menuAndClass = {0, 0}) {
    TemplateBytes t;
    t.Dword(style).Dword(0).Word(9).Word(0).Word(0).Word(260).Word(154);
    for (uint16_t word : menuAndClass) t.Word(word);
    t.Text(u"P");
    return t;
}

TEST(DialogTemplate, AClassicTemplateGivesItsSizeAndFont) {
    const TemplateBytes t = Classic(kChildWithFont).Word(8).Text(u"MS Sans Serif");
    const auto facts = ReadDialogTemplate(t.bytes.data(), t.bytes.size());
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->widthUnits, 260);
    EXPECT_EQ(facts->heightUnits, 154);
    EXPECT_TRUE(facts->namesFont);
    EXPECT_EQ(facts->pointSize, 8);
    EXPECT_EQ(facts->faceName, u"MS Sans Serif");
}

TEST(DialogTemplate, MenusAndClassesGivenByNumberOrNameAreSkipped) {
    const TemplateBytes t = Classic(kChildWithFont, {0xFFFF, 7, u'C', u'l', 0}).Word(10).Text(u"Face");
    const auto facts = ReadDialogTemplate(t.bytes.data(), t.bytes.size());
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->pointSize, 10);
    EXPECT_EQ(facts->faceName, u"Face");
}

TEST(DialogTemplate, AnExtendedTemplateGivesItsSizeAndFont) {
    TemplateBytes t;
    t.Word(1).Word(0xFFFF).Dword(0).Dword(0).Dword(kChildWithFont).Word(9).Word(0).Word(0).Word(200).Word(100);
    t.Word(0).Word(0).Text(u"");
    t.Word(9).Word(400).Word(0x0100).Text(u"Tahoma");
    const auto facts = ReadDialogTemplate(t.bytes.data(), t.bytes.size());
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->widthUnits, 200);
    EXPECT_EQ(facts->heightUnits, 100);
    EXPECT_EQ(facts->pointSize, 9);
    EXPECT_EQ(facts->faceName, u"Tahoma");
}

TEST(DialogTemplate, ATemplateWithoutTheFontStyleNamesNoFont) {
    const TemplateBytes t = Classic(0x40000000);
    const auto facts = ReadDialogTemplate(t.bytes.data(), t.bytes.size());
    ASSERT_TRUE(facts);
    EXPECT_FALSE(facts->namesFont);
    EXPECT_EQ(facts->widthUnits, 260);
}

TEST(DialogTemplate, BytesThatEndEarlyAreRefusedWhereverTheyEnd) {
    const TemplateBytes whole = Classic(kChildWithFont).Word(8).Text(u"MS Sans Serif");
    for (size_t length = 0; length < whole.bytes.size(); ++length)
        EXPECT_FALSE(ReadDialogTemplate(whole.bytes.data(), length)) << "cut at " << length;
    EXPECT_FALSE(ReadDialogTemplate(nullptr, 40));
}

TEST(PageSize, MulDivRoundsHalvesAwayFromZeroAndRefusesWhatDoesNotFit) {
    const struct {
        int32_t a, b, c, result;
    } cases[] = {
        {260, 6, 4, 390},   {154, 13, 8, 250},  {5, 1, 2, 3},        {-5, 1, 2, -3},     {5, -1, 2, -3},
        {5, 1, -2, -3},     {7, 1, 3, 2},       {8, 96, 72, 11},     {1, 1, 0, -1},      {0x7FFFFFFF, 2, 1, -1},
        {0x7FFFFFFF, 2, 2, 0x7FFFFFFF},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MulDivRounded(c.a, c.b, c.c), c.result) << c.a << " * " << c.b << " / " << c.c;
}

TEST(PageSize, EightPointsAtNinetySixPixelsPerInchAskForAnElevenPixelCharacter) {
    EXPECT_EQ(FontHeightForPoints(8, 96), -11);
    EXPECT_EQ(FontHeightForPoints(8, 120), -13);
}

TEST(PageSize, TheAverageWidthIsTheSampleWidthOverFiftyTwoRounded) {
    EXPECT_EQ(AverageCharWidth(312), 6);  // exactly 6
    EXPECT_EQ(AverageCharWidth(337), 6);  // 6.48
    EXPECT_EQ(AverageCharWidth(338), 7);  // 6.5 rounds up
    EXPECT_EQ(std::string(kCharWidthSample).size(), 52u);
}

TEST(PageSize, DialogUnitsArePixelsOfAQuarterWidthAndAnEighthHeight) {
    const PixelSize size = DialogUnitsToPixels(260, 154, CharCell{6, 13});
    EXPECT_EQ(size.width, 390);
    EXPECT_EQ(size.height, 250);  // 250.25
}

}  // namespace
}  // namespace quill
