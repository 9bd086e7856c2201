// The Win32 serial line on a real port handle: under Wine, a pseudo-terminal
// linked as COM10 whose far end is the pty peer (tests/win/pty_peer.cpp), started by
// serial_line_tests.sh. The peer answers "BAUD", "ECHO text", "SEND n" and
// "LATER ms text" lines and is otherwise silent. Two more peers, on COM11 and
// COM12, go away on "UNPLUG". COM6 is kept unlinked. Wine runs with the modem-line
// shim, so waits for a received character really wait. Timing under Wine is
// asserted only within loose bounds.
#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/component_state.h"
#include "core/result_codes.h"
#include "link/terminal_link.h"
#include "link/win32_serial_line.h"

namespace quill {
namespace {

constexpr char kPeerPort[] = "COM10";
constexpr char kMissingPort[] = "COM6";
constexpr char kUnpluggedPort[] = "COM11";
constexpr char kUnpluggedWhileReadingPort[] = "COM12";
constexpr uint32_t kWaitMs = 50;
constexpr uint32_t kReplyLimitMs = 2000;
constexpr uint32_t kArrivalMs = 300;
constexpr size_t kReadCapacity = 256;
constexpr uint8_t kUntouched = 0xAA;
constexpr uint32_t kPromptlyMs = 1000;

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

class SerialLineTest : public ::testing::Test {
protected:
    void OpenPeer(uint32_t baudRate = 115200) {
        ASSERT_TRUE(line_.Open(kPeerPort));
        ASSERT_TRUE(line_.Configure({baudRate, true}));
        line_.DiscardQueues();
    }

    void Send(const std::string& text) {
        const auto bytes = Bytes(text);
        line_.Write(bytes.data(), bytes.size());
    }

    // Collects bytes up to a CR the way the protocol does: wait; when the
    // wait saw input, let it settle and read what is queued. Returns the line
    // without its CR, or "<none>".
    std::string ReceiveLine() {
        std::string received;
        const uint64_t deadline = clock_.NowMs() + kReplyLimitMs;
        while (clock_.NowMs() < deadline) {
            const WaitOutcome outcome = line_.WaitForInput(kWaitMs);
            if (outcome == WaitOutcome::Failed) break;
            if (outcome == WaitOutcome::TimedOut) continue;  // the wait stays armed
            clock_.Sleep(kWaitMs);
            uint8_t buffer[kReadCapacity];
            const size_t count = line_.ReadQueued(buffer, sizeof buffer);
            received.append(buffer, buffer + count);
            const auto end = received.find('\r');
            if (end != std::string::npos) return received.substr(0, end);
        }
        return "<none>";
    }

