// Replies that come late, twice, or never: each is taken for the command it
// answers, records beyond the one a download returns wait for the next
// download of their store, uploads store a record once, and every operation
// ends in bounded time whatever the line sends.

#include <functional>
#include <optional>
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

const std::string kGdf1 = "GDF1\r";
const std::string kGdf2 = "GDF2\r";

// A store of the terminal: the k-th download command is answered with the
// k-th record, and every one after the last with OVER.
void ScriptStore(FakeLine& line, const std::string& command, const std::string& prefix, int records,
                 uint32_t delayMs) {
    constexpr int kOversAfterTheLast = 8;
    for (int k = 1; k <= records + kOversAfterTheLast; ++k) {
        const std::string answer = k <= records ? ReceivedLine(prefix + std::to_string(k - 1)) : "OVER\r";
        line.Reply(ScriptedReply{command, answer, delayMs, 0, k});
    }
}

// Document 1 answers its first command 120 ms late, after the command went
// out again, so both answers arrive in one read; a third command finds the
// end of the document.
void ScriptTwoAnswersInOneRead(FakeLine& line, const std::string& first, const std::string& second) {
    line.Reply(ScriptedReply{kGdf1, ReceivedLine(first), 120, 0, 1});
    line.Reply(ScriptedReply{kGdf1, ReceivedLine(second), 20, 0, 2});
    line.Reply(ScriptedReply{kGdf1, "OVER\r", 20, 0, 3});
}

struct Pull {
    int32_t returned;
    std::string data;
    bool operator==(const Pull& other) const { return returned == other.returned && data == other.data; }
};

std::ostream& operator<<(std::ostream& out, const Pull& pull) {
    return out << "{" << pull.returned << ", \"" << pull.data << "\"}";
}

Pull GetData(LinkBench& bench, int32_t document) {
    const int32_t returned = bench.link.GetDocumentRecord(document);
    return {returned, bench.state.data};
}

Pull GetRecord(LinkBench& bench, int32_t database) {
    const int32_t returned = bench.link.GetDatabaseRecord(database);
    return {returned, bench.state.data};
}

// ---- Late replies never answer a later operation.

TEST(LateReplies, ATerminalAnswering300MsLateNeverHandsDocument1sRecordsToDocument2) {
    LinkBench bench;
    ScriptStore(bench.line, kGdf1, "D1-", 5, 300);
    ScriptStore(bench.line, kGdf2, "D2-", 5, 300);
    EXPECT_EQ(GetData(bench, 1), (Pull{-1, ""}));
    EXPECT_EQ(bench.state.result, code::kTimeout);
    EXPECT_EQ(GetData(bench, 2), (Pull{-1, ""}));
    // Both answers to document 1's two commands came while document 2 waited
    // for them before its own command; they are document 1's next records.
    EXPECT_EQ(GetData(bench, 1), (Pull{1, "D1-0"}));
    EXPECT_EQ(GetData(bench, 1), (Pull{1, "D1-1"}));
    EXPECT_EQ(GetData(bench, 2), (Pull{1, "D2-0"}));
    EXPECT_EQ(GetData(bench, 2), (Pull{1, "D2-1"}));
    EXPECT_EQ(bench.line.WritesOf(kGdf1), 2);
    EXPECT_EQ(bench.line.WritesOf(kGdf2), 2);
}

TEST(LateReplies, TheAnswerToTheFinalRefusalIsHeldForItsDocumentNotTakenByTheNext) {
    LinkBench bench;
    const std::string bad = "#bad\x01\x02\r";
    bench.line.Reply(kGdf1, bad);
    for (int k = 1; k <= 3; ++k) bench.line.Reply(ScriptedReply{"NAK\r", bad, 20, 0, k});
    bench.line.Reply(ScriptedReply{"NAK\r", ReceivedLine("D1-0"), 20, 0, 4});
    bench.line.Reply(kGdf2, ReceivedLine("D2-0"));
    EXPECT_EQ(GetData(bench, 1), (Pull{-1, ""}));
    EXPECT_EQ(bench.state.result, code::kTransferError);
    EXPECT_EQ(bench.line.WritesOf("NAK\r"), 4);
    EXPECT_EQ(GetData(bench, 2), (Pull{1, "D2-0"}));
    const size_t writes = bench.line.Writes().size();
    EXPECT_EQ(GetData(bench, 1), (Pull{1, "D1-0"}));
    EXPECT_EQ(bench.line.Writes().size(), writes) << "a held record needs no command";
}

