// Downloads on a line where the terminal misses what it is sent, or a record
// comes garbled: every record the terminal hands out reaches the script once
// and in order, a garbled one asked for again with NAK while the terminal can
// still send it again, and one it has moved past reported with a failure code,
// never passed over with success.

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "component/extension_tables.h"
#include "core/result_codes.h"
#include "fake_line.h"
#include "record_lines.h"

namespace quill {
namespace {

using fake::LinkBench;
using fake::ReceivedLine;

std::string Record(int i) { return "R" + std::to_string(i); }

// A record line with one bit flipped that its checksum shows: the lowest bit
// of the first byte of text that makes the sum read differently.
std::string Garbled(const std::string& line) {
    std::string garbled = line;
    for (size_t at = 1; at + 3 < garbled.size(); ++at) {
        garbled[at] = static_cast<char>(garbled[at] ^ 0x01);
        const std::string text = garbled.substr(1, garbled.size() - 4);
        if (ReceivedLine(text, garbled[0]) != garbled) return garbled;
        garbled[at] = line[at];
    }
    ADD_FAILURE() << "no flip of this line shows in its checksum";
    return garbled;
}

// Document 1 of a terminal on the fake line, as the simulator plays it: GDF1
// is answered `commandDelayMs` later with the next record (OVER after the
// last), NAK at once with the record sent last; the place moves on with the
// next line that is not NAK. It may miss lines, stay deaf for a while after
// each reply, garble the first sends of a record, or send a record with its
// CR turned into another byte. With another command (GDB1) it plays that
// store instead.
class Document1 {
public:
    Document1(LinkBench& bench, int records, std::string command = "GDF1\r")
        : bench_(bench), records_(records), command_(std::move(command)) {
        bench_.line.onWrite = [this](const std::string& bytes) { Hear(bytes); };
    }

    std::set<int> unheardWrites;     // writes, counted from 0, the terminal never hears
    uint32_t deafAfterReplyMs = 0;   // from the last byte of each reply; a reply still to come deafens nothing
    uint32_t commandDelayMs = 1;
    std::map<int, int> garbledSends;  // record -> how many of its first sends come garbled
    std::map<int, int> crLost;        // record -> the send (from 1) that ends in another byte than CR

private:
    void Hear(const std::string& bytes) {
        const int write = writes_++;
        const uint64_t now = bench_.clock.NowMs();
        const bool deaf = now >= lastReplyAtMs_ && now < lastReplyAtMs_ + deafAfterReplyMs;
        if (unheardWrites.count(write) != 0 || deaf) return;
        if (bytes == "NAK\r") return Send(now + kPromptMs, pending_);
        place_ = pending_ < 0 ? place_ : pending_ + 1;
        pending_ = -1;
        if (bytes != command_) return;
        pending_ = place_ < records_ ? place_ : -1;
        Send(now + commandDelayMs, pending_);
    }

    static constexpr uint32_t kPromptMs = 1;

    // Record `i`, or OVER for -1, at `atMs`.
    void Send(uint64_t atMs, int i) {
        std::string line = "OVER\r";
        if (i >= 0) {
            const int send = ++sends_[i];
            line = ReceivedLine(Record(i));
            if (send <= garbledSends[i]) line = Garbled(line);
            if (crLost.count(i) != 0 && crLost[i] == send) line.back() = '\x05';
        }
        lastReplyAtMs_ = atMs;
        bench_.line.QueueAt(lastReplyAtMs_, line);
    }

