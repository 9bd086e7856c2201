// The settings page on Windows: the page window made from dialog template
// 202 of this module, whose dialog procedure hands the messages to the
// page's logic, with the window's controls as that logic sees them; and
// what GetPageInfo reads from the module's resources.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "ui/page_info.h"
#include "ui/settings_page.h"

namespace quill {

class PageWindow final : private PageControls {
public:
    explicit PageWindow(SettingsPage& page) : page_(page) {}
    ~PageWindow() override { Destroy(); }
    PageWindow(const PageWindow&) = delete;
    PageWindow& operator=(const PageWindow&) = delete;

    // Creates the page window, hidden, as a child of `parent`; false when
    // the system refused. A window made before is destroyed first.
    bool Create(HWND parent);
    // Destroys the window when it still exists.
    void Destroy();

    // The page window while it exists, null otherwise; the progress box
    // paints into it.
    const HWND& handle() const { return window_; }
    bool exists() const { return window_ != nullptr; }

    void Show(int command);
    void Move(const RECT& rect);
    // Lets the page window's dialog handling see a keyboard or mouse message
    // (Tab between controls, arrows in a list); true when it took it.
    bool TakeDialogMessage(MSG& message);

private:
    static INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Opened(HWND window);
    void Closed();
    HWND List(PageList list) const { return list == PageList::Port ? portList_ : speedList_; }
    HWND Box(PageBox box) const {
        return box == PageBox::Adapter ? adapterBox_ : box == PageBox::FastExchange ? fastBox_ : traceBox_;
    }

    // PageControls
    void FillList(PageList list, const std::vector<std::string>& entries) override;
    void SelectEntry(PageList list, int32_t index) override;
    int32_t SelectedEntry(PageList list) const override;
    void SetTicked(PageBox box, bool ticked) override;
    bool Ticked(PageBox box) const override;
    void SetNotes(const std::string& text) override;
    void SetSearchButton(const std::string& text) override;
    void SetSearchStatus(const std::string& text) override;

    SettingsPage& page_;
    HWND window_ = nullptr;
    HWND portList_ = nullptr;
    HWND speedList_ = nullptr;
    HWND adapterBox_ = nullptr;
    HWND fastBox_ = nullptr;
    HWND traceBox_ = nullptr;
};

// The page's size in pixels: template 202 in its own font. Nullopt when
// the template cannot be found, loaded or read.
std::optional<PixelSize> PageTemplateSize();

// A string of this module's string table; empty when the table lacks it.
std::wstring ModuleString(UINT id);

}  // namespace quill
