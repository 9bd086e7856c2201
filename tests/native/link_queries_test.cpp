// The short operations: the command each sends, and what each reply class
// means for each of them.

#include <functional>
#include <stdexcept>

#include <gtest/gtest.h>

#include "core/result_codes.h"
#include "fake_line.h"

namespace quill {
namespace {

using fake::LinkBench;

using Operation = std::function<int32_t(TerminalLink&)>;

struct Query {
    const char* name;
    Operation run;
    std::string command;
    int32_t failure;
};

const std::vector<Query>& Queries() {
    static const std::vector<Query> queries = {
        {"Ping", [](TerminalLink& l) { return l.PingTerminal(); }, "PNG\r", 0},
        {"GetFreeMem", [](TerminalLink& l) { return l.GetFreeMemory(); }, "GFM\r", -1},
        {"GetSN", [](TerminalLink& l) { return l.GetSerialNumber(); }, "GSN\r", 0},
        {"GetTime", [](TerminalLink& l) { return l.GetTerminalTime(); }, "GST\r", 0},
        {"UpdateTime", [](TerminalLink& l) { return l.SetTerminalTime(); }, "SST20000101000000\r", 0},
        {"CurrentState", [](TerminalLink& l) { return l.GetCurrentState(); }, "GCS\r", 0},
        {"GetDataCount 7", [](TerminalLink& l) { return l.GetDocumentCount(7); }, "GDC7\r", -1},
        {"GetRecordsCount 2", [](TerminalLink& l) { return l.GetDatabaseCount(2); }, "GRC2\r", -1},
        {"ClearDoc 0", [](TerminalLink& l) { return l.ClearDocument(0); }, "CDC0\r", 0},
        {"ClearDatabase 3", [](TerminalLink& l) { return l.ClearTerminalDatabase(3); }, "CDB3\r", 0},
    };
    return queries;
}

const Query& QueryNamed(const std::string& name) {
    for (const Query& query : Queries())
        if (name == query.name) return query;
    throw std::invalid_argument(name);
}

struct Outcome {
    int32_t code;
    int32_t value;
};

// Runs one query against a terminal that answers `reply` and a CR.
Outcome Answer(const Query& query, const std::string& reply) {
    LinkBench bench;
    bench.line.Reply(query.command, reply + "\r");
    const int32_t value = query.run(bench.link);
    EXPECT_EQ(bench.state.data, reply) << query.name << " answered " << reply;
    return {bench.state.result, value};
}

TEST(TerminalQueries, EachSendsItsCommandLineOnce) {
    for (const Query& query : Queries()) {
        LinkBench bench;
        bench.line.Reply(query.command, "ACK\r");
        query.run(bench.link);
        EXPECT_EQ(bench.line.WrittenTexts(), std::vector<std::string>{query.command}) << query.name;
    }
}

// One row per operation: the code left by ACK, NAK, OVER, OK, ERR and a data
// reply, and the value returned for the reply it wants.
struct ClassRow {
    const char* name;
    std::string data;  // the data reply tried
    int32_t ack, nak, over, ok, err, dataCode;
    int32_t success;
};

TEST(TerminalQueries, EachReplyClassGivesTheOperationsCode) {
    constexpr int32_t kOk = code::kSuccess;
    const ClassRow rows[] = {
        {"Ping", "12", kOk, kOk, 16, 16, 16, 16, 1},
        {"GetFreeMem", "12345", 11, 12, 13, 14, 15, kOk, 12345},
        {"GetSN", "SN0042", 11, 12, 13, 14, 15, kOk, 1},
        {"GetTime", "20040305090702", 11, 12, 13, 14, 15, kOk, 1},
        {"UpdateTime", "DONE", 11, 12, 13, kOk, 15, 16, 1},
        {"CurrentState", "IDLE", 11, 12, 13, 14, 15, kOk, 1},
        {"GetDataCount 7", "42", 11, 12, 13, 14, 15, kOk, 42},
        {"GetRecordsCount 2", "42", 11, 12, 13, 14, 15, kOk, 42},
        {"ClearDoc 0", "DONE", 11, 12, 13, kOk, 15, 16, 1},
        {"ClearDatabase 3", "DONE", 11, 12, 13, kOk, 29, 16, 1},
    };
    for (const ClassRow& row : rows) {
        const Query& query = QueryNamed(row.name);
        const std::pair<std::string, int32_t> replies[] = {{"ACK", row.ack}, {"NAK", row.nak},
                                                           {"OVER", row.over}, {"OK", row.ok},
                                                           {"ERR", row.err}, {row.data, row.dataCode}};
        for (const auto& [reply, expected] : replies) {
            const Outcome outcome = Answer(query, reply);
            EXPECT_EQ(outcome.code, expected) << row.name << " answered " << reply;
            EXPECT_EQ(outcome.value, expected == kOk ? row.success : query.failure)
                << row.name << " answered " << reply;
        }
    }
}

struct ReplyCase {
    const char* sentence;
    const char* query;
    std::string reply;
    int32_t code;
    int32_t value;
};

TEST(TerminalQueries, RepliesWorthASentenceEach) {
    const ReplyCase cases[] = {
        {"a ping answered NAK counts as an answer", "Ping", "NAK", 0, 1},
        {"free memory may be negative", "GetFreeMem", "-5", 0, -5},
        {"free memory skips leading blanks and stops at a non-digit", "GetFreeMem", "  77kB", 0, 77},
        {"free memory of an empty line is 0", "GetFreeMem", "", 0, 0},
        {"free memory answered ERR", "GetFreeMem", "ERR", 15, -1},
        {"a clock of 13 characters is unknown", "GetTime", "2004030509070", 16, 0},
        {"a clock of 15 characters is unknown", "GetTime", "200403050907020", 16, 0},
        {"a negative count is a database format fault", "GetDataCount 7", "-1", 10, -1},
        {"a count of 0 is a count", "GetDataCount 7", "0", 0, 0},
        {"a negative database count as well", "GetRecordsCount 2", "-3", 10, -1},
        {"ERR to clearing a database is a format fault", "ClearDatabase 3", "ERR", 29, 0},
        {"ERR to clearing a document is just ERR", "ClearDoc 0", "ERR", 15, 0},
        {"a reply that merely begins with OK is OK", "ClearDoc 0", "OKAY", 0, 1},
        {"a reply that begins with ERR is ERR", "GetSN", "ERROR", 15, 0},
        {"a reply shorter than a keyword is data", "GetSN", "AC", 0, 1},
        {"keywords are compared case and all", "GetSN", "ack", 0, 1},
        {"ACK wins over a later keyword", "ClearDoc 0", "ACKOK", 11, 0},
    };
    for (const ReplyCase& c : cases) {
        const Outcome outcome = Answer(QueryNamed(c.query), c.reply);
        EXPECT_EQ(outcome.code, c.code) << c.sentence;
        EXPECT_EQ(outcome.value, c.value) << c.sentence;
    }
}

TEST(TerminalQueries, UpdateTimeSendsTheLocalClockAsEighteenBytes) {
    LinkBench bench;
    bench.localTime.time = LocalTime{2004, 3, 5, 9, 7, 2};
    bench.line.Reply("SST20040305090702\r", "OK\r");
    EXPECT_EQ(bench.link.SetTerminalTime(), 1);
    EXPECT_EQ(bench.state.result, code::kSuccess);
    ASSERT_EQ(bench.line.Writes().size(), 1u);
    EXPECT_EQ(bench.line.Writes()[0].bytes.size(), 18u);
}

TEST(TerminalQueries, WithThePortClosedEachLeavesCode1AndSendsNothing) {
    for (const Query& query : Queries()) {
        LinkBench bench(false);
        bench.state.data = "old";
        EXPECT_EQ(query.run(bench.link), query.failure) << query.name;
        EXPECT_EQ(bench.state.result, code::kPortNotInitialised) << query.name;
        EXPECT_EQ(bench.state.data, "old") << query.name;
        EXPECT_TRUE(bench.line.Writes().empty()) << query.name;
    }
}

TEST(TerminalQueries, ASilentTerminalLeavesCode8AnEmptyReplyAndTheFailureValue) {
    for (const Query& query : Queries()) {
        LinkBench bench;
        EXPECT_EQ(query.run(bench.link), query.failure) << query.name;
        EXPECT_EQ(bench.state.result, code::kTimeout) << query.name;
        EXPECT_EQ(bench.state.data, "") << query.name;
        EXPECT_EQ(bench.clock.NowMs(), 200u) << query.name;
    }
}

}  // namespace
}  // namespace quill