TEST(LateReplies, ADownloadAfterOneWhoseRefusalsWereAnsweredWithErrAsksTheTerminalAnew) {
    LinkBench bench;
    bench.line.Reply(ScriptedReply{kGdf1, "#bad\x01\x02\r", 20, 0, 1});
    bench.line.Reply(ScriptedReply{kGdf1, ReceivedLine("D1-1"), 20, 0, 2});
    bench.line.Reply("NAK\r", "ERR\r");
    EXPECT_EQ(GetData(bench, 1), (Pull{-1, ""}));
    EXPECT_EQ(bench.state.result, code::kTransferError);
    // The ERR owed for the last refusal is no record: the next download asks
    // with its command instead of refusing that ERR again.
    EXPECT_EQ(GetData(bench, 1), (Pull{1, "D1-1"}));
    EXPECT_EQ(bench.line.WritesOf(kGdf1), 2);
}

TEST(LateReplies, ALateAnswerToAQueryIsNotTheNextQuerysReply) {
    LinkBench bench;
    // The serial number comes 250 ms after each GSN, just before the ACK to
    // a PNG written at once after GSN gave up.
    bench.line.Reply("GSN\r", "SN42\r", 250);
    bench.line.Reply("PNG\r", "ACK\r", 60);
    EXPECT_EQ(bench.link.GetSerialNumber(), 0);
    EXPECT_EQ(bench.state.result, code::kTimeout);
    EXPECT_EQ(bench.link.PingTerminal(), 1);
    EXPECT_EQ(bench.state.data, "ACK");
}

TEST(LateReplies, AReplyThatNeverComesIsWaitedForAtMost400MsAfterItsCommand) {
    LinkBench bench;
    bench.line.Reply("PNG\r", "ACK\r", 20);
    EXPECT_EQ(bench.link.GetSerialNumber(), 0);  // GSN written at 0 and 100, never answered
    EXPECT_EQ(bench.clock.NowMs(), 200u);
    EXPECT_EQ(bench.link.PingTerminal(), 1);
    // The second GSN is given up at 100 + 400 ms; then PNG goes out.
    EXPECT_EQ(bench.line.Writes().back().bytes, "PNG\r");
    EXPECT_EQ(bench.line.Writes().back().atMs, 500u);
}

TEST(LateReplies, TheAnnouncementOfALoadIsNeverAnsweredByTheLateAckOfTheLastRecord) {
    LinkBench bench;
    const std::string record = SentLine("A\t");
    bench.line.Reply(ScriptedReply{"PDB2\r", "ACK\r", 20, 0, 1});
    // The first copy is acknowledged 450 ms late, after the second went out
    // (400 ms after the first, the count being unknown), and taken for the
    // second's answer; the terminal is then full.
    bench.line.Reply(ScriptedReply{record, "ACK\r", 450, 0, 1});
    bench.line.Reply(ScriptedReply{record, "FULL\r", 250, 0, 2});
    bench.line.Reply(ScriptedReply{"PDB2\r", "NAK\r", 20, 0, 2});
    bench.state.fields = {"A", "", "", "", "", ""};
    EXPECT_EQ(bench.link.PutDatabaseRecord(2), 1);
    EXPECT_EQ(bench.line.WritesOf(record), 2);
    bench.state.fields = {"A", "", "", "", "", ""};
    EXPECT_EQ(bench.link.PutDatabaseRecord(2), 0);
    EXPECT_EQ(bench.state.result, code::kCannotEnterLoadMode);
    EXPECT_EQ(bench.state.data, "NAK");
}

