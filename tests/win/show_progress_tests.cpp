// ShowProgress through the component, as a script calls it: parameters
// bounded or refused, then the box read back from the screen (a virtual X
// display under Wine). Expected texts are wide strings written here.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "tests/win/screen.h"
#include "tests/win/test_host.h"

namespace quill::test {
namespace {

constexpr COLORREF kCyan = RGB(0, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kBackground = RGB(255, 0, 255);

class ShowProgress : public ::testing::Test {
protected:
    void SetUp() override {
        component_ = Module::Get().CreateComponent();
        extender_ = component_.query<ILanguageExtender>();
        ASSERT_EQ(component_->Init(&connection_), S_OK);
        Screen::Fill(kBackground);
    }
    void TearDown() override { component_->Done(); }

    HRESULT Show(win::unique_variant mode, win::unique_variant count) {
        VariantArray params(2);
        params.Set(0, *mode.get());
        params.Set(1, *count.get());
        return extender_->CallAsProc(16, params.put());
    }
    LONG Result() {
        win::unique_variant value;
        extender_->GetPropVal(0, value.get());
        return value->lVal;
    }
    // The left and right edges of the box painted for `text`: black outline,
    // cyan just inside, background just outside.
    void ExpectBoxFor(const std::wstring& text) {
        const int x = Screen::Width() / 2, y = Screen::Height() / 2;
        const int half = Screen::HalfBoxWidth(text);
        EXPECT_EQ(Screen::Pixel(x - half, y), kBlack) << "left outline";
        EXPECT_EQ(Screen::Pixel(x + half - 1, y), kBlack) << "right outline";
        EXPECT_EQ(Screen::Pixel(x - half + 2, y - 18), kCyan) << "inside";
        EXPECT_EQ(Screen::Pixel(x - half - 2, y), kBackground) << "outside";
        EXPECT_EQ(Screen::Pixel(x, y - 21), kBackground) << "above";
    }

    FakeConnection connection_;
    win::com_ptr<IInitDone> component_;
    win::com_ptr<ILanguageExtender> extender_;
};

TEST_F(ShowProgress, BoundsModeAndCountBeforePainting) {
    const struct {
        const char* sentence;
        LONG mode, count;
        std::wstring text;
    } cases[] = {
        {"mode 0 counts sent records", 0, 5, L"Передано: 5 записей"},
        {"mode 4 counts received records", 4, 5, L"Получено: 5 записей"},
        {"9 and 100000 paint mode 4 with 64000", 9, 100000, L"Получено: 64000 записей"},
        {"-3 and -7 paint mode 0 with 0", -3, -7, L"Передано: 0 записей"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sentence);
        Screen::Fill(kBackground);
        EXPECT_EQ(Show(IntValue(c.mode), IntValue(c.count)), S_OK);
        EXPECT_EQ(Result(), 0);
        ExpectBoxFor(c.text);
    }
}

TEST_F(ShowProgress, TakesNumbersWrittenAsText) {
    EXPECT_EQ(Show(TextValue("1"), TextValue(" 12 ")), S_OK);
    ExpectBoxFor(L"Получено: 12 записей");
}

TEST_F(ShowProgress, ABadParameterPaintsNothing) {
    const int x = Screen::Width() / 2, y = Screen::Height() / 2;
    EXPECT_EQ(Show(DoubleValue(1.0), IntValue(5)), S_OK) << "a bad mode";
    EXPECT_EQ(Result(), 28);
    EXPECT_EQ(Screen::Pixel(x, y - 18), kBackground);
    EXPECT_EQ(Show(IntValue(1), BoolValue(true)), S_OK) << "a bad count";
    EXPECT_EQ(Result(), 28);
    EXPECT_EQ(Screen::Pixel(x, y - 18), kBackground);
    EXPECT_EQ(Show(IntValue(1), TextValue("12abc")), S_OK) << "a count in text that is no whole number";
    EXPECT_EQ(Result(), 28);
    EXPECT_EQ(Screen::Pixel(x, y - 18), kBackground);
}

}  // namespace
}  // namespace quill::test
