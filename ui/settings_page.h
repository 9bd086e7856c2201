// The settings page's logic, apart from any window: which settings object it
// asks, the order of its initialisation and of Apply, the dirty flag and
// what the frame's site hears of it, and when it takes the component's call
// lock. Written against narrow interfaces, the page window's controls, the
// frame around the page and the locks, the way the terminal link is written
// against SerialLine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/connection_settings.h"
#include "core/lock.h"
#include "core/port_map.h"
#include "link/terminal_link.h"
#include "link/terminal_search.h"
#include "link/wire_trace.h"

namespace quill {

enum class PageList { Port, Speed };
enum class PageBox { Adapter, FastExchange, Trace };

// The controls of the page window as the page's logic uses them. The page
// fills and sets them on the window's own thread; Apply may read them from
// another one.
class PageControls {
public:
    virtual ~PageControls() = default;
    // Empties the list, then adds the entries in order.
    virtual void FillList(PageList list, const std::vector<std::string>& entries) = 0;
    // Selects entry `index`; an index with no entry leaves no selection.
    virtual void SelectEntry(PageList list, int32_t index) = 0;
    // The selected entry; -1 when none is. Nullopt when the control cannot
    // be read (its window is gone, or its thread does not answer in time).
    virtual std::optional<int32_t> SelectedEntry(PageList list) const = 0;
    virtual void SetTicked(PageBox box, bool ticked) = 0;
    // Nullopt as for SelectedEntry.
    virtual std::optional<bool> Ticked(PageBox box) const = 0;
    // Lets the user change the lists and the boxes, or not; the find button
    // stays as it is.
    virtual void Enable(bool enabled) = 0;
    // Windows-1251 text for the revision notes box.
    virtual void SetNotes(const std::string& text) = 0;
    // Windows-1251 texts of the find button and of the line beside it that
    // tells how the search goes.
    virtual void SetSearchButton(const std::string& text) = 0;
    virtual void SetSearchStatus(const std::string& text) = 0;
};

// The frame's site, as the page calls it.
class PageSite {
public:
    virtual ~PageSite() = default;
    virtual void OnStatusChange(uint32_t status) = 0;
};

// An object the frame handed over, as the page calls it.
class PageObject {
public:
    virtual ~PageObject() = default;
    // Fills `settings` with what the object offers: port, speed and adapter
    // flag, and the fast exchange and trace flags when it offers them too
    // (otherwise those fields are left as they were). False when it offers no connection
    // settings. The page hands in a copy of this component's record, read
    // under the call lock just before; this very component as the object
    // answers with that copy as it is rather than wait for its own lock.
    virtual bool ReadSettings(ConnectionSettings& settings) = 0;
    // Hands the object new settings, the fast exchange and trace flags only
    // when it offers them; false when it offers no connection settings.
    virtual bool WriteSettings(const ConnectionSettings& settings) = 0;
};

// The frame around the page: the site it handed over and the objects whose
// settings the page shows. The component holds them under its call lock:
// the page asks for them only while it holds that lock, and calls them (and
// lets the references go) only after letting it go.
class PageFrame {
public:
    virtual ~PageFrame() = default;
    // The site, when one is held.
    virtual std::shared_ptr<PageSite> Site() = 0;
    // The first of the objects, when the frame handed over any.
    virtual std::shared_ptr<PageObject> FirstObject() = 0;
};

// Status flags for the site: the page has changes, and they are valid.
constexpr uint32_t kPageStatusDirty = 0x01;
constexpr uint32_t kPageStatusValidate = 0x02;

// Notification codes of the page's commands, as the controls send them.
constexpr int32_t kNotifyClicked = 0;           // a button click (or a menu, an accelerator)
constexpr int32_t kNotifySelectionChanged = 1;  // a list's selection changed

// The entries of the port list, one for each port of `ports` (see
// PortListPorts), and of the speed list, where entry n is speed index n.
std::vector<std::string> PortListEntries(const std::vector<int32_t>& ports);
std::vector<std::string> SpeedListEntries();

// What the line beside the find button says of a search (UTF-8); empty
// before any.
std::string SearchStatusText(const SearchStatus& status);

// How often the page window looks at the search and the trace.
constexpr uint32_t kPagePollMs = 100;

// The page's logic. A terminal call holds the component's call lock for as
// long as its exchange lasts, and the search for the terminal for as long as
// it searches; the page's window never waits for it: what the window cannot
// do at once (show the settings, tell the site of a change) it does when the
// window calls CatchUp, once the lock is free. How the search goes and the
// trace's state it learns by polling them, without the call lock. Apply,
// called by the frame, waits for a call in progress to end: it stores into
// the record the terminal link works with, and reopens the port.
class SettingsPage {
public:
    // `callLock` is the component's call lock, which guards `settings`, its
    // own record, and `link`, which opens its port; `pageLock` guards the
    // page's own state and is held only for a few reads and writes of it.
    // `search` finds the terminal for this component; `trace` tells whether
    // its wire trace is being written; `ports` says which ports above COM16
    // are present, for the port list.
    SettingsPage(PageFrame& frame, Lock& callLock, Lock& pageLock, ConnectionSettings& settings,
                 TerminalLink& link, SearchControl& search, const TraceReport& trace, const PortMap& ports);

