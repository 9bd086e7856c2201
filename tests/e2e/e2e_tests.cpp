// The module against simulated terminals: every call goes through the
// component's ILanguageExtender, as a host script's would, to a simulator on
// a pty linked as a COM port (see run-e2e.sh and scenarios/). What reached
// the wire is read back from each simulator's traffic log. The program runs
// twice, the second time with the fast exchange in every profile
// (QUILL_E2E_FAST=1), and each scenario must end as it does at the standard
// pace.
#include <gtest/gtest.h>

#include <windows.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/script.h"

namespace quill::test {
namespace {

// The ports of the scenarios in run-e2e.sh.
constexpr int kBusy = 1, kTerminal = 2, kOddTerminal = 3, kLongClock = 4, kSilent = 5, kMissing = 6,
              kIrda = 7, kNoAdapter = 8, kDownloadFaults = 9, kPortTen = 10, kFull = 11, kRefusesLoad = 12,
              kSilentLoad = 13, kTrickles = 14, kUntouched = 15, kLastPort = 16;

TEST(Queries, APromptTerminalAnswersEveryQuery) {
    Script script(kTerminal);
    EXPECT_EQ(script.Call("Attach"), 1);
    EXPECT_EQ(script.Enabled(), 1);

    struct Case {
        const char* method;
        LONG value;
        const char* data;
    };
    const Case cases[] = {
        {"Ping", 1, "ACK"},           {"ПроверитьНаличие", 1, "ACK"}, {"GetFreeMem", 31999, "31999"},
        {"GetSN", 1, "SN-0042"},      {"CurrentState", 1, "READY"},  {"GetTime", 1, "20240102123045"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(script.Call(c.method), c.value) << c.method;
        EXPECT_EQ(script.Result(), 0) << c.method;
        EXPECT_EQ(script.Description(), "Операция была завершена успешно!") << c.method;
        EXPECT_EQ(script.Data(), c.data) << c.method;
    }
    EXPECT_EQ(script.Call("GetDataCount", 3), 200);
    EXPECT_EQ(script.Call("GetRecordsCount", 1), 50);
    EXPECT_EQ(script.Call("ЗаписейВБазеДанных", 3), 0);
}

TEST(Queries, UpdateTimeSendsTheLocalClock) {
    Script script(kTerminal);
    ASSERT_EQ(script.Call("Attach"), 1);
    SYSTEMTIME before, after;
    const auto stamp = [](const SYSTEMTIME& t) {
        return Digits(t.wYear % 100, 2) + Digits(t.wMonth, 2) + Digits(t.wDay, 2) + Digits(t.wHour, 2) +
               Digits(t.wMinute, 2) + Digits(t.wSecond, 2);
    };
    ::GetLocalTime(&before);
    EXPECT_EQ(script.Call("UpdateTime"), 1);
    ::GetLocalTime(&after);
    EXPECT_EQ(script.Result(), 0);
    EXPECT_EQ(script.Data(), "OK");

    const std::string log = TrafficLog(kTerminal);
    const size_t at = log.rfind("\"SST20");
    ASSERT_NE(at, std::string::npos) << "no set-time line on the wire";
    const std::string sent = log.substr(at + 6, 12);
    EXPECT_GE(sent, stamp(before));
    EXPECT_LE(sent, stamp(after));
    EXPECT_EQ(log[at + 18], '"') << "18 bytes: SST, 20, twelve digits, CR";

    EXPECT_EQ(script.Call("GetTime"), 1);
    EXPECT_EQ(script.Data(), "20" + sent) << "the terminal keeps the clock it was sent";
}

// A method of a table row: with its number, or without when the row has
// kNoParameter.
constexpr LONG kNoParameter = -100;
LONG CallRow(Script& script, const char* method, LONG number) {
    return number == kNoParameter ? script.Call(method) : script.Call(method, number);
}

TEST(Queries, UnexpectedAnswersLeaveTheirCodes) {
    Script script(kOddTerminal);
    ASSERT_EQ(script.Call("Attach"), 1);
    struct Case {
        const char* sentence;
        const char* method;
        LONG number;  // or kNoParameter
        LONG value, result;
        const char* data;
    };
    const Case cases[] = {
        {"a ping answered NAK still finds the terminal", "Ping", kNoParameter, 1, 0, "NAK"},
        {"a 13-character clock is no clock", "GetTime", kNoParameter, 0, 16, "2024010212304"},
        {"a negative free memory is passed on", "GetFreeMem", kNoParameter, -5, 0, "-5"},
        {"a negative count is a broken database", "GetDataCount", 1, -1, 10, "-1"},
        {"an empty document counts 0", "GetDataCount", 0, 0, 0, "0"},
        {"ERR to clearing a database", "ClearDatabase", 2, 0, 29, "ERR"},
        {"ERR to clearing a document", "ClearDoc", 2, 0, 15, "ERR"},
    };
    for (const auto& c : cases) {
        const LONG value = CallRow(script, c.method, c.number);
        EXPECT_EQ(value, c.value) << c.sentence;
        EXPECT_EQ(script.Result(), c.result) << c.sentence;
        EXPECT_EQ(script.Data(), c.data) << c.sentence;
    }
}

TEST(Queries, AFifteenCharacterClockIsNoClock) {
    Script script(kLongClock);
    ASSERT_EQ(script.Call("Attach"), 1);
    EXPECT_EQ(script.Call("GetTime"), 0);
    EXPECT_EQ(script.Result(), 16);
}

TEST(Queries, ASilentTerminalTimesOutAfterSendingTheCommandTwice) {
    Script script(kSilent);
    ASSERT_EQ(script.Call("Attach"), 1);
    const DWORD start = ::GetTickCount();
    EXPECT_EQ(script.Call("Ping"), 0);
    const DWORD elapsed = ::GetTickCount() - start;
    EXPECT_EQ(script.Result(), 8);
    EXPECT_EQ(script.Description(), "Тайм - аут! Данные не переданы!");
    EXPECT_EQ(script.Data(), "");
    EXPECT_GE(elapsed, 150u) << "four 50 ms waits";
    EXPECT_LT(elapsed, 5000u) << "bounded";
    EXPECT_EQ(Occurrences(TrafficLog(kSilent), "RX 50 4E 47 0D"), 2) << "PNG CR written twice";
}

TEST(Port, AClosedPortSendsNothing) {
    Script script(kUntouched);
    EXPECT_EQ(script.Call("Ping"), 0);
    EXPECT_EQ(script.Result(), 1);
    EXPECT_EQ(script.Call("GetFreeMem"), -1);
    EXPECT_EQ(script.Call("GetDataCount", 1), -1);
    EXPECT_EQ(script.Result(), 1);
    EXPECT_EQ(Occurrences(TrafficLog(kUntouched), " RX "), 0);
}

TEST(Port, PortsAboveNineOpen) {
    for (int com : {kPortTen, kLastPort}) {
        Script script(com);
        EXPECT_EQ(script.Call("Attach"), 1) << "COM" << com;
        EXPECT_EQ(script.Call("GetSN"), 1) << "COM" << com;
        EXPECT_EQ(script.Data(), "SN-00" + std::to_string(com)) << "COM" << com;
        script.Proc("Deattach");
        EXPECT_EQ(script.Enabled(), 0);
        EXPECT_EQ(script.Result(), 0);
    }
}

TEST(Port, AMissingPort) {
    Script script(kMissing);
    EXPECT_EQ(script.Call("Attach"), 0);
    EXPECT_EQ(script.Result(), 2);
    EXPECT_EQ(script.Description(), "Невозможно открыть COM порт!");
    script.Set("Enabled", IntValue(1));
    EXPECT_EQ(script.Result(), 1) << "a failed open through Enabled reports 1";
    EXPECT_EQ(script.Enabled(), 0);
}

TEST(Port, EnabledOpensAndClosesThePort) {
    Script script(kTerminal);
    script.Set("Enabled", IntValue(1));
    EXPECT_EQ(script.Enabled(), 1);
    EXPECT_EQ(script.Result(), 0);
    EXPECT_EQ(script.Call("Ping"), 1);
    script.Set("Enabled", IntValue(0));
    EXPECT_EQ(script.Enabled(), 0);
}

TEST(InfraredAdapter, FoundAt38400AfterTheFasterProbesFail) {
    Script script(kIrda, true);
    EXPECT_EQ(script.Call("Attach"), 1);
    EXPECT_EQ(script.Result(), 0);
    EXPECT_EQ(script.Call("GetSN"), 1);
    EXPECT_EQ(script.Data(), "IR-0007");

    const std::string log = TrafficLog(kIrda);
    const size_t probe9600 = log.find("baud=9600 RTS=0 DTR=1 RX 0F");
    const size_t probe115200 = log.find("baud=115200 RTS=0 DTR=1 RX 0F");
    const size_t answered = log.find("adapter answers probe 0F at 38400 baud");
    ASSERT_NE(probe9600, std::string::npos) << log;
    ASSERT_NE(probe115200, std::string::npos) << log;
    ASSERT_NE(answered, std::string::npos) << log;
    EXPECT_LT(probe9600, probe115200);
    EXPECT_LT(probe115200, answered);
    size_t previous = answered;
    for (const char* switching : {"07", "36", "51"}) {
        const size_t at = log.find(std::string("adapter takes byte ") + switching + " at 38400 baud", previous);
        EXPECT_NE(at, std::string::npos) << switching;
        previous = at;
    }
    EXPECT_NE(log.find("baud=115200 RTS=1 DTR=1 RX 47 53 4E 0D", previous), std::string::npos)
        << "the terminal is reached at 115200 with RTS high";
}

TEST(InfraredAdapter, AnAdapterThatNeverAnswers) {
    Script script(kNoAdapter, true);
    const DWORD start = ::GetTickCount();
    EXPECT_EQ(script.Call("Attach"), 0);
    const DWORD elapsed = ::GetTickCount() - start;
    EXPECT_EQ(script.Result(), 4);
    EXPECT_EQ(script.Enabled(), 0);
    EXPECT_GE(elapsed, 1000u) << "five probes of about 250 ms";
    EXPECT_EQ(Occurrences(TrafficLog(kNoAdapter), " RX 0F"), 5);
}

TEST(Download, ADocumentOf200RecordsArrivesWhole) {
    Script script(kTerminal);
    ASSERT_EQ(script.Call("Attach"), 1);
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(script.Call("GetData", 3), 1) << "record " << i << " code " << script.Result();
        const std::string expected = GeneratedRecord("DOC", 3, i);
        ASSERT_EQ(script.Data(), expected);
        EXPECT_EQ(script.Field(1), "DOC3");
        EXPECT_EQ(script.Field(2), std::to_string(i + 1));
        EXPECT_EQ(script.Field(5), "");
    }
    EXPECT_EQ(script.Call("ПолучитьЗаписьИзДокумента", 3), 0);
    EXPECT_EQ(script.Result(), 0);
}

TEST(Download, ADatabaseArrivesWhole) {
    Script script(kTerminal);
    ASSERT_EQ(script.Call("Attach"), 1);
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(script.Call("GetRecord", 1), 1) << "record " << i;
        ASSERT_EQ(script.Data(), GeneratedRecord("DB", 1, i));
    }
    EXPECT_EQ(script.Call("GetRecord", 1), 0);
    EXPECT_EQ(script.Result(), 0);
}

TEST(Download, FieldsSplitAtCommasAndClearingEmptiesTheDocument) {
    Script script(kTerminal);
    ASSERT_EQ(script.Call("Attach"), 1);
    ASSERT_EQ(script.Call("GetData", 0), 1);
    EXPECT_EQ(script.Data(), "123,ABC,5");
    EXPECT_EQ(script.Field(1), "123");
    EXPECT_EQ(script.Field(2), "ABC");
    EXPECT_EQ(script.Field(3), "5");
    EXPECT_EQ(script.Field(4), "");
    ASSERT_EQ(script.Call("GetData", 0), 1);
    EXPECT_EQ(script.Data(), "a,b,c,d,e,f,g,h");
    EXPECT_EQ(script.Field(6), "f") << "nothing after the sixth comma reaches a field";

    EXPECT_EQ(script.Call("ClearDoc", 0), 1);
    EXPECT_EQ(script.Result(), 0);
    EXPECT_EQ(script.Call("GetDataCount", 0), 0);
}

TEST(Download, FaultsOnTheLine) {
    Script script(kDownloadFaults);
    ASSERT_EQ(script.Call("Attach"), 1);
    struct Case {
        const char* sentence;
        const char* method;
        LONG number, value, result;
        const char* data;  // nullptr: not checked
    };
    const Case cases[] = {
        {"a bad checksum is refused with NAK and the resent record taken", "GetData", 1, 1, 0,
         "first,record,of,one"},
        {"the next record follows", "GetData", 1, 1, 0, "second"},
        {"an ACK line before the record is dropped", "GetData", 3, 1, 0, "after,an,ack"},
        {"an ACK line written apart before the record is dropped", "GetData", 4, 1, 0, "after,a,late,ack"},
        {"ACKOVER ends the document", "GetData", 5, 0, 0, ""},
        {"OVER ends an empty document", "GetData", 6, 0, 0, ""},
        // Last: the terminal answers the final NAK after the call gave up; the
        // next command first waits for that answer and drops it.
        {"a record that never arrives whole fails a document with 9", "GetData", 2, -1, 9, ""},
        {"a record that never arrives whole fails a database with 8", "GetRecord", 1, -1, 8, nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(script.Call(c.method, c.number), c.value) << c.sentence;
        EXPECT_EQ(script.Result(), c.result) << c.sentence;
        if (c.data != nullptr) {
            EXPECT_EQ(script.Data(), c.data) << c.sentence;
        }
    }
    EXPECT_GE(Occurrences(TrafficLog(kDownloadFaults), "RX 4E 41 4B 0D"), 1) << "NAK CR on the wire";
}

// Every record of a store, pulled until the terminal has no more.
std::vector<std::string> PullAll(Script& script, const char* method, LONG store) {
    constexpr size_t kMoreThanAnyStore = 1000;
    std::vector<std::string> records;
    while (records.size() < kMoreThanAnyStore) {
        const LONG got = script.Call(method, store);
        if (got != 1) {
            EXPECT_EQ(got, 0) << method << " after " << records.size() << " records, code " << script.Result();
            break;
        }
        records.push_back(script.Data());
    }
    return records;
}

// Record i of the load: Cyrillic text crosses as Windows-1251.
std::vector<std::string> LoadedFields(int i) {
    return {"G" + std::to_string(i), "Товар №" + std::to_string(i), std::to_string(100 + i) + ".50", "", "",
            "шт"};
}

// Record i of a load as the terminal stores it: the fields, each with its TAB.
std::string LoadedText(int i) {
    std::string text;
    for (const auto& field : LoadedFields(i))
        if (!field.empty()) text += field + "\t";
    return text;
}

// Loads records 0 ... count - 1; how many the terminal took before the
// first refusal.
int LoadRecords(Script& script, LONG database, int count) {
    for (int i = 0; i < count; ++i) {
        const auto fields = LoadedFields(i);
        for (int n = 1; n <= 6; ++n) script.SetField(n, fields[n - 1]);
        if (script.Call("PutRecord", database) != 1) {
            ADD_FAILURE() << "record " << i << " refused, code " << script.Result();
            return i;
        }
    }
    return count;
}

TEST(Upload, ALoadOf200RecordsIsStoredAsSent) {
    {
        Script script(kTerminal);
        ASSERT_EQ(script.Call("Attach"), 1);
        ASSERT_EQ(LoadRecords(script, 2, 200), 200);
        EXPECT_EQ(script.Call("Finish"), 1);
        EXPECT_EQ(script.Result(), 0);
        EXPECT_EQ(script.Call("GetRecordsCount", 2), 200);
    }
    Script script(kTerminal);  // read the database back through a new component
    ASSERT_EQ(script.Call("Attach"), 1);
    const std::vector<std::string> stored = PullAll(script, "GetRecord", 2);
    ASSERT_EQ(stored.size(), 200u);
    for (int i = 0; i < 200; ++i) ASSERT_EQ(stored[i], LoadedText(i)) << "record " << i;
}

TEST(Upload, TerminalFaults) {
    {
        Script script(kFull);
        ASSERT_EQ(script.Call("Attach"), 1);
        script.SetField(1, "X");
        for (int i = 0; i < 3; ++i) EXPECT_EQ(script.Call("PutRecord", 1), 1);
        EXPECT_EQ(script.Call("PutRecord", 1), 0);
        EXPECT_EQ(script.Result(), 27);
        EXPECT_EQ(script.Description(), "Переполнение памяти!Завершено!");
    }
    {
        Script script(kRefusesLoad);
        ASSERT_EQ(script.Call("Attach"), 1);
        script.SetField(1, "NEVER-SENT");
        EXPECT_EQ(script.Call("PutRecord", 1), 0);
        EXPECT_EQ(script.Result(), 19);
        EXPECT_EQ(script.Data(), "NAK");
        EXPECT_EQ(Occurrences(TrafficLog(kRefusesLoad), "NEVER-SENT"), 0);
    }
    {
        Script script(kSilentLoad);
        ASSERT_EQ(script.Call("Attach"), 1);
        script.SetField(1, "UNANSWERED");
        EXPECT_EQ(script.Call("PutRecord", 1), 0);
        EXPECT_EQ(script.Result(), 8);
        EXPECT_EQ(Occurrences(TrafficLog(kSilentLoad), "|UNANSWERED"), 2)
            << "the record written twice, each copy given 200 ms";
    }
}

TEST(Upload, AnEmptyRecordTouchesNothing) {
    Script script(kUntouched);
    EXPECT_EQ(script.Call("PutRecord", 1), 0);
    EXPECT_EQ(script.Result(), 26);
    EXPECT_EQ(Occurrences(TrafficLog(kUntouched), " RX "), 0);
}

// ---- The pace of the exchange: replies that come in pieces, a terminal that
// needs a moment after each reply, and the bytes on the wire.

// What went over the wire in a traffic log, without the times: the bytes of
// each direction in turn ("RX 50 4E 47 0D", then "TX 41 43 4B 0D", ...), the
// bytes of one direction run together until the other speaks.
std::vector<std::string> Wire(const std::string& log) {
    std::vector<std::string> turns;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        // <ms> baud=<baud> RTS=<r> DTR=<d> RX|TX <hex bytes> |<printable>|
        std::istringstream words(line);
        std::string time, baud, rts, dtr, direction;
        words >> time >> baud >> rts >> dtr >> direction;
        if (direction != "RX" && direction != "TX") continue;
        std::string bytes;
        for (std::string word; words >> word && word[0] != '|';) bytes += " " + word;
        if (turns.empty() || turns.back().compare(0, 2, direction) != 0) turns.push_back(direction);
        turns.back() += bytes;
    }
    return turns;
}

TEST(TrickledReplies, RepliesThatComeByteByByteReachTheCallsTheyAnswer) {
    Script script(kTrickles);
    ASSERT_EQ(script.Call("Attach"), 1);
    struct Case {
        const char* sentence;
        const char* method;
        LONG number;  // or kNoParameter
        std::string data;
    };
    const Case cases[] = {
        {"a serial number, 8 ms a byte", "GetSN", kNoParameter, "SN-TRICKLE"},
        {"a record, 4 ms a byte", "GetData", 2, GeneratedRecord("DOC", 2, 0)},
        {"and the next", "GetData", 2, GeneratedRecord("DOC", 2, 1)},
    };
    for (const auto& c : cases) {
        const LONG value = CallRow(script, c.method, c.number);
        EXPECT_EQ(value, 1) << c.sentence;
        EXPECT_EQ(script.Result(), 0) << c.sentence;
        EXPECT_EQ(script.Data(), c.data) << c.sentence;
    }
    // Each announcement of a load is acknowledged 10 ms a byte.
    EXPECT_EQ(LoadRecords(script, 1, 3), 3);
    EXPECT_EQ(script.Call("Finish"), 1);
    EXPECT_EQ(Occurrences(TrafficLog(kTrickles), "EV stored database 1 record "), 3) << "each stored once";
}

TEST(BusyTerminal, AFastPullAndLoadLoseNoRecordAndStoreNoneTwice) {
    constexpr size_t kPulled = 40;
    constexpr int kLoaded = 15;
    {
        Script script(kBusy, false, Pace::Fast);
        ASSERT_EQ(script.Call("Attach"), 1);
        const std::vector<std::string> pulled = PullAll(script, "GetData", 1);
        ASSERT_EQ(pulled.size(), kPulled);
        for (size_t i = 0; i < pulled.size(); ++i)
            EXPECT_EQ(pulled[i], GeneratedRecord("DOC", 1, static_cast<int>(i))) << "record " << i;
        EXPECT_EQ(LoadRecords(script, 2, kLoaded), kLoaded);
        EXPECT_EQ(script.Call("Finish"), 1);
    }
    Script script(kBusy, false, Pace::Fast);
    ASSERT_EQ(script.Call("Attach"), 1);
    EXPECT_EQ(script.Call("GetRecordsCount", 2), kLoaded);
    const std::vector<std::string> stored = PullAll(script, "GetRecord", 2);
    ASSERT_EQ(stored.size(), static_cast<size_t>(kLoaded));
    for (int i = 0; i < kLoaded; ++i) EXPECT_EQ(stored[i], LoadedText(i)) << "record " << i;
    EXPECT_GT(Occurrences(TrafficLog(kBusy), "busy: dropped"), 0) << "the terminal did miss commands";
}

// Two terminals that hold the same, one pulled and loaded at the standard
// pace and one at the fast pace: the same bytes cross the wire in the same
// turns.
TEST(FastExchange, AFaultFreePullAndLoadPutTheSameBytesOnTheWireAtEitherPace) {
    constexpr DWORD kLogSettleMs = 200;  // the simulator logs its last reply as it sends it
    const struct {
        int com;
        Pace pace;
    } runs[] = {{kPortTen, Pace::Standard}, {kLastPort, Pace::Fast}};
    std::vector<std::string> wires[2];
    for (size_t run = 0; run < 2; ++run) {
        const size_t mark = TrafficLog(runs[run].com).size();
        {
            Script script(runs[run].com, false, runs[run].pace);
            ASSERT_EQ(script.Call("Attach"), 1);
            EXPECT_EQ(PullAll(script, "GetData", 1).size(), 20u);
            EXPECT_EQ(LoadRecords(script, 1, 10), 10);
            EXPECT_EQ(script.Call("Finish"), 1);
        }
        ::Sleep(kLogSettleMs);
        wires[run] = Wire(TrafficLog(runs[run].com).substr(mark));
    }
    // A command and its reply for each exchange: 21 downloads, the
    // database's count read twice (until two readings agree), an
    // announcement and a record for each of the 10 loaded, the end of the
    // load.
    EXPECT_EQ(wires[0].size(), 2u * (21 + 2 + 2 * 10 + 1)) << "a command and its reply for each exchange";
    EXPECT_EQ(wires[0], wires[1]);
}

}  // namespace
}  // namespace quill::test
