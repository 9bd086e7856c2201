// Finding the terminal: which port, speed and adapter setting it answers on.
// The search opens each combination in turn on a line of its own, asks the
// terminal for its check (the exchange of Ping) and closes the port again;
// it stops at the first combination that answers. Written against SerialLine
// and Clock like the rest of the link, so its order and its stop run on the
// fake line in virtual time; the thread it runs on is the platform's.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/connection_settings.h"
#include "link/serial_line.h"

namespace quill {

// The ports a whole search tries are those of the settings page's list
// (PortListPorts): COM1 to COM16, the ports above them that Windows reports
// present, in number order, and the stored port.
// The ports given, as a search narrowed to them tries them: in number
// order, each once; indices that name no port are dropped.
std::vector<int32_t> NarrowedSearchPorts(const std::vector<int32_t>& given);

// The combinations in the order they are tried on `ports`: the stored
// setting first, when its port is among them; then the rest of its port;
// then every other port in the order given. On each port the cable at the
// common speeds first (115200 and 9600, then 57600, 38400 and 19200), then
// the infrared adapter once: behind the adapter the speed setting does not
// reach the terminal (the adapter is probed at its own rates, and the line
// then runs at 115200), so one try covers every speed. A stored port index
// that names no port is tried as COM1, where it opens. The pace and the
// trace flag are the stored ones throughout.
std::vector<ConnectionSettings> SearchOrder(const ConnectionSettings& stored, const std::vector<int32_t>& ports);

// Asked from any thread; the search looks at it between its steps, in each
// delay and before each wait.
class SearchStop {
public:
    void Request() { requested_.store(true); }
    void Clear() { requested_.store(false); }
    bool Requested() const { return requested_.load(); }

private:
    std::atomic<bool> requested_{false};
};

enum class SearchEnd {
    Found,            // the terminal answered; `found` says where
    NothingAnswered,  // every combination was tried
    Stopped,          // asked to stop first
};

struct SearchResult {
    SearchEnd end = SearchEnd::NothingAnswered;
    // The stored setting with the port, speed and adapter flag it answered
    // on. Behind the adapter the speed is that of the rate the adapter
    // answered its probe at.
    ConnectionSettings found;
};

// Once a stop is asked for, the search ends within this time: a wait in
// progress runs out (50 ms at most), every later delay and wait ends at once,
// and an open that has not returned is left to itself.
constexpr uint64_t kSearchStopsWithinMs = 300;

// How long the search waits for a port to open. A serial port or a USB
// adapter opens at once; a virtual port that first connects its device (a
// Bluetooth one) may not return for half a minute: it is left, and the port
// given up like a missing one.
constexpr uint64_t kSearchOpenLimitMs = 1000;

// Runs the search's jobs, each on a line and a clock of its own, and returns
// once every job has ended. The platform runs them side by side, one thread
// each (every port is a device of its own); the tests run them one after
// another, each on a clock of its own from the same moment.
class ProbeRunner {
public:
    virtual ~ProbeRunner() = default;
    struct Job {
        std::string portName;  // the port the job tries, for its trace
        std::function<void(SerialLine& line, Clock& clock)> run;
    };
    virtual void RunAll(const std::vector<Job>& jobs) = 0;
};

class TerminalSearch {
public:
    // Told of each combination as it starts to be tried; from several jobs
    // at once when the runner runs them side by side.
    using Trying = std::function<void(const ConnectionSettings&)>;

    TerminalSearch(ProbeRunner& runner, const LocalTimeSource& localTime, const SearchStop& stop, Trying trying);

    // Tries the stored setting first, alone, when its port is among `ports`;
    // then every port of `ports` at once, each its own combinations in the
    // order of SearchOrder, until one answers: then the others stop. A terminal that answers on the cable at 115200
    // may be behind an adapter switched over earlier: the adapter is tried
    // on that port too, and is the setting when it answers. A port that
    // cannot be opened (missing, or held by another program) is given up at
    // once with all its combinations, and so is one whose open has not
    // returned within kSearchOpenLimitMs. Each try closes its port again,
    // whatever happened.
    SearchResult Run(const ConnectionSettings& stored, const std::vector<int32_t>& ports);

private:
    enum class Probe { Answered, Silent, PortMissing };
    struct Shared;
    ProbeRunner::Job PortJob(int32_t port, std::vector<ConnectionSettings> candidates, Shared& shared);
    Probe Try(SerialLine& line, Clock& clock, const ConnectionSettings& candidate, const SearchStop& ending,
              uint32_t& adapterRate);

    ProbeRunner& runner_;
    const LocalTimeSource& localTime_;
    const SearchStop& stop_;
    Trying trying_;
};

// Delays that end at once when a stop is asked for, and in slices of this
// length before it.
constexpr uint32_t kStopCheckSliceMs = 10;

// Either of two stops: the user's, or the search's own once it has found.
struct StopSignals {
    const SearchStop& asked;
    const SearchStop& found;
    bool Requested() const { return asked.Requested() || found.Requested(); }
};

class StoppableClock final : public Clock {
public:
    StoppableClock(Clock& clock, StopSignals stop) : clock_(clock), stop_(stop) {}
    void Sleep(uint32_t milliseconds) override;
    uint64_t NowMs() const override { return clock_.NowMs(); }

private:
    Clock& clock_;
    StopSignals stop_;
};

// A line whose waits fail at once when a stop is asked for, so that an
// exchange or an adapter probe in progress ends without waiting out its time,
// and whose open is made where a blocking one holds nothing else: it fails
// when a stop is asked for or kSearchOpenLimitMs pass before it returns, and
// the open is left to itself.
class StoppableLine final : public ForwardingLine {
public:
    StoppableLine(SerialLine& line, Clock& clock, StopSignals stop) : ForwardingLine(line), clock_(clock), stop_(stop) {}

    bool Open(const std::string& portName) override;
    WaitOutcome WaitForInput(uint32_t milliseconds) override;
    ArrivingInput ReadArriving(uint8_t* buffer, size_t capacity, uint32_t milliseconds) override;

private:
    Clock& clock_;
    StopSignals stop_;
};

// What a search is doing, as the page and the console see it.
enum class SearchState {
    Idle,             // none asked for yet
    Searching,        // `settings` is the combination being tried (the stored one at first)
    Found,            // `settings` is where the terminal answered
    NothingAnswered,
    Stopped,
};

struct SearchStatus {
    SearchState state = SearchState::Idle;
    ConnectionSettings settings;
};

// A search that runs beside the caller: started and stopped from the page's
// thread or the console's, watched by polling.
class SearchControl {
public:
    virtual ~SearchControl() = default;
    // Starts a search from the component's stored setting; false when one
    // is running already.
    virtual bool StartSearch() = 0;
    // Asks a running search to stop; it ends within kSearchStopsWithinMs.
    virtual void StopSearch() = 0;
    virtual SearchStatus Status() const = 0;
};

}  // namespace quill
