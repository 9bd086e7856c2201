// Finding the terminal on the fake line: the order of the combinations, the
// ports that are skipped, where the terminal is found, how long a fruitless
// search takes and how quickly a stop ends one, in virtual time.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

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
        {"from port 20, which opens as COM1: COM1", {20, 0, 0}, {"COM1 115200", "COM1 9600"}, 96},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sentence);
        const std::vector<ConnectionSettings> order = SearchOrder(c.stored);
        EXPECT_EQ(Shown(order, c.first.size()), c.first);
        EXPECT_EQ(order.size(), c.total);
        std::set<std::string> distinct;
        for (const ConnectionSettings& candidate : order) distinct.insert(Shown(candidate));
        EXPECT_EQ(distinct.size(), order.size()) << "no combination twice";
        EXPECT_EQ(Shown(order.back()), "COM16 adapter");
    }
}

TEST(SearchOrder, EveryTryKeepsTheStoredPaceAndTrace) {
    ConnectionSettings stored{2, 0, 0};
    stored.FastExchange = 1;
    stored.Trace = 1;
    for (const ConnectionSettings& candidate : SearchOrder(stored)) {
        EXPECT_EQ(candidate.FastExchange, 1);
        EXPECT_EQ(candidate.Trace, 1);
    }
}

// Sixteen ports on one fake line: the ones that exist, and on them a
// terminal on a cable at one speed or behind an adapter that answers its
// probe at one rate. The terminal answers PNG 20 ms after it; the adapter
// echoes the probe byte at once.
class Ports final : public SerialLine {
public:
    explicit Ports(VirtualClock& clock) : clock_(clock) {
        line_.onWrite = [this](const std::string& bytes) { Heard(bytes); };
    }

    std::set<std::string> existing;
    std::map<std::string, uint32_t> cableTerminalAt;    // port: the terminal's baud rate
    std::map<std::string, uint32_t> adapterAnswersAt;   // port: the adapter's probe rate
    // Called for each write, after the terminal heard it (to ask for a stop).
    std::function<void(const std::string& port, const std::string& bytes)> onWrite;

    std::map<std::string, int> openAttempts;
    int opened = 0;
    const FakeLine& line() const { return line_; }

    bool Open(const std::string& portName) override {
        ++openAttempts[portName];
        if (existing.count(portName) == 0) return false;
        port_ = portName;
        switchedOver_ = false;
        ++opened;
        return line_.Open(portName);
    }
    void Close() override { line_.Close(); }
    bool IsOpen() const override { return line_.IsOpen(); }
    bool Configure(const LineSettings& settings) override { return line_.Configure(settings); }
    void Reconfigure(const LineSettings& settings) override { line_.Reconfigure(settings); }
    void Write(const uint8_t* bytes, size_t count) override { line_.Write(bytes, count); }
    void WriteAndDrain(const uint8_t* bytes, size_t count) override { line_.WriteAndDrain(bytes, count); }
    WaitOutcome WaitForInput(uint32_t milliseconds) override { return line_.WaitForInput(milliseconds); }
    size_t ReadQueued(uint8_t* buffer, size_t capacity) override { return line_.ReadQueued(buffer, capacity); }
    void AbortPending() override { line_.AbortPending(); }
    void DiscardQueues() override { line_.DiscardQueues(); }

private:
    void Heard(const std::string& bytes) {
        const LineSettings now = line_.Current();
        const auto adapter = adapterAnswersAt.find(port_);
        if (adapter != adapterAnswersAt.end() && !now.rtsHigh && now.baudRate == adapter->second) {
            if (bytes == "\x0F") line_.QueueAt(clock_.NowMs(), "\x0F");
            if (bytes == "\x51") switchedOver_ = true;
        }
        const auto cable = cableTerminalAt.find(port_);
        const bool terminalHears = now.rtsHigh && ((cable != cableTerminalAt.end() && now.baudRate == cable->second) ||
                                                   (switchedOver_ && now.baudRate == 115200));
        if (terminalHears && bytes == "PNG\r") line_.QueueAt(clock_.NowMs() + 20, "ACK\r");
        if (onWrite) onWrite(port_, bytes);
    }

    VirtualClock& clock_;
    FakeLine line_{clock_};
    std::string port_;
    bool switchedOver_ = false;
};

