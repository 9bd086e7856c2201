// Painting the progress box: a cyan rectangle with a black outline and the
// count text centred in it, straight onto a device context; nothing is kept.
#include "ui/progress_box.h"

#include <string>

#include "core/win/handles.h"
#include "core/win/text.h"
#include "ui/progress_text.h"

namespace quill {
namespace {

constexpr COLORREF kBoxColour = 0x00FFFF00;  // cyan
constexpr UINT kTextFormat = DT_SINGLELINE | DT_VCENTER | DT_CENTER;

// The text's width in the context's current font.
int32_t TextWidth(HDC dc, const std::wstring& text) {
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &extent);
    return extent.cx;
}

}  // namespace

// Painting is best effort: the GDI calls' results are not checked, since a
// box that could not be painted changes nothing for the script.
void GdiProgressPainter::DrawProgressBox(int32_t mode, int32_t count) {
    // Painted from UTF-16, so the Windows-1251 text reads the same whatever
    // the machine's ANSI code page is.
    const std::wstring text = win::WideFromNarrow(win::kComponentCodePage, ProgressText(mode, count));
    win::unique_window_dc dc(pageWindow_.load());
    if (!dc) return;

    const BoxRect box = ProgressBoxRect(::GetDeviceCaps(dc.get(), HORZRES),
                                        ::GetDeviceCaps(dc.get(), VERTRES), TextWidth(dc.get(), text));
    win::unique_hbrush brush(::CreateSolidBrush(kBoxColour));
    ::SetBkMode(dc.get(), TRANSPARENT);
    win::select_object_scope selected(dc.get(), brush.get());

    ::Rectangle(dc.get(), box.left, box.top, box.right, box.bottom);
    RECT textArea{box.left, box.top, box.right, box.bottom};
    ::DrawTextW(dc.get(), text.data(), static_cast<int>(text.size()), &textArea, kTextFormat);
}

}  // namespace quill
