// The fast pace beside the standard one on the fake line: the same bytes
// written, the same outcome and the same waits counted; only the settle
// before each read is gone, so a reply is taken as soon as its CR is in and
// a line that arrives in pieces is collected over several reads.

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/result_codes.h"
#include "fake_line.h"
#include "record_lines.h"

namespace quill {
namespace {

using fake::FakeLine;
using fake::LinkBench;
using fake::ReceivedLine;
using fake::ScriptedReply;
using fake::SentLine;

// What an operation left behind: its value, the result code, Data, every
// write in order and when it ended.
struct Outcome {
    int32_t value;
    int32_t result;
    std::string data;
    std::vector<std::string> written;
    uint64_t endedAtMs;
};

// A terminal, an operation on it, and how long it takes at each pace.
struct Scenario {
    const char* sentence;
    std::function<void(FakeLine&)> terminal;
    std::function<int32_t(TerminalLink&, ComponentState&)> operation;
    uint64_t standardMs, fastMs;
};

Outcome RunAt(Pace pace, const Scenario& scenario) {
    LinkBench bench(true, pace);
    scenario.terminal(bench.line);
    const int32_t value = scenario.operation(bench.link, bench.state);
    return {value, bench.state.result, bench.state.data, bench.line.WrittenTexts(), bench.clock.NowMs()};
}

std::string BadChecksum(std::string line) {
    line[line.size() - 2] ^= 0x01;
    return line;
}

int32_t Ping(TerminalLink& link, ComponentState&) { return link.PingTerminal(); }
int32_t SerialNumber(TerminalLink& link, ComponentState&) { return link.GetSerialNumber(); }
int32_t Document3(TerminalLink& link, ComponentState&) { return link.GetDocumentRecord(3); }
int32_t Database1(TerminalLink& link, ComponentState&) { return link.GetDatabaseRecord(1); }
int32_t Finish(TerminalLink& link, ComponentState&) { return link.FinishLoad(); }
int32_t UploadAB(TerminalLink& link, ComponentState& state) {
    state.fields = {"A", "B", "", "", "", ""};
    return link.PutDatabaseRecord(2);
}
const std::string kUploadLine = SentLine("A\tB\t");

const Scenario kScenarios[] = {
    {"a prompt ACK to a ping", [](FakeLine& l) { l.Reply("PNG\r", "ACK\r", 20); }, Ping, 70, 20},
    {"a reply that comes byte by byte, 10 ms apart",
     [](FakeLine& l) { l.Reply(ScriptedReply{"GSN\r", "SN-0042\r", 20, 10}); }, SerialNumber, 130, 90},
    {"a reply late beyond two waits: the command went out again",
     [](FakeLine& l) { l.Reply(ScriptedReply{"GSN\r", "SN-1\r", 120, 0, 1}); }, SerialNumber, 170, 120},
    {"a silent terminal: the command twice, given up after four waits", [](FakeLine&) {}, Ping, 200, 200},
    {"a record", [](FakeLine& l) { l.Reply("GDF3\r", ReceivedLine("123,ABC,5")); }, Document3, 70, 20},
    {"a record line that comes in pieces, 3 ms a byte",
     [](FakeLine& l) { l.Reply(ScriptedReply{"GDF3\r", ReceivedLine("PIECE,BY,PIECE"), 20, 3}); }, Document3,
     121, 71},
    {"a bad checksum answered with NAK, then the good record",
     [](FakeLine& l) {
         l.Reply("GDF3\r", BadChecksum(ReceivedLine("R,1")));
         l.Reply("NAK\r", ReceivedLine("R,1"));
     },
     Document3, 140, 40},
    {"an ACK line, and the record 70 ms later",
     [](FakeLine& l) {
         l.Reply("GDF3\r", "ACK\r", 20);
         l.QueueAt(90, ReceivedLine("R,1"));
     },
     Document3, 140, 90},
    {"ACK and OVER on one line", [](FakeLine& l) { l.Reply("GDB1\r", "ACKOVER\r"); }, Database1, 70, 20},
    {"a record that never comes whole: four refusals",
     [](FakeLine& l) {
         l.Reply("GDF3\r", BadChecksum(ReceivedLine("R,1")));
         l.Reply("NAK\r", BadChecksum(ReceivedLine("R,1")));
     },
     Document3, 280, 80},
    // A first load after the attach reads the count twice; at the fast pace
    // the second reading waits the settle.
    {"an upload taken", [](FakeLine& l) {
         l.Reply("GRC2\r", "0\r");
         l.Reply("PDB2\r", "ACK\r");
         l.Reply(kUploadLine, "ACK\r");
     },
     UploadAB, 280, 130},
    {"an upload refused as FULL",
     [](FakeLine& l) {
         l.Reply("GRC2\r", "0\r");
         l.Reply("PDB2\r", "ACK\r");
         l.Reply(kUploadLine, "FULL\r");
     },
     UploadAB, 280, 130},
    // The next copy waits the settle after a refusal at either pace, so that
    // a second refusal of a line cut in two is in before it goes out.
    {"an upload whose first copy is refused",
     [](FakeLine& l) {
         l.Reply("GRC2\r", "0\r");
         l.Reply("PDB2\r", "ACK\r");
         l.Reply(ScriptedReply{kUploadLine, "NAK\r", 20, 0, 1});
         l.Reply(ScriptedReply{kUploadLine, "ACK\r", 20, 0, 2});
     },
     UploadAB, 350, 200},
    // After each copy's four silent waits and the rest of the time its answer
    // is waited for, the count is read twice; at the fast pace each line of
    // that and the copy after it wait the settle.
    {"an upload the terminal never answers after its announcement: two copies, each given four waits and a "
     "count",
     [](FakeLine& l) {
         l.Reply("GRC2\r", "0\r");
         l.Reply("PDB2\r", "ACK\r");
     },
     UploadAB, 1360, 1310},
    {"an upload refused at its announcement",
     [](FakeLine& l) {
         l.Reply("GRC2\r", "0\r");
         l.Reply("PDB2\r", "NAK\r");
     },
     UploadAB, 210, 110},
    {"the end of a load answered with OVER", [](FakeLine& l) { l.Reply("OVER\r", "OVER\r"); }, Finish, 70, 20},
};

TEST(FastPace, EveryScenarioEndsAsAtTheStandardPaceWithTheSameBytesWritten) {
    for (const Scenario& scenario : kScenarios) {
        SCOPED_TRACE(scenario.sentence);
        const Outcome standard = RunAt(Pace::Standard, scenario);
        const Outcome fast = RunAt(Pace::Fast, scenario);
        EXPECT_EQ(fast.value, standard.value);
        EXPECT_EQ(fast.result, standard.result);
        EXPECT_EQ(fast.data, standard.data);
        EXPECT_EQ(fast.written, standard.written);
    }
}

TEST(FastPace, AReplyIsTakenAsSoonAsItsCrIsInAndTheWaitsKeepTheirLength) {
    for (const Scenario& scenario : kScenarios) {
        SCOPED_TRACE(scenario.sentence);
        EXPECT_EQ(RunAt(Pace::Standard, scenario).endedAtMs, scenario.standardMs);
        EXPECT_EQ(RunAt(Pace::Fast, scenario).endedAtMs, scenario.fastMs);
    }
}

TEST(FastPace, ALineThatComesInPiecesIsCollectedOverSeveralReads) {
    LinkBench bench(true, Pace::Fast);
    bench.line.Reply(ScriptedReply{"GDF3\r", ReceivedLine("PIECE,BY,PIECE"), 20, 3});
    EXPECT_EQ(bench.link.GetDocumentRecord(3), 1);
    EXPECT_EQ(bench.state.data, "PIECE,BY,PIECE");
    EXPECT_GT(bench.line.Reads().size(), 10u) << "a read for each byte as it came";
}

}  // namespace
}  // namespace quill
