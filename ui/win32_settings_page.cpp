#include "ui/win32_settings_page.h"

#include "core/win/handles.h"
#include "core/win/text.h"
#include "core/win/this_module.h"
#include "ui/settings_page_ids.h"

namespace quill {
namespace {

constexpr int kStringCapacity = 260;  // 259 characters and the terminating zero
constexpr WORD kDialogResourceType = 5;  // the resource type of dialog templates
// The timer by which the page looks at the search and the trace.
constexpr UINT_PTR kPollTimer = 1;

std::wstring PageText(const std::string& text) { return win::WideFromNarrow(win::kComponentCodePage, text); }

// The average character width and line height of the template's font on
// the screen; nullopt when the font cannot be made.
std::optional<CharCell> FontCell(const DialogTemplateFacts& facts) {
    const win::unique_window_dc screen(nullptr);
    if (!screen) return std::nullopt;
    LOGFONTW description{};
    description.lfHeight = FontHeightForPoints(facts.pointSize, ::GetDeviceCaps(screen.get(), LOGPIXELSY));
    description.lfWeight = FW_NORMAL;
    description.lfCharSet = DEFAULT_CHARSET;
    facts.faceName.copy(reinterpret_cast<char16_t*>(description.lfFaceName), LF_FACESIZE - 1);
    const win::unique_hfont font(::CreateFontIndirectW(&description));
    if (!font) return std::nullopt;

    const win::select_object_scope selected(screen.get(), font.get());
    TEXTMETRICW metrics{};
    SIZE sample{};
    const std::string letters = kCharWidthSample;
    if (!::GetTextMetricsW(screen.get(), &metrics) ||
        !::GetTextExtentPoint32A(screen.get(), letters.data(), static_cast<int>(letters.size()), &sample))
        return std::nullopt;
    return CharCell{AverageCharWidth(sample.cx), metrics.tmHeight + metrics.tmExternalLeading};
}

CharCell SystemDialogCell() {
    const LONG units = ::GetDialogBaseUnits();
    return {LOWORD(units), HIWORD(units)};
}

}  // namespace

// --- The page window ---------------------------------------------------------

bool PageWindow::Create(HWND parent) {
    Destroy();
    // The window is known from its WM_INITDIALOG on, before this call returns.
    ::CreateDialogParamW(win::ThisModule(), MAKEINTRESOURCEW(IDD_SETTINGS_PAGE), parent, &DialogProcedure,
                         reinterpret_cast<LPARAM>(this));
    return exists();
}

void PageWindow::Destroy() {
    if (window_ != nullptr && ::IsWindow(window_)) ::DestroyWindow(window_);
    Closed();
}

void PageWindow::Show(int command) { ::ShowWindow(window_, command); }

void PageWindow::Move(const RECT& rect) {
    ::MoveWindow(window_, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
}

bool PageWindow::TakeDialogMessage(MSG& message) { return ::IsDialogMessageW(window_, &message) != FALSE; }

INT_PTR CALLBACK PageWindow::DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) ::SetWindowLongPtrW(window, DWLP_USER, lParam);
    auto* page = reinterpret_cast<PageWindow*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (page == nullptr) return FALSE;  // the messages that come before WM_INITDIALOG
    return page->Handle(window, message, wParam, lParam);
}

INT_PTR PageWindow::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            Opened(window);
            return FALSE;  // the dialog's default focus stays as it is
        case WM_COMMAND:
            page_.Command(LOWORD(wParam), HIWORD(wParam));
            return FALSE;
        case WM_TIMER:
            if (wParam != kPollTimer) return FALSE;
            page_.Poll();
            return TRUE;
        case WM_STYLECHANGING:
            // The frame's Tab key reaches into the page's controls.
            if (static_cast<int>(wParam) == GWL_EXSTYLE) {
                reinterpret_cast<STYLESTRUCT*>(lParam)->styleNew |= WS_EX_CONTROLPARENT;
                return FALSE;
            }
            return TRUE;
        case WM_DESTROY:
            ::KillTimer(window, kPollTimer);
            page_.WindowClosing();
            return FALSE;
        case WM_NCDESTROY:
            ::SetWindowLongPtrW(window, DWLP_USER, 0);
            Closed();
            return FALSE;
        default:
            return FALSE;
    }
}

void PageWindow::Opened(HWND window) {
    window_ = window;
    portList_ = ::GetDlgItem(window, IDC_PORT_LIST);
    speedList_ = ::GetDlgItem(window, IDC_SPEED_LIST);
    adapterBox_ = ::GetDlgItem(window, IDC_IR_ADAPTER);
    fastBox_ = ::GetDlgItem(window, IDC_FAST_EXCHANGE);
    traceBox_ = ::GetDlgItem(window, IDC_TRACE);
    page_.WindowOpened(*this);
    ::SetTimer(window, kPollTimer, kPagePollMs, nullptr);  // without it the page shows no search, nothing more
}

void PageWindow::Closed() {
    if (window_ != nullptr) page_.WindowClosed();
    window_ = nullptr;
    portList_ = speedList_ = adapterBox_ = fastBox_ = traceBox_ = nullptr;
}

void PageWindow::FillList(PageList list, const std::vector<std::string>& entries) {
    ::SendMessageW(List(list), CB_RESETCONTENT, 0, 0);
    for (const std::string& entry : entries)
        ::SendMessageW(List(list), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(PageText(entry).c_str()));
}

void PageWindow::SelectEntry(PageList list, int32_t index) {
    ::SendMessageW(List(list), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int32_t PageWindow::SelectedEntry(PageList list) const {
    return static_cast<int32_t>(::SendMessageW(List(list), CB_GETCURSEL, 0, 0));
}

void PageWindow::SetTicked(PageBox box, bool ticked) {
    ::SendMessageW(Box(box), BM_SETCHECK, ticked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool PageWindow::Ticked(PageBox box) const { return ::SendMessageW(Box(box), BM_GETCHECK, 0, 0) == BST_CHECKED; }

void PageWindow::SetNotes(const std::string& text) {
    ::SetDlgItemTextW(window_, IDC_NOTES, PageText(text).c_str());
}

void PageWindow::SetSearchButton(const std::string& text) {
    ::SetDlgItemTextW(window_, IDC_FIND_TERMINAL, PageText(text).c_str());
}

void PageWindow::SetSearchStatus(const std::string& text) {
    ::SetDlgItemTextW(window_, IDC_SEARCH_STATUS, PageText(text).c_str());
}

// --- What GetPageInfo reads -------------------------------------------------------

std::optional<PixelSize> PageTemplateSize() {
    const auto bytes = win::ThisModuleResource(IDD_SETTINGS_PAGE, MAKEINTRESOURCEW(kDialogResourceType));
    if (!bytes) return std::nullopt;
    const auto facts = ReadDialogTemplate(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size());
    if (!facts) return std::nullopt;
    std::optional<CharCell> cell;
    if (facts->namesFont) cell = FontCell(*facts);
    return DialogUnitsToPixels(facts->widthUnits, facts->heightUnits, cell.value_or(SystemDialogCell()));
}

std::wstring ModuleString(UINT id) {
    wchar_t text[kStringCapacity] = {};
    const int length = ::LoadStringW(win::ThisModule(), id, text, kStringCapacity);
    return std::wstring(text, length > 0 ? static_cast<size_t>(length) : 0);
}

}  // namespace quill
