// A cable or adapter pulled out while the port is open: the operation in
// progress ends at once with code 2, the port is closed after it and nothing
// more is written to it, later calls find it closed (code 1), and an attach
// to the same port once it is back opens it again with what the terminal
// still owes kept; a record whose acknowledgement went with the port is
// stored once when the script loads it again.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/result_codes.h"
#include "fake_line.h"
#include "model_terminal.h"
#include "record_lines.h"

namespace quill {
namespace {

using fake::ForcedWait;
using fake::LinkBench;
using fake::ReceivedLine;
using fake::ScriptedReply;

constexpr uint64_t kUnplugAtMs = 30;

struct Operation {
    const char* name;
    int32_t (*run)(TerminalLink&);
    int32_t failure;
};

const Operation kOperations[] = {
    {"Ping", [](TerminalLink& l) { return l.PingTerminal(); }, 0},
    {"GetDataCount", [](TerminalLink& l) { return l.GetDocumentCount(1); }, -1},
    {"GetData", [](TerminalLink& l) { return l.GetDocumentRecord(1); }, -1},
    {"GetRecord", [](TerminalLink& l) { return l.GetDatabaseRecord(1); }, -1},
    {"PutRecord", [](TerminalLink& l) { return l.PutDatabaseRecord(1); }, 0},
    {"Finish", [](TerminalLink& l) { return l.FinishLoad(); }, 0},
};

// A terminal that answers everything, too late for a port pulled out at 30 ms.
void ScriptAnswersAfterTheUnplug(fake::FakeLine& line) {
    for (const char* command : {"PNG\r", "GDC1\r", "GRC1\r", "PDB1\r", "OVER\r"}) line.Reply(command, "ACK\r", 40);
    line.Reply("GDF1\r", ReceivedLine("R0"), 40);
    line.Reply("GDB1\r", ReceivedLine("B0"), 40);
}

TEST(UnpluggedPort, TheOperationInProgressEndsAtOnceWithCode2AndThePortIsClosedAfterIt) {
    for (const Pace pace : {Pace::Standard, Pace::Fast}) {
        for (const Operation& op : kOperations) {
            SCOPED_TRACE(std::string(op.name) + (pace == Pace::Fast ? " at the fast pace" : " at the standard pace"));
            LinkBench bench(true, pace);
            ScriptAnswersAfterTheUnplug(bench.line);
            bench.state.fields = {"A", "", "", "", "", ""};
            bench.line.UnplugAt(kUnplugAtMs);

            EXPECT_EQ(op.run(bench.link), op.failure);
            EXPECT_EQ(bench.state.result, code::kCannotOpenPort);
            EXPECT_EQ(bench.clock.NowMs(), kUnplugAtMs) << "ended when the port went";
            EXPECT_FALSE(bench.link.IsOpen());
            EXPECT_EQ(bench.line.CloseCount(), 1);
            EXPECT_EQ(bench.line.WritesToAGonePort(), 0);

            // The next call finds the port closed and writes nothing.
            const size_t writes = bench.line.Writes().size();
            EXPECT_EQ(op.run(bench.link), op.failure);
            EXPECT_EQ(bench.state.result, code::kPortNotInitialised);
            EXPECT_EQ(bench.line.Writes().size(), writes);
        }
    }
}

TEST(UnpluggedPort, AWaitThatFailsOtherwiseEndsWithCode5AndLeavesThePortOpen) {
    LinkBench bench;
    bench.line.ForceWaits({ForcedWait::Failed});
    EXPECT_EQ(bench.link.PingTerminal(), 0);
    EXPECT_EQ(bench.state.result, code::kPortError);
    EXPECT_TRUE(bench.link.IsOpen());
}

TEST(UnpluggedPort, AttachingWhileUnpluggedFailsWithCode2AndOncePluggedBackOpensThePortAgain) {
    LinkBench bench;
    bench.line.Reply("PNG\r", "ACK\r");
    bench.line.UnplugAt(kUnplugAtMs);
    EXPECT_EQ(bench.link.PingTerminal(), 0);

    EXPECT_EQ(bench.link.OpenPort(ConnectionSettings{}), 0);
    EXPECT_EQ(bench.state.result, code::kCannotOpenPort);
    EXPECT_FALSE(bench.link.IsOpen());

    bench.line.PlugBack();
    EXPECT_EQ(bench.link.OpenPort(ConnectionSettings{}), 1);
    EXPECT_EQ(bench.link.PingTerminal(), 1);
    EXPECT_EQ(bench.state.result, code::kSuccess);
}

TEST(UnpluggedPort, ARecordHeldForADocumentIsHandedOutAfterAttachingAgainToTheSamePort) {
    LinkBench bench;
    // Document 1 answers its first command late, after it went out again:
    // the second record is held for the next download.
    bench.line.Reply(ScriptedReply{"GDF1\r", ReceivedLine("R0"), 120, 0, 1});
    bench.line.Reply(ScriptedReply{"GDF1\r", ReceivedLine("R1"), 20, 0, 2});
    EXPECT_EQ(bench.link.GetDocumentRecord(1), 1);
    EXPECT_EQ(bench.state.data, "R0");

    bench.line.UnplugAt(bench.clock.NowMs() + kUnplugAtMs);
    EXPECT_EQ(bench.link.PingTerminal(), 0);
    EXPECT_EQ(bench.state.result, code::kCannotOpenPort);
    bench.line.PlugBack();
    ASSERT_EQ(bench.link.OpenPort(ConnectionSettings{}), 1);

    const size_t writes = bench.line.Writes().size();
    EXPECT_EQ(bench.link.GetDocumentRecord(1), 1);
    EXPECT_EQ(bench.state.data, "R1");
    EXPECT_EQ(bench.line.Writes().size(), writes) << "handed out without asking the terminal";
}

// The cable goes while a record's reply is owed: the record reached the port
// and went with it, or the reply had not begun. Plugged back and attached,
// the pull goes on with that record, asked for with NAK, or fails with code 9
// in its place; it never passes over it with success.
struct RecordOwedAtTheCut {
    const char* sentence;
    int pulledBefore;  // records pulled before the call the cable cuts
    // After that call began, at each pace: at the standard pace a record
    // that reached the port by 20 ms waits for the settle, read at 70 ms;
    // the fast pace reads it as it comes.
    uint64_t unplugStandardMs, unplugFastMs;
    const char* firstLineAfter;  // the first line of the pull once attached again
};

const RecordOwedAtTheCut kRecordsOwedAtTheCut[] = {
    {"the first record on its way (at the standard pace it reached the port and went with it)", 0, 40, 10,
     "NAK\r"},
    {"the cable went 10 ms after GDF1, before the reply began", 0, 10, 10, "NAK\r"},
    {"the second record's reply had not begun when the cable went", 1, 10, 10, "NAK\r"},
    {"the third record on its way", 2, 40, 10, "NAK\r"},
    {"the cable went before GDF1 was written: the command goes again", 0, 0, 0, "GDF1\r"},
};

TEST(UnpluggedPort, ARecordOwedWhenTheCableGoesIsAskedForWithNakOnceAttachedAgainNeverPassedOver) {
    for (const Pace pace : {Pace::Standard, Pace::Fast}) {
        for (const RecordOwedAtTheCut& c : kRecordsOwedAtTheCut) {
            SCOPED_TRACE(std::string(c.sentence) + (pace == Pace::Fast ? ", fast pace" : ", standard pace"));
            LinkBench bench(true, pace);
            fake::ModelTerminal terminal(bench.line, bench.clock, {{{'D', 1}, 3}});
            std::vector<std::string> seen;
            for (int i = 0; i < c.pulledBefore; ++i) {
                ASSERT_EQ(bench.link.GetDocumentRecord(1), 1);
                seen.push_back(bench.state.data);
            }
            bench.clock.Sleep(30);
            bench.line.UnplugAt(bench.clock.NowMs() + (pace == Pace::Fast ? c.unplugFastMs : c.unplugStandardMs));
            EXPECT_EQ(bench.link.GetDocumentRecord(1), -1);
            EXPECT_EQ(bench.state.result, code::kCannotOpenPort);

            bench.line.PlugBack();
            ConnectionSettings settings;
            settings.FastExchange = pace == Pace::Fast ? kFastExchangeOn : 0;
            ASSERT_EQ(bench.link.OpenPort(settings), 1);
            const size_t writes = bench.line.Writes().size();
            for (int call = 0; call < 6; ++call) {
                const int32_t got = bench.link.GetDocumentRecord(1);
                if (got == 0) break;
                seen.push_back(got == 1 ? bench.state.data : "-1 (" + std::to_string(bench.state.result) + ")");
            }
            EXPECT_EQ(seen, (std::vector<std::string>{"D1-0", "D1-1", "D1-2"}));
            ASSERT_GT(bench.line.Writes().size(), writes);
            EXPECT_EQ(bench.line.Writes()[writes].bytes, c.firstLineAfter);
        }
    }
}

// A terminal that counts what it stores in database 1 and acknowledges each
// record 40 ms after it; the cable goes 30 ms after the first copy of the
// record is written, whether or not the terminal heard it.
struct CountingTerminal {
    explicit CountingTerminal(LinkBench& bench, bool hearsTheFirstCopy) : bench(bench), hears(hearsTheFirstCopy) {
        bench.line.onWrite = [this](const std::string& bytes) { Heard(bytes); };
    }