    Win32SerialLine line_;
    Win32Clock clock_;
};

TEST_F(SerialLineTest, PortAboveNineOpensThroughTheDeviceNamespace) {
    EXPECT_TRUE(line_.Open(kPeerPort));
    EXPECT_TRUE(line_.IsOpen());
    line_.Close();
    EXPECT_FALSE(line_.IsOpen());
}

TEST_F(SerialLineTest, MissingPortDoesNotOpen) {
    EXPECT_FALSE(line_.Open(kMissingPort));
    EXPECT_FALSE(line_.IsOpen());
}

// An open begun on its own thread: looked at until it has returned, it gives
// a working line; a missing port fails; one let go of before it was looked at
// ends closed, whichever of the line and the opening thread saw it open.
SerialLine::Opening OpeningAfter(Win32SerialLine& line, SerialLine::Opening begun) {
    const DWORD start = ::GetTickCount();
    while (begun == SerialLine::Opening::Pending && ::GetTickCount() - start < kPromptlyMs) {
        ::Sleep(5);
        begun = line.OpeningNow();
    }
    return begun;
}

bool PortIsFree(const char* name) {
    Win32SerialLine other;
    return other.Open(name);
}

TEST_F(SerialLineTest, AnOpenBegunOnItsOwnThreadGivesAWorkingLineAndOneLetGoOfLeavesThePortFree) {
    EXPECT_EQ(OpeningAfter(line_, line_.BeginOpen(kMissingPort)), SerialLine::Opening::Failed);
    EXPECT_FALSE(line_.IsOpen());

    ASSERT_EQ(OpeningAfter(line_, line_.BeginOpen(kPeerPort)), SerialLine::Opening::Opened);
    ASSERT_TRUE(line_.Configure({115200, true}));
    line_.DiscardQueues();
    Send("ECHO opened aside\r");
    EXPECT_EQ(ReceiveLine(), "opened aside");
    line_.Close();

    line_.BeginOpen(kPeerPort);
    line_.LeaveOpening();
    EXPECT_FALSE(line_.IsOpen());
    const DWORD start = ::GetTickCount();
    while (!PortIsFree(kPeerPort) && ::GetTickCount() - start < kPromptlyMs) ::Sleep(10);
    EXPECT_TRUE(PortIsFree(kPeerPort)) << "closed again by whichever side saw it open";
}

TEST_F(SerialLineTest, OpeningAnOpenLineAgainGivesAWorkingLine) {
    ASSERT_TRUE(line_.Open(kPeerPort));
    OpenPeer();
    Send("ECHO reopened\r");
    EXPECT_EQ(ReceiveLine(), "reopened");
}

struct BaudCase {
    const char* description;
    uint32_t configured;
    uint32_t reconfigured;  // 0: not reconfigured
    uint32_t peerSees;
};

TEST_F(SerialLineTest, PeerSeesTheBaudRateOfTheLine) {
    const BaudCase cases[] = {
        {"configured at 115200", 115200, 0, 115200},
        {"configured at 9600", 9600, 0, 9600},
        {"configured at 2400", 2400, 0, 2400},
        {"configured at 9600, then switched to 38400", 9600, 38400, 38400},
        {"configured at 115200, then switched to 19200", 115200, 19200, 19200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        OpenPeer(c.configured);
        if (c.reconfigured != 0) line_.Reconfigure({c.reconfigured, true});
        Send("BAUD\r");
        EXPECT_EQ(ReceiveLine(), std::to_string(c.peerSees));
        line_.Close();
    }
}

TEST_F(SerialLineTest, WrittenBytesReachThePeerAfterTheCallersBufferIsGone) {
    struct WriteCase {
        const char* description;
        bool drain;
    };
    const WriteCase cases[] = {{"write without waiting", false}, {"write and drain", true}};
    OpenPeer();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        std::vector<uint8_t> bytes = Bytes("ECHO hello, peer\r");
        if (c.drain)
            line_.WriteAndDrain(bytes.data(), bytes.size());
        else
            line_.Write(bytes.data(), bytes.size());
        std::fill(bytes.begin(), bytes.end(), uint8_t{'X'});
        bytes.clear();
        bytes.shrink_to_fit();
        EXPECT_EQ(ReceiveLine(), "hello, peer");
    }
}

TEST_F(SerialLineTest, ReadTakesNoMoreThanItsCapacityAndLeavesTheRestQueued) {
    OpenPeer();
    Send("SEND 300\r");
    clock_.Sleep(kArrivalMs);

    std::vector<uint8_t> buffer(300, kUntouched);
    ASSERT_EQ(line_.ReadQueued(buffer.data(), kReadCapacity), kReadCapacity);
    for (size_t i = kReadCapacity; i < buffer.size(); ++i)
        ASSERT_EQ(buffer[i], kUntouched) << "written beyond the capacity at " << i;
    for (size_t i = 0; i < kReadCapacity; ++i) ASSERT_EQ(buffer[i], uint8_t(i)) << "byte " << i;

    EXPECT_EQ(line_.WaitForInput(kWaitMs), WaitOutcome::Received)
        << "bytes still queued count as received input";
    std::vector<uint8_t> rest(kReadCapacity, kUntouched);
    ASSERT_EQ(line_.ReadQueued(rest.data(), rest.size()), 44u);
    for (size_t i = 0; i < 44; ++i) ASSERT_EQ(rest[i], uint8_t(kReadCapacity + i)) << "byte " << i;
    EXPECT_EQ(line_.ReadQueued(rest.data(), rest.size()), 0u);
}

// A reply that came just before the next command is written is still read:
// ending what is in progress before a command drops no queued byte.
TEST_F(SerialLineTest, EndingOperationsInProgressKeepsTheBytesQueued) {
    OpenPeer();
    Send("SEND 20\r");
    clock_.Sleep(kArrivalMs);
    Send("NOTHING\r");  // a write possibly still in progress, answered with nothing
    line_.AbortPending();
    std::vector<uint8_t> buffer(kReadCapacity, kUntouched);
    ASSERT_EQ(line_.ReadQueued(buffer.data(), buffer.size()), 20u);
    for (size_t i = 0; i < 20; ++i) EXPECT_EQ(buffer[i], uint8_t(i)) << "byte " << i;
}

TEST_F(SerialLineTest, DiscardingTheQueuesDropsReceivedBytes) {
    OpenPeer();
    Send("SEND 20\r");
    clock_.Sleep(kArrivalMs);
    line_.DiscardQueues();
    uint8_t buffer[kReadCapacity];
    EXPECT_EQ(line_.ReadQueued(buffer, sizeof buffer), 0u);
}

TEST_F(SerialLineTest, WaitAgainstASilentPeerEndsWithoutHanging) {
    OpenPeer();
    for (int pass = 0; pass < 4; ++pass) {
        SCOPED_TRACE(pass);
        const uint64_t start = clock_.NowMs();
        const WaitOutcome outcome = line_.WaitForInput(kWaitMs);
        const uint64_t elapsed = clock_.NowMs() - start;
        EXPECT_LT(elapsed, 1000u);
        uint8_t buffer[kReadCapacity];
        const size_t queued = line_.ReadQueued(buffer, sizeof buffer);
        EXPECT_EQ(queued, 0u);
        EXPECT_EQ(outcome, WaitOutcome::TimedOut);
        EXPECT_GE(elapsed, 40u);
        EXPECT_FALSE(line_.GoneError()) << "silence is no sign of a port gone";
    }
}

TEST_F(SerialLineTest, WaitThatTimedOutStillSeesALateAnswer) {
    OpenPeer();
    Send("LATER 200 late\r");
    EXPECT_EQ(ReceiveLine(), "late");
}

TEST_F(SerialLineTest, ClosingWithAWaitInProgressReturnsPromptly) {
    OpenPeer();
    line_.WaitForInput(kWaitMs);
    const uint64_t start = clock_.NowMs();
    line_.Close();
    EXPECT_LT(clock_.NowMs() - start, 1000u);
    EXPECT_FALSE(line_.IsOpen());
}

TEST_F(SerialLineTest, WaitEndsWhenThePeerAnswers) {
    OpenPeer();
    Send("SEND 5\r");
    EXPECT_EQ(line_.WaitForInput(kReplyLimitMs), WaitOutcome::Received);
    clock_.Sleep(kWaitMs);
    uint8_t buffer[kReadCapacity];
    EXPECT_EQ(line_.ReadQueued(buffer, sizeof buffer), 5u);
}

TEST_F(SerialLineTest, WritingAfterATimedOutWaitStillGetsTheAnswer) {
    OpenPeer();
    // Leaves a wait armed when waits really wait; the write that follows
    // must not share the I/O record with it.
    line_.WaitForInput(kWaitMs);
    Send("ECHO after a time-out\r");
    EXPECT_EQ(ReceiveLine(), "after a time-out");
    Send("ECHO and once more\r");
    EXPECT_EQ(ReceiveLine(), "and once more");
}

TEST_F(SerialLineTest, AWaitSignalledBeforeItCompletedGoesOnWaiting) {
    struct EarlySignalCase {
        const char* description;
        const char* request;  // what the peer is asked before the wait
        WaitOutcome outcome;
        size_t queuedAfterwards;
    };
    const EarlySignalCase cases[] = {
        {"a silent peer: the wait times out", "", WaitOutcome::TimedOut, 0},
        {"a peer that answers later: the wait ends with its answer", "LATER 300 late\r", WaitOutcome::Received,
         5},
    };
    constexpr uint32_t kSignalAfterMs = 50;
    constexpr uint32_t kLongWaitMs = 600;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        OpenPeer();
        const HANDLE event = line_.WaitEventForTests();
        ASSERT_NE(event, nullptr);
        Send(c.request);
        // What a driver may do: signal the wait's event while the wait is
        // still in progress.
        std::thread signaller([event] {
            ::Sleep(kSignalAfterMs);
            ::SetEvent(event);
        });
        const uint64_t start = clock_.NowMs();
        const WaitOutcome outcome = line_.WaitForInput(kLongWaitMs);
        const uint64_t elapsed = clock_.NowMs() - start;
        signaller.join();
        EXPECT_EQ(outcome, c.outcome);
        EXPECT_GE(elapsed, 200u) << "the early signal ended the wait";
        EXPECT_LT(elapsed, kLongWaitMs + kPromptlyMs);
        clock_.Sleep(kWaitMs);
        uint8_t buffer[kReadCapacity];
        EXPECT_EQ(line_.ReadQueued(buffer, sizeof buffer), c.queuedAfterwards);
        line_.Close();
    }
}

TEST_F(SerialLineTest, AWaitThatTimedOutLeavesNothingBehindForTheNextOne) {
    OpenPeer();
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        EXPECT_NE(line_.WaitForInput(kWaitMs), WaitOutcome::Received);
        Send("ECHO round\r");
        EXPECT_EQ(ReceiveLine(), "round");
    }
}

