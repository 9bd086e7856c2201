#include "tools/host-console/settings_frame.h"

#include <ocidl.h>
#include <olectl.h>

#include "core/win/com.h"
#include "core/win/handles.h"
#include "host/page_site.h"

namespace quill::console {
namespace {

constexpr int kMargin = 8;
constexpr int kButtonWidth = 88;
constexpr int kButtonHeight = 26;
constexpr int kButtonGap = 8;
constexpr DWORD kFrameStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kFrameExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

// Everything the frame's window procedure works on.
struct FrameState {
    IPropertyPage* page = nullptr;
    HWND applyButton = nullptr;
    bool applied = false;
    bool closing = false;

    // Ends the message loop; the posted message wakes it when the close came
    // in a message sent from another thread or program.
    void Close(HWND frame) {
        closing = true;
        ::PostMessageW(frame, WM_NULL, 0, 0);
    }

    void Apply() {
        page->Apply();
        applied = true;
        ::EnableWindow(applyButton, FALSE);
    }
};

// The frame's side of the page: Apply is enabled when the page says it has
// changes. Lives on the stack of RunSettingsFrame, which outlives the page's
// hold on it.
class FrameSite final : public PlainPageSite<> {
public:
    explicit FrameSite(FrameState& state) : state_(state) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IPropertyPageSite) return E_NOINTERFACE;
        *object = static_cast<IPropertyPageSite*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override { return --references_; }

    STDMETHODIMP OnStatusChange(DWORD flags) override {
        if ((flags & PROPPAGESTATUS_DIRTY) != 0) ::EnableWindow(state_.applyButton, TRUE);
        return S_OK;
    }

private:
    FrameState& state_;
    ULONG references_ = 0;
};

LRESULT CALLBACK FrameProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    auto* state = reinterpret_cast<FrameState*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (state == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:
                    if (state->page->IsPageDirty() == S_OK) state->Apply();
                    state->Close(window);
                    return 0;
                case IDCANCEL:
                    state->Close(window);
                    return 0;
                case kApplyButtonId:
                    state->Apply();
                    return 0;
            }
            break;
        case WM_CLOSE:
            state->Close(window);
            return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

void RegisterFrameClass() {
    WNDCLASSW frameClass{};
    frameClass.lpfnWndProc = &FrameProcedure;
    frameClass.hInstance = ::GetModuleHandleW(nullptr);
    frameClass.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // the arrow
    frameClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    frameClass.lpszClassName = kSettingsFrameClass;
    ::RegisterClassW(&frameClass);  // a second registration fails harmlessly
}

HWND AddButton(HWND frame, int id, const wchar_t* text, int x, int y, DWORD style) {
    HWND button = ::CreateWindowExW(0, L"BUTTON", text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, x, y,
                                    kButtonWidth, kButtonHeight, frame, reinterpret_cast<HMENU>(id),
                                    ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    return button;
}

// The page information's strings belong to the frame.
struct PageInfo : PROPPAGEINFO {
    PageInfo() : PROPPAGEINFO{} { cb = sizeof(PROPPAGEINFO); }
    ~PageInfo() {
        ::CoTaskMemFree(pszTitle);
        ::CoTaskMemFree(pszDocString);
        ::CoTaskMemFree(pszHelpFile);
    }
    PageInfo(const PageInfo&) = delete;
    PageInfo& operator=(const PageInfo&) = delete;
};

// Runs the frame's messages until it is closed; the page sees its keyboard
// and mouse messages first.
void RunMessages(HWND frame, IPropertyPage& page, const FrameState& state) {
    MSG message;
    while (!state.closing && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (page.TranslateAccelerator(&message) == S_OK) continue;
        if (::IsDialogMessageW(frame, &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

}  // namespace

FrameOutcome RunSettingsFrame(IUnknown* component, std::wstring& error) {
    const auto page = win::com_ptr<IUnknown>::copy_from(component).query<IPropertyPage>();
    if (!page) {
        error = L"the component offers no settings page";
        return FrameOutcome::Failed;
    }
    FrameState state;
    state.page = page.get();
    FrameSite site(state);

    page->SetPageSite(&site);
    // On every way out the page gives back the component and the site, after
    // the frame's window (made later, so gone first).
    const struct PageRelease {
        IPropertyPage& page;
        ~PageRelease() {
            page.SetObjects(0, nullptr);
            page.SetPageSite(nullptr);
        }
    } release{*page.get()};
    IUnknown* objects[] = {component};
    page->SetObjects(1, objects);
    PageInfo info;
    if (FAILED(page->GetPageInfo(&info))) {
        error = L"the settings page gives no page information";
        return FrameOutcome::Failed;
    }

    // The page on top, the buttons in a row under it at the right.
    const SIZE pageSize = info.size;
    const int buttonsTop = kMargin + pageSize.cy + kMargin;
    RECT outer{0, 0, kMargin + pageSize.cx + kMargin, buttonsTop + kButtonHeight + kMargin};
    ::AdjustWindowRectEx(&outer, kFrameStyle, FALSE, kFrameExStyle);
    RegisterFrameClass();
    win::unique_hwnd frame(::CreateWindowExW(kFrameExStyle, kSettingsFrameClass,
                                             info.pszTitle != nullptr ? info.pszTitle : L"", kFrameStyle,
                                             CW_USEDEFAULT, CW_USEDEFAULT, outer.right - outer.left,
                                             outer.bottom - outer.top, nullptr, nullptr,
                                             ::GetModuleHandleW(nullptr), &state));
    if (!frame) {
        error = L"no window for the settings frame";
        return FrameOutcome::Failed;
    }
    const int right = kMargin + pageSize.cx;
    state.applyButton = AddButton(frame.get(), kApplyButtonId, L"Применить", right - kButtonWidth, buttonsTop, 0);
    AddButton(frame.get(), IDCANCEL, L"Отмена", right - 2 * kButtonWidth - kButtonGap, buttonsTop, 0);
    AddButton(frame.get(), IDOK, L"OK", right - 3 * kButtonWidth - 2 * kButtonGap, buttonsTop, BS_DEFPUSHBUTTON);
    ::EnableWindow(state.applyButton, FALSE);

    const RECT pageArea{kMargin, kMargin, kMargin + pageSize.cx, kMargin + pageSize.cy};
    page->Activate(frame.get(), &pageArea, TRUE);
    page->Show(SW_SHOW);
    ::ShowWindow(frame.get(), SW_SHOW);
    ::SetForegroundWindow(frame.get());

    RunMessages(frame.get(), *page.get(), state);

    page->Show(SW_HIDE);
    page->Deactivate();
    frame.reset();
    return state.applied ? FrameOutcome::Applied : FrameOutcome::Unchanged;
}

}  // namespace quill::console