TEST(LateReplies, TheSecondAckToAnAnnouncementWrittenTwiceIsNotTheRecordsAcknowledgement) {
    LinkBench bench;
    bench.line.Reply("PDB2\r", "ACK\r", 120);  // written again at 100, answered at 220
    bench.state.fields = {"A", "", "", "", "", ""};
    EXPECT_EQ(bench.link.PutDatabaseRecord(2), 0) << "the record itself is never answered";
    EXPECT_EQ(bench.state.result, code::kTimeout);
    ASSERT_EQ(bench.line.WritesOf(SentLine("A\t")), 2);
    // (The count goes first, unanswered.)
    std::vector<uint64_t> announced, recorded;
    for (const fake::WriteRecord& write : bench.line.Writes()) {
        if (write.bytes == "PDB2\r") announced.push_back(write.atMs);
        if (write.bytes == SentLine("A\t")) recorded.push_back(write.atMs);
    }
    ASSERT_EQ(announced.size(), 2u);
    EXPECT_GE(recorded.front(), announced[1] + 120u) << "the record goes out after the second ACK";
}

// ---- Records handed out twice by the terminal are each handed out once.

TEST(OwedRecords, ATerminalAnsweringEveryCommand120MsLateYieldsEveryRecordOnceInOrder) {
    LinkBench bench;
    ScriptStore(bench.line, kGdf1, "R", 10, 120);
    std::vector<std::string> pulled;
    for (int call = 0; call < 20; ++call) {
        const Pull pull = GetData(bench, 1);
        ASSERT_NE(pull.returned, -1) << "call " << call;
        if (pull.returned == 0) break;
        pulled.push_back(pull.data);
    }
    EXPECT_EQ(pulled, (std::vector<std::string>{"R0", "R1", "R2", "R3", "R4", "R5", "R6", "R7", "R8", "R9"}));
    EXPECT_EQ(bench.state.result, code::kSuccess);
}

TEST(OwedRecords, ASecondRecordInTheSameReadIsTheNextDownloadWithoutACommand) {
    LinkBench bench;
    ScriptTwoAnswersInOneRead(bench.line, "R0", "R1");
    EXPECT_EQ(GetData(bench, 1), (Pull{1, "R0"}));
    EXPECT_EQ(bench.line.WritesOf(kGdf1), 2);
    EXPECT_EQ(GetData(bench, 1), (Pull{1, "R1"}));
    EXPECT_EQ(bench.line.WritesOf(kGdf1), 2);
}

TEST(OwedRecords, AnotherCommandFirstWaitsForTheRecordStillOwedAndHoldsIt) {
    LinkBench bench;
    bench.line.Reply(ScriptedReply{kGdf1, ReceivedLine("R0"), 120, 0, 1});
    bench.line.Reply(ScriptedReply{kGdf1, ReceivedLine("R1"), 120, 0, 2});
    bench.line.Reply("PNG\r", "ACK\r", 20);
    EXPECT_EQ(GetData(bench, 1), (Pull{1, "R0"}));
    EXPECT_EQ(bench.link.PingTerminal(), 1);
    EXPECT_EQ(bench.state.data, "ACK");
    EXPECT_EQ(GetData(bench, 1), (Pull{1, "R1"}));
    EXPECT_EQ(bench.line.WritesOf(kGdf1), 2);
}

TEST(OwedRecords, ARecordAskedForAgainTwiceIsHandedOutOnce) {
    LinkBench bench;
    // A refused line, then silence: the NAK goes out again at the second
    // time-out, and the terminal answers both NAKs with the same record.
    bench.line.Reply(kGdf1, "#bad\x01\x02\r");
    bench.line.Reply("NAK\r", ReceivedLine("R0"), 120);
    bench.line.Reply(ScriptedReply{kGdf1, ReceivedLine("R1"), 20, 0, 2});
    EXPECT_EQ(GetData(bench, 1), (Pull{1, "R0"}));
    EXPECT_EQ(bench.line.WritesOf("NAK\r"), 2);
    EXPECT_EQ(GetData(bench, 1), (Pull{1, "R1"}));
}

