// Finding the terminal on the fake line: the order of the combinations, the
// ports that are skipped, where the terminal is found, how long a fruitless
// search takes and how quickly a stop ends one, in virtual time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/port_map.h"
#include "fake_line.h"
#include "link/terminal_search.h"

namespace quill {
namespace {

using fake::FakeLine;
using fake::VirtualClock;

std::string Shown(const ConnectionSettings& s) {
    return PortName(s.Port) + (s.IsIrDA != 0 ? " adapter" : " " + std::to_string(BaudRate(s.Speed)));
}

std::vector<std::string> Shown(const std::vector<ConnectionSettings>& order, size_t count) {
    std::vector<std::string> shown;
    for (size_t i = 0; i < order.size() && i < count; ++i) shown.push_back(Shown(order[i]));
    return shown;
}

TEST(SearchOrder, TheStoredSettingFirstThenItsPortThenEveryPortCommonSpeedsFirstThenTheAdapter) {
    const struct {
        const char* sentence;
        ConnectionSettings stored;
        std::vector<std::string> first;
        size_t total;
    } cases[] = {
        {"from COM1 at 115200: COM1 as it is, then COM2",
         {0, 0, 0},
         {"COM1 115200", "COM1 9600", "COM1 57600", "COM1 38400", "COM1 19200", "COM1 adapter", "COM2 115200"},
         96},
        {"from COM4 at 38400: COM4 at 38400, the rest of COM4, then COM1",
         {3, 2, 0},
         {"COM4 38400", "COM4 115200", "COM4 9600", "COM4 57600", "COM4 19200", "COM4 adapter", "COM1 115200"},
         96},
        {"from COM6 behind the adapter: the adapter, then the cable there, once each",
         {5, 1, 1},
         {"COM6 adapter", "COM6 115200", "COM6 9600", "COM6 57600", "COM6 38400", "COM6 19200", "COM1 115200"},
         96},
        {"from 4800 baud, which the list lacks: 4800 first, then all five listed",
         {1, 5, 0},
         {"COM2 4800", "COM2 115200", "COM2 9600", "COM2 57600", "COM2 38400", "COM2 19200", "COM2 adapter"},
         97},
        {"from port index 20, COM21, though Windows does not list it: COM21 first",
         {20, 0, 0},
         {"COM21 115200", "COM21 9600", "COM21 57600", "COM21 38400", "COM21 19200", "COM21 adapter", "COM1 115200"},
         102},
        {"from port index 300, which opens as COM1: COM1", {300, 0, 0}, {"COM1 115200", "COM1 9600"}, 96},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sentence);
        const std::vector<ConnectionSettings> order = SearchOrder(c.stored, PortListPorts({}, c.stored.Port));
        EXPECT_EQ(Shown(order, c.first.size()), c.first);
        EXPECT_EQ(order.size(), c.total);
        std::set<std::string> distinct;
        for (const ConnectionSettings& candidate : order) distinct.insert(Shown(candidate));
        EXPECT_EQ(distinct.size(), order.size()) << "no combination twice";
        EXPECT_EQ(Shown(order.back()), "COM16 adapter");
    }
}

// Present ports above COM16 come after COM1 to COM16, in number order; a
// search narrowed to some ports tries those only, the stored setting first
// when its port is among them.
TEST(SearchOrder, PresentPortsAboveCom16ComeLastAndANarrowedSearchTriesOnlyItsPorts) {
    const struct {
        const char* sentence;
        ConnectionSettings stored;
        std::vector<int32_t> ports;
        std::vector<std::string> portsInTurn;
        const char* first;
    } cases[] = {
        {"from COM1 with COM41 and COM23 present",
         {0, 0, 0},
         PortListPorts({40, 22}, 0),
         {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9", "COM10", "COM11", "COM12", "COM13",
          "COM14", "COM15", "COM16", "COM23", "COM41"},
         "COM1 115200"},
        {"from COM23, present: COM23 first, then COM1 on",
         {22, 4, 0},
         PortListPorts({22}, 22),
         {"COM23", "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9", "COM10", "COM11", "COM12",
          "COM13", "COM14", "COM15", "COM16"},
         "COM23 9600"},
        {"narrowed to COM23 and COM3, from COM1: COM3, then COM23", {0, 0, 0}, NarrowedSearchPorts({22, 2}),
         {"COM3", "COM23"},
         "COM3 115200"},
        {"narrowed to COM3 and COM23, from COM23: COM23 first", {22, 0, 0}, NarrowedSearchPorts({2, 22}),
         {"COM23", "COM3"},
         "COM23 115200"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sentence);
        const std::vector<ConnectionSettings> order = SearchOrder(c.stored, c.ports);
        std::vector<std::string> inTurn;
        for (const ConnectionSettings& candidate : order)
            if (inTurn.empty() || inTurn.back() != PortName(candidate.Port)) inTurn.push_back(PortName(candidate.Port));
        EXPECT_EQ(inTurn, c.portsInTurn) << "each port's six combinations together";
        EXPECT_EQ(order.size(), 6 * c.portsInTurn.size());
        EXPECT_EQ(Shown(order.front()), c.first);
    }
}

TEST(SearchOrder, ANarrowedSearchDropsIndicesThatNameNoPortAndTakesEachPortOnce) {
    EXPECT_EQ(NarrowedSearchPorts({22, 2, 22, 256, -1, 255, 0}), (std::vector<int32_t>{0, 2, 22, 255}));
}

TEST(SearchOrder, EveryTryKeepsTheStoredPaceAndTrace) {
    ConnectionSettings stored{2, 0, 0};
    stored.FastExchange = 1;
    stored.Trace = 1;
    for (const ConnectionSettings& candidate : SearchOrder(stored, PortListPorts({22}, 2))) {
        EXPECT_EQ(candidate.FastExchange, 1);
        EXPECT_EQ(candidate.Trace, 1);
    }
}

// Sixteen ports: the ones that exist, and on them a terminal on a cable at
// one speed or behind an adapter that answers its probe at one rate; what
// happened to them is counted across every job. The terminal answers PNG
// 20 ms after it; the adapter echoes the probe byte at once.
struct PortsSetUp {
    std::set<std::string> existing;
    std::map<std::string, uint32_t> cableTerminalAt;    // port: the terminal's baud rate
    std::map<std::string, uint32_t> adapterAnswersAt;   // port: the adapter's probe rate
    std::map<std::string, uint64_t> openTakesMs;        // port: how long its open takes to return
    // Called while an open is pending, at each look (to ask for a stop).
    std::function<void(const std::string& port, uint64_t atMs)> whileOpening;
    // Called for each write, after the terminal heard it (to ask for a stop).
    std::function<void(const std::string& port, const std::string& bytes, uint64_t atMs)> onWrite;

