// Records the terminal sent that a line fault or a closed port used to
// cost: a record whose CR was lost after a late reply, the record a download
// was refusing when it gave up, a record whose bytes come slowly, and the
// replies still owed when the port is closed. Each case runs at both paces,
// against the model terminal.

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/result_codes.h"
#include "fake_line.h"
#include "link/protocol.h"
#include "model_terminal.h"
#include "record_lines.h"

namespace quill {
namespace {

using fake::LineFault;
using fake::LinkBench;
using fake::ModelTerminal;
using fake::ScriptedReply;

const char* PaceName(Pace pace) { return pace == Pace::Fast ? "fast" : "standard"; }

ConnectionSettings SettingsFor(Pace pace) {
    ConnectionSettings settings;
    settings.FastExchange = pace == Pace::Fast ? kFastExchangeOn : 0;
    return settings;
}

// What a pull of document 1 handed out: each record, or "-1 (code)".
std::vector<std::string> PullDocument1(LinkBench& bench, const std::function<void(int call)>& between) {
    std::vector<std::string> seen;
    for (int call = 1; call <= 10; ++call) {
        const int32_t got = bench.link.GetDocumentRecord(1);
        if (got == 0) break;
        seen.push_back(got == 1 ? bench.state.data : "-1 (" + std::to_string(bench.state.result) + ")");
        between(call);
    }
    return seen;
}

struct LostRecordCase {
    const char* sentence;
    std::vector<LineFault> faults;
    std::function<void(LinkBench&, Pace, int call)> between;
    std::vector<std::string> seen;
};

void Nothing(LinkBench&, Pace, int) {}
void Pause600AfterEachCall(LinkBench& bench, Pace, int) { bench.clock.Sleep(600); }
void ReattachAfterCall1(LinkBench& bench, Pace pace, int call) {
    if (call != 1) return;
    bench.link.ClosePort();
    bench.link.OpenPort(SettingsFor(pace));
}
void ApplyAfterCall1(LinkBench& bench, Pace pace, int call) {
    if (call == 1) bench.link.OpenPort(SettingsFor(pace));
}
void CloseAfterCall1(LinkBench& bench, Pace pace, int call) {
    if (call != 1) return;
    bench.link.ClosePort();  // Deattach, Done, Enabled set to 0
    bench.clock.Sleep(1000);
    bench.link.OpenPort(SettingsFor(pace));
}

const std::vector<std::string> kAllThree = {"D1-0", "D1-1", "D1-2"};

const LostRecordCase kCases[] = {
    // GDF1 written twice (the first answered 150 ms late), the second
    // copy's record R1 never ends: a NAK asks for it once its time is over.
    {"a record whose CR is lost after a late reply, in a tight loop", {LineFault::Late150, LineFault::LostCr}, Nothing,
     kAllThree},
    {"a record whose CR is lost after a late reply, 600 ms between calls", {LineFault::Late150, LineFault::LostCr},
     Pause600AfterEachCall, kAllThree},
    // R0 fine; GDF1 missed, its copy's R1 garbled, the NAK's R1 garbled,
    // the last NAK answered 150 ms late after the call gave up: the next
    // download takes that answer.
    {"the record a download was refusing when it gave up",
     {LineFault::None, LineFault::Unheard, LineFault::BadChecksum, LineFault::BadChecksum, LineFault::Late150},
     Nothing, {"D1-0", "-1 (9)", "D1-1", "D1-2"}},
    // The second answer of a twice-written GDF1 is still on its way when the
    // port is closed: the close waits for it and files it.
    {"Deattach and Attach while the second answer is owed", {LineFault::Late150}, ReattachAfterCall1, kAllThree},
    {"Apply while the second answer is owed", {LineFault::Late150}, ApplyAfterCall1, kAllThree},
    {"Deattach, Done or Enabled 0 while the second answer is owed", {LineFault::Late150}, CloseAfterCall1,
     kAllThree},
    {"Deattach and Attach while the second answer is owed and comes garbled",
     {LineFault::Late150, LineFault::BadChecksum}, ReattachAfterCall1, kAllThree},
    // The end of the records comes with a byte flipped: asked for with
    // NAK, it comes again as OVER, and no record is missing.
    {"the end of the records with a text byte flipped",
     {LineFault::None, LineFault::None, LineFault::None, LineFault::BadText}, Nothing, kAllThree},
    {"the end of the records with its first byte flipped",
     {LineFault::None, LineFault::None, LineFault::None, LineFault::BadLead}, Nothing, kAllThree},
};

TEST(LostRecords, EveryRecordTheTerminalSentComesOnceInOrderAtEitherPace) {
    for (const LostRecordCase& c : kCases) {
        for (const Pace pace : {Pace::Standard, Pace::Fast}) {
            LinkBench bench(true, pace);
            ModelTerminal terminal(bench.line, bench.clock, {{{'D', 1}, 3}});
            terminal.faults = c.faults;
            const auto seen = PullDocument1(bench, [&](int call) { c.between(bench, pace, call); });
            EXPECT_EQ(seen, c.seen) << PaceName(pace) << ": " << c.sentence;
        }
    }
}

TEST(LostRecords, AfterAGivenUpDownloadTheNextAsksForTheRefusedRecordWithNak) {
    for (const Pace pace : {Pace::Standard, Pace::Fast}) {
        LinkBench bench(true, pace);
        ModelTerminal terminal(bench.line, bench.clock, {{{'D', 1}, 3}});
        // R0 garbled four times: the download gives up; the NAK it wrote
        // last is not heard.
        terminal.faults = {LineFault::BadChecksum, LineFault::BadChecksum, LineFault::BadChecksum,
                           LineFault::BadChecksum, LineFault::Unheard};
        EXPECT_EQ(bench.link.GetDocumentRecord(1), -1) << PaceName(pace);
        EXPECT_EQ(bench.state.result, code::kTransferError) << PaceName(pace);
        const size_t writes = bench.line.Writes().size();
        EXPECT_EQ(bench.link.GetDocumentRecord(1), 1) << PaceName(pace);
        EXPECT_EQ(bench.state.data, "D1-0") << PaceName(pace);
        ASSERT_GT(bench.line.Writes().size(), writes) << PaceName(pace);
        EXPECT_EQ(bench.line.Writes()[writes].bytes, "NAK\r") << PaceName(pace) << ": asked again, not passed over";
    }
}

// A stuttering infrared link: the record's bytes come 10 ms apart, 440 ms
// for the whole line.
TEST(SlowLine, ARecordThatComesTenMillisecondsABytePastTheLateReplyLimitIsTakenAndNothingGoesOutMeanwhile) {
    const std::string record = fake::ReceivedLine("4600000000001,SLOW-INFRARED-LINK,12,PCS,1");
    ASSERT_GT(record.size() * 10, 400u);
    for (const Pace pace : {Pace::Standard, Pace::Fast}) {
        LinkBench bench(true, pace);
        bench.line.Reply(ScriptedReply{"GDF1\r", record, 20, 10, 1});
        bench.line.Reply(ScriptedReply{"GDF1\r", "OVER\r", 20, 0, 2});
        EXPECT_EQ(bench.link.GetDocumentRecord(1), 1) << PaceName(pace);
        EXPECT_EQ(bench.state.data, "4600000000001,SLOW-INFRARED-LINK,12,PCS,1") << PaceName(pace);
        EXPECT_EQ(bench.line.WritesOf("GDF1\r"), 1) << PaceName(pace) << ": no line while the bytes came";
        EXPECT_EQ(bench.link.GetDocumentRecord(1), 0) << PaceName(pace);
    }
}

TEST(SlowLine, ARecordGivenUpHalfWayIsAskedForAgainWithNakNeverPassedOver) {
    const std::string record = fake::ReceivedLine("4600000000001,HALF,1");
    for (const Pace pace : {Pace::Standard, Pace::Fast}) {
        LinkBench bench(true, pace);
        // Half the line, 10 ms a byte, and then nothing: its CR never comes.
        bench.line.Reply(ScriptedReply{"GDF1\r", record.substr(0, record.size() / 2), 20, 10, 1});
        bench.line.Reply("NAK\r", record);
        bench.line.Reply(ScriptedReply{"GDF1\r", "OVER\r", 20, 0, 2});
        int32_t got = bench.link.GetDocumentRecord(1);
        if (got == -1) got = bench.link.GetDocumentRecord(1);  // the script's retry
        EXPECT_EQ(got, 1) << PaceName(pace);
        EXPECT_EQ(bench.state.data, "4600000000001,HALF,1") << PaceName(pace);
        EXPECT_EQ(bench.line.WritesOf("GDF1\r"), 1) << PaceName(pace);
        EXPECT_EQ(bench.line.WritesOf("NAK\r"), 1) << PaceName(pace);
    }
}

// A document of records "D1-<i>" played as the simulator does (GDF1 moves
// past the record sent last and sends the next, NAK sends the one sent last
// again), its replies in turn, one after the other; one reply stops after a
// few bytes and goes on after a stall.
class StallingDocument {
public:
    struct Stall {
        int reply;           // the how-many-th reply (from 0)
        uint32_t delayMs;    // from its line to its first byte
        size_t headBytes;    // sent before the stall
        uint32_t stallMs;    // between the head and the rest
    };

