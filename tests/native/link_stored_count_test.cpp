// Uploads whose answer cannot be read: the database's count, taken once after
// the attach and followed with every acknowledged copy, tells whether the
// terminal stored the copy, so that a garbled acknowledgement stores no
// second copy. When the count cannot be read, a copy goes again as before.
// On a clean line only that one count joins the bytes on the wire.

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/result_codes.h"
#include "fake_line.h"
#include "record_lines.h"

namespace quill {
namespace {

using fake::LinkBench;
using fake::ScriptedReply;
using fake::SentLine;

// Database 2 of a terminal on the fake line, as the simulator plays it: GRC2
// answers its count, PDB2 ACK and load mode; a record line in load mode is
// stored and answered ACK; any other line ends load mode, and a record line
// outside it is answered ERR. Every answer comes 20 ms after its line.
class Database2 {
public:
    explicit Database2(LinkBench& bench, int32_t count) : bench_(bench), count_(count) {
        bench_.line.onWrite = [this](const std::string& bytes) { Hear(bytes); };
    }

    // How the terminal takes the k-th copy of a record it hears (from 1):
    // stored or not, and its answer as it comes off the line.
    struct Copy {
        bool stored;
        std::string answer;
    };
    std::map<int, Copy> copies;               // others: stored, ACK
    std::map<int, std::string> countAnswers;  // the k-th GRC2 (from 1) answered so instead
    uint32_t ackDelayMs = kDelayMs;

    const std::vector<std::string>& Stored() const { return stored_; }

private:
    static constexpr uint32_t kDelayMs = 20;

    void Hear(const std::string& bytes) {
        const uint64_t now = bench_.clock.NowMs();
        if (bytes == "GRC2\r") {
            loading_ = false;
            const auto instead = countAnswers.find(++counts_);
            return Answer(now, (instead != countAnswers.end() ? instead->second : std::to_string(count_)) + "\r");
        }
        if (bytes == "PDB2\r") {
            loading_ = true;
            return Answer(now, "ACK\r");
        }
        if (bytes.compare(0, 3, "PDB") == 0 || bytes.compare(0, 3, "GRC") == 0 || bytes == "OVER\r") {
            const bool wasLoading = loading_;
            loading_ = false;
            return Answer(now, bytes == "OVER\r" && wasLoading ? "ACK\r" : "ERR\r");
        }
        if (!loading_) return Answer(now, "ERR\r");
        const auto scripted = copies.find(++copiesHeard_);
        const Copy copy = scripted != copies.end() ? scripted->second : Copy{true, "ACK\r"};
        if (copy.stored) {
            stored_.push_back(bytes.substr(0, bytes.find('\t')));
            ++count_;
        }
        bench_.line.QueueAt(now + ackDelayMs, copy.answer);
    }

    void Answer(uint64_t now, const std::string& line) { bench_.line.QueueAt(now + kDelayMs, line); }

