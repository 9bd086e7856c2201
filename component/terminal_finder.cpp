#include "component/terminal_finder.h"

#include <optional>
#include <string>
#include <vector>

#include "core/win/module_thread.h"
#include "link/win32_serial_line.h"

namespace quill {
namespace {

// How often the search looks for the call lock while a call holds it.
constexpr DWORD kCallLockRetryMs = 10;
// How long a call that needs the port waits for a stopped search to give it
// back (it ends within 300 ms; closing a port that misbehaves may take a
// second more).
constexpr DWORD kSearchEndWaitMs = 5000;
// How often the search looks whether its ports' threads have ended.
constexpr DWORD kJobsLookMs = 1000;

// The ports' jobs side by side, one thread each, each with a serial line of
// its own whose trace goes where the component's goes, marked with the port.
class ThreadedProbes final : public ProbeRunner {
public:
    ThreadedProbes(const WireTrace& trace, const LocalTimeSource& localTime) : trace_(trace), localTime_(localTime) {}

    void RunAll(const std::vector<Job>& jobs) override {
        std::vector<Running> running;
        running.reserve(jobs.size());
        for (const Job& job : jobs) running.push_back({&job, this});
        std::vector<win::unique_handle> threads(jobs.size());
        for (size_t i = 0; i < jobs.size(); ++i)
            if (!win::StartModuleThread(&RunJob, &running[i], threads[i])) RunJob(&running[i]);  // on this thread
        // Every job ends in its time: each try is bounded, and a stop ends
        // the rest at once. Nothing here may go while a job still uses it.
        for (const win::unique_handle& thread : threads)
            while (thread && ::WaitForSingleObject(thread.get(), kJobsLookMs) == WAIT_TIMEOUT) {
            }
    }

private:
    struct Running {
        const Job* job;
        ThreadedProbes* probes;
    };

    static DWORD RunJob(void* parameter) {
        const Running& running = *static_cast<Running*>(parameter);
        Win32SerialLine line;
        Win32Clock clock;
        WireTrace trace(clock, running.probes->localTime_, running.probes->trace_, running.job->portName);
        TracedLine traced(line, trace);
        running.job->run(traced, clock);
        return 0;
    }

    const WireTrace& trace_;
    const LocalTimeSource& localTime_;
};

std::string Where(const ConnectionSettings& settings) {
    return PortName(settings.Port) + (settings.IsIrDA != 0 ? " behind the adapter, " : " at ") +
           std::to_string(BaudRate(settings.Speed)) + " baud";
}

SearchState StateAfter(SearchEnd end) {
    switch (end) {
        case SearchEnd::Found: return SearchState::Found;
        case SearchEnd::NothingAnswered: return SearchState::NothingAnswered;
        case SearchEnd::Stopped: break;
    }
    return SearchState::Stopped;
}

}  // namespace

TerminalFinder::~TerminalFinder() {
    // The search's own last reference may be the one that ends the
    // component: then this is the search's thread, at its end.
    if (!thread_ || ::GetThreadId(thread_.get()) == ::GetCurrentThreadId()) return;
    reopen_ = false;
    stop_.Request();
    ::WaitForSingleObject(thread_.get(), kSearchEndWaitMs);  // unchecked: it has let the component go already
}

bool TerminalFinder::StartSearch() {
    const auto control = controlGuard_.lock();
    // What is tried first, when no call holds the settings just now; the
    // search says it anyway once it has the call lock.
    ConnectionSettings first;
    {
        const LockHold call(component_.callLock, LockHold::Waiting::DontWait);
        if (call.held()) first = component_.settings;
    }
    {
        const auto lock = statusGuard_.lock();
        if (status_.state == SearchState::Searching) return false;
        status_ = {SearchState::Searching, first};
    }
    // The search before has told how it ended; its thread is at its end.
    if (thread_ && ::WaitForSingleObject(thread_.get(), kSearchEndWaitMs) != WAIT_OBJECT_0) {
        Publish({SearchState::Stopped, ConnectionSettings{}});
        return false;
    }
    thread_.reset();
    stop_.Clear();
    reopen_ = true;
    component_.owner.AddRef();
    if (!win::StartModuleThread(&Run, this, thread_)) {
        component_.owner.Release();
        Publish({SearchState::Stopped, ConnectionSettings{}});
        return false;
    }
    return true;
}

SearchStatus TerminalFinder::Status() const {
    const auto lock = statusGuard_.lock();
    return status_;
}

void TerminalFinder::EndBeforeOwnUse() {
    const auto control = controlGuard_.lock();
    if (!thread_) return;
    reopen_ = false;
    stop_.Request();
    ::WaitForSingleObject(thread_.get(), kSearchEndWaitMs);  // unchecked: the call lock waits for the rest
}

void TerminalFinder::Publish(const SearchStatus& status) {
    const auto lock = statusGuard_.lock();
    status_ = status;
}

DWORD TerminalFinder::Run(void* finder) {
    auto* self = static_cast<TerminalFinder*>(finder);
    IUnknown& owner = self->component_.owner;
    self->Search();
    owner.Release();  // may end the component, and this finder with it
    return 0;
}

void TerminalFinder::Search() {
    // The call lock, looked for again and again so that a stop is not missed
    // while a script's call holds it.
    std::optional<LockHold> held;
    for (;;) {
        held.emplace(component_.callLock, LockHold::Waiting::DontWait);
        if (held->held()) break;
        held.reset();
        if (stop_.Requested()) {
            Publish({SearchState::Stopped, ConnectionSettings{}});
            return;
        }
        ::Sleep(kCallLockRetryMs);
    }

    const ConnectionSettings stored = component_.settings;
    Publish({SearchState::Searching, stored});
    const bool wasOpen = component_.link.IsOpen();
    const int32_t result = component_.state.result;
    if (wasOpen) component_.link.ClosePort();

    WireTrace& trace = component_.trace;
    trace.Note("search for the terminal, from " + Where(stored));
    ThreadedProbes probes(trace, component_.localTime);
    TerminalSearch search(probes, component_.localTime, stop_,
                          [this](const ConnectionSettings& trying) { Publish({SearchState::Searching, trying}); });
    const SearchResult outcome = search.Run(stored);
    // Its pings moved the terminal past any record it could have sent again.
    component_.link.TerminalSpokenToElsewhere();
    switch (outcome.end) {
        case SearchEnd::Found: trace.Note("search: found on " + Where(outcome.found)); break;
        case SearchEnd::NothingAnswered: trace.Note("search: nothing answered"); break;
        case SearchEnd::Stopped: trace.Note("search stopped"); break;
    }

    // The port as it was, with the settings in force; the script's result
    // code as it was, unless the port cannot be opened again.
    if (wasOpen && reopen_) {
        if (component_.link.OpenPort(component_.settings) == 1) component_.state.result = result;
    } else {
        component_.state.result = result;
    }
    held.reset();
    Publish({StateAfter(outcome.end), outcome.end == SearchEnd::Found ? outcome.found : stored});
    if (component_.lockLetGo) component_.lockLetGo();
}

}  // namespace quill