TEST(OwedRecords, ARecordComingInWhenALostCommandIsGivenUpIsHeldWhole) {
    LinkBench bench;
    // The first command is lost; the second, written at 100, is answered from
    // 380 on, a byte every 10 ms: the record is coming in when the first
    // command's 400 ms are over.
    bench.line.Reply(ScriptedReply{kGdf1, ReceivedLine("R0"), 280, 10, 0, 1});
    bench.line.Reply("GDB1\r", ReceivedLine("B1-0"));
    EXPECT_EQ(GetData(bench, 1), (Pull{-1, ""}));
    bench.clock.Sleep(205);  // the next call starts at 405 ms
    EXPECT_EQ(GetRecord(bench, 1), (Pull{1, "B1-0"}));
    EXPECT_EQ(GetData(bench, 1), (Pull{1, "R0"}));
}

TEST(OwedRecords, HeldRecordsGoOnlyToTheirOwnStore) {
    LinkBench bench;
    ScriptTwoAnswersInOneRead(bench.line, "D1-0", "D1-1");
    bench.line.Reply(kGdf2, ReceivedLine("D2-0"));
    bench.line.Reply("GDB1\r", ReceivedLine("B1-0"));
    EXPECT_EQ(GetData(bench, 1), (Pull{1, "D1-0"}));
    EXPECT_EQ(GetData(bench, 2), (Pull{1, "D2-0"}));
    EXPECT_EQ(GetRecord(bench, 1), (Pull{1, "B1-0"}));
    EXPECT_EQ(GetData(bench, 1), (Pull{1, "D1-1"}));
}

TEST(OwedRecords, ClearingADocumentDropsTheRecordsHeldForIt) {
    LinkBench bench;
    ScriptTwoAnswersInOneRead(bench.line, "R0", "R1");
    bench.line.Reply("CDC1\r", "OK\r");
    EXPECT_EQ(GetData(bench, 1), (Pull{1, "R0"}));
    EXPECT_EQ(bench.link.ClearDocument(1), 1);
    EXPECT_EQ(GetData(bench, 1), (Pull{0, ""}));
}

// Database 3 of a terminal, empty at first, on a line that garbles what the
// terminal sends for a download until the test says otherwise (its end of
// the records comes as a line that is no record and no OVER); the load
// dialogue answers as the simulator does, and a load adds to the records.
class Database3 {
public:
    explicit Database3(LinkBench& bench) : bench_(bench) {
        bench_.line.onWrite = [this](const std::string& bytes) { Heard(bytes); };
    }
    bool garbling = true;

private:
    void Heard(const std::string& bytes) {
        std::string reply = "ERR\r";
        const bool nak = bytes == "NAK\r";
        if (!nak && pending_) place_ = *pending_ + 1;
        if (!nak) pending_.reset();
        if (nak) {
            reply = last_;
        } else if (bytes == "GDB3\r") {
            if (place_ < records_) pending_ = place_;
            reply = pending_ ? ReceivedLine("B3-" + std::to_string(*pending_)) : "OVER\r";
        } else if (bytes == "GRC3\r") {
            reply = std::to_string(records_) + "\r";
        } else if (bytes == "PDB3\r" || bytes == "OVER\r") {
            reply = "ACK\r";
        } else if (bytes == "CDB3\r") {
            records_ = place_ = 0;
            reply = "OK\r";
        } else if (bytes.find('\t') != std::string::npos) {
            ++records_;
            reply = "ACK\r";
        }
        last_ = reply;
        const bool download = nak || bytes == "GDB3\r";
        bench_.line.QueueAt(bench_.clock.NowMs() + 20, garbling && download ? "#bad\x01\x02\r" : reply);
    }

