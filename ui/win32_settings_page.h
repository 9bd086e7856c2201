// The settings page on Windows: the page window made from dialog template
// 202 of this module, whose dialog procedure hands the messages to the
// page's logic, with the window's controls as that logic sees them; and
// what GetPageInfo reads from the module's resources.
#pragma once

#include <windows.h>

#include <atomic>
#include <optional>
#include <string>

#include "ui/page_info.h"
#include "ui/settings_page.h"

namespace quill {

// What keeps the page's memory while its window's thread works with it: a
// reference to the object the page belongs to, taken only while that object
// still has one.
class PageOwner {
public:
    virtual ~PageOwner() = default;
    // Takes a reference unless the last one has gone already (the object is
    // being destroyed); false then.
    virtual bool TryHold() = 0;
    // Gives the reference back; the object may go with it.
    virtual void LetGo() = 0;
};

class PageWindow final : private PageControls {
public:
    PageWindow(SettingsPage& page, PageOwner& owner) : page_(page), owner_(owner) {}
    // The page is going: its window goes too, or is let go of.
    ~PageWindow() override { Close(false); }
    PageWindow(const PageWindow&) = delete;
    PageWindow& operator=(const PageWindow&) = delete;

    // Creates the page window, hidden, as a child of `parent`; false when
    // the system refused. A window made before is destroyed first.
    bool Create(HWND parent);
    // Destroys the window when it still exists. A window of another thread
    // cannot be destroyed here: it is let go of instead (it no longer leads
    // to this page) and its own thread is asked to destroy it.
    void Destroy() { Close(true); }

    // The page window while it exists, null otherwise; the progress box
    // paints into it from whichever thread calls.
    const std::atomic<HWND>& handle() const { return window_; }
    bool exists() const { return window_.load() != nullptr; }

    // Asks the window's thread to catch up now (the lock has just been let
    // go) and gives it a short turn to; harmless when the window is gone.
    void Nudge();

    void Show(int command);
    void Move(const RECT& rect);
    // Lets the page window's dialog handling see a keyboard or mouse message
    // (Tab between controls, arrows in a list); true when it took it.
    bool TakeDialogMessage(MSG& message);

private:
    // Destroys the window or lets go of it; `keepChoice`: a dirty page keeps
    // the choice it shows, for a later Apply.
    void Close(bool keepChoice);
    static INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Opened(HWND window);
    void Closed();
    // Asks the window, through its timer, to call CatchUp until it is done.
    void CatchUpLater(HWND window);
    HWND List(PageList list) const { return list == PageList::Port ? portList_ : speedList_; }
    HWND Box(PageBox box) const {
        return box == PageBox::Adapter ? adapterBox_ : box == PageBox::FastExchange ? fastBox_ : traceBox_;
    }

    // PageControls
    void FillList(PageList list, const std::vector<std::string>& entries) override;
    void SelectEntry(PageList list, int32_t index) override;
    std::optional<int32_t> SelectedEntry(PageList list) const override;
    void SetTicked(PageBox box, bool ticked) override;
    std::optional<bool> Ticked(PageBox box) const override;
    void Enable(bool enabled) override;
    void SetNotes(const std::string& text) override;
    void SetSearchButton(const std::string& text) override;
    void SetSearchStatus(const std::string& text) override;

    SettingsPage& page_;
    PageOwner& owner_;
    // Written on the window's thread, read on any.
    std::atomic<HWND> window_{nullptr};
    std::atomic<HWND> portList_{nullptr};
    std::atomic<HWND> speedList_{nullptr};
    std::atomic<HWND> adapterBox_{nullptr};
    std::atomic<HWND> fastBox_{nullptr};
    std::atomic<HWND> traceBox_{nullptr};
};

// The page's size in pixels: template 202 in its own font. Nullopt when
// the template cannot be found, loaded or read.
std::optional<PixelSize> PageTemplateSize();

// A string of this module's string table; empty when the table lacks it.
std::wstring ModuleString(UINT id);

}  // namespace quill