    StallingDocument(LinkBench& bench, int records, Stall stall) : bench_(bench), records_(records), stall_(stall) {
        bench_.line.onWrite = [this](const std::string& bytes) { Heard(bytes); };
    }

private:
    std::string Record(int index) const { return fake::ReceivedLine("D1-" + std::to_string(index)); }

    void Heard(const std::string& bytes) {
        std::string reply = "ERR\r";
        if (bytes == "NAK\r") {
            reply = pending_ ? Record(*pending_) : last_;
        } else {
            if (pending_) place_ = *pending_ + 1;
            pending_.reset();
            if (bytes == "GDF1\r") {
                if (place_ < records_) pending_ = place_;
                reply = pending_ ? Record(*pending_) : "OVER\r";
            }
        }
        last_ = reply;
        const uint64_t now = bench_.clock.NowMs();
        const int k = replies_++;
        const uint64_t start = std::max<uint64_t>(now + (k == stall_.reply ? stall_.delayMs : 20), lastEndMs_);
        if (k == stall_.reply && stall_.headBytes < reply.size()) {
            bench_.line.QueueAt(start, reply.substr(0, stall_.headBytes));
            bench_.line.QueueAt(start + stall_.stallMs, reply.substr(stall_.headBytes));
            lastEndMs_ = start + stall_.stallMs + 1;
        } else {
            bench_.line.QueueAt(start, reply);
            lastEndMs_ = start + 1;
        }
    }