// The fast pace's wait: a read that waits for its first byte under the
// port's read time-outs, then takes what is queued with it.
class ReadArrivingTest : public SerialLineTest {
protected:
    // Reads as the bytes arrive until `count` have come or the reply limit
    // runs out; every pass must end as Received or TimedOut.
    std::vector<uint8_t> Collect(size_t count, uint64_t& firstByteMs) {
        std::vector<uint8_t> received;
        const uint64_t start = clock_.NowMs();
        firstByteMs = 0;
        while (received.size() < count && clock_.NowMs() - start < kReplyLimitMs) {
            uint8_t buffer[kReadCapacity];
            const SerialLine::ArrivingInput input = line_.ReadArriving(buffer, sizeof buffer, kWaitMs);
            EXPECT_NE(input.outcome, WaitOutcome::Failed);
            if (input.outcome == WaitOutcome::Failed) break;
            if (input.count > 0 && received.empty()) firstByteMs = clock_.NowMs() - start;
            received.insert(received.end(), buffer, buffer + input.count);
        }
        return received;
    }
};

TEST_F(ReadArrivingTest, AgainstASilentPeerEachReadTimesOutWithNothing) {
    OpenPeer();
    for (int pass = 0; pass < 4; ++pass) {
        SCOPED_TRACE(pass);
        uint8_t buffer[kReadCapacity];
        const uint64_t start = clock_.NowMs();
        const SerialLine::ArrivingInput input = line_.ReadArriving(buffer, sizeof buffer, kWaitMs);
        const uint64_t elapsed = clock_.NowMs() - start;
        EXPECT_EQ(input.outcome, WaitOutcome::TimedOut);
        EXPECT_EQ(input.count, 0u);
        EXPECT_GE(elapsed, 40u);
        EXPECT_LT(elapsed, kPromptlyMs);
    }
}

