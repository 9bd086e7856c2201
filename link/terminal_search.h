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
#include <vector>

#include "core/connection_settings.h"
#include "link/serial_line.h"

namespace quill {

// The combinations in the order they are tried: the stored setting first;
// then the rest of its port; then every other port from COM1 to COM16. On
// each port the cable at the common speeds first (115200 and 9600, then
// 57600, 38400 and 19200), then the infrared adapter once: behind the adapter
// the speed setting does not reach the terminal (the adapter is probed at its
// own rates, and the line then runs at 115200), so one try covers every
// speed. A stored port outside COM1 to COM16 is tried as COM1, where it
// opens. The pace and the trace flag are the stored ones throughout.
std::vector<ConnectionSettings> SearchOrder(const ConnectionSettings& stored);

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
// progress runs out (50 ms at most), every later delay and wait ends at once.
constexpr uint64_t kSearchStopsWithinMs = 300;

class TerminalSearch {
public:
    // Told of each combination as it starts to be tried.
    using Trying = std::function<void(const ConnectionSettings&)>;

    TerminalSearch(SerialLine& line, Clock& clock, const LocalTimeSource& localTime, const SearchStop& stop,
                   Trying trying);

    // Tries the combinations of SearchOrder(stored) until one answers. A
    // port that cannot be opened (missing, or held by another program) is
    // skipped at once with all its combinations. The line is closed again
    // after every try, whatever happened.
    SearchResult Run(const ConnectionSettings& stored);

private:
    enum class Probe { Answered, Silent, PortMissing };
    Probe Try(const ConnectionSettings& candidate, uint32_t& adapterRate);

    SerialLine& line_;
    Clock& clock_;
    const LocalTimeSource& localTime_;
    const SearchStop& stop_;
    Trying trying_;
};

// Delays that end at once when a stop is asked for, and in slices of this
// length before it.
constexpr uint32_t kStopCheckSliceMs = 10;

class StoppableClock final : public Clock {
public:
    StoppableClock(Clock& clock, const SearchStop& stop) : clock_(clock), stop_(stop) {}
    void Sleep(uint32_t milliseconds) override;
    uint64_t NowMs() const override { return clock_.NowMs(); }

private:
    Clock& clock_;
    const SearchStop& stop_;
};

// A line whose waits fail at once when a stop is asked for, so that an
// exchange or an adapter probe in progress ends without waiting out its time.
class StoppableLine final : public SerialLine {
public:
    StoppableLine(SerialLine& line, const SearchStop& stop) : line_(line), stop_(stop) {}

    bool Open(const std::string& portName) override { return line_.Open(portName); }
    void Close() override { line_.Close(); }
    bool IsOpen() const override { return line_.IsOpen(); }
    bool Configure(const LineSettings& settings) override { return line_.Configure(settings); }
    void Reconfigure(const LineSettings& settings) override { line_.Reconfigure(settings); }
    void Write(const uint8_t* bytes, size_t count) override { line_.Write(bytes, count); }
    void WriteAndDrain(const uint8_t* bytes, size_t count) override { line_.WriteAndDrain(bytes, count); }
    WaitOutcome WaitForInput(uint32_t milliseconds) override;
    size_t ReadQueued(uint8_t* buffer, size_t capacity) override { return line_.ReadQueued(buffer, capacity); }
    ArrivingInput ReadArriving(uint8_t* buffer, size_t capacity, uint32_t milliseconds) override;
    void AbortPending() override { line_.AbortPending(); }
    void DiscardQueues() override { line_.DiscardQueues(); }

private:
    SerialLine& line_;
    const SearchStop& stop_;
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