    // The page window was created: fills the lists, shows the settings of the
    // first object and tells the site that the page is clean; shows a search
    // still running from an earlier window. While a call holds the lock the
    // lists show no selection and the controls are disabled (but for the
    // find button) until CatchUp shows the settings. False while something
    // is left for CatchUp.
    bool WindowOpened(PageControls& controls);
    // A command from a control of the page window; false when the site is
    // left to hear of it from CatchUp.
    bool Command(int32_t controlId, int32_t notification);
    // Does what the window left for later, as far as the lock allows; true
    // when nothing is left.
    bool CatchUp();
    // Every kPagePollMs while the window exists: shows how the search goes
    // and, once it has found the terminal, puts where into the controls as
    // a change (once they show the settings); and shows the trace's state in
    // the notes. False when the site is left to hear of the change from
    // CatchUp.
    bool Poll();
    // The page window is going (its controls still answer): a dirty page
    // keeps the choice shown, for an Apply that comes after.
    void WindowClosing();
    // The page window is gone.
    void WindowClosed();

    bool IsDirty() const;
    // True while the window has something left for CatchUp.
    bool Behind() const;

    // Hands the choice to the first object, marks the page clean and reopens
    // this component's port with its record; the outcome is in the result
    // code. Waits for a call in progress to end.
    void Apply();

private:
    std::optional<ConnectionSettings> TakeSettingsToShow();
    void ShowSettings(PageControls& controls, const ConnectionSettings& settings);
    // Selects the entry of `port`, listing it first when it is a port above
    // COM16 that the list lacks.
    void SelectPort(PageControls& controls, int32_t port);
    // Owes the site a status; the oldest is dropped when too many are owed.
    void Owe(uint32_t status);
    // Tells the site what it is owed, in order; false when the lock was held
    // and `waiting` said not to wait for it.
    bool TellSite(LockHold::Waiting waiting);
    bool MarkDirty(bool dirty, LockHold::Waiting waiting);
    std::optional<ConnectionSettings> ChoiceShown(const PageControls& controls) const;
    void StoreChoice(const ConnectionSettings& choice);
    void PressFind();
    void ShowSearch(PageControls& controls, const SearchStatus& status);
    void ShowNotes(PageControls& controls);

    static constexpr size_t kMostStatusesOwed = 8;

    PageFrame& frame_;
    Lock& callLock_;
    Lock& pageLock_;
    ConnectionSettings& settings_;  // under callLock_
    TerminalLink& link_;            // under callLock_
    SearchControl& search_;         // answers without the call lock
    const TraceReport& trace_;      // answers without the call lock
    const PortMap& portMap_;

    // Under pageLock_.
    PageControls* controls_ = nullptr;
    std::vector<int32_t> presentAbove_;  // ports above COM16 present when the window opened
    std::vector<int32_t> listedPorts_;   // the port of each entry of the port list
    bool shown_ = false;  // the controls show the settings
    // A search this page started, or found running, whose end it waits for.
    bool awaitingSearch_ = false;
    std::optional<SearchStatus> searchShown_;
    std::optional<TraceNotice> noticeShown_;
    std::optional<ConnectionSettings> keptChoice_;
    bool dirty_ = false;
    uint32_t owed_[kMostStatusesOwed] = {};  // statuses the site is still to hear, oldest first
    size_t owedCount_ = 0;
    bool telling_ = false;  // a thread is telling the site
};

}  // namespace quill