TEST_F(ReadArrivingTest, TakesEveryByteInOrderAsItArrives) {
    struct ArrivalCase {
        const char* description;
        const char* request;
        std::vector<uint8_t> expected;
        uint32_t notBeforeMs;
    };
    std::vector<uint8_t> counted(300);
    for (size_t i = 0; i < counted.size(); ++i) counted[i] = uint8_t(i);
    const ArrivalCase cases[] = {
        {"more than one read holds: the rest comes with the next", "SEND 300\r", counted, 0},
        {"an answer after several read times: the read that is waiting takes it", "LATER 300 late\r",
         Bytes("late\r"), 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        OpenPeer();
        Send(c.request);
        uint64_t firstByteMs = 0;
        EXPECT_EQ(Collect(c.expected.size(), firstByteMs), c.expected);
        EXPECT_GE(firstByteMs, c.notBeforeMs);
        uint8_t buffer[kReadCapacity];
        EXPECT_EQ(line_.ReadQueued(buffer, sizeof buffer), 0u) << "nothing beyond the answer";
        line_.Close();
    }
}

TEST_F(ReadArrivingTest, WritesNoMoreThanItsCapacityAndLeavesTheRestQueued) {
    constexpr size_t kSmallCapacity = 10;
    OpenPeer();
    Send("SEND 20\r");
    std::vector<uint8_t> buffer(20, kUntouched);
    const SerialLine::ArrivingInput input = line_.ReadArriving(buffer.data(), kSmallCapacity, kReplyLimitMs);
    ASSERT_EQ(input.outcome, WaitOutcome::Received);
    ASSERT_GE(input.count, 1u);
    ASSERT_LE(input.count, kSmallCapacity);
    for (size_t i = kSmallCapacity; i < buffer.size(); ++i)
        ASSERT_EQ(buffer[i], kUntouched) << "written beyond the capacity at " << i;
    clock_.Sleep(kArrivalMs);
    uint8_t rest[kReadCapacity];
    EXPECT_EQ(input.count + line_.ReadQueued(rest, sizeof rest), 20u);
}

TEST_F(ReadArrivingTest, LeavesTheWaitForACharacterAndTheImmediateReadAsTheyWere) {
    OpenPeer();
    uint8_t buffer[kReadCapacity];
    EXPECT_EQ(line_.ReadArriving(buffer, sizeof buffer, kWaitMs).outcome, WaitOutcome::TimedOut);
    const uint64_t start = clock_.NowMs();
    EXPECT_EQ(line_.ReadQueued(buffer, sizeof buffer), 0u);
    EXPECT_LT(clock_.NowMs() - start, 40u) << "a read of an empty queue waited";
    Send("ECHO after a read that waited\r");
    EXPECT_EQ(ReceiveLine(), "after a read that waited");
}

// The adapter pulled out while the port is open, during a wait for a
// character or a read that waits: the port is found gone from the error of
// the operation that failed (under Wine, a pty whose far end has closed
// gives ERROR_NOT_READY to the queue's status and to writes and
// ERROR_BROKEN_PIPE to reads, and a wait armed as it goes never ends), every
// wait after it ends at once as gone, and a terminal operation ends with
// code 2 and closes the port.
TEST(UnpluggedSerialLine, IsFoundGoneFromTheFailedOperationAndAnOperationOnItEndsWithCode2) {
    struct WaitCase {
        const char* sentence;
        const char* port;
        bool readArriving;
    };
    const WaitCase cases[] = {
        {"unplugged during a wait for a character", kUnpluggedPort, false},
        {"unplugged during a read that waits", kUnpluggedWhileReadingPort, true},
    };
    for (const WaitCase& c : cases) {
        SCOPED_TRACE(c.sentence);
        Win32SerialLine line;
        Win32Clock clock;
        Win32LocalTime localTime;
        ComponentState state;
        TerminalLink link(line, clock, localTime, state);
        ASSERT_TRUE(line.Open(c.port));
        ASSERT_TRUE(line.Configure({115200, true}));
        EXPECT_FALSE(line.GoneError()) << "a healthy port";

        const std::vector<uint8_t> unplug = Bytes("UNPLUG\r");
        line.Write(unplug.data(), unplug.size());
        uint8_t buffer[kReadCapacity];
        uint64_t start = clock.NowMs();
        const WaitOutcome outcome = c.readArriving ? line.ReadArriving(buffer, sizeof buffer, kArrivalMs).outcome
                                                   : line.WaitForInput(kArrivalMs);
        EXPECT_EQ(outcome, WaitOutcome::PortGone) << "in progress as it goes";
        EXPECT_LT(clock.NowMs() - start, kArrivalMs + kPromptlyMs);
        ASSERT_TRUE(line.GoneError());
        EXPECT_TRUE(*line.GoneError() == ERROR_NOT_READY || *line.GoneError() == ERROR_BROKEN_PIPE)
            << "error " << *line.GoneError();

        start = clock.NowMs();
        EXPECT_EQ(line.WaitForInput(kWaitMs), WaitOutcome::PortGone) << "a wait started after it went";
        EXPECT_EQ(line.ReadArriving(buffer, sizeof buffer, kWaitMs).outcome, WaitOutcome::PortGone)
            << "a read that waits, started after it went";
        EXPECT_EQ(link.PingTerminal(), 0);
        EXPECT_EQ(state.result, code::kCannotOpenPort);
        EXPECT_FALSE(line.IsOpen()) << "the link closed the port after the call";
        EXPECT_FALSE(line.GoneError());
        EXPECT_LT(clock.NowMs() - start, kPromptlyMs);

        EXPECT_EQ(link.PingTerminal(), 0);
        EXPECT_EQ(state.result, code::kPortNotInitialised);
        EXPECT_FALSE(line.Open(c.port)) << "a port whose device has gone does not open";
    }
}

// A wait left armed by a thread that has ended: Windows cancels the I/O of
// an ending thread, so the wait ends as aborted, though the port is healthy.
// The next call, on another thread, takes it for a wait that timed out and
// waits afresh.
class WaitArmedByAnEndedThread : public SerialLineTest {
protected:
    void SetUp() override {
        OpenPeer();
        std::thread([this] { line_.LeaveWaitArmedForTests(); }).join();
        // What Windows did to the wait when that thread ended; Wine leaves
        // it armed.
        line_.CancelArmedWaitForTests();
    }

    // Runs `call` on a thread of its own; its time in milliseconds.
    uint64_t OnAnotherThread(const std::function<void()>& call) {
        uint64_t elapsed = 0;
        std::thread([&] {
            const uint64_t start = clock_.NowMs();
            call();
            elapsed = clock_.NowMs() - start;
        }).join();
        return elapsed;
    }
};

TEST_F(WaitArmedByAnEndedThread, ACommandOnAnotherThreadGetsItsAnswerWithCode0) {
    ComponentState state;
    Win32LocalTime localTime;
    TerminalLink link(line_, clock_, localTime, state);
    int32_t replied = 0;
    // Answered a little later, so that the call waits for it.
    const uint64_t elapsed = OnAnotherThread([&] { replied = link.ExchangeCommand("LATER 30 OK\r"); });
    EXPECT_EQ(replied, 1);
    EXPECT_EQ(state.result, code::kSuccess) << "never a port error (code 5) on a healthy port";
    EXPECT_EQ(state.data, "OK");
    EXPECT_LT(elapsed, kPromptlyMs);
}

TEST_F(WaitArmedByAnEndedThread, AWaitOnAnotherThreadOnASilentLineTimesOutAfterItsTime) {
    WaitOutcome outcome = WaitOutcome::Failed;
    const uint64_t elapsed = OnAnotherThread([&] { outcome = line_.WaitForInput(kWaitMs); });
    EXPECT_EQ(outcome, WaitOutcome::TimedOut);
    EXPECT_GE(elapsed, 40u) << "a fresh wait took the time";
    EXPECT_LT(elapsed, kPromptlyMs);
}

TEST(ClosedSerialLine, DoesNothingAndReportsFailure) {
    Win32SerialLine line;
    const uint8_t command[] = {'B', 'A', 'U', 'D', '\r'};
    line.Write(command, sizeof command);
    line.WriteAndDrain(command, sizeof command);
    line.Reconfigure({9600, true});
    line.AbortPending();
    line.DiscardQueues();
    uint8_t buffer[8];
    EXPECT_FALSE(line.Configure({9600, true}));
    EXPECT_EQ(line.WaitForInput(kWaitMs), WaitOutcome::Failed);
    EXPECT_EQ(line.ReadQueued(buffer, sizeof buffer), 0u);
    line.Close();
    EXPECT_FALSE(line.IsOpen());
}

TEST(SystemClock, SleepingAdvancesTheReading) {
    Win32Clock clock;
    const uint64_t start = clock.NowMs();
    clock.Sleep(100);
    const uint64_t elapsed = clock.NowMs() - start;
    EXPECT_GE(elapsed, 90u);
    EXPECT_LT(elapsed, 1000u);
}

TEST(SystemClock, LocalTimeAgreesWithTheRuntimesLocalTime) {
    const std::time_t before = std::time(nullptr);
    const LocalTime now = Win32LocalTime().Now();
    const std::time_t after = std::time(nullptr);

    std::tm fields{};
    fields.tm_year = now.year - 1900;
    fields.tm_mon = now.month - 1;
    fields.tm_mday = now.day;
    fields.tm_hour = now.hour;
    fields.tm_min = now.minute;
    fields.tm_sec = now.second;
    fields.tm_isdst = -1;
    const std::time_t reading = std::mktime(&fields);
    EXPECT_GE(reading, before - 1);
    EXPECT_LE(reading, after + 1);
}

}  // namespace
}  // namespace quill