    LinkBench& bench_;
    int records_ = 0;
    int place_ = 0;
    std::optional<int> pending_;
    std::string last_ = "ERR\r";
};

struct KeptDroppedCase {
    const char* sentence;
    std::function<void(LinkBench&)> then;
    std::vector<Pull> pulled;  // GetRecord(3) after it, to the end
};

void LoadTwo(LinkBench& bench) {
    for (const char* row : {"L0", "L1"}) {
        bench.state.fields = {row, "", "", "", "", ""};
        EXPECT_EQ(bench.link.PutDatabaseRecord(3), 1) << row;
    }
}

const KeptDroppedCase kKeptDropped[] = {
    {"a load into the database", LoadTwo, {{1, "B3-0"}, {1, "B3-1"}, {0, "B3-1"}}},
    {"a load into the database, ended with Finish",
     [](LinkBench& bench) {
         LoadTwo(bench);
         EXPECT_EQ(bench.link.FinishLoad(), 1);
     },
     {{1, "B3-0"}, {1, "B3-1"}, {0, "B3-1"}}},
    {"the database cleared", [](LinkBench& bench) { EXPECT_EQ(bench.link.ClearTerminalDatabase(3), 1); },
     {{0, "OK"}}},
};

TEST(OwedRecords, WhatADownloadKeptForADatabaseGoesWithALoadIntoItOrAClearing) {
    for (const KeptDroppedCase& c : kKeptDropped) {
        for (const Pace pace : {Pace::Standard, Pace::Fast}) {
            const std::string context = std::string(pace == Pace::Fast ? "fast: " : "standard: ") + c.sentence;
            LinkBench bench(true, pace);
            Database3 terminal(bench);
            // Every line garbled: the download gives up, what it refused
            // kept for the next download of database 3.
            EXPECT_EQ(GetRecord(bench, 3).returned, -1) << context;
            terminal.garbling = false;
            c.then(bench);
            const size_t writes = bench.line.Writes().size();
            std::vector<Pull> pulled;
            for (size_t call = 0; call < c.pulled.size(); ++call) {
                pulled.push_back(GetRecord(bench, 3));
                EXPECT_EQ(bench.state.result, code::kSuccess) << context << ", call " << call;
            }
            EXPECT_EQ(pulled, c.pulled) << context;
            ASSERT_GT(bench.line.Writes().size(), writes) << context;
            EXPECT_EQ(bench.line.Writes()[writes].bytes, "GDB3\r") << context << ": asked anew, not with NAK";
        }
    }
}

TEST(OwedRecords, AttachingAnewToTheSamePortKeepsHeldRecordsAndAnotherPortDropsThem) {
    for (const int32_t port : {0, 1}) {
        LinkBench bench;
        ScriptTwoAnswersInOneRead(bench.line, "R0", "R1");
        EXPECT_EQ(GetData(bench, 1), (Pull{1, "R0"}));
        bench.link.ClosePort();
        bench.link.OpenPort(ConnectionSettings{port, 0, 0});
        EXPECT_EQ(GetData(bench, 1), (port == 0 ? Pull{1, "R1"} : Pull{0, ""})) << "port index " << port;
    }
}

TEST(LateReplies, AReplyStillOwedWhenThePortIsOpenedAnewDoesNotAnswerTheNextCommand) {
    LinkBench bench;
    bench.line.Reply("GSN\r", "SN42\r", 250);
    bench.line.Reply("GCS\r", "READY\r", 60);
    EXPECT_EQ(bench.link.GetSerialNumber(), 0);
    bench.link.OpenPort(ConnectionSettings{});
    EXPECT_EQ(bench.link.GetCurrentState(), 1);
    EXPECT_EQ(bench.state.data, "READY");
}

// ---- Uploads store each record once.

