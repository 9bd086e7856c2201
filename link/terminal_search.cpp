#include "link/terminal_search.h"

#include <algorithm>
#include <array>

#include "core/component_state.h"
#include "core/result_codes.h"
#include "link/terminal_link.h"

namespace quill {
namespace {

// The listed speeds in the order they are tried on the cable: the common
// ones first.
constexpr std::array<int32_t, kListedSpeedCount> kCommonSpeedsFirst = {0, 4, 1, 2, 3};  // 115200, 9600, 57600, ...

bool SameProbe(const ConnectionSettings& a, const ConnectionSettings& b) {
    if (a.Port != b.Port || (a.IsIrDA != 0) != (b.IsIrDA != 0)) return false;
    // Behind the adapter the speed makes no difference.
    return a.IsIrDA != 0 || a.Speed == b.Speed;
}

ConnectionSettings With(ConnectionSettings settings, int32_t port, int32_t speed, bool adapter) {
    settings.Port = port;
    settings.Speed = speed;
    settings.IsIrDA = adapter ? 1 : 0;
    return settings;
}

}  // namespace

std::vector<ConnectionSettings> SearchOrder(const ConnectionSettings& stored) {
    ConnectionSettings first = stored;
    if (first.Port < 0 || first.Port >= kPortCount) first.Port = 0;  // opens as COM1
    first.IsIrDA = first.IsIrDA != 0 ? 1 : 0;
    // Behind the adapter the open's speed is one of the listed ones.
    const int32_t adapterSpeed = first.Speed >= 0 && first.Speed < kListedSpeedCount ? first.Speed : 0;
    if (first.IsIrDA != 0) first.Speed = adapterSpeed;

    std::vector<ConnectionSettings> order{first};
    const auto add = [&](const ConnectionSettings& candidate) {
        for (const ConnectionSettings& tried : order)
            if (SameProbe(tried, candidate)) return;
        order.push_back(candidate);
    };
    std::vector<int32_t> ports{first.Port};
    for (int32_t port = 0; port < kPortCount; ++port)
        if (port != first.Port) ports.push_back(port);
    for (int32_t port : ports) {
        for (int32_t speed : kCommonSpeedsFirst) add(With(first, port, speed, false));
        add(With(first, port, adapterSpeed, true));
    }
    return order;
}

TerminalSearch::TerminalSearch(SerialLine& line, Clock& clock, const LocalTimeSource& localTime,
                               const SearchStop& stop, Trying trying)
    : line_(line), clock_(clock), localTime_(localTime), stop_(stop), trying_(std::move(trying)) {}

SearchResult TerminalSearch::Run(const ConnectionSettings& stored) {
    std::array<bool, kPortCount> missing{};
    for (const ConnectionSettings& candidate : SearchOrder(stored)) {
        if (stop_.Requested()) return {SearchEnd::Stopped, stored};
        if (missing[candidate.Port]) continue;
        if (trying_) trying_(candidate);
        uint32_t adapterRate = 0;
        const Probe probe = Try(candidate, adapterRate);
        if (probe == Probe::PortMissing) missing[candidate.Port] = true;
        if (probe != Probe::Answered) continue;
        ConnectionSettings found = candidate;
        // Behind the adapter, the rate it answered at stands for the speed.
        if (found.IsIrDA != 0 && ListedSpeedIndex(adapterRate) >= 0) found.Speed = ListedSpeedIndex(adapterRate);
        return {SearchEnd::Found, found};
    }
    return {stop_.Requested() ? SearchEnd::Stopped : SearchEnd::NothingAnswered, stored};
}

// One combination on a link of its own, so that nothing the terminal owes
// from another try is waited for. The port is closed again on every way out.
TerminalSearch::Probe TerminalSearch::Try(const ConnectionSettings& candidate, uint32_t& adapterRate) {
    StoppableLine line(line_, stop_);
    StoppableClock clock(clock_, stop_);
    ComponentState state;
    TerminalLink link(line, clock, localTime_, state);
    const struct Closing {
        TerminalLink& link;
        ~Closing() { link.ClosePort(); }
    } closing{link};
    if (link.OpenPort(candidate) != 1)
        return state.result == code::kCannotOpenPort ? Probe::PortMissing : Probe::Silent;
    adapterRate = link.adapterRate();
    // An answer can only come from a wait that ended before any stop.
    return link.PingTerminal() == 1 ? Probe::Answered : Probe::Silent;
}

void StoppableClock::Sleep(uint32_t milliseconds) {
    while (milliseconds > 0 && !stop_.Requested()) {
        const uint32_t slice = std::min(milliseconds, kStopCheckSliceMs);
        clock_.Sleep(slice);
        milliseconds -= slice;
    }
}

WaitOutcome StoppableLine::WaitForInput(uint32_t milliseconds) {
    if (stop_.Requested()) return WaitOutcome::Failed;
    return line_.WaitForInput(milliseconds);
}

SerialLine::ArrivingInput StoppableLine::ReadArriving(uint8_t* buffer, size_t capacity, uint32_t milliseconds) {
    if (stop_.Requested()) return {WaitOutcome::Failed, 0};
    return line_.ReadArriving(buffer, capacity, milliseconds);
}

}  // namespace quill
