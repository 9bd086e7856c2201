// The progress box painted with GDI and read back from the screen (a virtual
// X display under Wine). Expected geometry comes from the text's width in the
// default font of a fresh screen context; expected texts are written here as
// wide strings, independent of the component's own 8-bit texts.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "tests/win/screen.h"
#include "ui/progress_box.h"

namespace quill {
namespace {

constexpr COLORREF kCyan = RGB(0, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kBackground = RGB(255, 0, 255);  // magenta: painted by the tests only
constexpr COLORREF kWindowBackground = RGB(255, 255, 255);

struct Point {
    int x, y;
};

struct Box {
    int left, top, right, bottom;
    int CentreX() const { return (left + right) / 2; }
    int CentreY() const { return (top + bottom) / 2; }
};

using test::Screen;

Point ScreenCentre() { return {Screen::Width() / 2, Screen::Height() / 2}; }

// The box for a text, centred on a point: 40 pixels high, 20 pixels wider
// than the text (19 when the sum is odd).
Box ExpectedBox(Point centre, const std::wstring& text) {
    const int halfWidth = Screen::HalfBoxWidth(text);
    return {centre.x - halfWidth, centre.y - 20, centre.x + halfWidth, centre.y + 20};
}

// The pixels of a screen rectangle, row by row, as 32-bit values.
std::vector<uint32_t> CaptureScreen(const Box& area) {
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = -height;  // top row first
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;

    const win::unique_window_dc screen(nullptr);
    const win::unique_hdc memory(::CreateCompatibleDC(screen.get()));
    void* bits = nullptr;
    const win::unique_hgdiobj bitmap(::CreateDIBSection(memory.get(), &format, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (bits == nullptr) return {};
    const win::select_object_scope selected(memory.get(), bitmap.get());
    ::BitBlt(memory.get(), 0, 0, width, height, screen.get(), area.left, area.top, SRCCOPY);
    ::GdiFlush();
    const auto* first = static_cast<const uint32_t*>(bits);
    return std::vector<uint32_t>(first, first + static_cast<size_t>(width) * height);
}

size_t CaptureIndex(const Box& area, int x, int y) {
    return static_cast<size_t>(y - area.top) * (area.right - area.left) + (x - area.left);
}

// A colour as a 32-bit pixel of a capture (blue in the low byte).
uint32_t CapturedColour(COLORREF colour) {
    return (uint32_t{GetRValue(colour)} << 16) | (uint32_t{GetGValue(colour)} << 8) | GetBValue(colour);
}

// What the box must look like: black outline, cyan inside, the text in black
// on a single line in the middle.
void PaintReferenceBox(const Box& box, const std::wstring& text) {
    const win::unique_window_dc screen(nullptr);
    const win::unique_hbrush brush(::CreateSolidBrush(kCyan));
    const win::select_object_scope selected(screen.get(), brush.get());
    ::SetBkMode(screen.get(), TRANSPARENT);
    ::Rectangle(screen.get(), box.left, box.top, box.right, box.bottom);
    RECT area{box.left, box.top, box.right, box.bottom};
    ::DrawTextW(screen.get(), text.c_str(), static_cast<int>(text.size()), &area,
                DT_SINGLELINE | DT_VCENTER | DT_CENTER);
}

struct PixelCheck {
    const char* where;
    int x, y;
    COLORREF expected;
};

// The outline lies on the rectangle's left and top edges and one pixel inside
// its right and bottom edges; the fill is cyan between outline and text.
std::vector<PixelCheck> BoxChecks(const Box& b, COLORREF outside) {
    const int cx = b.CentreX();
    const int cy = b.CentreY();
    return {
        {"left outline", b.left, cy, kBlack},
        {"right outline", b.right - 1, cy, kBlack},
        {"top outline", cx, b.top, kBlack},
        {"bottom outline", cx, b.bottom - 1, kBlack},
        {"fill left of the text", b.left + 2, cy, kCyan},
        {"fill right of the text", b.right - 3, cy, kCyan},
        {"fill above the text", cx, b.top + 2, kCyan},
        {"fill below the text", cx, b.bottom - 3, kCyan},
        {"outside on the left", b.left - 1, cy, outside},
        {"outside on the right", b.right, cy, outside},
        {"outside above", cx, b.top - 1, outside},
        {"outside below", cx, b.bottom, outside},
    };
}

void ExpectScreenPixels(const std::vector<PixelCheck>& checks) {
    for (const auto& check : checks)
        EXPECT_EQ(Screen::Pixel(check.x, check.y), check.expected)
            << check.where << " at (" << check.x << ", " << check.y << ")";
}

struct TextCase {
    const char* description;
    int32_t mode;
    int32_t count;
    std::wstring text;
};

TEST(ProgressBox, PaintsTheCountInACyanBoxInTheMiddleOfTheScreen) {
    const TextCase cases[] = {
        {"mode 0 shows what was sent", 0, 5, L"Передано: 5 записей"},
        {"mode 1 shows what was received", 1, 5, L"Получено: 5 записей"},
        {"mode 4 with the largest count gives the longest text", 4, 64000, L"Получено: 64000 записей"},
        {"mode 0 with no records", 0, 0, L"Передано: 0 записей"},
    };
    const std::atomic<HWND> noPage{nullptr};
    GdiProgressPainter painter(noPage);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const Box box = ExpectedBox(ScreenCentre(), c.text);

        Screen::Fill(kBackground);
        painter.DrawProgressBox(c.mode, c.count);
        ExpectScreenPixels(BoxChecks(box, kBackground));
        const auto painted = CaptureScreen(box);
        ASSERT_EQ(painted.at(CaptureIndex(box, box.left + 2, box.CentreY())), CapturedColour(kCyan))
            << "the capture does not show the box";

        Screen::Fill(kBackground);
        PaintReferenceBox(box, c.text);
        EXPECT_TRUE(painted == CaptureScreen(box)) << "the box differs from the expected picture";
    }
}

TEST(ProgressBox, ShorterSecondTextLeavesTheEdgesOfTheFirstBoxVisible) {
    const std::atomic<HWND> noPage{nullptr};
    GdiProgressPainter painter(noPage);
    const Box wide = ExpectedBox(ScreenCentre(), L"Получено: 64000 записей");
    const Box narrow = ExpectedBox(ScreenCentre(), L"Передано: 7 записей");
    ASSERT_LT(wide.left + 2, narrow.left);

    Screen::Fill(kBackground);
    painter.DrawProgressBox(4, 64000);
    painter.DrawProgressBox(0, 7);

    const int cy = narrow.CentreY();
    ExpectScreenPixels({
        {"first box, left outline", wide.left, cy, kBlack},
        {"first box, fill on the left", wide.left + 1, cy, kCyan},
        {"second box, left outline", narrow.left, cy, kBlack},
        {"second box, right outline", narrow.right - 1, cy, kBlack},
        {"first box, fill on the right", wide.right - 2, cy, kCyan},
        {"first box, right outline", wide.right - 1, cy, kBlack},
    });
}

// A plain top-level window with a white client area and no frame, so that its
// client corner is its screen position.
class PageWindow {
public:
    PageWindow(int x, int y, int width, int height) {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = ::DefWindowProcW;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
        windowClass.lpszClassName = kClassName;
        ::RegisterClassW(&windowClass);
        window_ = ::CreateWindowExW(WS_EX_TOPMOST, kClassName, L"page", WS_POPUP | WS_VISIBLE, x, y,
                                    width, height, nullptr, nullptr, windowClass.hInstance, nullptr);
        ::UpdateWindow(window_);
        PumpMessages();
    }
    ~PageWindow() {
        ::DestroyWindow(window_);
        PumpMessages();
    }
    PageWindow(const PageWindow&) = delete;
    PageWindow& operator=(const PageWindow&) = delete;

    HWND get() const { return window_; }

    COLORREF ClientPixel(int x, int y) const { return ::GetPixel(win::unique_window_dc(window_).get(), x, y); }

private:
    static void PumpMessages() {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    }

    static constexpr const wchar_t* kClassName = L"QuillProgressBoxTestPage";
    HWND window_ = nullptr;
};

TEST(ProgressBox, PaintsIntoThePageWindowAtTheScreenCentreMeasuredFromItsCorner) {
    const std::wstring text = L"Получено: 12 записей";
    const Point centre = ScreenCentre();
    // The box's left part falls inside the page, its right part beyond it.
    const Point corner{50, 50};
    const int width = centre.x;
    const int height = centre.y + 100;
    const Box inPage = ExpectedBox(centre, text);
    ASSERT_LT(inPage.left + 2, width);
    ASSERT_GT(inPage.right - 1, width);

    Screen::Fill(kBackground);
    PageWindow page(corner.x, corner.y, width, height);
    ASSERT_NE(page.get(), nullptr);
    std::atomic<HWND> pageHandle{nullptr};
    GdiProgressPainter painter(pageHandle);
    pageHandle = page.get();  // the painter reads the handle at each paint
    painter.DrawProgressBox(2, 12);

    const int cy = inPage.CentreY();
    struct ClientCheck {
        const char* where;
        int x, y;
        COLORREF expected;
    };
    const ClientCheck insidePage[] = {
        {"left outline", inPage.left, cy, kBlack},
        {"fill", inPage.left + 2, cy, kCyan},
        {"page left of the box", inPage.left - 1, cy, kWindowBackground},
        {"top outline", inPage.left + 5, inPage.top, kBlack},
        {"bottom outline", inPage.left + 5, inPage.bottom - 1, kBlack},
    };
    for (const auto& check : insidePage)
        EXPECT_EQ(page.ClientPixel(check.x, check.y), check.expected)
            << check.where << " at client (" << check.x << ", " << check.y << ")";

    ExpectScreenPixels({
        {"right outline beyond the page", corner.x + inPage.right - 1, corner.y + cy, kBackground},
        {"fill beyond the page", corner.x + width + 2, corner.y + cy, kBackground},
    });
}

}  // namespace
}  // namespace quill
