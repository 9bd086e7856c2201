// The screen as the progress tests read and prepare it: size, pixels, the
// width of a text in the default font of a fresh screen context (and of the
// progress box around it), and a fill.
// Each call takes a screen context of its own and gives it back.
#pragma once

#include <windows.h>

#include <string>

#include "core/win/handles.h"

namespace quill::test {

struct Screen {

    static int Width() { return ::GetDeviceCaps(win::unique_window_dc(nullptr).get(), HORZRES); }
    static int Height() { return ::GetDeviceCaps(win::unique_window_dc(nullptr).get(), VERTRES); }
    static COLORREF Pixel(int x, int y) { return ::GetPixel(win::unique_window_dc(nullptr).get(), x, y); }

    static int TextWidth(const std::wstring& text) {
        const win::unique_window_dc fresh(nullptr);
        SIZE extent{};
        ::GetTextExtentPoint32W(fresh.get(), text.c_str(), static_cast<int>(text.size()), &extent);
        return extent.cx;
    }

    // Half the width of the progress box painted around a text: the box is
    // 20 pixels wider than the text (19 when the sum is odd).
    static int HalfBoxWidth(const std::wstring& text) { return (TextWidth(text) + 20) / 2; }

    static void Fill(COLORREF colour) {
        const win::unique_window_dc screen(nullptr);
        const RECT all{0, 0, Width(), Height()};
        const win::unique_hbrush brush(::CreateSolidBrush(colour));
        ::FillRect(screen.get(), &all, brush.get());
    }
};

}  // namespace quill::test
