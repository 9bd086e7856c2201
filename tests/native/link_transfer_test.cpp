// Records between terminal and component: downloads with their checksums,
// refusals and control lines; the upload of a record; the end of a load.

#include <array>
#include <functional>

#include <gtest/gtest.h>

#include "core/result_codes.h"
#include "fake_line.h"
#include "record_lines.h"

namespace quill {
namespace {

using fake::ForcedWait;
using fake::ReceivedLine;
using fake::SentLine;
using fake::LinkBench;
using fake::ScriptedReply;

using Fields = std::array<std::string, kFieldCount>;

// ---- Downloads.

struct Download {
    const char* name;
    std::function<int32_t(TerminalLink&, int32_t)> run;
    const char* letters;
    int32_t number;
    std::string Command() const { return letters + std::to_string(number) + "\r"; }
    int32_t Run(LinkBench& bench) const { return run(bench.link, number); }
};

const Download kGetData{"GetData", [](TerminalLink& l, int32_t n) { return l.GetDocumentRecord(n); }, "GDF",
                        3};
const Download kGetRecord{"GetRecord", [](TerminalLink& l, int32_t n) { return l.GetDatabaseRecord(n); },
                          "GDB", 1};
const Download kDownloads[] = {kGetData, kGetRecord};

void ExpectFields(const ComponentState& state, const Fields& expected, const char* context) {
    for (int i = 0; i < kFieldCount; ++i) EXPECT_EQ(state.fields[i], expected[i]) << context << " field " << i + 1;
}

TEST(Download, AGoodRecordLineFillsDataAndTheFieldsInOneExchange) {
    for (const Download& d : kDownloads) {
        LinkBench bench;
        bench.state.fields[5] = "stale";
        bench.line.Reply(d.Command(), ReceivedLine("123,ABC,5"));
        EXPECT_EQ(d.Run(bench), 1) << d.name;
        EXPECT_EQ(bench.state.result, code::kSuccess) << d.name;
        EXPECT_EQ(bench.state.data, "123,ABC,5") << d.name;
        ExpectFields(bench.state, {"123", "ABC", "5", "", "", ""}, d.name);
        EXPECT_EQ(bench.line.WrittenTexts(), std::vector<std::string>{d.Command()}) << d.name;
        EXPECT_EQ(bench.line.AbortCount(), 1) << d.name;
        EXPECT_EQ(bench.clock.NowMs(), 70u) << d.name;
    }
}

struct RecordCase {
    const char* sentence;
    std::string line;
    std::string data;
    Fields fields;
};

TEST(Download, RecordTextsAndTheirFields) {
    const std::string lowCr = ReceivedLine("A", '\xCC');             // sum 0x010D
    const std::string highCr = ReceivedLine(std::string(27, 'z'), 'c');  // sum 0x0D41
    ASSERT_EQ(lowCr[lowCr.size() - 3], '\x0E');
    ASSERT_EQ(highCr[highCr.size() - 2], '\x0E');
    const RecordCase cases[] = {
        {"seven commas fill six fields; the rest is only in Data", ReceivedLine("a,b,c,d,e,f,g,h"),
         "a,b,c,d,e,f,g,h", {"a", "b", "c", "d", "e", "f"}},
        {"empty fields between commas stay empty", ReceivedLine(",x,,y"), ",x,,y", {"", "x", "", "y", "", ""}},
        {"a line of three bytes is an empty record", ReceivedLine(""), "", {"", "", "", "", "", ""}},
        {"a checksum low byte of CR arrives as 0x0E", lowCr, "A", {"A", "", "", "", "", ""}},
        {"a checksum high byte of CR arrives as 0x0E", highCr, std::string(27, 'z'),
         {std::string(27, 'z'), "", "", "", "", ""}},
        {"the longest line that fits: 255 bytes before the CR", ReceivedLine(std::string(252, 'q')),
         std::string(252, 'q'), {std::string(252, 'q'), "", "", "", "", ""}},
    };
    for (const RecordCase& c : cases) {
        LinkBench bench;
        bench.state.fields = {"1", "2", "3", "4", "5", "6"};
        bench.line.Reply(kGetData.Command(), c.line);
        EXPECT_EQ(kGetData.Run(bench), 1) << c.sentence;
        EXPECT_EQ(bench.state.data, c.data) << c.sentence;
        ExpectFields(bench.state, c.fields, c.sentence);
    }
}

TEST(Download, ABadChecksumIsAnsweredWithNakAndAGoodLineInTheSameReadIsTaken) {
    LinkBench bench;
    std::string bad = ReceivedLine("BAD,1");
    bad[bad.size() - 2] ^= 0x01;
    bench.line.Reply(kGetData.Command(), bad + ReceivedLine("GOOD,2"));
    EXPECT_EQ(kGetData.Run(bench), 1);
    EXPECT_EQ(bench.state.result, code::kSuccess);
    EXPECT_EQ(bench.state.data, "GOOD,2");
    EXPECT_EQ(bench.line.WrittenTexts(), (std::vector<std::string>{kGetData.Command(), "NAK\r"}));
}

TEST(Download, AnAckLineIsDroppedAndTheRecordInTheNextReadIsTaken) {
    LinkBench bench;
    bench.line.Reply(kGetData.Command(), "ACK\r", 20);
    bench.line.QueueAt(90, ReceivedLine("R,1"));
    EXPECT_EQ(kGetData.Run(bench), 1);
    EXPECT_EQ(bench.state.data, "R,1");
    EXPECT_EQ(bench.clock.NowMs(), 140u);
}

TEST(Download, WhatFollowsAckOnItsLineStartsTheNextLine) {
    LinkBench bench;
    const std::string record = ReceivedLine("RECORD,1");
    ASSERT_EQ(record.find('\0'), std::string::npos);  // what follows ACK ends at a NUL
    // ACK and the record share a line; the next CR completes the record.
    bench.line.Reply(kGetData.Command(), "ACK" + record + "\r");
    EXPECT_EQ(kGetData.Run(bench), 1);
    EXPECT_EQ(bench.state.data, "RECORD,1");
    EXPECT_EQ(bench.line.WrittenTexts(), std::vector<std::string>{kGetData.Command()});
}

TEST(Download, AckFollowedByOverOnOneLineEndsTheDocumentWithCode0) {
    for (const Download& d : kDownloads) {
        LinkBench bench;
        bench.line.Reply(d.Command(), "ACKOVER\r");
        EXPECT_EQ(d.Run(bench), 0) << d.name;
        EXPECT_EQ(bench.state.result, code::kSuccess) << d.name;
    }
}

struct EndCase {
    Download download;
    const char* dataAfter;
};

TEST(Download, OverEndsWithCode0AndKeepsThePreviousFieldsButOnlyGetRecordKeepsData) {
    for (const EndCase& c : {EndCase{kGetData, ""}, EndCase{kGetRecord, "previous"}}) {
        LinkBench bench;
        bench.state.data = "previous";
        bench.state.fields = {"1", "2", "3", "4", "5", "6"};
        bench.line.Reply(c.download.Command(), "OVER\r");
        EXPECT_EQ(c.download.Run(bench), 0) << c.download.name;
        EXPECT_EQ(bench.state.result, code::kSuccess) << c.download.name;
        EXPECT_EQ(bench.state.data, c.dataAfter) << c.download.name;
        ExpectFields(bench.state, {"1", "2", "3", "4", "5", "6"}, c.download.name);
    }
}

TEST(Download, ASilentTerminalGetsTheCommandAgainAtTheSecondTimeoutAndFailsAtTheFourthWithCode8) {
    for (const Download& d : kDownloads) {
        LinkBench bench;
        EXPECT_EQ(d.Run(bench), -1) << d.name;
        EXPECT_EQ(bench.state.result, code::kTimeout) << d.name;
        ASSERT_EQ(bench.line.Writes().size(), 2u) << d.name;
        EXPECT_EQ(bench.line.Writes()[1].bytes, d.Command()) << d.name;
        EXPECT_EQ(bench.line.Writes()[1].atMs, 100u) << d.name;
        EXPECT_EQ(bench.clock.NowMs(), 200u) << d.name;
    }
}

struct GivingUpCase {
    Download download;
    int32_t code;
};

TEST(Download, WhenTheLastAttemptIsARefusedChecksumGetDataLeaves9AndGetRecord8) {
    for (const GivingUpCase& c : {GivingUpCase{kGetData, 9}, GivingUpCase{kGetRecord, 8}}) {
        LinkBench bench;
        // A time-out, then three bad lines, each refused.
        bench.line.Reply(c.download.Command(), "#bad\x01\x02\r", 70);
        bench.line.Reply("NAK\r", "#bad\x01\x02\r");
        EXPECT_EQ(c.download.Run(bench), -1) << c.download.name;
        EXPECT_EQ(bench.state.result, c.code) << c.download.name;
        EXPECT_EQ(bench.line.WritesOf("NAK\r"), 3) << c.download.name;
    }
}

TEST(Download, ATimeoutAfterARefusalResendsTheRefusal) {
    LinkBench bench;
    bench.line.Reply(kGetData.Command(), "#bad\x01\x02\r");
    EXPECT_EQ(kGetData.Run(bench), -1);
    EXPECT_EQ(bench.line.WrittenTexts(), (std::vector<std::string>{kGetData.Command(), "NAK\r", "NAK\r"}));
    EXPECT_EQ(bench.state.result, code::kTimeout);
}

TEST(Download, ALineFailingItsChecksumNeverReachesDataOrTheFields) {
    LinkBench bench;
    bench.state.fields = {"1", "2", "3", "4", "5", "6"};
    std::string bad = ReceivedLine("X,Y");
    bad[bad.size() - 3] ^= 0x40;
    bench.line.Reply(kGetData.Command(), bad + bad + bad + bad);
    EXPECT_EQ(kGetData.Run(bench), -1);
    EXPECT_EQ(bench.state.result, code::kTransferError);
    EXPECT_EQ(bench.state.data, "");
    ExpectFields(bench.state, {"1", "2", "3", "4", "5", "6"}, "after four refusals");
}

struct RangeCase {
    Download download;
    int32_t number;
    int32_t code;
};

TEST(Download, ANumberOutOfRangeFailsWithoutSending) {
    const RangeCase cases[] = {
        {kGetData, -1, code::kDataTooShort}, {kGetData, 10, code::kDataTooLong},
        {kGetRecord, 0, code::kDataTooShort}, {kGetRecord, 4, code::kDataTooLong},
    };
    for (const RangeCase& c : cases) {
        LinkBench bench;
        EXPECT_EQ(c.download.run(bench.link, c.number), -1) << c.download.name << " " << c.number;
        EXPECT_EQ(bench.state.result, c.code) << c.download.name << " " << c.number;
        EXPECT_TRUE(bench.line.Writes().empty());
    }
}

TEST(Download, NumbersAtTheEdgesOfTheRangeAreSent) {
    const RangeCase cases[] = {{kGetData, 0, 0}, {kGetData, 9, 0}, {kGetRecord, 1, 0}, {kGetRecord, 3, 0}};
    for (const RangeCase& c : cases) {
        LinkBench bench;
        c.download.run(bench.link, c.number);
        ASSERT_FALSE(bench.line.Writes().empty()) << c.download.name << " " << c.number;
        EXPECT_EQ(bench.line.Writes()[0].bytes, c.download.letters + std::to_string(c.number) + "\r");
    }
}

TEST(Download, WithThePortClosedFailsWithCode1) {
    for (const Download& d : kDownloads) {
        LinkBench bench(false);
        EXPECT_EQ(d.Run(bench), -1) << d.name;
        EXPECT_EQ(bench.state.result, code::kPortNotInitialised) << d.name;
        EXPECT_TRUE(bench.line.Writes().empty()) << d.name;
    }
}

// ---- Input a download must refuse or read in parts.

struct CorruptCase {
    const char* sentence;
    std::string line;
};

TEST(Download, LinesTooShortOrTooLongAreRefusedLikeABadChecksum) {
    const CorruptCase cases[] = {
        {"a CR alone", "\r"},
        {"two bytes", "#A\r"},
        {"256 bytes before the CR, checksum right", ReceivedLine(std::string(253, 'q'))},
        {"far more than a line holds", std::string(1000, 'q') + "\r"},
        {"a good 255-byte line with one more byte before its CR",
         ReceivedLine(std::string(252, 'q')).substr(0, 255) + "x\r"},
    };
    for (const CorruptCase& c : cases) {
        LinkBench bench;
        bench.state.fields = {"1", "2", "3", "4", "5", "6"};
        bench.line.Reply(kGetData.Command(), c.line + c.line + c.line + c.line);
        EXPECT_EQ(kGetData.Run(bench), -1) << c.sentence;
        EXPECT_EQ(bench.state.result, code::kTransferError) << c.sentence;
        EXPECT_EQ(bench.line.WritesOf("NAK\r"), 4) << c.sentence;
        ExpectFields(bench.state, {"1", "2", "3", "4", "5", "6"}, c.sentence);
    }
}

TEST(Download, ARefusedOverlongLineDoesNotSpillIntoTheNextLine) {
    LinkBench bench;
    bench.line.Reply(kGetData.Command(), std::string(600, 'q') + "\r" + ReceivedLine("OK,1"));
    EXPECT_EQ(kGetData.Run(bench), 1);
    EXPECT_EQ(bench.state.data, "OK,1");
    EXPECT_EQ(bench.line.WritesOf("NAK\r"), 1);
}

TEST(Download, ARecordStraddlingTwoReadsOfOneArrivalIsTakenInOnePass) {
    LinkBench bench;
    const std::string text(247, 'r');
    bench.line.Reply(kGetData.Command(), "ACK\rACK\rACK\rACK\r" + ReceivedLine(text), 20);
    EXPECT_EQ(kGetData.Run(bench), 1);
    EXPECT_EQ(bench.state.data, text);
    EXPECT_EQ(bench.clock.NowMs(), 70u);
}

TEST(Download, AFailedWaitEndsTheDownloadAtOnceWithCode5) {
    for (const Download& d : kDownloads) {
        LinkBench bench;
        bench.line.ForceWaits({ForcedWait::Failed});
        EXPECT_EQ(d.Run(bench), -1) << d.name;
        EXPECT_EQ(bench.state.result, code::kPortError) << d.name;
        EXPECT_EQ(bench.clock.NowMs(), 0u) << d.name;
    }
}

TEST(Download, FourSignalsInARowWithNothingQueuedEndTheDownloadAsATimeout) {
    const auto empty = ForcedWait::ReceivedEmpty;
    for (const Download& d : kDownloads) {
        LinkBench bench;
        bench.line.ForceWaits({empty, empty, empty, empty});
        EXPECT_EQ(d.Run(bench), -1) << d.name;
        EXPECT_EQ(bench.state.result, code::kTimeout) << d.name;
        EXPECT_EQ(bench.clock.NowMs(), 200u) << d.name;
    }
}

// ---- Upload.

const std::string kCount2 = "GRC2\r";
const std::string kAnnounce2 = "PDB2\r";

// A terminal that counts database 2 empty and takes its announcement.
LinkBench& Announced(LinkBench& bench) {
    bench.line.Reply(kCount2, "0\r");
    bench.line.Reply(kAnnounce2, "ACK\r");
    return bench;
}

TEST(Upload, FieldsAreJoinedWithTabsSkippingEmptyOnesAndSentWithTheirChecksumHighByteFirst) {
    LinkBench bench;
    Announced(bench);
    bench.state.fields = {"A", "", "B", "", "", ""};
    const std::string record = std::string("A\tB\t") + '\x00' + '\x95' + "\r";
    bench.line.Reply(record, "ACK\r");
    EXPECT_EQ(bench.link.PutDatabaseRecord(2), 1);
    EXPECT_EQ(bench.state.result, code::kSuccess);
    EXPECT_EQ(bench.state.data, "ACK");
    // The database's count first, read twice after the attach.
    EXPECT_EQ(bench.line.WrittenTexts(), (std::vector<std::string>{kCount2, kCount2, kAnnounce2, record}));
    EXPECT_TRUE(bench.line.Writes()[3].drained);
    EXPECT_EQ(bench.line.AbortCount(), 4);
}

struct SentCase {
    const char* sentence;
    Fields fields;
    std::string sent;
};

TEST(Upload, TheSentRecordLine) {
    const std::string lowCr(1, '\x0D' - 9);  // with its TAB the sum is 0x000D
    const SentCase cases[] = {
        {"a record with only Field2 is that field and a TAB", {"", "A", "", "", "", ""}, SentLine("A\t")},
        {"LF bytes are left out", {"a\nb", "c\nd", "", "", "", ""}, SentLine("ab\tcd\t")},
        {"a checksum byte of CR goes out as 0x0E", {lowCr, "", "", "", "", ""},
         lowCr + "\t" + '\x00' + '\x0E' + "\r"},
        {"252 bytes of text fit the line", {std::string(251, 'w'), "", "", "", "", ""},
         SentLine(std::string(251, 'w') + "\t")},
        {"the limit counts the text without its LF bytes", {std::string(251, 'w') + "\n", "", "", "", "", ""},
         SentLine(std::string(251, 'w') + "\t")},
    };
    for (const SentCase& c : cases) {
        LinkBench bench;
        Announced(bench);
        bench.state.fields = c.fields;
        bench.line.Reply(c.sent, "ACK\r");
        EXPECT_EQ(bench.link.PutDatabaseRecord(2), 1) << c.sentence;
        ASSERT_EQ(bench.line.Writes().size(), 4u) << c.sentence;
        EXPECT_EQ(bench.line.Writes()[3].bytes, c.sent) << c.sentence;
    }
}

TEST(Upload, AllFieldsEmptyLeaveCode26WithoutTouchingThePortOpenOrClosed) {
    for (bool open : {true, false}) {
        LinkBench bench(open);
        bench.state.data = "old";
        EXPECT_EQ(bench.link.PutDatabaseRecord(2), 0) << (open ? "open" : "closed");
        EXPECT_EQ(bench.state.result, code::kNoDataToSend);
        EXPECT_EQ(bench.state.data, "");
        EXPECT_TRUE(bench.line.Writes().empty());
        EXPECT_EQ(bench.line.AbortCount(), 0);
    }
}

TEST(Upload, RecordsTheLineCannotCarryAreRefusedBeforeAnythingIsSent) {
    const struct {
        const char* sentence;
        std::array<std::string, 6> fields;
        int32_t result;
    } cases[] = {
        {"a record text over 252 bytes leaves code 7", {std::string(252, 'w'), "", "", "", "", ""},
         code::kDataTooLong},
        // The terminal would end the record line at that CR and take a piece
        // of the record for the whole.
        {"a CR inside a field leaves code 9", {"12\r34", "B", "", "", "", ""}, code::kTransferError},
    };
    for (const auto& c : cases) {
        LinkBench bench;
        Announced(bench);
        bench.state.fields = c.fields;
        EXPECT_EQ(bench.link.PutDatabaseRecord(2), 0) << c.sentence;
        EXPECT_EQ(bench.state.result, c.result) << c.sentence;
        EXPECT_TRUE(bench.line.Writes().empty()) << c.sentence;
    }
}

TEST(Upload, WithThePortClosedARecordLeavesCode1) {
    LinkBench bench(false);
    bench.state.fields = {"A", "", "", "", "", ""};
    EXPECT_EQ(bench.link.PutDatabaseRecord(2), 0);
    EXPECT_EQ(bench.state.result, code::kPortNotInitialised);
    EXPECT_TRUE(bench.line.Writes().empty());
}

TEST(Upload, DatabaseNumbersOutsideZeroToThreeAreRefused) {
    const std::pair<int32_t, int32_t> cases[] = {{-1, code::kDataTooShort}, {4, code::kDataTooLong}};
    for (const auto& [number, expected] : cases) {
        LinkBench bench;
        bench.state.fields = {"A", "", "", "", "", ""};
        EXPECT_EQ(bench.link.PutDatabaseRecord(number), 0) << number;
        EXPECT_EQ(bench.state.result, expected) << number;
        EXPECT_TRUE(bench.line.Writes().empty()) << number;
    }
    LinkBench bench;
    bench.state.fields = {"A", "", "", "", "", ""};
    bench.link.PutDatabaseRecord(0);
    ASSERT_FALSE(bench.line.Writes().empty());
    EXPECT_EQ(bench.line.Writes()[0].bytes, "PDB0\r");
}

TEST(Upload, AnAnnouncementNotAnsweredWithAckLeavesCode19AndTheRecordUnsent) {
    for (const char* reply : std::initializer_list<const char*>{"NAK\r", "OK\r", nullptr}) {
        LinkBench bench;
        if (reply) bench.line.Reply(kAnnounce2, reply);
        bench.state.fields = {"A", "", "", "", "", ""};
        EXPECT_EQ(bench.link.PutDatabaseRecord(2), 0);
        EXPECT_EQ(bench.state.result, code::kCannotEnterLoadMode);
        EXPECT_EQ(bench.line.WritesOf(kCount2) + bench.line.WritesOf(kAnnounce2),
                  static_cast<int>(bench.line.Writes().size()));
    }
}

TEST(Upload, ATerminalThatIsFullLeavesCode27) {
    LinkBench bench;
    Announced(bench);
    bench.state.fields = {"A", "", "", "", "", ""};
    bench.line.Reply(SentLine("A\t"), "FULL\r");
    EXPECT_EQ(bench.link.PutDatabaseRecord(2), 0);
    EXPECT_EQ(bench.state.result, code::kMemoryFull);
}

TEST(Upload, ATerminalFallingSilentAfterTheAnnouncementGetsTheRecordTwiceEachCopyWithFourWaits) {
    LinkBench bench;
    Announced(bench);
    bench.state.fields = {"A", "", "", "", "", ""};
    const std::string record = SentLine("A\t");
    EXPECT_EQ(bench.link.PutDatabaseRecord(2), 0);
    EXPECT_EQ(bench.state.result, code::kTimeout);
    // After each copy's four silent waits, and once its answer is no longer
    // waited for, the count says the copy was not stored.
    EXPECT_EQ(bench.line.WrittenTexts(), (std::vector<std::string>{kCount2, kCount2, kAnnounce2, record, kCount2,
                                                                   kCount2, kAnnounce2, record, kCount2, kCount2}));
    // Each exchange takes 70 ms; a copy's answer is waited for until 400 ms
    // after it went out.
    EXPECT_EQ(bench.line.Writes()[3].atMs, 210u);
    EXPECT_EQ(bench.line.Writes()[4].atMs, 210u + 400u);
    EXPECT_EQ(bench.line.Writes()[7].atMs, 610u + 3 * 70u);
    EXPECT_EQ(bench.clock.NowMs(), 820u + 400u + 2 * 70u);
}

TEST(Upload, ARefusedRecordIsWrittenOnceMoreAtTheRefusal) {
    LinkBench bench;
    Announced(bench);
    bench.state.fields = {"A", "", "", "", "", ""};
    const std::string record = SentLine("A\t");
    bench.line.Reply(ScriptedReply{record, "NAK\r", 20, 0, 1});
    bench.line.Reply(ScriptedReply{record, "ACK\r", 20, 0, 2});
    EXPECT_EQ(bench.link.PutDatabaseRecord(2), 1);
    EXPECT_EQ(bench.state.result, code::kSuccess);
    EXPECT_EQ(bench.line.WritesOf(record), 2);
    EXPECT_TRUE(bench.line.Writes()[4].drained);
    EXPECT_EQ(bench.line.Writes()[4].atMs, 280u) << "a refusal says the copy was not stored: no count";
}

TEST(Upload, BadRepliesUntilTheAttemptsRunOutLeaveCode9) {
    LinkBench bench;
    Announced(bench);
    bench.state.fields = {"A", "", "", "", "", ""};
    bench.line.Reply(SentLine("A\t"), "NAK\r", 0);
    EXPECT_EQ(bench.link.PutDatabaseRecord(2), 0);
    EXPECT_EQ(bench.state.result, code::kTransferError);
}

TEST(Upload, AReplyOver255BytesIsABadReplyEvenWhenItBeginsWithAck) {
    LinkBench bench;
    Announced(bench);
    bench.state.fields = {"A", "", "", "", "", ""};
    const std::string record = SentLine("A\t");
    bench.line.Reply(ScriptedReply{record, "ACK" + std::string(297, 'x') + "\r", 20, 0, 1});
    bench.line.Reply(ScriptedReply{record, "ACK\r", 20, 0, 2});
    EXPECT_EQ(bench.link.PutDatabaseRecord(2), 1);
    EXPECT_EQ(bench.line.WritesOf(record), 2);
}

TEST(Upload, AFailedWaitLeavesCode5WhetherInTheCountTheAnnouncementOrAfterThem) {
    const struct {
        const char* sentence;
        int naturalWaits;  // before the one that fails
        int copies;
    } cases[] = {{"in the first reading of the count", 0, 0},
                 {"in the second reading of the count", 1, 0},
                 {"in the announcement", 2, 0},
                 {"after the record", 3, 1}};
    for (const auto& c : cases) {
        LinkBench bench;
        Announced(bench);
        bench.state.fields = {"A", "", "", "", "", ""};
        for (int i = 0; i < c.naturalWaits; ++i) bench.line.ForceWaits({ForcedWait::Natural});
        bench.line.ForceWaits({ForcedWait::Failed});
        EXPECT_EQ(bench.link.PutDatabaseRecord(2), 0) << c.sentence;
        EXPECT_EQ(bench.state.result, code::kPortError) << c.sentence;
        EXPECT_EQ(bench.line.WritesOf(SentLine("A\t")), c.copies) << c.sentence;
    }
}

TEST(Upload, FourSignalsInARowWithNothingQueuedEndTheUploadAsATimeout) {
    const auto empty = ForcedWait::ReceivedEmpty;
    LinkBench bench;
    Announced(bench);
    bench.state.fields = {"A", "", "", "", "", ""};
    bench.line.ForceWaits({ForcedWait::Natural, ForcedWait::Natural, ForcedWait::Natural, empty, empty, empty, empty});
    EXPECT_EQ(bench.link.PutDatabaseRecord(2), 0);
    EXPECT_EQ(bench.state.result, code::kTimeout);
    EXPECT_EQ(bench.line.WritesOf(SentLine("A\t")), 1);
}

// ---- End of a load.

TEST(FinishLoad, OnlyAckConfirmsTheEndOfALoad) {
    const std::pair<const char*, int32_t> cases[] = {
        {"ACK", code::kSuccess}, {"NAK", code::kUnexpectedNak}, {"OVER", code::kUnexpectedOver},
        {"OK", code::kUnexpectedOk}, {"ERR", code::kUnexpectedErr}, {"DONE", code::kUnknownReply},
    };
    for (const auto& [reply, expected] : cases) {
        LinkBench bench;
        bench.line.Reply("OVER\r", std::string(reply) + "\r");
        EXPECT_EQ(bench.link.FinishLoad(), expected == code::kSuccess ? 1 : 0) << reply;
        EXPECT_EQ(bench.state.result, expected) << reply;
        EXPECT_EQ(bench.state.data, reply);
    }
}

TEST(FinishLoad, AClosedPortOrASilentTerminalIsNoConfirmation) {
    LinkBench closed(false);
    EXPECT_EQ(closed.link.FinishLoad(), 0);
    EXPECT_EQ(closed.state.result, code::kPortNotInitialised);
    EXPECT_TRUE(closed.line.Writes().empty());

    LinkBench silent;
    EXPECT_EQ(silent.link.FinishLoad(), 0);
    EXPECT_EQ(silent.state.result, code::kTimeout);
    EXPECT_EQ(silent.line.WritesOf("OVER\r"), 2);
}

}  // namespace
}  // namespace quill