struct SearchBench {
    SearchResult Run(ConnectionSettings stored) {
        TerminalSearch search(ports, clock, localTime, stop,
                              [this](const ConnectionSettings& candidate) { tried.push_back(Shown(candidate)); });
        return search.Run(stored);
    }

    VirtualClock clock;
    fake::FixedLocalTime localTime;
    Ports ports{clock};
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
    for (int port = 1; port <= 16; ++port) {
        const std::string name = "COM" + std::to_string(port);
        const bool real = bench.ports.existing.count(name) != 0;
        if (port <= 14) {
            EXPECT_EQ(bench.ports.openAttempts[name], real ? 6 : 1) << name;
        } else {
            EXPECT_EQ(bench.ports.openAttempts.count(name), 0u) << name << ": after the find";
        }
    }
    EXPECT_EQ(bench.tried.back(), "COM14 adapter");
    EXPECT_FALSE(bench.ports.IsOpen()) << "no port left open";
    EXPECT_EQ(bench.ports.line().CloseCount(), bench.ports.opened);
    // Two silent ports (five pings of 200 ms, an adapter set-up of 1.35 s),
    // COM14's five pings, its adapter found at the third rate (1.3 s) and
    // the answer (20 ms, then the 50 ms settle); the missing ports took no time.
    EXPECT_EQ(bench.clock.NowMs(), 2 * (5 * 200 + 1350) + 5 * 200 + 1300 + 70u);
}

TEST(TerminalSearch, TheTerminalIsFoundWhereItAnswersAndNothingAfterIsTried) {
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
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sentence);
        SearchBench bench;
        for (int port = 1; port <= 4; ++port) bench.ports.existing.insert("COM" + std::to_string(port));
        bench.ports.cableTerminalAt = c.cable;
        const SearchResult result = bench.Run(c.stored);
        EXPECT_EQ(result.end, SearchEnd::Found);
        EXPECT_EQ(result.found, c.found);
        EXPECT_EQ(bench.tried, c.tried);
        EXPECT_FALSE(bench.ports.IsOpen());
    }
}

TEST(TerminalSearch, FourRealPortsAndNoTerminalEndWithinTenSecondsHavingTriedEverything) {
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
    EXPECT_EQ(bench.clock.NowMs(), 4 * (5 * 200 + 1350u));
    EXPECT_LE(bench.clock.NowMs(), 10000u);
    EXPECT_FALSE(bench.ports.IsOpen());
    EXPECT_EQ(bench.ports.line().CloseCount(), bench.ports.opened);
}

TEST(TerminalSearch, AStopEndsTheSearchWithin300MsWhateverItWasDoingAndLeavesNoPortOpen) {
    const struct {
        const char* sentence;
        std::string port, write;  // the stop is asked for as this is written there
        int opensAfterTheStop;
    } cases[] = {
        {"while a ping waits for its answer", "COM2", "PNG\r", 0},
        {"while the adapter's probe waits for its echo", "COM2", "\x0F", 0},
        {"while the adapter is switched over", "COM2", "\x36", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sentence);
        SearchBench bench;
        bench.ports.existing = {"COM1", "COM2", "COM3"};
        uint64_t stoppedAt = 0;
        int opensAtStop = -1;
        if (c.write == "\x36") bench.ports.adapterAnswersAt = {{"COM2", 9600}};
        bench.ports.onWrite = [&](const std::string& port, const std::string& bytes) {
            if (port != c.port || bytes != c.write || bench.stop.Requested()) return;
            bench.stop.Request();
            stoppedAt = bench.clock.NowMs();
            opensAtStop = bench.ports.opened;
        };
        const SearchResult result = bench.Run(ConnectionSettings{0, 0, 0});
        ASSERT_TRUE(bench.stop.Requested());
        EXPECT_EQ(result.end, SearchEnd::Stopped);
        EXPECT_LE(bench.clock.NowMs() - stoppedAt, kSearchStopsWithinMs);
        EXPECT_EQ(bench.ports.opened - opensAtStop, c.opensAfterTheStop);
        EXPECT_FALSE(bench.ports.IsOpen());
        EXPECT_EQ(bench.ports.line().CloseCount(), bench.ports.opened);
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