    std::set<std::string> switchedOver;  // adapters that pass the line to the terminal now

    std::map<std::string, int> openAttempts;
    int opened = 0, closed = 0;
    int opensLeft = 0;  // opens that had not returned when the search let go of them
    bool anyLeftOpen = false;
};

// One job's line: a fake line on the job's clock, through to the ports.
class Ports final : public ForwardingLine {
public:
    Ports(VirtualClock& clock, PortsSetUp& setUp) : ForwardingLine(fake_), clock_(clock), setUp_(setUp) {
        fake_.onWrite = [this](const std::string& bytes) { Heard(bytes); };
    }
    ~Ports() override {
        if (line_.IsOpen()) setUp_.anyLeftOpen = true;
    }

    bool Open(const std::string& portName) override {
        ++setUp_.openAttempts[portName];
        return Opened(portName);
    }
    // An open that takes time returns once the job's clock has moved on by
    // that much.
    Opening BeginOpen(const std::string& portName) override {
        const auto slow = setUp_.openTakesMs.find(portName);
        if (slow == setUp_.openTakesMs.end()) return Open(portName) ? Opening::Opened : Opening::Failed;
        ++setUp_.openAttempts[portName];
        opening_ = portName;
        const uint64_t left = std::numeric_limits<uint64_t>::max() - clock_.NowMs();
        returnsAt_ = clock_.NowMs() + std::min(slow->second, left);
        return OpeningNow();
    }
    Opening OpeningNow() override {
        if (opening_.empty()) return line_.IsOpen() ? Opening::Opened : Opening::Failed;
        if (clock_.NowMs() < returnsAt_) {
            if (setUp_.whileOpening) setUp_.whileOpening(opening_, clock_.NowMs());
            return Opening::Pending;
        }
        const std::string port = std::move(opening_);
        opening_.clear();
        return Opened(port) ? Opening::Opened : Opening::Failed;
    }
    void LeaveOpening() override {
        if (opening_.empty()) return;
        ++setUp_.opensLeft;
        opening_.clear();
    }
    void Close() override {
        if (line_.IsOpen()) ++setUp_.closed;
        line_.Close();
    }

private:
    bool Opened(const std::string& portName) {
        if (setUp_.existing.count(portName) == 0) return false;
        port_ = portName;
        ++setUp_.opened;
        return line_.Open(portName);
    }

