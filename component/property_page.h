// The component's settings page as the frame drives it through
// IPropertyPage: the frame's site and the objects it handed over, the page's
// logic and its window. The component object answers IPropertyPage and
// hands each call to this part.
//
// The site and the objects are held under the component's call lock, which
// also guards the component's record and the terminal link. Nothing the
// frame calls on the page waits for a call in progress but Apply (see
// SettingsPage): a site or objects handed over while a call holds the lock
// wait in a handover of the page's own until the next one to hold the lock
// takes them in. Nothing is called on the site or an object while the lock
// is held, and no reference is let go then: references replaced under it
// are let go of later, after it.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <memory>
#include <optional>
#include <vector>

#include "core/connection_settings.h"
#include "core/win/com.h"
#include "core/win/handles.h"
#include "host/addin.h"
#include "link/terminal_link.h"
#include "link/terminal_search.h"
#include "link/wire_trace.h"
#include "ui/settings_page.h"
#include "ui/win32_settings_page.h"

namespace quill {

class PropertyPage final : private PageFrame {
public:
    // `callLock` is the component's call lock, `settings` its record, `link`
    // its terminal link, `owner` keeps the component while the page window's
    // thread works with it, `self` is the component's own
    // IConnectionSettings (a first object that answers with it is this very
    // component), `search` its search for the terminal, `trace` its wire
    // trace's state and `ports` the ports Windows reports present.
    PropertyPage(Lock& callLock, ConnectionSettings& settings, TerminalLink& link, PageOwner& owner,
                 IConnectionSettings* self, SearchControl& search, const TraceReport& trace, const PortMap& ports);
    // Destroys a page window that still exists (or lets go of it, when it is
    // another thread's), then lets go of the objects and the site.
    ~PropertyPage() override = default;
    PropertyPage(const PropertyPage&) = delete;
    PropertyPage& operator=(const PropertyPage&) = delete;

    // The component's page window handle: the page window while it exists.
    const std::atomic<HWND>& window() const { return window_.handle(); }

    HRESULT SetPageSite(IPropertyPageSite* site);
    HRESULT Activate(HWND parent, LPCRECT rect);
    HRESULT Deactivate();
    HRESULT GetPageInfo(PROPPAGEINFO* info);
    HRESULT SetObjects(ULONG count, IUnknown** objects);
    HRESULT Show(UINT command);
    HRESULT Move(LPCRECT rect);
    HRESULT IsPageDirty();
    HRESULT Apply();
    HRESULT TranslateAccelerator(MSG* message);

    // Called once a call has let the lock go: what was handed over meanwhile
    // is taken in, and a page window that is behind (a call held the lock
    // when it wanted it) is asked to catch up now, and given a short turn
    // before the next call takes the lock, rather than left to its timer.
    void LockLetGo();

private:
    // PageFrame: called with the call lock held.
    std::shared_ptr<PageSite> Site() override;
    std::shared_ptr<PageObject> FirstObject() override;

    // Takes in what was handed over, when the call lock is free; then lets
    // go of the references it replaced.
    void TakeInWhenFree();
    // Takes in what was handed over; the call lock is held.
    void TakeIn();
    // Lets go of the references replaced; no lock is held.
    void LetGoOfReplaced();

    Lock& callLock_;
    IConnectionSettings* const self_;
    // Under callLock_.
    win::com_ptr<IPropertyPageSite> site_;
    std::vector<win::com_ptr<IUnknown>> objects_;
    // The page's own state, and the handover, under pageGuard_.
    win::critical_section pageGuard_;
    bool siteGiven_ = false;  // the frame has handed over a site and not taken it back
    std::optional<win::com_ptr<IPropertyPageSite>> newSite_;
    std::optional<std::vector<win::com_ptr<IUnknown>>> newObjects_;
    std::vector<win::com_ptr<IPropertyPageSite>> replacedSites_;
    std::vector<std::vector<win::com_ptr<IUnknown>>> replacedObjects_;

    SettingsPage logic_;
    PageWindow window_;  // last: it goes first, while the rest still stands
};

}  // namespace quill