    LinkBench& bench_;
    const int records_;
    const std::string command_;
    int writes_ = 0;
    int place_ = 0;
    int pending_ = -1;
    std::map<int, int> sends_;
    uint64_t lastReplyAtMs_ = 0;
};

// What the calls of a pull returned: the records in order, and the codes of
// the calls that failed.
struct Pulled {
    std::vector<std::string> records;
    std::vector<int32_t> failures;
    bool ended = false;
};

Pulled PullDocument1(LinkBench& bench, int calls) {
    Pulled pulled;
    for (int call = 0; call < calls && !pulled.ended; ++call) {
        const int32_t got = bench.link.GetDocumentRecord(1);
        if (got == 1) {
            EXPECT_EQ(bench.state.result, code::kSuccess);
            pulled.records.push_back(bench.state.data);
        } else if (got == 0) {
            EXPECT_EQ(bench.state.result, code::kSuccess);
            pulled.ended = true;
        } else {
            pulled.failures.push_back(bench.state.result);
        }
    }
    return pulled;
}

std::vector<std::string> Records(int from, int to) {
    std::vector<std::string> records;
    for (int i = from; i < to; ++i) records.push_back(Record(i));
    return records;
}

// ---- The terminal misses a line.

TEST(UnheardLines, ACommandMissedBeforeAGarbledRecordStillGetsThatRecordAskedForAgain) {
    // The first GDF1 is not heard and its copy brings R0; the next GDF1 is
    // answered with R1 garbled, which a NAK brings again.
    LinkBench bench;
    Document1 terminal(bench, 3);
    terminal.unheardWrites = {0};
    terminal.garbledSends = {{1, 1}};
    const Pulled pulled = PullDocument1(bench, 8);
    EXPECT_EQ(pulled.records, Records(0, 3));
    EXPECT_TRUE(pulled.failures.empty()) << "first failure code " << pulled.failures.front();
    EXPECT_TRUE(pulled.ended);
    EXPECT_EQ(bench.line.WritesOf("NAK\r"), 1);
}

TEST(UnheardLines, AMissedNakAndItsAnsweredCopyDoNotSwallowTheNextRecord) {
    // R0 comes garbled; the first NAK is not heard, the second brings R0.
    LinkBench bench;
    Document1 terminal(bench, 3);
    terminal.unheardWrites = {1};
    terminal.garbledSends = {{0, 1}};
    const Pulled pulled = PullDocument1(bench, 8);
    EXPECT_EQ(pulled.records, Records(0, 3));
    EXPECT_TRUE(pulled.failures.empty()) << "first failure code " << pulled.failures.front();
    EXPECT_TRUE(pulled.ended);
}

TEST(UnheardLines, ATerminalDeafAfterEachReplyGetsEveryGarbledRecordAskedForAgainAtEitherPace) {
    // Deaf for 30 ms after each reply: at the fast pace every command and NAK
    // written at once is missed and goes out again after two silent waits.
    for (const Pace pace : {Pace::Standard, Pace::Fast}) {
        for (const int garbled : {0, 3, 9}) {
            LinkBench bench(true, pace);
            Document1 terminal(bench, 10);
            terminal.deafAfterReplyMs = 30;
            terminal.garbledSends = {{garbled, 1}};
            const Pulled pulled = PullDocument1(bench, 30);
            const char* paceName = pace == Pace::Fast ? "fast" : "standard";
            EXPECT_EQ(pulled.records, Records(0, 10)) << paceName << ", record " << garbled << " garbled";
            EXPECT_TRUE(pulled.failures.empty()) << paceName << ", record " << garbled << " garbled, "
                                                 << pulled.failures.size() << " failed calls";
            EXPECT_TRUE(pulled.ended) << paceName << ", record " << garbled << " garbled";
        }
    }
}

// ---- The terminal hears both copies of a command, and one record comes garbled.

struct TwoAnswersCase {
    const char* sentence;
    uint32_t commandDelayMs;
    std::function<void(Document1&)> terminal;
    std::vector<std::string> records;  // what the pull hands out, in order
    size_t failures;                   // calls that report a record the terminal moved past
};

TEST(TwoAnswers, ARecordTheTerminalMovedPastIsReportedAndTheOneAfterItFollows) {
    // A command goes out a second time after two silent waits, and the
    // terminal answers both copies when it answers 120 ms late. A prompt
    // answer whose CR was lost sends no second copy: it was coming in.
    const TwoAnswersCase cases[] = {
        {"the first of two late answers garbled: the second copy's record moved the terminal past it", 120,
         [](Document1& t) { t.garbledSends = {{0, 1}}; }, {"R1", "R2", "R3"}, 1},
        {"the second of two late answers garbled: a NAK from the next download brings it again", 120,
         [](Document1& t) { t.garbledSends = {{1, 1}}; }, Records(0, 4), 0},
        {"a prompt answer's CR lost: no second copy while it came in, and a NAK brings it again once its time "
         "is over",
         1, [](Document1& t) { t.crLost = {{0, 1}}; }, Records(0, 4), 0},
    };
    for (const Pace pace : {Pace::Standard, Pace::Fast}) {
        for (const TwoAnswersCase& c : cases) {
            LinkBench bench(true, pace);
            Document1 terminal(bench, 4);
            terminal.commandDelayMs = c.commandDelayMs;
            c.terminal(terminal);
            const Pulled pulled = PullDocument1(bench, 12);
            const std::string context = std::string(pace == Pace::Fast ? "fast: " : "standard: ") + c.sentence;
            EXPECT_EQ(pulled.records, c.records) << context;
            EXPECT_EQ(pulled.failures, std::vector<int32_t>(c.failures, code::kTransferError)) << context;
            EXPECT_TRUE(pulled.ended) << context;
        }
    }
}

TEST(TwoAnswers, ACopyAskedForAgainWhoseCrWasLostJoinsTheNextCopyAndIsAskedForOnceMore) {
    // R0 comes garbled; the NAK's answer loses its CR, so the NAK goes out
    // again and the two copies arrive as one line.
    for (const Pace pace : {Pace::Standard, Pace::Fast}) {
        LinkBench bench(true, pace);
        Document1 terminal(bench, 2);
        terminal.garbledSends = {{0, 1}};
        terminal.crLost = {{0, 2}};
        const Pulled pulled = PullDocument1(bench, 6);
        EXPECT_EQ(pulled.records, Records(0, 2)) << (pace == Pace::Fast ? "fast" : "standard");
        EXPECT_TRUE(pulled.failures.empty()) << (pace == Pace::Fast ? "fast" : "standard");
    }
}

TEST(TwoAnswers, TheRecordAfterOneReportedLostIsAskedForAgainBeforeTheCallReturns) {
    // A script may call another operation after a failed download: the
    // record asked for again must be in by then. The first of two late
    // answers comes garbled: the second copy's record moved the terminal
    // past it.
    LinkBench bench;
    Document1 terminal(bench, 3);
    terminal.commandDelayMs = 120;
    terminal.garbledSends = {{0, 1}};
    bench.line.Reply("PNG\r", "ACK\r");
    EXPECT_EQ(bench.link.GetDocumentRecord(1), -1);
    EXPECT_EQ(bench.state.result, code::kTransferError);
    EXPECT_EQ(bench.link.PingTerminal(), 1);
    const Pulled rest = PullDocument1(bench, 6);
    EXPECT_EQ(rest.records, Records(1, 3));
    EXPECT_TRUE(rest.failures.empty());
    EXPECT_TRUE(rest.ended);
}

// Found by the fuzzer: a database download reports a record the terminal
// moved past as a document download does, with code 9, which the method's
// list of codes (and so the scripting guide's) must name.
TEST(TwoAnswers, ADatabaseRecordTheTerminalMovedPastIsReportedWithACodeItsMethodLists) {
    LinkBench bench;
    Document1 terminal(bench, 3, "GDB1\r");
    terminal.commandDelayMs = 120;
    terminal.garbledSends = {{0, 1}};
    EXPECT_EQ(bench.link.GetDatabaseRecord(1), -1);
    EXPECT_EQ(bench.state.result, code::kTransferError);
    const std::vector<int32_t>& listed = MethodResultCodes(method::kGetRecord);
    EXPECT_NE(std::find(listed.begin(), listed.end(), code::kTransferError), listed.end());
    std::vector<std::string> rest;
    while (rest.size() < 4 && bench.link.GetDatabaseRecord(1) == 1) rest.push_back(bench.state.data);
    EXPECT_EQ(rest, Records(1, 3)) << "the records after it still come";
}

TEST(TwoAnswers, AGarbledRecordStillOwedWhenAnotherCommandGoesOutIsReportedByTheNextDownload) {
    LinkBench bench;
    Document1 terminal(bench, 3);
    terminal.commandDelayMs = 120;
    terminal.garbledSends = {{1, 1}};
    bench.line.Reply("PNG\r", "ACK\r", 130);
    ASSERT_EQ(bench.link.GetDocumentRecord(1), 1);
    EXPECT_EQ(bench.state.data, "R0");
    // The ping waits for the garbled R1 first; once PNG is heard, the
    // terminal has moved past R1.
    EXPECT_EQ(bench.link.PingTerminal(), 1);
    EXPECT_EQ(bench.link.GetDocumentRecord(1), -1);
    EXPECT_EQ(bench.state.result, code::kTransferError);
    const Pulled rest = PullDocument1(bench, 6);
    EXPECT_EQ(rest.records, Records(2, 3));
    EXPECT_TRUE(rest.failures.empty());
    EXPECT_TRUE(rest.ended);
}

}  // namespace
}  // namespace quill