    void Heard(const std::string& bytes) {
        const LineSettings now = fake_.Current();
        const auto adapter = setUp_.adapterAnswersAt.find(port_);
        // A probe at any rate starts the adapter's set-up afresh.
        if (adapter != setUp_.adapterAnswersAt.end() && !now.rtsHigh && bytes == "\x0F")
            setUp_.switchedOver.erase(port_);
        if (adapter != setUp_.adapterAnswersAt.end() && !now.rtsHigh && now.baudRate == adapter->second) {
            if (bytes == "\x0F") fake_.QueueAt(clock_.NowMs(), "\x0F");
            if (bytes == "\x51") setUp_.switchedOver.insert(port_);
        }
        const auto cable = setUp_.cableTerminalAt.find(port_);
        const bool terminalHears =
            now.rtsHigh && ((cable != setUp_.cableTerminalAt.end() && now.baudRate == cable->second) ||
                            (setUp_.switchedOver.count(port_) != 0 && now.baudRate == 115200));
        if (terminalHears && bytes == "PNG\r") fake_.QueueAt(clock_.NowMs() + 20, "ACK\r");
        if (setUp_.onWrite) setUp_.onWrite(port_, bytes, clock_.NowMs());
    }

    VirtualClock& clock_;
    PortsSetUp& setUp_;
    FakeLine fake_{clock_};  // the line passed on to
    std::string port_;
    std::string opening_;  // the port whose open is pending
    uint64_t returnsAt_ = 0;
};

// Runs the jobs one after another, each on a clock of its own that starts
// where the search's clock stands, as threads side by side would; the
// search's clock then stands at the latest end.
class SideBySide final : public ProbeRunner {
public:
    SideBySide(VirtualClock& clock, PortsSetUp& setUp) : clock_(clock), setUp_(setUp) {}
    std::vector<std::string> jobPorts;

    void RunAll(const std::vector<Job>& jobs) override {
        const uint64_t start = clock_.NowMs();
        uint64_t latest = start;
        for (const Job& job : jobs) {
            jobPorts.push_back(job.portName);
            VirtualClock own;
            own.AdvanceTo(start);
            Ports line(own, setUp_);
            job.run(line, own);
            latest = std::max(latest, own.NowMs());
        }
        clock_.AdvanceTo(latest);
    }

private:
    VirtualClock& clock_;
    PortsSetUp& setUp_;
};

struct SearchBench {
    // A whole search: COM1 to COM16, the present ports above them, the
    // stored port.
    SearchResult Run(ConnectionSettings stored) { return RunOn(stored, PortListPorts(presentAbove, stored.Port)); }
    SearchResult RunOn(ConnectionSettings stored, const std::vector<int32_t>& ports) {
        TerminalSearch search(runner, localTime, stop,
                              [this](const ConnectionSettings& candidate) { tried.push_back(Shown(candidate)); });
        return search.Run(stored, ports);
    }