struct LateAckCase {
    uint32_t ackDelayMs;
    int copies;
};

TEST(Upload, ATerminalAcknowledgingUpTo150MsLateGetsTheRecordOnce) {
    for (const LateAckCase& c : {LateAckCase{20, 1}, LateAckCase{70, 1}, LateAckCase{150, 1}}) {
        LinkBench bench;
        const std::string record = SentLine("A\t");
        bench.line.Reply("PDB2\r", "ACK\r");
        bench.line.Reply(record, "ACK\r", c.ackDelayMs);
        bench.state.fields = {"A", "", "", "", "", ""};
        EXPECT_EQ(bench.link.PutDatabaseRecord(2), 1) << c.ackDelayMs << " ms";
        EXPECT_EQ(bench.state.result, code::kSuccess) << c.ackDelayMs << " ms";
        EXPECT_EQ(bench.line.WritesOf(record), c.copies) << c.ackDelayMs << " ms";
    }
}

TEST(Upload, ARefusalOfACopyWhileAnotherIsOnItsWayWaitsForThatOne) {
    LinkBench bench;
    const std::string record = SentLine("A\t");
    bench.line.Reply("PDB2\r", "ACK\r");
    bench.line.Reply(ScriptedReply{record, "NAK\r", 230, 0, 1});
    bench.line.Reply(ScriptedReply{record, "ACK\r", 230, 0, 2});
    bench.state.fields = {"A", "", "", "", "", ""};
    EXPECT_EQ(bench.link.PutDatabaseRecord(2), 1);
    EXPECT_EQ(bench.line.WritesOf(record), 2);
}

TEST(Upload, TwoRefusalsOfOneCopySendOneMoreCopyAtEitherPace) {
    // A line cut in two by noise on its way is refused twice; the second
    // refusal comes before the next copy goes out, so it is not that copy's
    // answer and calls for no third copy: whether both refusals come in one
    // read or, at the fast pace, in two.
    const struct {
        Pace pace;
        uint32_t gapMs;  // between the bytes of the refusals
    } cases[] = {{Pace::Standard, 0}, {Pace::Fast, 0}, {Pace::Fast, 1}, {Pace::Standard, 1}};
    for (const auto& c : cases) {
        LinkBench bench(true, c.pace);
        const std::string record = SentLine("A\t");
        bench.line.Reply("PDB2\r", "ACK\r");
        bench.line.Reply(ScriptedReply{record, "NAK\rNAK\r", 20, c.gapMs, 1});
        bench.line.Reply(ScriptedReply{record, "ACK\r", 20, 0, 2});
        bench.state.fields = {"A", "", "", "", "", ""};
        EXPECT_EQ(bench.link.PutDatabaseRecord(2), 1) << c.gapMs;
        EXPECT_EQ(bench.state.result, code::kSuccess) << c.gapMs;
        EXPECT_EQ(bench.line.WritesOf(record), 2) << (c.pace == Pace::Fast ? "fast, gap " : "standard, gap ")
                                                  << c.gapMs;
    }
}

// ---- A record holding a NUL byte.

TEST(Download, ARecordHoldingANulIsRefusedAndItsGoodResendTaken) {
    LinkBench bench;
    // 23 41 42 00 43 44 2c 45 46 e4 01: "AB", NUL, "CD,EF" with its checksum.
    const std::string withNul = ReceivedLine(std::string("AB\0CD,EF", 8));
    ASSERT_EQ(withNul, std::string("\x23\x41\x42\x00\x43\x44\x2c\x45\x46\xe4\x01\x0d", 12));
    bench.line.Reply(kGdf1, withNul);
    bench.line.Reply("NAK\r", ReceivedLine("AB-CD,EF"));
    EXPECT_EQ(GetData(bench, 1), (Pull{1, "AB-CD,EF"}));
    EXPECT_EQ(bench.line.WritesOf("NAK\r"), 1);
}

