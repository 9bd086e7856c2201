// The component's settings page as the frame drives it through
// IPropertyPage: the frame's site and the objects it handed over, the page's
// logic and its window. The component object answers IPropertyPage and
// hands each call to this part.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <vector>

#include "core/connection_settings.h"
#include "core/win/com.h"
#include "link/terminal_link.h"
#include "link/terminal_search.h"
#include "link/wire_trace.h"
#include "ui/settings_page.h"
#include "ui/win32_settings_page.h"

namespace quill {

class PropertyPage final : private PageFrame {
public:
    // `settings` is the component's record, `link` its terminal link,
    // `search` its search for the terminal, `trace` its wire trace's state.
    PropertyPage(ConnectionSettings& settings, TerminalLink& link, SearchControl& search, const TraceReport& trace);
    // Destroys a page window that still exists, then lets go of the objects
    // and the site.
    ~PropertyPage() override = default;
    PropertyPage(const PropertyPage&) = delete;
    PropertyPage& operator=(const PropertyPage&) = delete;

    // The component's page window handle: the page window while it exists.
    const HWND& window() const { return window_.handle(); }

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

private:
    // PageFrame
    void OnStatusChange(uint32_t status) override;
    size_t ObjectCount() const override { return objects_.size(); }
    bool ReadSettings(size_t object, ConnectionSettings& settings) override;
    bool WriteSettings(size_t object, const ConnectionSettings& settings) override;

    win::com_ptr<IPropertyPageSite> site_;
    std::vector<win::com_ptr<IUnknown>> objects_;
    SettingsPage logic_;
    PageWindow window_;  // last: it goes first, while the rest still stands
};

}  // namespace quill
