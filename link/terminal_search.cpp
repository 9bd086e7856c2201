#include "link/terminal_search.h"

#include <algorithm>
#include <array>
#include <atomic>

#include "core/component_state.h"
#include "core/result_codes.h"
#include "link/protocol.h"
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

// What the jobs of one search share: the ports found missing, the search's
// own stop once a job has found the terminal, and where.
struct TerminalSearch::Shared {
    std::array<std::atomic<bool>, kPortCount> missing{};
    SearchStop found;            // asked for by the job that found the terminal
    std::atomic<bool> claimed{false};
    ConnectionSettings where;    // written once, by the job that claimed it
};

TerminalSearch::TerminalSearch(ProbeRunner& runner, const LocalTimeSource& localTime, const SearchStop& stop,
                               Trying trying)
    : runner_(runner), localTime_(localTime), stop_(stop), trying_(std::move(trying)) {}

SearchResult TerminalSearch::Run(const ConnectionSettings& stored) {
    const std::vector<ConnectionSettings> order = SearchOrder(stored);
    std::array<std::vector<ConnectionSettings>, kPortCount> perPort;
    std::vector<int32_t> ports;  // in the order their first combination comes
    for (size_t i = 1; i < order.size(); ++i) {
        const int32_t port = order[i].Port;
        if (perPort[port].empty()) ports.push_back(port);
        perPort[port].push_back(order[i]);
    }

    Shared shared;
    const auto ended = [&](const ConnectionSettings& fallback) -> SearchResult {
        if (shared.claimed.load()) return {SearchEnd::Found, shared.where};
        return {stop_.Requested() ? SearchEnd::Stopped : SearchEnd::NothingAnswered, fallback};
    };
    // The stored setting first, on its own.
    runner_.RunAll({PortJob(order.front().Port, {order.front()}, shared)});
    if (shared.claimed.load() || stop_.Requested()) return ended(stored);
    // Then every port at once.
    std::vector<ProbeRunner::Job> jobs;
    for (int32_t port : ports)
        if (!shared.missing[port].load()) jobs.push_back(PortJob(port, std::move(perPort[port]), shared));
    runner_.RunAll(jobs);
    return ended(stored);
}

// One port's combinations in turn, until one answers, the port turns out
// missing, or the search is to stop.
ProbeRunner::Job TerminalSearch::PortJob(int32_t port, std::vector<ConnectionSettings> candidates, Shared& shared) {
    return {PortName(port), [this, port, candidates = std::move(candidates), &shared](SerialLine& line, Clock& clock) {
                for (const ConnectionSettings& candidate : candidates) {
                    if (stop_.Requested() || shared.found.Requested()) return;
                    if (trying_) trying_(candidate);
                    uint32_t adapterRate = 0;
                    const Probe probe = Try(line, clock, candidate, shared.found, adapterRate);
                    if (probe == Probe::PortMissing) {
                        shared.missing[port].store(true);
                        return;
                    }
                    if (probe != Probe::Answered) continue;
                    ConnectionSettings where = candidate;
                    // An adapter that is switched over already lets the cable
                    // reach the terminal at its rate, until the cradle loses
                    // power: where an adapter answers, it is the setting.
                    if (candidate.IsIrDA == 0 && BaudRate(candidate.Speed) == protocol::kAdapterTerminalRate) {
                        ConnectionSettings behind = candidate;
                        behind.IsIrDA = 1;
                        if (trying_) trying_(behind);
                        if (Try(line, clock, behind, shared.found, adapterRate) == Probe::Answered) where = behind;
                    }
                    if (shared.claimed.exchange(true)) return;  // another port answered first
                    // Behind the adapter, the rate it answered at stands for the speed.
                    if (where.IsIrDA != 0 && ListedSpeedIndex(adapterRate) >= 0)
                        where.Speed = ListedSpeedIndex(adapterRate);
                    shared.where = where;
                    shared.found.Request();
                    return;
                }
            }};
}

// One combination on a link of its own, so that nothing the terminal owes
// from another try is waited for. The port is closed again on every way out.
TerminalSearch::Probe TerminalSearch::Try(SerialLine& line, Clock& clock, const ConnectionSettings& candidate,
                                          const SearchStop& ending, uint32_t& adapterRate) {
    const StopSignals signals{stop_, ending};
    StoppableLine stoppable(line, signals);
    StoppableClock stoppableClock(clock, signals);
    ComponentState state;
    TerminalLink link(stoppable, stoppableClock, localTime_, state);
    const struct Closing {
        TerminalLink& link;
        ~Closing() { link.AbandonPort(); }
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