    void Heard(const std::string& bytes) {
        const uint64_t now = bench.clock.NowMs();
        if (bytes == "GRC1\r") {
            bench.line.QueueAt(now + 20, std::to_string(stored) + "\r");
        } else if (bytes == "PDB1\r") {
            bench.line.QueueAt(now + 20, "ACK\r");
        } else if (bytes == fake::SentLine("R1\t")) {
            ++copies;
            if (copies == 1) bench.line.UnplugAt(now + kUnplugAtMs);
            if (copies > 1 || hears) {
                ++stored;
                bench.line.QueueAt(now + 40, "ACK\r");
            }
        }
    }

    LinkBench& bench;
    bool hears;
    int stored = 0;
    int copies = 0;
};

TEST(UnpluggedPort, ARecordWhoseAcknowledgementWentWithThePortIsStoredOnceWhenLoadedAgainAfterAttaching) {
    const struct {
        const char* sentence;
        bool heard;
        int copies;
    } cases[] = {
        {"the terminal stored the copy before the cable went: it is not sent again", true, 1},
        {"the terminal never heard the copy: it is sent again", false, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sentence);
        LinkBench bench;
        CountingTerminal terminal(bench, c.heard);
        bench.state.fields = {"R1", "", "", "", "", ""};
        EXPECT_EQ(bench.link.PutDatabaseRecord(1), 0);
        EXPECT_EQ(bench.state.result, code::kCannotOpenPort);

        bench.line.PlugBack();
        ASSERT_EQ(bench.link.OpenPort(ConnectionSettings{}), 1);
        EXPECT_EQ(bench.link.PutDatabaseRecord(1), 1);
        EXPECT_EQ(bench.state.result, code::kSuccess);
        EXPECT_EQ(terminal.stored, 1);
        EXPECT_EQ(terminal.copies, c.copies);
    }
}

}  // namespace
}  // namespace quill