TEST(Download, ARecordThatKeepsItsNulFailsWithCode9AndNoFieldIsTouched) {
    LinkBench bench;
    bench.state.fields = {"1", "2", "3", "4", "5", "6"};
    const std::string withNul = ReceivedLine(std::string("AB\0CD,EF", 8));
    bench.line.Reply(kGdf1, withNul);
    bench.line.Reply("NAK\r", withNul);
    EXPECT_EQ(GetData(bench, 1), (Pull{-1, ""}));
    EXPECT_EQ(bench.state.result, code::kTransferError);
    EXPECT_EQ(bench.state.fields[0], "1");
    EXPECT_EQ(bench.state.fields[1], "2");
}

// ---- Every operation ends in bounded time whatever the line sends.

struct FloodCase {
    const char* sentence;
    std::string unit;  // sent again and again, 10 ms apart, for a minute
};

TEST(Flood, EveryOperationEndsWithin5SecondsOfReceivingWithCode8) {
    const FloodCase floods[] = {
        {"bytes without a CR", "x"},
        {"ACK lines", "ACK\r"},
        {"refusals of a load", "NAK\r"},
    };
    struct Operation {
        const char* name;
        int32_t (*run)(TerminalLink&);
        int32_t failure;
    };
    const Operation operations[] = {
        {"Ping", [](TerminalLink& l) { return l.PingTerminal(); }, 0},
        {"GetData", [](TerminalLink& l) { return l.GetDocumentRecord(1); }, -1},
        {"GetRecord", [](TerminalLink& l) { return l.GetDatabaseRecord(1); }, -1},
        {"PutRecord", [](TerminalLink& l) { return l.PutDatabaseRecord(1); }, 0},
    };
    for (const FloodCase& flood : floods) {
        for (const Operation& op : operations) {
            LinkBench bench;
            bench.line.Reply("PDB1\r", "ACK\r");
            std::string stream;
            for (int i = 0; i < 6000; ++i) stream += flood.unit;
            bench.line.QueueAt(0, stream, 10 / static_cast<uint32_t>(flood.unit.size()));
            bench.state.fields = {"A", "", "", "", "", ""};
            EXPECT_EQ(op.run(bench.link), op.failure) << op.name << ", " << flood.sentence;
            // The announcement of a load may take its own 5 s first.
            EXPECT_LE(bench.clock.NowMs(), 2 * (5000u + 100u)) << op.name << ", " << flood.sentence;
        }
    }
}

TEST(Flood, AStreamWithoutACrEndsAnExchangeAt5SecondsWithCode8) {
    LinkBench bench;
    bench.line.QueueAt(10, std::string(10000, 'x'), 10);
    EXPECT_EQ(bench.link.PingTerminal(), 0);
    EXPECT_EQ(bench.state.result, code::kTimeout);
    EXPECT_GE(bench.clock.NowMs(), 5000u);
    EXPECT_LE(bench.clock.NowMs(), 5100u);
}

TEST(Flood, AStreamOfAckLinesEndsADownloadAt5SecondsWithCode8) {
    LinkBench bench;
    std::string acks;
    for (int i = 0; i < 1000; ++i) acks += "ACK\r";
    bench.line.QueueAt(10, acks, 10);
    EXPECT_EQ(bench.link.GetDocumentRecord(1), -1);
    EXPECT_EQ(bench.state.result, code::kTimeout);
    EXPECT_LE(bench.clock.NowMs(), 5100u);
}

// ---- The fake line's purges behave as PurgeComm's flags do on Windows.

TEST(FakeLine, AbortingPendingIoKeepsQueuedInputAndClearingDiscardsIt) {
    LinkBench bench;
    bench.line.QueueAt(0, "ACK\r");
    bench.line.AbortPending();
    EXPECT_EQ(bench.line.QueuedCount(), 4u);
    bench.line.DiscardQueues();
    EXPECT_EQ(bench.line.QueuedCount(), 0u);
}

}  // namespace
}  // namespace quill
