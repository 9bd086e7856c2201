#include "link/trace_file.h"

#include <algorithm>

namespace quill {

bool TraceQueue::Push(std::string_view line) {
    if (lines_.size() + line.size() + kTraceLineEnd.size() > limitBytes_) {
        ++dropped_;
        return false;
    }
    lines_ += line;
    lines_ += kTraceLineEnd;
    return true;
}

TraceQueue::Batch TraceQueue::Take() {
    Batch batch;
    batch.lines.swap(lines_);
    batch.dropped = dropped_;
    dropped_ = 0;
    return batch;
}

namespace {

// The longest run of whole lines from the start of `lines` that keeps a file
// of `size` bytes within `limitBytes`; at least one line into a file that is
// empty, however long the line.
size_t LinesThatFit(std::string_view lines, uint64_t size, uint64_t limitBytes) {
    size_t take = 0;
    while (take < lines.size()) {
        const size_t end = lines.find(kTraceLineEnd, take);
        const size_t next = end == std::string_view::npos ? lines.size() : end + kTraceLineEnd.size();
        if (size + next > limitBytes && (take > 0 || size > 0)) break;
        take = next;
    }
    return take;
}

uint64_t LineCount(std::string_view lines) {
    uint64_t count = 0;
    for (size_t at = lines.find(kTraceLineEnd); at != std::string_view::npos; at = lines.find(kTraceLineEnd, at + 1))
        ++count;
    return count;
}

}  // namespace

TraceBatchOutcome WriteTraceBatch(TraceFiles& files, std::string_view lines, uint64_t limitBytes) {
    using Cause = TraceNotice::Cause;
    TraceBatchOutcome outcome;
    uint64_t size = 0;
    outcome.cause = files.Open(size);
    // Set when the file could not be moved aside: if it is still full once
    // opened again, the trace stops at its limit. (When another writer of
    // the same file moved it meanwhile, the file opened again has room.)
    bool moveFailed = false;
    while (outcome.cause == Cause::None && outcome.written < lines.size()) {
        const std::string_view rest = lines.substr(outcome.written);
        if (const size_t take = LinesThatFit(rest, size, limitBytes); take > 0) {
            outcome.cause = files.Append(rest.substr(0, take));
            if (outcome.cause != Cause::None) break;
            size += take;
            outcome.written += take;
            moveFailed = false;
            continue;
        }
        if (moveFailed) {
            outcome.cause = Cause::CannotRotate;
            break;
        }
        files.Close();
        moveFailed = !files.MoveToOlder();
        outcome.cause = files.Open(size);
    }
    files.Close();
    return outcome;
}

std::optional<TraceBatchWriter::Standing> TraceBatchWriter::Write(TraceFiles& files, const TraceQueue::Batch& batch,
                                                                   uint64_t limitBytes) {
    using Cause = TraceNotice::Cause;
    const bool tooMuch = batch.dropped > 0;
    if (tooMuch) {
        lost_ += batch.dropped;
        lostBecause_ = Cause::TooMuch;
    }
    if (batch.lines.empty() && lost_ == 0) return std::nullopt;
    std::string text;
    if (lost_ > 0) text = LostLinesLine(lost_, lostBecause_) + std::string(kTraceLineEnd);
    const size_t countBytes = text.size();
    text += batch.lines;
    const TraceBatchOutcome outcome = WriteTraceBatch(files, text, limitBytes);
    if (outcome.written >= countBytes) lost_ = 0;  // the count is in the file
    if (outcome.cause != Cause::None) {
        lost_ += LineCount(std::string_view(text).substr(std::max(outcome.written, countBytes)));
        lostBecause_ = outcome.cause;
        return Standing{TraceNotice::State::Dropped, outcome.cause};
    }
    if (tooMuch) return Standing{TraceNotice::State::Dropped, Cause::TooMuch};
    return Standing{TraceNotice::State::Writing, Cause::None};
}

std::string LostLinesLine(uint64_t count, TraceNotice::Cause cause) {
    const char* why = "the file could not be written";
    if (cause == TraceNotice::Cause::TooMuch) why = "the trace could not keep up";
    if (cause == TraceNotice::Cause::CannotRotate) why = "the file was full and could not be renamed";
    return "      - " + std::to_string(count) + " line(s) missing here: " + why;
}

}  // namespace quill
