// The wire trace on the fake line: how bytes and lines read, what a call, an
// open with the adapter and a close (also of a port gone) put into it, the
// waiting lines' bound, the file's rotation at its limit with one older file
// kept, and a file that cannot be rotated holding the trace at its limit
// until it can.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "component/extension_tables.h"
#include "component/method_calls.h"
#include "fake_line.h"
#include "link/trace_file.h"
#include "link/wire_trace.h"

namespace quill {
namespace {

TEST(WireTrace, BytesReadAsTheyAreWhenPrintableCrAsBackslashRAndTheRestInHex) {
    const struct {
        const char* sentence;
        std::string bytes, shown;
    } cases[] = {
        {"a command and its CR", "PNG\r", "PNG\\r"},
        {"a blank and punctuation stay", "a, b.~", "a, b.~"},
        {"the adapter's probe byte", "\x0F", "\\x0F"},
        {"LF is no CR", "\n", "\\x0A"},
        {"NUL and DEL", std::string("\0\x7F", 2), "\\x00\\x7F"},
        {"a Cyrillic byte of Windows-1251", "\xC0\xFF", "\\xC0\\xFF"},
        {"a backslash doubled, so that \\x in the data is told apart", "a\\x41", "a\\\\x41"},
        {"nothing", "", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(TraceBytes(c.bytes), c.shown) << c.sentence;
}

TEST(WireTrace, ALineIsTheMillisecondsRightAlignedThenTheEvent) {
    EXPECT_EQ(TraceLine(0, "close"), "      0 close");
    EXPECT_EQ(TraceLine(1234, "write PNG\\r"), "   1234 write PNG\\r");
    EXPECT_EQ(TraceLine(123456789, "x"), "123456789 x") << "wider numbers push the event along";
}

struct RecordingSink final : TraceSink {
    std::vector<std::string> lines;
    void Add(std::string line) override { lines.push_back(std::move(line)); }
};

// A component's calls on a traced line: the method calls, the link, the
// trace between the link and the fake line.
struct TracedBench {
    TracedBench() { localTime.time = {2026, 12, 10, 14, 3, 5}; }

    struct NoParameters : MethodParameters {
        std::optional<int32_t> Integer(int32_t) const override { return std::nullopt; }
    };
    std::optional<int32_t> Call(int32_t method) { return calls.CallAsFunc(method, NoParameters{}); }
    bool Proc(int32_t method) { return calls.CallAsProc(method, NoParameters{}); }

    fake::VirtualClock clock;
    fake::FakeLine line{clock};
    fake::FixedLocalTime localTime;
    WireTrace trace{clock, localTime};
    TracedLine traced{line, trace};
    ComponentState state;
    TerminalLink link{traced, clock, localTime, state};
    ConnectionSettings settings{2, 0, 0};
    struct : ProgressPainter {
        void DrawProgressBox(int32_t, int32_t) override {}
    } painter;
    MethodCalls calls{link, state, settings, painter, &trace};
    RecordingSink sink;
};

TEST(WireTrace, ACallPutsItsNameTheBytesEachWayAndItsResultWithTheTimeSinceTheOpen) {
    TracedBench bench;
    bench.clock.Sleep(500);
    bench.trace.SetSink(&bench.sink);
    bench.line.Reply("PNG\r", "ACK\r", 20);
    bench.clock.Sleep(40);

    EXPECT_EQ(bench.Call(method::kAttach), 1);
    bench.clock.Sleep(7);
    EXPECT_EQ(bench.Call(method::kPing), 1);
    bench.clock.Sleep(3);
    EXPECT_TRUE(bench.Proc(method::kDeattach));

    const std::vector<std::string> expected = {
        "      0 trace on at 2026-12-10 14:03:05",
        "     40 call Attach",
        "      0 open COM3 at 2026-12-10 14:03:05",
        "      0 line 115200 baud, RTS on, DTR on",
        "      0 done Attach: 1, Result 0",
        "      7 call Ping",
        "      7 write PNG\\r",
        "     77 read ACK\\r",
        "     77 done Ping: 1, Result 0",
        "     80 call Deattach",
        "     80 close: DTR and RTS off",
        "     80 done Deattach: Result 0",
    };
    EXPECT_EQ(bench.sink.lines, expected);
}

TEST(WireTrace, TheAdaptersSetUpShowsEachChangeOfSpeedOrRtsOnceAndItsBytes) {
    TracedBench bench;
    bench.trace.SetSink(&bench.sink);
    bench.line.AttachAdapter(fake::AdapterModel{9600});
    ASSERT_EQ(bench.link.OpenPort(ConnectionSettings{0, 0, 1}), 1);

    std::vector<std::string> events;
    for (const std::string& line : bench.sink.lines) events.push_back(line.substr(8));
    const std::vector<std::string> expected = {
        "trace on at 2026-12-10 14:03:05",
        "open COM1 at 2026-12-10 14:03:05",
        "line 115200 baud, RTS on, DTR on",  // the open; the set-up's first step changes nothing
        "line 9600 baud, RTS off, DTR on",
        "write \\x0F",
        "read \\x0F",
        "line 9600 baud, RTS on, DTR on",
        "line 9600 baud, RTS off, DTR on",
        "write \\x07",
        "write 6",
        "write Q",
        "line 115200 baud, RTS on, DTR on",
    };
    EXPECT_EQ(events, expected);
    EXPECT_EQ(bench.sink.lines.back(), "    700 line 115200 baud, RTS on, DTR on");
}

TEST(WireTrace, OffNothingIsTracedAndTurningItOffSaysSoLast) {
    TracedBench bench;
    bench.line.Reply("PNG\r", "ACK\r");
    EXPECT_EQ(bench.Call(method::kAttach), 1);
    EXPECT_EQ(bench.Call(method::kPing), 1);
    EXPECT_TRUE(bench.sink.lines.empty());

    bench.trace.SetSink(&bench.sink);
    EXPECT_EQ(bench.Call(method::kPing), 1);
    bench.trace.SetSink(nullptr);
    EXPECT_EQ(bench.Call(method::kPing), 1);
    ASSERT_EQ(bench.sink.lines.size(), 6u);
    EXPECT_NE(bench.sink.lines.back().find("trace off"), std::string::npos);
    EXPECT_FALSE(bench.trace.On());
}

TEST(WireTrace, AnOpenThatFailsAndALineThePortRefusesAreSaid) {
    TracedBench bench;
    bench.trace.SetSink(&bench.sink);
    bench.line.failOpen = true;
    EXPECT_EQ(bench.link.OpenPort(ConnectionSettings{4, 0, 0}), 0);
    bench.line.failOpen = false;
    bench.line.failConfigure = true;
    EXPECT_EQ(bench.link.OpenPort(ConnectionSettings{4, 1, 0}), 0);
    std::vector<std::string> events;
    for (const std::string& line : bench.sink.lines) events.push_back(line.substr(8));
    EXPECT_EQ(events, (std::vector<std::string>{"trace on at 2026-12-10 14:03:05", "open COM5 failed",
                                                "open COM5 at 2026-12-10 14:03:05",
                                                "line 57600 baud refused by the port",
                                                "close: DTR and RTS off"}));
}

TEST(WireTrace, APortWhoseDeviceWentAwayIsSaidWithItsErrorAsItIsClosed) {
    TracedBench bench;
    bench.trace.SetSink(&bench.sink);
    EXPECT_EQ(bench.Call(method::kAttach), 1);
    bench.line.UnplugAt(bench.clock.NowMs() + 30);
    EXPECT_EQ(bench.Call(method::kPing), 0);
    std::vector<std::string> events;
    for (const std::string& line : bench.sink.lines) events.push_back(line.substr(8));
    EXPECT_EQ(std::vector<std::string>(events.end() - 5, events.end()),
              (std::vector<std::string>{"call Ping", "write PNG\\r", "port gone (error 22)",
                                        "close: DTR and RTS off", "done Ping: 0, Result 2"}));
}

TEST(WireTrace, AJoinedTraceWritesWhereTheOtherWritesEachLineMarkedWithItsLabel) {
    TracedBench bench;
    bench.trace.SetSink(&bench.sink);
    fake::VirtualClock portClock;
    portClock.Sleep(1000);
    fake::FakeLine portLine(portClock);
    WireTrace joined(portClock, bench.localTime, bench.trace, "COM7");
    TracedLine traced(portLine, joined);
    ASSERT_TRUE(traced.Open("COM7"));
    portClock.Sleep(12);
    traced.Close();
    const std::vector<std::string> expected = {
        "      0 trace on at 2026-12-10 14:03:05",
        "      0 COM7: open COM7 at 2026-12-10 14:03:05",
        "     12 COM7: close: DTR and RTS off",
    };
    EXPECT_EQ(bench.sink.lines, expected);
}

// --- The waiting lines and the file ----------------------------------------------------

TEST(TraceQueue, LinesBeyondItsLimitAreDroppedAndCountedUntilTheWriterTakesThem) {
    TraceQueue queue(20);
    EXPECT_TRUE(queue.Push("1234567"));   // 9 bytes with CR LF
    EXPECT_TRUE(queue.Push("abcdefg"));   // 18
    EXPECT_FALSE(queue.Push("x"));        // 21: too many
    EXPECT_FALSE(queue.Push("y"));
    TraceQueue::Batch batch = queue.Take();
    EXPECT_EQ(batch.lines, "1234567\r\nabcdefg\r\n");
    EXPECT_EQ(batch.dropped, 2u);
    EXPECT_TRUE(queue.Empty());
    EXPECT_TRUE(queue.Push("x"));
    batch = queue.Take();
    EXPECT_EQ(batch.lines, "x\r\n");
    EXPECT_EQ(batch.dropped, 0u);
}

// What happens when the writer moves the full file aside.
enum class Move {
    Works,
    Fails,             // the older file read-only, or a viewer holding either file
    FailsMovedByAnother,  // another writer of the same file moved it a moment before
};

// The current file and the older one in memory; each operation can be
// made to fail.
struct MemoryFiles final : TraceFiles {
    std::string current, older;
    bool hasOlder = false;
    bool open = false;
    int rotations = 0;
    Cause openFails = Cause::None, appendFails = Cause::None;
    Move move = Move::Works;

    Cause Open(uint64_t& size) override {
        if (openFails != Cause::None) return openFails;
        open = true;
        size = current.size();
        return Cause::None;
    }
    Cause Append(std::string_view bytes) override {
        EXPECT_TRUE(open);
        if (appendFails != Cause::None) return appendFails;
        current += bytes;
        return Cause::None;
    }
    void Close() override { open = false; }
    bool MoveToOlder() override {
        EXPECT_FALSE(open) << "the file is closed before it is moved";
        if (move == Move::Fails) return false;
        older = std::move(current);
        current.clear();
        hasOlder = true;
        ++rotations;
        return move == Move::Works;
    }
};

std::string Lines(int first, int count) {
    std::string lines;
    for (int n = first; n < first + count; ++n) lines += "line " + std::to_string(100 + n) + "\r\n";  // 10 bytes
    return lines;
}

TEST(TraceFile, ItRotatesBeforeALineThatWouldPassTheLimitAndKeepsOneOlderFile) {
    MemoryFiles files;
    constexpr uint64_t kLimit = 35;  // three lines of ten bytes fit, a fourth does not
    EXPECT_EQ(WriteTraceBatch(files, Lines(0, 2), kLimit).cause, TraceNotice::Cause::None);
    EXPECT_EQ(files.current, Lines(0, 2));
    EXPECT_EQ(WriteTraceBatch(files, Lines(2, 2), kLimit).cause, TraceNotice::Cause::None);
    EXPECT_EQ(files.current, Lines(3, 1)) << "the fourth line starts the new file";
    EXPECT_EQ(files.older, Lines(0, 3));
    EXPECT_EQ(WriteTraceBatch(files, Lines(4, 6), kLimit).cause, TraceNotice::Cause::None);
    EXPECT_EQ(files.rotations, 3);
    EXPECT_EQ(files.older, Lines(6, 3)) << "only the latest older file is kept";
    EXPECT_EQ(files.current, Lines(9, 1));
    EXPECT_FALSE(files.open) << "closed after each batch";
}

TEST(TraceFile, ItRotatesAtEightMegabytes) {
    MemoryFiles files;
    files.current.assign(kTraceFileLimitBytes - 10, 'x');
    EXPECT_EQ(WriteTraceBatch(files, Lines(0, 1)).cause, TraceNotice::Cause::None);
    EXPECT_EQ(files.rotations, 0) << "exactly at the limit";
    EXPECT_EQ(WriteTraceBatch(files, Lines(1, 1)).cause, TraceNotice::Cause::None);
    EXPECT_EQ(files.rotations, 1);
    EXPECT_EQ(files.older.size(), kTraceFileLimitBytes);
    EXPECT_EQ(files.current, Lines(1, 1));
}

TEST(TraceFile, ALineLongerThanTheLimitGoesWholeIntoAFileOfItsOwn) {
    MemoryFiles files;
    const std::string longLine = std::string(50, 'z') + "\r\n";
    EXPECT_EQ(WriteTraceBatch(files, Lines(0, 1) + longLine + Lines(1, 1), 35).cause, TraceNotice::Cause::None);
    EXPECT_EQ(files.current, Lines(1, 1));
    EXPECT_EQ(files.older, longLine);
}

TEST(TraceFile, WhatStopsABatchIsReportedWithHowMuchOfItReachedTheFile) {
    using Cause = TraceNotice::Cause;
    const struct {
        const char* sentence;
        Cause openFails, appendFails;
        Move move;
        Cause outcome;
        size_t written;
        std::string current;
    } cases[] = {
        {"no folder: nothing is written", Cause::NoFolder, Cause::None, Move::Works, Cause::NoFolder, 0,
         "line 100\r\n"},
        {"a full disk", Cause::None, Cause::DiskFull, Move::Works, Cause::DiskFull, 0, "line 100\r\n"},
        {"the full file cannot be moved aside: the file stops at its limit, the line that does not fit is not "
         "written",
         Cause::None, Cause::None, Move::Fails, Cause::CannotRotate, 20, "line 100\r\nline 101\r\nline 102\r\n"},
        {"another writer of the file moved it aside a moment before: the rest goes into the new file", Cause::None,
         Cause::None, Move::FailsMovedByAnother, Cause::None, 30, "line 103\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sentence);
        MemoryFiles files;
        files.current = "line 100\r\n";
        files.openFails = c.openFails;
        files.appendFails = c.appendFails;
        files.move = c.move;
        const TraceBatchOutcome outcome = WriteTraceBatch(files, Lines(1, 3), 35);
        EXPECT_EQ(outcome.cause, c.outcome);
        EXPECT_EQ(outcome.written, c.written);
        EXPECT_EQ(files.current, c.current);
        EXPECT_FALSE(files.open);
    }
}

TEST(TraceFile, TheOlderFileTakesOneBeforeTheExtension) {
    const std::pair<std::string, std::string> cases[] = {
        {"C:\\Users\\kassa\\AppData\\Local\\Quillomat\\trace.log", "C:\\Users\\kassa\\AppData\\Local\\Quillomat\\trace.1.log"},
        {"D:\\support\\wire", "D:\\support\\wire.1"},
        {"D:\\v1.2\\wire", "D:\\v1.2\\wire.1"},
        {"D:\\logs\\.hidden", "D:\\logs\\.hidden.1"},
        {"trace.log", "trace.1.log"},
    };
    for (const auto& [path, older] : cases) EXPECT_EQ(OlderTraceFileName(path), older) << path;
}

TEST(TraceFile, LinesThatNeverReachedTheFileAreCountedInIt) {
    EXPECT_EQ(LostLinesLine(12, TraceNotice::Cause::TooMuch), "      - 12 line(s) missing here: the trace could not keep up");
    EXPECT_EQ(LostLinesLine(3, TraceNotice::Cause::DiskFull), "      - 3 line(s) missing here: the file could not be written");
    EXPECT_EQ(LostLinesLine(5, TraceNotice::Cause::CannotRotate),
              "      - 5 line(s) missing here: the file was full and could not be renamed");
}

// The writer from batch to batch: the count of lines that never reached the
// file stands before the next lines that do, and the notice says why.
TEST(TraceFile, LinesLostFromOneBatchAreCountedBeforeTheNextThatReachesTheFile) {
    using Cause = TraceNotice::Cause;
    using State = TraceNotice::State;
    MemoryFiles files;
    TraceBatchWriter writer;
    EXPECT_FALSE(writer.Write(files, {}).has_value()) << "nothing to write";

    auto standing = writer.Write(files, {Lines(0, 1), 2});
    ASSERT_TRUE(standing.has_value());
    EXPECT_EQ(standing->state, State::Dropped) << "two lines dropped from the queue";
    EXPECT_EQ(standing->cause, Cause::TooMuch);
    EXPECT_EQ(files.current, LostLinesLine(2, Cause::TooMuch) + "\r\n" + Lines(0, 1));

    files.current.clear();
    files.appendFails = Cause::DiskFull;
    standing = writer.Write(files, {Lines(1, 3), 0});
    ASSERT_TRUE(standing.has_value());
    EXPECT_EQ(standing->state, State::Dropped) << "a batch of three lines lost to a full disk";
    EXPECT_EQ(standing->cause, Cause::DiskFull);

    files.appendFails = Cause::None;
    standing = writer.Write(files, {Lines(4, 1), 0});
    ASSERT_TRUE(standing.has_value());
    EXPECT_EQ(standing->state, State::Writing);
    EXPECT_EQ(standing->cause, Cause::None);
    EXPECT_EQ(files.current, LostLinesLine(3, Cause::DiskFull) + "\r\n" + Lines(4, 1));
    EXPECT_FALSE(writer.Write(files, {}).has_value()) << "the count is written once";
}

// A viewer holds the trace open, or the older file is read-only: 24 batches
// of 1 MB leave the file at its 8 MB, every line that did not fit counted,
// and once the file can be moved aside again the next batch, even one with
// nothing new, starts the new file with the count.
TEST(TraceFile, AFullFileThatCannotBeMovedAsideStopsTheTraceAtItsLimitUntilItCan) {
    using Cause = TraceNotice::Cause;
    using State = TraceNotice::State;
    const std::string line = std::string(98, 'x') + "\r\n";  // 8 MB is no whole number of lines
    std::string megabyte;
    while (megabyte.size() + line.size() <= 1024 * 1024) megabyte += line;
    const uint64_t linesPerBatch = megabyte.size() / line.size();
    constexpr int kBatches = 24;

    MemoryFiles files;
    files.move = Move::Fails;
    TraceBatchWriter writer;
    std::optional<TraceBatchWriter::Standing> standing;
    for (int batch = 0; batch < kBatches; ++batch) standing = writer.Write(files, {megabyte, 0});
    ASSERT_TRUE(standing.has_value());
    EXPECT_EQ(standing->state, State::Dropped);
    EXPECT_EQ(standing->cause, Cause::CannotRotate);
    EXPECT_LE(files.current.size(), kTraceFileLimitBytes);
    EXPECT_GT(files.current.size(), kTraceFileLimitBytes - line.size()) << "filled up to its limit first";
    EXPECT_EQ(files.current.size() % line.size(), 0u) << "whole lines only";
    EXPECT_EQ(files.rotations, 0);

    standing = writer.Write(files, {});
    ASSERT_TRUE(standing.has_value()) << "nothing new, but the count is still waiting for the file";
    EXPECT_EQ(standing->cause, Cause::CannotRotate);

    files.move = Move::Works;
    const std::string full = files.current;
    standing = writer.Write(files, {});
    ASSERT_TRUE(standing.has_value());
    EXPECT_EQ(standing->state, State::Writing);
    EXPECT_EQ(files.older, full);
    const uint64_t missing = kBatches * linesPerBatch - full.size() / line.size();
    EXPECT_EQ(files.current, LostLinesLine(missing, Cause::CannotRotate) + "\r\n");
    standing = writer.Write(files, {Lines(0, 1), 0});
    ASSERT_TRUE(standing.has_value());
    EXPECT_EQ(standing->state, State::Writing);
    EXPECT_EQ(files.current, LostLinesLine(missing, Cause::CannotRotate) + "\r\n" + Lines(0, 1));
}

TEST(TraceFile, TheNoticeOfAFileThatCannotBeMovedAsideNamesBothFiles) {
    const struct {
        std::string file, said;
    } cases[] = {
        {"C:\\Users\\kassa\\AppData\\Local\\Quillomat\\trace.log",
         "Журнал обмена не записывается (файл достиг 8 МБ, а trace.log или trace.1.log открыт в другой программе "
         "или закрыт для записи): C:\\Users\\kassa\\AppData\\Local\\Quillomat\\trace.log. Обмен с терминалом "
         "идёт как обычно."},
        {"D:\\v1.2\\wire", "Журнал обмена не записывается (файл достиг 8 МБ, а wire или wire.1 открыт в другой "
                           "программе или закрыт для записи): D:\\v1.2\\wire. Обмен с терминалом идёт как обычно."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TraceNoticeText({TraceNotice::State::Dropped, TraceNotice::Cause::CannotRotate, c.file}), c.said);
}

}  // namespace
}  // namespace quill