    std::vector<int32_t> presentAbove;  // ports above COM16 that Windows lists
    VirtualClock clock;
    fake::FixedLocalTime localTime;
    PortsSetUp ports;
    SideBySide runner{clock, ports};
    SearchStop stop;
    std::vector<std::string> tried;
};

TEST(TerminalSearch, ATerminalBehindTheAdapterOnCom14IsFoundFromCom1AndMissingPortsAreSkippedAtOnce) {
    SearchBench bench;
    bench.ports.existing = {"COM1", "COM3", "COM14"};
    bench.ports.adapterAnswersAt = {{"COM14", 38400}};

    const SearchResult result = bench.Run(ConnectionSettings{0, 0, 0});

    EXPECT_EQ(result.end, SearchEnd::Found);
    EXPECT_EQ(result.found, (ConnectionSettings{13, 2, 1})) << "COM14, the adapter's rate 38400, the adapter";
    EXPECT_EQ(bench.runner.jobPorts.front(), "COM1") << "the stored setting on its own first";
    for (int port = 1; port <= 14; ++port) {
        const std::string name = "COM" + std::to_string(port);
        EXPECT_EQ(bench.ports.openAttempts[name], bench.ports.existing.count(name) != 0 ? 6 : 1) << name;
    }
    EXPECT_EQ(bench.ports.openAttempts.count("COM15"), 0u) << "after the find nothing more is opened";
    EXPECT_EQ(bench.tried.front(), "COM1 115200");
    EXPECT_FALSE(bench.ports.anyLeftOpen) << "no port left open";
    EXPECT_EQ(bench.ports.closed, bench.ports.opened);
    // The stored setting (a ping of 200 ms); then side by side the rest of
    // COM1 (four pings and an adapter set-up of 1.35 s), COM3 (five and one)
    // and COM14: five pings, its adapter found at the third rate (1.3 s) and
    // the answer (20 ms, then the 50 ms settle). Missing ports take no time.
    EXPECT_EQ(bench.clock.NowMs(), 200 + std::max({4 * 200 + 1350, 5 * 200 + 1350, 5 * 200 + 1300 + 70}) + 0u);
}

TEST(TerminalSearch, TheTerminalIsFoundWhereItAnswersAndTheStoredSettingIsTriedAlone) {
    const struct {
        const char* sentence;
        ConnectionSettings stored;
        std::map<std::string, uint32_t> cable;
        ConnectionSettings found;
        std::vector<std::string> tried;
    } cases[] = {
        {"where the stored setting says: one try", {2, 4, 0}, {{"COM3", 9600}}, {2, 4, 0}, {"COM3 9600"}},
        {"on the stored port at another speed",
         {1, 0, 0},
         {{"COM2", 57600}},
         {1, 1, 0},
         {"COM2 115200", "COM2 9600", "COM2 57600"}},
        {"at 4800, stored though not listed", {0, 5, 0}, {{"COM1", 4800}}, {0, 5, 0}, {"COM1 4800"}},
        {"at 115200 on the cable, with no adapter there to prefer",
         {3, 0, 0},
         {{"COM4", 115200}},
         {3, 0, 0},
         {"COM4 115200", "COM4 adapter"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sentence);
        SearchBench bench;
        bench.ports.existing = {"COM" + std::to_string(c.stored.Port + 1)};
        bench.ports.cableTerminalAt = c.cable;
        const SearchResult result = bench.Run(c.stored);
        EXPECT_EQ(result.end, SearchEnd::Found);
        EXPECT_EQ(result.found, c.found);
        EXPECT_EQ(bench.tried, c.tried);
        EXPECT_FALSE(bench.ports.anyLeftOpen);
    }
}

TEST(TerminalSearch, AnAdapterSwitchedOverEarlierThatLetsTheCableThroughIsStillTheSetting) {
    SearchBench bench;
    bench.ports.existing = {"COM3"};
    bench.ports.adapterAnswersAt = {{"COM3", 38400}};
    bench.ports.switchedOver = {"COM3"};  // by the component's last open, say
    const SearchResult result = bench.Run(ConnectionSettings{2, 0, 0});
    EXPECT_EQ(result.end, SearchEnd::Found);
    EXPECT_EQ(result.found, (ConnectionSettings{2, 2, 1})) << "the adapter, answering at 38400";
    EXPECT_EQ(bench.tried, (std::vector<std::string>{"COM3 115200", "COM3 adapter"}));
}

TEST(TerminalSearch, FourRealPortsAndNoTerminalAreSearchedSideBySideWellWithinTenSeconds) {
    SearchBench bench;
    bench.ports.existing = {"COM1", "COM2", "COM5", "COM9"};
    ConnectionSettings stored{4, 3, 0};
    stored.FastExchange = 1;  // the fast pace waits as long for a silent terminal

    const SearchResult result = bench.Run(stored);

    EXPECT_EQ(result.end, SearchEnd::NothingAnswered);
    EXPECT_EQ(bench.ports.opened, 4 * 6) << "five speeds and the adapter on each real port";
    EXPECT_EQ(bench.ports.openAttempts.size(), 16u);
    for (const auto& [port, attempts] : bench.ports.openAttempts)
        EXPECT_EQ(attempts, bench.ports.existing.count(port) != 0 ? 6 : 1) << port;
    // The stored setting, then the slowest port: five pings and an adapter
    // set-up (COM5's rest is one ping shorter).
    EXPECT_EQ(bench.clock.NowMs(), 200 + 5 * 200 + 1350u);
    EXPECT_LE(bench.clock.NowMs(), 10000u);
    EXPECT_FALSE(bench.ports.anyLeftOpen);
    EXPECT_EQ(bench.ports.closed, bench.ports.opened);
}

TEST(TerminalSearch, AStopEndsTheSearchWithin300MsWhateverItWasDoingAndLeavesNoPortOpen) {
    const struct {
        const char* sentence;
        std::string write;  // the stop is asked for as this is written
        int occurrence;     // the how-many-th such write
    } cases[] = {
        {"while the stored setting's ping waits for its answer", "PNG\r", 1},
        {"while a later ping waits", "PNG\r", 4},
        {"while the adapter's probe waits for its echo", "\x0F", 1},
        {"while the adapter is switched over", "\x36", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sentence);
        SearchBench bench;
        bench.ports.existing = {"COM2"};
        bench.ports.adapterAnswersAt = {{"COM2", 9600}};
        uint64_t stoppedAt = 0;
        int seen = 0;
        int opensAtStop = -1;
        bench.ports.onWrite = [&](const std::string&, const std::string& bytes, uint64_t atMs) {
            if (bytes != c.write || ++seen != c.occurrence) return;
            bench.stop.Request();
            stoppedAt = atMs;
            opensAtStop = bench.ports.opened;
        };
        const SearchResult result = bench.Run(ConnectionSettings{1, 0, 0});
        ASSERT_TRUE(bench.stop.Requested());
        EXPECT_EQ(result.end, SearchEnd::Stopped);
        EXPECT_LE(bench.clock.NowMs() - stoppedAt, kSearchStopsWithinMs);
        EXPECT_EQ(bench.ports.opened, opensAtStop) << "nothing opened after the stop";
        EXPECT_FALSE(bench.ports.anyLeftOpen);
        EXPECT_EQ(bench.ports.closed, bench.ports.opened);
    }
}

TEST(TerminalSearch, ATerminalOnAPresentPortAboveCom16IsFoundAfterCom1ToCom16AndNoAbsentPortIsTried) {
    SearchBench bench;
    bench.ports.existing = {"COM1", "COM23"};
    bench.presentAbove = {22};
    bench.ports.cableTerminalAt = {{"COM23", 9600}};

    const SearchResult result = bench.Run(ConnectionSettings{0, 0, 0});

    EXPECT_EQ(result.end, SearchEnd::Found);
    EXPECT_EQ(result.found, (ConnectionSettings{22, 4, 0})) << "COM23 at 9600";
    ASSERT_FALSE(bench.runner.jobPorts.empty());
    EXPECT_EQ(bench.runner.jobPorts.front(), "COM1");
    EXPECT_EQ(bench.runner.jobPorts.back(), "COM23") << "after COM1 to COM16";
    EXPECT_EQ(bench.runner.jobPorts.size(), 1u + 16 + 1);
    for (int port = 17; port <= 22; ++port)
        EXPECT_EQ(bench.ports.openAttempts.count("COM" + std::to_string(port)), 0u) << "COM" << port;
    EXPECT_FALSE(bench.ports.anyLeftOpen);
}

TEST(TerminalSearch, ANarrowedSearchOpensOnlyTheGivenPorts) {
    SearchBench bench;
    bench.ports.existing = {"COM1", "COM3", "COM23"};
    bench.ports.cableTerminalAt = {{"COM23", 115200}};
    const SearchResult result = bench.RunOn(ConnectionSettings{0, 0, 0}, NarrowedSearchPorts({22, 2}));
    EXPECT_EQ(result.end, SearchEnd::Found);
    EXPECT_EQ(result.found.Port, 22);
    EXPECT_EQ(bench.ports.openAttempts.count("COM1"), 0u) << "the stored port is not among them";
    EXPECT_EQ(bench.runner.jobPorts, (std::vector<std::string>{"COM3", "COM23"}));
}

// An open that does not return (a virtual port that connects its device
// first) holds the search no longer than its limit, and a stop not at all.
TEST(TerminalSearch, AnOpenThatHasNotReturnedIsLeftAtTheStopOrAfterItsLimitAndThePortGivenUp) {
    constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();
    const struct {
        const char* sentence;
        uint64_t openTakesMs;  // COM5's, the stored port
        uint64_t stopAfterMs;  // after the open began; 0: no stop
        SearchEnd end;
        int opensLeft;
        int com5Attempts;
    } cases[] = {
        {"stopped while the open blocks: the search ends at once", kNever, 120, SearchEnd::Stopped, 1, 1},
        {"no stop: left after its limit, the port given up, COM2 found", kNever, 0, SearchEnd::Found, 1, 1},
        {"an open that returns within the limit is waited for", 400, 0, SearchEnd::Found, 0, 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sentence);
        SearchBench bench;
        bench.ports.existing = {"COM2", "COM5"};
        bench.ports.cableTerminalAt = {{"COM2", 9600}};
        bench.ports.openTakesMs = {{"COM5", c.openTakesMs}};
        uint64_t stoppedAt = 0;
        bench.ports.whileOpening = [&](const std::string&, uint64_t atMs) {
            if (c.stopAfterMs == 0 || bench.stop.Requested() || atMs < c.stopAfterMs) return;
            bench.stop.Request();
            stoppedAt = atMs;
        };

        const SearchResult result = bench.Run(ConnectionSettings{4, 0, 0});

        EXPECT_EQ(result.end, c.end);
        if (c.end == SearchEnd::Found) {
            EXPECT_EQ(result.found, (ConnectionSettings{1, 4, 0}));
        }
        EXPECT_EQ(bench.ports.opensLeft, c.opensLeft);
        EXPECT_EQ(bench.ports.openAttempts["COM5"], c.com5Attempts);
        if (c.stopAfterMs != 0) {
            EXPECT_LE(bench.clock.NowMs() - stoppedAt, kSearchStopsWithinMs);
            EXPECT_EQ(bench.ports.openAttempts.size(), 1u) << "nothing else opened";
        } else if (c.opensLeft != 0) {
            EXPECT_GE(bench.clock.NowMs(), kSearchOpenLimitMs);
            EXPECT_LE(bench.clock.NowMs(), kSearchOpenLimitMs + 2000) << "the stored try, then COM2 found";
        }
        EXPECT_FALSE(bench.ports.anyLeftOpen);
        EXPECT_EQ(bench.ports.closed, bench.ports.opened);
    }
}

TEST(TerminalSearch, AStopAskedForBeforeTheStartOpensNothing) {
    SearchBench bench;
    bench.ports.existing = {"COM1"};
    bench.stop.Request();
    EXPECT_EQ(bench.Run(ConnectionSettings{0, 0, 0}).end, SearchEnd::Stopped);
    EXPECT_TRUE(bench.ports.openAttempts.empty());
    EXPECT_EQ(bench.clock.NowMs(), 0u);
}

}  // namespace
}  // namespace quill
