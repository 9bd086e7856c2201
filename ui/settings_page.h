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
#include "link/terminal_link.h"

namespace quill {

enum class PageList { Port, Speed };
enum class PageBox { Adapter, FastExchange };

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
    // Lets the user change the lists and the boxes, or not.
    virtual void Enable(bool enabled) = 0;
    // Windows-1251 text for the revision notes box.
    virtual void SetNotes(const std::string& text) = 0;
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
    // flag, and the fast exchange flag when it offers that too (otherwise
    // that field is left as it was). False when it offers no connection
    // settings. The page hands in a copy of this component's record, read
    // under the call lock just before; this very component as the object
    // answers with that copy as it is rather than wait for its own lock.
    virtual bool ReadSettings(ConnectionSettings& settings) = 0;
    // Hands the object new settings, the fast exchange flag only when it
    // offers it; false when it offers no connection settings.
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

// The entries of the two lists: entry n is index n of the settings.
std::vector<std::string> PortListEntries();
std::vector<std::string> SpeedListEntries();

// The page's logic. A terminal call holds the component's call lock for as
// long as its exchange lasts; the page's window never waits for it: what the
// window cannot do at once (show the settings, tell the site of a change) it
// does when the window calls CatchUp, once the lock is free. Apply, called by
// the frame, waits for a call in progress to end: it stores into the record
// the terminal link works with, and reopens the port.
class SettingsPage {
public:
    // `callLock` is the component's call lock, which guards `settings`, its
    // own record, and `link`, which opens its port; `pageLock` guards the
    // page's own state and is held only for a few reads and writes of it.
    SettingsPage(PageFrame& frame, Lock& callLock, Lock& pageLock, ConnectionSettings& settings,
                 TerminalLink& link);

    // The page window was created: fills the lists, shows the settings of the
    // first object and tells the site that the page is clean. While a call
    // holds the lock the lists show no selection and the controls are
    // disabled until CatchUp shows the settings. False while something is
    // left for CatchUp.
    bool WindowOpened(PageControls& controls);
    // A command from a control of the page window; false when the site is
    // left to hear of it from CatchUp.
    bool Command(int32_t controlId, int32_t notification);
    // Does what the window left for later, as far as the lock allows; true
    // when nothing is left.
    bool CatchUp();
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
    // Owes the site a status; the oldest is dropped when too many are owed.
    void Owe(uint32_t status);
    // Tells the site what it is owed, in order; false when the lock was held
    // and `waiting` said not to wait for it.
    bool TellSite(LockHold::Waiting waiting);
    bool MarkDirty(bool dirty, LockHold::Waiting waiting);
    std::optional<ConnectionSettings> ChoiceShown(const PageControls& controls) const;
    void StoreChoice(const ConnectionSettings& choice);

    static constexpr size_t kMostStatusesOwed = 8;

    PageFrame& frame_;
    Lock& callLock_;
    Lock& pageLock_;
    ConnectionSettings& settings_;  // under callLock_
    TerminalLink& link_;            // under callLock_

    // Under pageLock_.
    PageControls* controls_ = nullptr;
    bool shown_ = false;  // the controls show the settings
    std::optional<ConnectionSettings> keptChoice_;
    bool dirty_ = false;
    uint32_t owed_[kMostStatusesOwed] = {};  // statuses the site is still to hear, oldest first
    size_t owedCount_ = 0;
    bool telling_ = false;  // a thread is telling the site
};

}  // namespace quill