    LinkBench& bench_;
    int32_t count_;
    int counts_ = 0;
    int copiesHeard_ = 0;
    bool loading_ = false;
    std::vector<std::string> stored_;
};

// Loads records "L0" ... into database 2; what each call returned.
std::vector<int32_t> Load(LinkBench& bench, int from, int to) {
    std::vector<int32_t> returned;
    for (int i = from; i < to; ++i) {
        bench.state.fields = {"L" + std::to_string(i), "", "", "", "", ""};
        returned.push_back(bench.link.PutDatabaseRecord(2));
        if (returned.back() == 1) {
            EXPECT_EQ(bench.state.result, code::kSuccess) << "record " << i;
        }
    }
    return returned;
}

std::string Copy(int i) { return SentLine("L" + std::to_string(i) + "\t"); }

struct UnreadableAnswerCase {
    const char* sentence;
    std::map<int, Database2::Copy> copies;
    std::map<int, std::string> countAnswers;
    std::vector<std::string> stored;  // what the terminal holds of the load, in order
    int copiesOfTheThird;
};

TEST(StoredCount, TheCountDecidesWhetherACopyWhoseAnswerCannotBeReadGoesAgain) {
    // Three records; the terminal takes the first two, then the third copy's
    // answer comes garbled. The count before the load is 5.
    const std::vector<std::string> once = {"L0", "L1", "L2"};
    const std::vector<std::string> twice = {"L0", "L1", "L2", "L2"};
    const UnreadableAnswerCase cases[] = {
        {"a garbled ACK of a copy stored: the count is one more, no copy goes again", {{3, {true, "AKK\r"}}}, {},
         once, 1},
        {"a garbled refusal of a copy not stored: the count is the same, the copy goes again",
         {{3, {false, "NAJ\r"}}}, {}, once, 2},
        {"an ACK whose CR was lost, of a copy stored: after four silent waits the count is one more",
         {{3, {true, "ACK\x05"}}}, {}, once, 1},
        {"an ACK that never comes, of a copy stored: after four silent waits the count is one more",
         {{3, {true, ""}}}, {}, once, 1},
        {"a count garbled once is asked again", {{3, {true, "AKK\r"}}}, {{3, "ERR"}}, once, 1},
        {"a count that differs from the next is asked until two agree", {{3, {true, "AKK\r"}}}, {{3, "9"}}, once,
         1},
        {"two readings alike with another between them agree", {{3, {true, "AKK\r"}}}, {{4, "9"}}, once, 1},
        {"the count unreadable at every reading: the copy goes again, as before", {{3, {true, "AKK\r"}}},
         {{3, "ERR"}, {4, "ERR"}, {5, "ERR"}, {6, "ERR"}}, twice, 2},
        {"a count that is not only digits is no count", {{3, {true, "AKK\r"}}},
         {{3, "8 "}, {4, "8 "}, {5, "8 "}, {6, "8 "}}, twice, 2},
        {"no two readings of the count alike: the copy goes again, as before", {{3, {true, "AKK\r"}}},
         {{3, "8"}, {4, "9"}, {5, "10"}, {6, "11"}}, twice, 2},
        {"no count before the load: the copy goes again at once, as before", {{3, {true, "AKK\r"}}},
         {{1, "ERR"}, {2, "ERR"}, {3, "ERR"}}, twice, 2},
    };
    for (const Pace pace : {Pace::Standard, Pace::Fast}) {
        for (const UnreadableAnswerCase& c : cases) {
            const std::string context = std::string(pace == Pace::Fast ? "fast: " : "standard: ") + c.sentence;
            LinkBench bench(true, pace);
            Database2 terminal(bench, 5);
            terminal.copies = c.copies;
            terminal.countAnswers = c.countAnswers;
            EXPECT_EQ(Load(bench, 0, 3), (std::vector<int32_t>{1, 1, 1})) << context;
            EXPECT_EQ(terminal.Stored(), c.stored) << context;
            EXPECT_EQ(bench.line.WritesOf(Copy(2)), c.copiesOfTheThird) << context;
            EXPECT_EQ(bench.link.FinishLoad(), 1) << context << ": the terminal is left in load mode";
        }
    }
}

TEST(StoredCount, OnACleanLineOnlyTwoReadingsOfTheCountPerDatabaseAfterEachAttachJoinTheBytes) {
    LinkBench bench;
    Database2 terminal(bench, 5);
    Load(bench, 0, 3);
    EXPECT_EQ(bench.link.FinishLoad(), 1);
    const std::vector<std::string> load = {"GRC2\r", "GRC2\r", "PDB2\r", Copy(0), "PDB2\r",
                                           Copy(1),  "PDB2\r", Copy(2),  "OVER\r"};
    EXPECT_EQ(bench.line.WrittenTexts(), load);

    // Attached anew, and after clearing the database, the count is taken again.
    bench.line.Reply("CDB2\r", "OK\r");
    bench.link.ClosePort();
    bench.link.OpenPort(ConnectionSettings{});
    Load(bench, 3, 5);
    EXPECT_EQ(bench.link.ClearTerminalDatabase(2), 1);
    Load(bench, 5, 6);
    const std::vector<std::string> after = {"GRC2\r", "GRC2\r", "PDB2\r", Copy(3), "PDB2\r", Copy(4),
                                            "CDB2\r", "GRC2\r", "GRC2\r", "PDB2\r", Copy(5)};
    const std::vector<std::string> written = bench.line.WrittenTexts();
    EXPECT_EQ(std::vector<std::string>(written.begin() + static_cast<long>(load.size()), written.end()), after);
}

TEST(StoredCount, TheCountAfterTheAttachIsReadUntilTwoReadingsAgree) {
    // The first load into database 2 after the attach; its count is 5. The
    // copy's answer comes garbled, so the count decides whether it goes
    // again.
    const struct {
        const char* sentence;
        std::map<int, std::string> countAnswers;
        Database2::Copy copy;
        int copies;
    } cases[] = {
        {"the first reading one too low (a bit flipped), the copy stored", {{1, "4"}}, {true, "AKK\r"}, 1},
        {"the first reading one too high, the copy stored", {{1, "6"}}, {true, "AKK\r"}, 1},
        {"the first reading one too high, the copy not stored", {{1, "6"}}, {false, "NAJ\r"}, 2},
        {"the first reading unanswered, the copy stored", {{1, ""}}, {true, "AKK\r"}, 1},
        {"the first two readings garbled, the copy stored", {{1, "ERR"}, {2, "5x"}}, {true, "AKK\r"}, 1},
    };
    for (const Pace pace : {Pace::Standard, Pace::Fast}) {
        for (const auto& c : cases) {
            const std::string context = std::string(pace == Pace::Fast ? "fast: " : "standard: ") + c.sentence;
            LinkBench bench(true, pace);
            Database2 terminal(bench, 5);
            terminal.countAnswers = c.countAnswers;
            terminal.copies = {{1, c.copy}};
            EXPECT_EQ(Load(bench, 0, 1), (std::vector<int32_t>{1})) << context;
            EXPECT_EQ(terminal.Stored(), (std::vector<std::string>{"L0"})) << context << ": stored once";
            EXPECT_EQ(bench.line.WritesOf(Copy(0)), c.copies) << context;
        }
    }
}

TEST(StoredCount, AnAcknowledgementThatComesLateIsWaitedForBeforeTheCount) {
    // 250 ms late: after the copy's four silent waits, while its answer is
    // still waited for.
    for (const Pace pace : {Pace::Standard, Pace::Fast}) {
        LinkBench bench(true, pace);
        Database2 terminal(bench, 0);
        terminal.ackDelayMs = 250;
        EXPECT_EQ(Load(bench, 0, 1), (std::vector<int32_t>{1}));
        EXPECT_EQ(terminal.Stored(), (std::vector<std::string>{"L0"}));
        EXPECT_EQ(bench.line.WrittenTexts(), (std::vector<std::string>{"GRC2\r", "GRC2\r", "PDB2\r", Copy(0)}))
            << (pace == Pace::Fast ? "fast" : "standard");
    }
}

TEST(StoredCount, WhenTheLastAttemptIsUnreadableTheCountStillDecides) {
    // Three refusals, then a garbled answer to the fourth copy.
    const struct {
        bool stored;
        int32_t returned;
        int32_t result;
    } cases[] = {{true, 1, code::kSuccess}, {false, 0, code::kTransferError}};
    for (const auto& c : cases) {
        LinkBench bench;
        Database2 terminal(bench, 0);
        terminal.copies = {{1, {false, "NAK\r"}}, {2, {false, "NAK\r"}}, {3, {false, "NAK\r"}},
                           {4, {c.stored, "AKK\r"}}};
        EXPECT_EQ(Load(bench, 0, 1), (std::vector<int32_t>{c.returned})) << c.stored;
        EXPECT_EQ(bench.state.result, c.result) << c.stored;
        EXPECT_EQ(bench.line.WritesOf(Copy(0)), 4) << c.stored;
        EXPECT_EQ(bench.line.WritesOf("GRC2\r"), 4) << c.stored;
    }
}

TEST(StoredCount, TheSecondAckToTheLoadAnnouncedAgainIsNotTheNextCopysAcknowledgement) {
    // Both copies go unanswered. After the first one's count the load is
    // announced again, answered so late that the announcement goes out twice.
    LinkBench bench;
    bench.line.Reply("GRC2\r", "0\r");
    bench.line.Reply(ScriptedReply{"PDB2\r", "ACK\r", 20, 0, 1});
    bench.line.Reply(ScriptedReply{"PDB2\r", "ACK\r", 130, 0, 2});
    bench.line.Reply(ScriptedReply{"PDB2\r", "ACK\r", 130, 0, 3});
    bench.state.fields = {"A", "", "", "", "", ""};
    EXPECT_EQ(bench.link.PutDatabaseRecord(2), 0);
    EXPECT_EQ(bench.state.result, code::kTimeout);
    EXPECT_EQ(bench.line.WritesOf("PDB2\r"), 3);
    EXPECT_EQ(bench.line.WritesOf(SentLine("A\t")), 2);
}

}  // namespace
}  // namespace quill
