// Terminals that answer late, against the module under Wine: a reply that
// comes after its call gave up never becomes a later call's reply, a record
// the terminal handed out is not lost, and a late acknowledgement does not
// make the terminal store a record twice (see late-replies/).
#include <gtest/gtest.h>

#include <windows.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/script.h"

namespace quill::test {
namespace {

// The ports of the scenarios in late-replies/.
constexpr int kAnswers300msLate = 1, kAnswersTheLastNakLate = 2, kAnswersEveryCommandLate = 3,
              kAcks70msLate = 4, kAcks150msLate = 5, kNeverAnswersALoad = 7, kAnswersErr = 8,
              kAnswersNaksWithErr = 9;

// A terminal of late-replies/, told as a sentence.
struct TerminalCase {
    const char* sentence;
    int com;
};

// A silent terminal costs a few 50 ms waits; under Wine only a loose bound.
constexpr DWORD kGivenUpWithinMs = 3000;

struct Pulled {
    std::vector<std::string> records;  // in the order the calls returned them
    std::string calls;                 // "1 1 -1(8) 0": what each call returned
    bool ended = false;                // a call returned 0
};

// Calls GetData(document) until it returns 0, at most `calls` times.
Pulled PullDocument(Script& script, LONG document, int calls) {
    Pulled pulled;
    std::ostringstream said;
    for (int i = 0; i < calls && !pulled.ended; ++i) {
        const LONG value = script.Call("GetData", document);
        said << value;
        if (value == 1) pulled.records.push_back(script.Data());
        if (value < 0) said << "(" << script.Result() << ")";
        said << " ";
        pulled.ended = value == 0;
    }
    pulled.calls = said.str();
    return pulled;
}

std::vector<std::string> GeneratedDocument(int document, int count) {
    std::vector<std::string> records;
    for (int i = 0; i < count; ++i) records.push_back(GeneratedRecord("DOC", document, i));
    return records;
}

TEST(StaleReplies, ADownloadThatGaveUpNeverAnswersTheNextDocument) {
    const TerminalCase cases[] = {
        {"document 1 is answered 300 ms after each command", kAnswers300msLate},
        {"the NAK with which document 1's download gave up is answered 20 ms later", kAnswersTheLastNakLate},
        {"document 1 and every NAK after it are answered ERR", kAnswersErr},
    };
    for (const auto& c : cases) {
        Script script(c.com);
        ASSERT_EQ(script.Call("Attach"), 1) << c.sentence;
        const LONG first = script.Call("GetData", 1);
        const std::string firstData = script.Data();
        const Pulled document2 = PullDocument(script, 2, 6);
        EXPECT_EQ(document2.records, GeneratedDocument(2, 3))
            << c.sentence << "; GetData(1) returned " << first << " \"" << firstData << "\", then GetData(2) "
            << document2.calls;
        EXPECT_TRUE(document2.ended) << c.sentence << "; GetData(2) " << document2.calls;
    }
}

TEST(StaleReplies, ATerminalThatAnswersEveryCommand120msLateYieldsEachRecordOnceInOrder) {
    Script script(kAnswersEveryCommandLate);
    ASSERT_EQ(script.Call("Attach"), 1);
    const Pulled document3 = PullDocument(script, 3, 30);
    EXPECT_EQ(document3.records, GeneratedDocument(3, 10)) << "GetData(3) " << document3.calls;
    EXPECT_TRUE(document3.ended) << "GetData(3) " << document3.calls;
}

TEST(StaleReplies, TheDownloadAfterOneThatGaveUpAsksTheTerminalAnew) {
    Script script(kAnswersNaksWithErr);
    ASSERT_EQ(script.Call("Attach"), 1);
    EXPECT_EQ(script.Call("GetData", 1), -1) << "every NAK for the corrupted record is answered ERR";
    // The terminal moves past record 0 at the next command; the ERR to the
    // last NAK is no reply to that command.
    const Pulled rest = PullDocument(script, 1, 6);
    EXPECT_EQ(rest.records, (std::vector<std::string>{GeneratedRecord("DOC", 1, 1), GeneratedRecord("DOC", 1, 2)}))
        << "GetData(1) " << rest.calls;
    EXPECT_TRUE(rest.ended) << "GetData(1) " << rest.calls;
}

// Record i of a load, and the line the simulator's dump shows for it.
std::string LoadedName(int i) { return "LATE-" + std::to_string(i); }
std::string DumpLine(int database, int index, int i) {
    return "database " + std::to_string(database) + " " + std::to_string(index) + " " + LoadedName(i) +
           "\\tack\\t";
}

std::vector<std::string> DumpLines(const std::string& dump, const std::string& lead) {
    std::vector<std::string> lines;
    std::istringstream text(dump);
    for (std::string line; std::getline(text, line);)
        if (line.compare(0, lead.size(), lead) == 0) lines.push_back(line);
    return lines;
}

TEST(LateAcknowledgements, EachLoadedRecordIsStoredExactlyOnce) {
    const TerminalCase cases[] = {
        {"the terminal acknowledges each record 70 ms late", kAcks70msLate},
        {"the terminal acknowledges each record 150 ms late", kAcks150msLate},
    };
    constexpr int kRecords = 10;
    for (const auto& c : cases) {
        std::vector<std::string> expected;
        {
            Script script(c.com);
            ASSERT_EQ(script.Call("Attach"), 1) << c.sentence;
            for (int i = 0; i < kRecords; ++i) {
                script.SetField(1, LoadedName(i));
                script.SetField(2, "ack");
                EXPECT_EQ(script.Call("PutRecord", 1), 1) << c.sentence << ", record " << i << " code "
                                                          << script.Result();
                expected.push_back(DumpLine(1, i, i));
            }
            EXPECT_EQ(script.Call("Finish"), 1) << c.sentence << " code " << script.Result();
        }
        const std::string dump = DatabaseDump(c.com);
        ASSERT_FALSE(dump.empty()) << c.sentence << ": the simulator wrote no dump";
        EXPECT_EQ(DumpLines(dump, "database "), expected) << c.sentence;
    }
}

TEST(LateAcknowledgements, ATerminalThatNeverAnswersALoadIsGivenUpInBoundedTime) {
    Script script(kNeverAnswersALoad);
    ASSERT_EQ(script.Call("Attach"), 1);
    script.SetField(1, "UNANSWERED");
    const DWORD start = ::GetTickCount();
    EXPECT_EQ(script.Call("PutRecord", 1), 0);
    const DWORD elapsed = ::GetTickCount() - start;
    EXPECT_EQ(script.Result(), 8);
    EXPECT_LT(elapsed, kGivenUpWithinMs);
    EXPECT_GE(Occurrences(TrafficLog(kNeverAnswersALoad), "|UNANSWERED"), 1) << "the record went out";
    EXPECT_EQ(script.Call("Ping"), 1) << "the port still serves the next call, code " << script.Result();
}

}  // namespace
}  // namespace quill::test
