// The component's search for the terminal, on a thread of its own so that
// the settings page stays responsive. The thread takes the component's call
// lock for the whole search (a script's call waits meanwhile, as it waits
// for any long exchange), closes the component's port if it was open,
// searches (the ports side by side, a thread and a line each), and opens the
// port again afterwards with the settings then in force. Nothing is called
// out of the component while it holds the lock: the page learns how the
// search goes by polling its status, which has a small lock of its own and
// never waits for the call lock. The search holds a reference to the
// component while it runs.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>
#include <functional>
#include <optional>
#include <vector>

#include "core/component_state.h"
#include "core/connection_settings.h"
#include "core/lock.h"
#include "core/port_map.h"
#include "core/win/handles.h"
#include "link/terminal_link.h"
#include "link/terminal_search.h"
#include "link/wire_trace.h"

namespace quill {

class TerminalFinder final : public SearchControl {
public:
    // What of the component the search works on.
    struct Component {
        Lock& callLock;
        TerminalLink& link;
        ConnectionSettings& settings;
        ComponentState& state;
        WireTrace& trace;
        const LocalTimeSource& localTime;
        const PortMap& portMap;  // which ports above COM16 are present
        IUnknown& owner;  // held while the search runs
        // Called once the search has let the call lock go, on its thread.
        std::function<void()> lockLetGo;
    };

    explicit TerminalFinder(const Component& component) : component_(component) {}
    ~TerminalFinder() override;
    TerminalFinder(const TerminalFinder&) = delete;
    TerminalFinder& operator=(const TerminalFinder&) = delete;

    bool StartSearch() override;
    // A search on the ports given only (port indices), rather than on COM1
    // to COM16 and the present ports above them; false as StartSearch.
    bool StartSearchOn(const std::vector<int32_t>& ports);
    void StopSearch() override { stop_.Request(); }
    SearchStatus Status() const override;

    // Before a call that opens or closes the component's port itself
    // (Apply, Done): a search still running is stopped and waited for,
    // within a limit, and leaves the port closed for that call.
    void EndBeforeOwnUse();

private:
    bool Start(std::optional<std::vector<int32_t>> narrowed);
    static DWORD Run(void* finder);
    void Search();
    void Publish(const SearchStatus& status);

    Component component_;
    SearchStop stop_;
    std::atomic<bool> reopen_{true};
    win::critical_section controlGuard_;         // over the thread's handle
    mutable win::critical_section statusGuard_;  // over the status
    SearchStatus status_;
    win::unique_handle thread_;
    // The ports of the search started last, when it was narrowed to some;
    // set before its thread starts, read by that thread.
    std::optional<std::vector<int32_t>> narrowed_;
};

}  // namespace quill
