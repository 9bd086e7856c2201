#include "link/trace_file.h"

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

TraceNotice::Cause WriteTraceBatch(TraceFiles& files, std::string_view lines, uint64_t limitBytes) {
    using Cause = TraceNotice::Cause;
    uint64_t size = 0;
    if (const Cause opened = files.Open(size); opened != Cause::None) return opened;
    Cause outcome = Cause::None;
    while (!lines.empty()) {
        // The longest run of whole lines that still fits; at least one line
        // into a file that is empty.
        size_t take = 0;
        while (take < lines.size()) {
            const size_t end = lines.find(kTraceLineEnd, take);
            const size_t next = end == std::string_view::npos ? lines.size() : end + kTraceLineEnd.size();
            if (size + next > limitBytes && (take > 0 || size > 0)) break;
            take = next;
        }
        if (take > 0) {
            outcome = files.Append(lines.substr(0, take));
            if (outcome != Cause::None) break;
            size += take;
            lines.remove_prefix(take);
        }
        if (lines.empty()) break;
        files.Close();
        // A file that cannot be moved now (another writer has it open) takes
        // the rest; the next batch tries again.
        const bool rotated = files.MoveToOlder() == Cause::None;
        outcome = files.Open(size);
        if (outcome != Cause::None) return outcome;
        if (!rotated) {
            outcome = files.Append(lines);
            break;
        }
    }
    files.Close();
    return outcome;
}

namespace {

uint64_t LineCount(std::string_view lines) {
    uint64_t count = 0;
    for (size_t at = lines.find(kTraceLineEnd); at != std::string_view::npos; at = lines.find(kTraceLineEnd, at + 1))
        ++count;
    return count;
}

}  // namespace

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
    text += batch.lines;
    const Cause outcome = WriteTraceBatch(files, text, limitBytes);
    if (outcome == Cause::None) {
        lost_ = 0;
    } else {
        lost_ += LineCount(batch.lines);
        lostBecause_ = outcome;
    }
    if (outcome != Cause::None) return Standing{TraceNotice::State::Dropped, outcome};
    if (tooMuch) return Standing{TraceNotice::State::Dropped, Cause::TooMuch};
    return Standing{TraceNotice::State::Writing, Cause::None};
}

std::string LostLinesLine(uint64_t count, TraceNotice::Cause cause) {
    const char* why = cause == TraceNotice::Cause::TooMuch ? "the trace could not keep up"
                                                           : "the file could not be written";
    return "      - " + std::to_string(count) + " line(s) missing here: " + why;
}

}  // namespace quill