    LinkBench& bench_;
    const int records_;
    const Stall stall_;
    int place_ = 0;
    std::optional<int> pending_;
    std::string last_ = "ERR\r";
    int replies_ = 0;
    uint64_t lastEndMs_ = 0;
};

// Every record handed out once and in order; one missing only where a pull
// failed with code 9 in its place; the end reached after the last.
std::string BrokenPromise(const std::vector<std::string>& seen, int records) {
    int expected = 0, code9 = 0;
    for (const std::string& got : seen) {
        if (got == "-1 (9)") ++code9;
        if (got.rfind("D1-", 0) != 0) continue;
        const int index = std::stoi(got.substr(3));
        if (index < expected) return got + " handed out twice or out of order";
        if (index - expected > code9) return "D1-" + std::to_string(expected) + " passed over";
        expected = index + 1;
        code9 = 0;
    }
    if (records - expected > code9) return "D1-" + std::to_string(expected) + " passed over at the end";
    return {};
}

struct StallCase {
    const char* sentence;
    StallingDocument::Stall stall;
};

const StallCase kStalls[] = {
    {"the first record's first bytes at 20 ms, the rest 440 ms later", {0, 20, 3, 440}},
    {"the first record's reply begun at 300 ms and stalled for 215 ms", {0, 300, 3, 215}},
    {"the first record's reply begun at 300 ms and stalled for 500 ms", {0, 300, 3, 500}},
    {"the second record's first bytes at 20 ms, the rest 250 ms later", {1, 20, 4, 250}},
    {"the second record's first bytes at 20 ms, the rest 500 ms later", {1, 20, 2, 500}},
};

TEST(SlowLine, ALineThatStallsHalfWayIsNeverTheAnswerToALaterLine) {
    for (const StallCase& c : kStalls) {
        for (const Pace pace : {Pace::Standard, Pace::Fast}) {
            LinkBench bench(true, pace);
            StallingDocument terminal(bench, 3, c.stall);
            std::vector<std::string> seen;
            bool ended = false;
            for (int call = 0; call < 10 && !ended; ++call) {
                const int32_t got = bench.link.GetDocumentRecord(1);
                ended = got == 0;
                if (ended) continue;
                seen.push_back(got == 1 ? bench.state.data : "-1 (" + std::to_string(bench.state.result) + ")");
                bench.clock.Sleep(30);
            }
            std::string shown;
            for (const std::string& got : seen) shown += got + " ";
            EXPECT_TRUE(ended) << PaceName(pace) << ": " << c.sentence << ": " << shown;
            EXPECT_EQ(BrokenPromise(seen, 3), "") << PaceName(pace) << ": " << c.sentence << ": " << shown;
        }
    }
}

TEST(ClosedPort, ALineCutByAPortThatFailedIsAskedForWithNakOnceThePortIsOpenAgain) {
    const std::string record = fake::ReceivedLine("R0");
    for (const Pace pace : {Pace::Standard, Pace::Fast}) {
        LinkBench bench(true, pace);
        // Three bytes of R0 arrive; then the port fails, for the download
        // and for the close's wait for what is owed.
        bench.line.Reply(ScriptedReply{"GDF1\r", record.substr(0, 3), 20, 0, 1});
        bench.line.Reply("NAK\r", record);
        bench.line.Reply(ScriptedReply{"GDF1\r", "OVER\r", 20, 0, 2});
        bench.line.ForceWaits({fake::ForcedWait::Natural, fake::ForcedWait::Failed, fake::ForcedWait::Failed});
        EXPECT_EQ(bench.link.GetDocumentRecord(1), -1) << PaceName(pace);
        EXPECT_EQ(bench.state.result, code::kPortError) << PaceName(pace);
        bench.link.ClosePort();  // the script re-attaches after code 5
        ASSERT_EQ(bench.link.OpenPort(SettingsFor(pace)), 1);
        EXPECT_EQ(bench.link.GetDocumentRecord(1), 1) << PaceName(pace);
        EXPECT_EQ(bench.state.data, "R0") << PaceName(pace);
        EXPECT_EQ(bench.line.WritesOf("GDF1\r"), 1) << PaceName(pace) << ": asked with NAK, not passed over";
        EXPECT_EQ(bench.link.GetDocumentRecord(1), 0) << PaceName(pace);
    }
}

// Whatever the line does, a close ends within its limit: Deattach, Done,
// Enabled 0 and the search close the port; Attach on an open port and Apply
// close it before they open it again.
struct CloseCase {
    const char* sentence;
    std::function<void(LinkBench&)> before;  // the calls before the close, and what the line then does
};

const std::string kGarbled = "#bad\x01\x02\r";

const CloseCase kCloses[] = {
    {"a download gave up on a garbled record and the terminal stopped answering",
     [](LinkBench& bench) {
         bench.line.Reply("GDF1\r", kGarbled);
         for (int k = 1; k <= 3; ++k) bench.line.Reply(ScriptedReply{"NAK\r", kGarbled, 20, 0, k});
         EXPECT_EQ(bench.link.GetDocumentRecord(1), -1);
     }},
    {"noise trickles every 100 ms, without a CR, while a reply is owed",
     [](LinkBench& bench) {
         EXPECT_EQ(bench.link.GetDocumentRecord(1), -1);
         for (uint64_t at = bench.clock.NowMs(); at < 20000; at += 100) bench.line.QueueAt(at, "x");
     }},
    {"a record comes in 10 ms a byte for 600 ms",
     [](LinkBench& bench) {
         bench.line.Reply(ScriptedReply{"GDF1\r", fake::ReceivedLine(std::string(57, 'S')), 150, 10});
         EXPECT_EQ(bench.link.GetDocumentRecord(1), -1);
     }},
    {"every answer comes garbled, 10 ms a byte",
     [](LinkBench& bench) {
         bench.line.Reply(ScriptedReply{"GDF1\r", kGarbled, 20, 10});
         bench.line.Reply(ScriptedReply{"NAK\r", kGarbled, 20, 10});
         EXPECT_EQ(bench.link.GetDocumentRecord(1), -1);
     }},
};

TEST(ClosedPort, EveryCloseEndsWithinHalfASecondWhateverTheLineDoes) {
    ASSERT_EQ(protocol::kCloseLimitMs, 500u);
    for (const CloseCase& c : kCloses) {
        for (const bool reopens : {false, true}) {
            for (const Pace pace : {Pace::Standard, Pace::Fast}) {
                LinkBench bench(true, pace);
                c.before(bench);
                const uint64_t start = bench.clock.NowMs();
                if (reopens)
                    bench.link.OpenPort(SettingsFor(pace));  // Attach on the open port, Apply
                else
                    bench.link.ClosePort();  // Deattach, Done, Enabled 0, the search
                EXPECT_LE(bench.clock.NowMs() - start, protocol::kCloseLimitMs)
                    << PaceName(pace) << ", " << (reopens ? "Attach again: " : "Deattach: ") << c.sentence;
            }
        }
    }
}

TEST(ClosedPort, TheSearchAfterAGarbledRecordMeetsATerminalThatWasAskedForItFirst) {
    for (const Pace pace : {Pace::Standard, Pace::Fast}) {
        LinkBench bench(true, pace);
        ModelTerminal terminal(bench.line, bench.clock, {{{'D', 1}, 3}});
        terminal.faults = {LineFault::Late150, LineFault::BadChecksum};
        ASSERT_EQ(bench.link.GetDocumentRecord(1), 1);
        // The search closes the port, pings the terminal on it, and opens
        // it again.
        bench.link.ClosePort();
        terminal.HearElsewhere("PNG");
        bench.link.TerminalSpokenToElsewhere();
        ASSERT_EQ(bench.link.OpenPort(SettingsFor(pace)), 1);
        EXPECT_EQ(bench.link.GetDocumentRecord(1), 1) << PaceName(pace);
        EXPECT_EQ(bench.state.data, "D1-1") << PaceName(pace);
        EXPECT_EQ(bench.link.GetDocumentRecord(1), 1) << PaceName(pace);
        EXPECT_EQ(bench.state.data, "D1-2") << PaceName(pace);
    }
}

}  // namespace
}  // namespace quill
