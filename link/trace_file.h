// The wire trace's file: the lines waiting for the writer, and how a batch
// of them goes into the file, which is rotated at 8 MB with one older file
// kept. The waiting lines are bounded: when the writer cannot keep up, new
// lines are dropped and counted rather than held up. Portable; the writer's
// thread and the file calls are the platform's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "link/wire_trace.h"

namespace quill {

// The current file is rotated before it would grow past this size.
constexpr uint64_t kTraceFileLimitBytes = 8u * 1024 * 1024;
// Lines waiting for the writer, in bytes; beyond this they are dropped.
constexpr size_t kTracePendingLimitBytes = 2u * 1024 * 1024;
// Each line of the file ends with CR LF, for the editors people open it with.
constexpr std::string_view kTraceLineEnd = "\r\n";

class TraceQueue {
public:
    explicit TraceQueue(size_t limitBytes = kTracePendingLimitBytes) : limitBytes_(limitBytes) {}

    // Appends the line with its line end; false, and the line counted as
    // dropped, when that would take the waiting lines past the limit.
    bool Push(std::string_view line);

    struct Batch {
        std::string lines;     // whole lines, each with its line end
        uint64_t dropped = 0;  // lines dropped since the last batch was taken
    };
    // Everything waiting, and the count dropped meanwhile; the queue is
    // empty again.
    Batch Take();
    bool Empty() const { return lines_.empty() && dropped_ == 0; }

private:
    size_t limitBytes_;
    std::string lines_;
    uint64_t dropped_ = 0;
};

// The trace's files as the writer needs them: the current one, opened for
// each batch, and one older file.
class TraceFiles {
public:
    virtual ~TraceFiles() = default;
    using Cause = TraceNotice::Cause;
    // Opens the current file for appending, making it when it is missing,
    // and gives its size; Cause::None when it is open.
    virtual Cause Open(uint64_t& size) = 0;
    virtual Cause Append(std::string_view bytes) = 0;
    virtual void Close() = 0;
    // The current file, closed, becomes the older one in place of the
    // older one there was; the next Open makes a new current file. False
    // when it could not be moved (the older file read-only, or either file
    // held open by a program that does not let it be renamed).
    virtual bool MoveToOlder() = 0;
};

// How far a batch got.
struct TraceBatchOutcome {
    TraceNotice::Cause cause = TraceNotice::Cause::None;  // what stopped it, if anything
    size_t written = 0;  // bytes from the batch's start that reached the file: whole lines
};

// Writes a batch of whole lines into the current file, rotating before a
// line that would take it past `limitBytes` (a line is never split between
// two files); the file is closed again afterwards. When the full file cannot
// be moved aside, the file stays at its limit and the lines that do not fit
// are not written (Cause::CannotRotate); the next batch tries again.
TraceBatchOutcome WriteTraceBatch(TraceFiles& files, std::string_view lines,
                                  uint64_t limitBytes = kTraceFileLimitBytes);

// The line that stands in the file for lines that never reached it.
std::string LostLinesLine(uint64_t count, TraceNotice::Cause cause);

// The writer's side from one batch to the next: lines that never reached the
// file (dropped from the queue, or lost with a batch that could not be
// written) are counted, and the count stands in the file before the next
// lines that reach it.
class TraceBatchWriter {
public:
    struct Standing {
        TraceNotice::State state;
        TraceNotice::Cause cause;
    };
    // Writes a batch taken from the queue; how the trace stands then, or
    // nothing when there was nothing to write.
    std::optional<Standing> Write(TraceFiles& files, const TraceQueue::Batch& batch,
                                  uint64_t limitBytes = kTraceFileLimitBytes);

private:
    uint64_t lost_ = 0;
    TraceNotice::Cause lostBecause_ = TraceNotice::Cause::None;
};

// The older file's name: ".1" before the file name's extension, or after a
// name without one ("trace.log" keeps its older lines in "trace.1.log").
template <class Text>
Text OlderTraceFileName(const Text& path) {
    using Char = typename Text::value_type;
    const size_t nameStart = path.find_last_of(Text{Char('\\'), Char('/')});
    const size_t dot = path.rfind(Char('.'));
    const bool hasExtension = dot != Text::npos && (nameStart == Text::npos || dot > nameStart + 1);
    const Text mark{Char('.'), Char('1')};
    if (!hasExtension) return path + mark;
    return path.substr(0, dot) + mark + path.substr(dot);
}

}  // namespace quill
