#include "ui/win32_settings_page.h"

#include "core/win/handles.h"
#include "core/win/text.h"
#include "core/win/this_module.h"
#include "ui/settings_page_ids.h"

namespace quill {
namespace {

constexpr int kStringCapacity = 260;  // 259 characters and the terminating zero
constexpr WORD kDialogResourceType = 5;  // the resource type of dialog templates

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

// The page window's timer that calls CatchUp while a call holds the lock.
constexpr UINT_PTR kCatchUpTimer = 1;
constexpr UINT kCatchUpEveryMs = 50;
// The timer by which the page looks at the search and the trace, for as
// long as the window exists.
constexpr UINT_PTR kPollTimer = 2;

// Asks the window's thread to destroy a window its page let go of.
constexpr UINT kDestroyDetachedWindow = WM_APP + 1;
// Asks the window's thread to catch up at once, and how long a caller that
// has just let the lock go gives it for that.
constexpr UINT kCatchUpNow = WM_APP + 2;
constexpr UINT kCatchUpTurnMs = 20;

// A control read from another thread goes through that window's thread,
// which may be busy; it is given this long.
constexpr UINT kControlAnswerMs = 1000;

// Guards the step from a page window to its page: the window's thread
// looks up the page and takes a reference to it under this guard, and a
// page that lets go of its window does so under it, before its memory goes.
// One for all page windows, held only for those few steps.
win::critical_section& WindowGuard() {
    static win::critical_section guard;
    return guard;
}

// A control's answer to a message without parameters: at once on the
// window's own thread, within kControlAnswerMs from another; nullopt when
// the control is gone or did not answer.
std::optional<LRESULT> AskControl(HWND control, UINT message) {
    DWORD_PTR answer = 0;
    if (control == nullptr ||
        ::SendMessageTimeoutW(control, message, 0, 0, SMTO_ABORTIFHUNG | SMTO_ERRORONEXIT, kControlAnswerMs,
                              &answer) == 0)
        return std::nullopt;
    return static_cast<LRESULT>(answer);
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

void PageWindow::Close(bool keepChoice) {
    const HWND window = window_.load();
    if (window != nullptr && ::IsWindow(window) && !::DestroyWindow(window) && ::IsWindow(window)) {
        // Another thread's window (only its own thread may destroy it). The
        // window is let go of before this page may go, and its thread
        // destroys it when it next looks at its messages.
        if (keepChoice) page_.WindowClosing();
        {
            const auto detaching = WindowGuard().lock();
            ::SetWindowLongPtrW(window, DWLP_USER, 0);
        }
        ::PostMessageW(window, kDestroyDetachedWindow, 0, 0);  // unchecked: a window gone meanwhile needs nothing
    }
    Closed();
}

// The window's thread is given a short turn before the caller goes on to
// its next call: a script that calls back to back would otherwise take the
// lock again before the window looks. A window of the calling thread itself
// is asked by a posted message; a window whose thread does not answer is not
// waited for.
void PageWindow::Nudge() {
    const HWND window = window_.load();
    if (window == nullptr) return;
    if (::GetWindowThreadProcessId(window, nullptr) == ::GetCurrentThreadId()) {
        ::PostMessageW(window, kCatchUpNow, 0, 0);  // unchecked: the timer tries too
        return;
    }
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(window, kCatchUpNow, 0, 0, SMTO_ABORTIFHUNG, kCatchUpTurnMs, &ignored);
}

void PageWindow::Show(int command) { ::ShowWindow(window_.load(), command); }

void PageWindow::Move(const RECT& rect) {
    ::MoveWindow(window_.load(), rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
}

bool PageWindow::TakeDialogMessage(MSG& message) { return ::IsDialogMessageW(window_.load(), &message) != FALSE; }

// The page a message is for, held while it is handled: a window let go of
// by its page, or whose page is being destroyed on another thread, handles
// its messages as a plain dialog, and destroys itself when asked to.
INT_PTR CALLBACK PageWindow::DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    PageWindow* page = nullptr;
    {
        const auto looking = WindowGuard().lock();
        if (message == WM_INITDIALOG) ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        page = reinterpret_cast<PageWindow*>(::GetWindowLongPtrW(window, DWLP_USER));
        if (page != nullptr && !page->owner_.TryHold()) page = nullptr;
    }
    if (page == nullptr) {
        if (message == kDestroyDetachedWindow) ::DestroyWindow(window);
        return FALSE;  // also the messages that come before WM_INITDIALOG
    }
    PageOwner& owner = page->owner_;
    INT_PTR result = FALSE;
    try {
        result = page->Handle(window, message, wParam, lParam);
    } catch (...) {
        // Nothing is thrown through the system's dialog handling; memory
        // running out leaves the page as it was.
    }
    owner.LetGo();  // may be the last reference: the page goes, and this window with it
    return result;
}

INT_PTR PageWindow::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            Opened(window);
            return FALSE;  // the dialog's default focus stays as it is
        case WM_COMMAND:
            if (!page_.Command(LOWORD(wParam), HIWORD(wParam))) CatchUpLater(window);
            return FALSE;
        case WM_TIMER:
            if (wParam == kCatchUpTimer) {
                if (page_.CatchUp()) ::KillTimer(window, kCatchUpTimer);
                return TRUE;
            }
            if (wParam == kPollTimer) {
                if (!page_.Poll()) CatchUpLater(window);
                return TRUE;
            }
            return FALSE;
        case kCatchUpNow:
            if (page_.CatchUp()) ::KillTimer(window, kCatchUpTimer);
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
    if (!page_.WindowOpened(*this)) CatchUpLater(window);
    ::SetTimer(window, kPollTimer, kPagePollMs, nullptr);  // without it the page shows no search, nothing more
}

void PageWindow::CatchUpLater(HWND window) {
    ::SetTimer(window, kCatchUpTimer, kCatchUpEveryMs, nullptr);  // unchecked: the next command tries again
}

void PageWindow::Closed() {
    if (window_.exchange(nullptr) != nullptr) page_.WindowClosed();
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

std::optional<int32_t> PageWindow::SelectedEntry(PageList list) const {
    const std::optional<LRESULT> selected = AskControl(List(list), CB_GETCURSEL);
    if (!selected) return std::nullopt;
    return static_cast<int32_t>(*selected);
}

void PageWindow::SetTicked(PageBox box, bool ticked) {
    ::SendMessageW(Box(box), BM_SETCHECK, ticked ? BST_CHECKED : BST_UNCHECKED, 0);
}

std::optional<bool> PageWindow::Ticked(PageBox box) const {
    const std::optional<LRESULT> state = AskControl(Box(box), BM_GETCHECK);
    if (!state) return std::nullopt;
    return *state == BST_CHECKED;
}

void PageWindow::Enable(bool enabled) {
    for (const HWND control :
         {portList_.load(), speedList_.load(), adapterBox_.load(), fastBox_.load(), traceBox_.load()})
        ::EnableWindow(control, enabled ? TRUE : FALSE);
}

void PageWindow::SetNotes(const std::string& text) {
    ::SetDlgItemTextW(window_.load(), IDC_NOTES, PageText(text).c_str());
}

void PageWindow::SetSearchButton(const std::string& text) {
    ::SetDlgItemTextW(window_.load(), IDC_FIND_TERMINAL, PageText(text).c_str());
}

void PageWindow::SetSearchStatus(const std::string& text) {
    ::SetDlgItemTextW(window_.load(), IDC_SEARCH_STATUS, PageText(text).c_str());
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
