// The settings page's logic, apart from any window: which settings object it
// asks, the order of its initialisation and of Apply, the dirty flag and
// what the frame's site hears of it. Written against two narrow interfaces,
// the page window's controls and the frame around the page, the way the
// terminal link is written against SerialLine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/connection_settings.h"
#include "link/terminal_link.h"
#include "link/terminal_search.h"
#include "link/wire_trace.h"

namespace quill {

enum class PageList { Port, Speed };
enum class PageBox { Adapter, FastExchange, Trace };

// The controls of the page window as the page's logic uses them.
class PageControls {
public:
    virtual ~PageControls() = default;
    // Empties the list, then adds the entries in order.
    virtual void FillList(PageList list, const std::vector<std::string>& entries) = 0;
    // Selects entry `index`; an index with no entry leaves no selection.
    virtual void SelectEntry(PageList list, int32_t index) = 0;
    // The selected entry; -1 when none is.
    virtual int32_t SelectedEntry(PageList list) const = 0;
    virtual void SetTicked(PageBox box, bool ticked) = 0;
    virtual bool Ticked(PageBox box) const = 0;
    // Windows-1251 text for the revision notes box.
    virtual void SetNotes(const std::string& text) = 0;
    // Windows-1251 texts of the find button and of the line beside it that
    // tells how the search goes.
    virtual void SetSearchButton(const std::string& text) = 0;
    virtual void SetSearchStatus(const std::string& text) = 0;
};

// The frame around the page: the site it handed over and the objects whose
// settings the page shows. Objects are counted from 0 in the frame's order.
class PageFrame {
public:
    virtual ~PageFrame() = default;
    // Tells the site, when one is held, that the page's status changed.
    virtual void OnStatusChange(uint32_t status) = 0;
    virtual size_t ObjectCount() const = 0;
    // Fills `settings` with what the object offers: port, speed and adapter
    // flag, and the fast exchange flag when it offers that too (otherwise
    // that field is left as it was). False when it offers no connection
    // settings.
    virtual bool ReadSettings(size_t object, ConnectionSettings& settings) = 0;
    // Hands the object new settings, the fast exchange flag only when it
    // offers it; false when it offers no connection settings.
    virtual bool WriteSettings(size_t object, const ConnectionSettings& settings) = 0;
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

// What the line beside the find button says of a search (UTF-8); empty
// before any.
std::string SearchStatusText(const SearchStatus& status);

// How often the page window looks at the search and the trace.
constexpr uint32_t kPagePollMs = 100;

class SettingsPage {
public:
    // `settings` is the component's own record; `link` opens its port;
    // `search` finds the terminal for this component; `trace` tells whether
    // its wire trace is being written.
    SettingsPage(PageFrame& frame, ConnectionSettings& settings, TerminalLink& link, SearchControl& search,
                 const TraceReport& trace);

    // The page window was created: takes the settings from the first object
    // and shows them; the page starts clean.
    void WindowOpened(PageControls& controls);
    // A command from a control of the page window.
    void Command(int32_t controlId, int32_t notification);
    // Every kPagePollMs while the window exists: shows how the search goes
    // and, once it has found the terminal, puts where into the controls as
    // a change; and shows the trace's state in the notes.
    void Poll();
    // The page window is going (its controls still answer): a dirty page
    // keeps the choice shown, for an Apply that comes after.
    void WindowClosing();
    // The page window is gone.
    void WindowClosed();

    bool IsDirty() const { return dirty_; }

    // Hands the choice to the first object, marks the page clean and reopens
    // this component's port with its record; the outcome is in the result code.
    void Apply();

private:
    void MarkDirty(bool dirty);
    ConnectionSettings ChoiceShown() const;
    void PressFind();
    void ShowSearch(const SearchStatus& status);
    void ShowNotes();
    // The first object, when the frame handed over any.
    std::optional<size_t> FirstObject() const;

    PageFrame& frame_;
    ConnectionSettings& settings_;
    TerminalLink& link_;
    SearchControl& search_;
    const TraceReport& trace_;
    PageControls* controls_ = nullptr;
    // A search this page started, or found running, whose end it waits for.
    bool awaitingSearch_ = false;
    std::optional<SearchStatus> searchShown_;
    std::optional<TraceNotice> noticeShown_;
    std::optional<ConnectionSettings> keptChoice_;
    bool dirty_ = false;
};

}  // namespace quill
