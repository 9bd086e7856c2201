#include "link/reply_ledger.h"

#include <algorithm>

#include "link/receive_pass.h"
#include "link/received_record.h"

namespace quill {
namespace {

size_t LongestLine(ReplyKind kind) {
    return kind == ReplyKind::Command ? protocol::kMaxReplyLength : protocol::kMaxRecordLineLength;
}

}  // namespace

bool ReplyLedger::OwesOnlyRecordsOf(Store store) const {
    return !owed_.empty() && std::all_of(owed_.begin(), owed_.end(), [&](const OwedReply& owed) {
        return owed.kind == ReplyKind::Record && owed.store == store;
    });
}

// A line still coming in when a reply's time is over is not that reply (it
// would have ended in time) but a later one's; with nothing owed any more it
// is nobody's.
void ReplyLedger::DropExpired(uint64_t nowMs) {
    while (!owed_.empty() && owed_.front().expiresAtMs <= nowMs) owed_.pop_front();
    if (owed_.empty()) partial_.Clear();
}

void ReplyLedger::AnswerTaken(uint64_t answerId) {
    for (OwedReply& owed : owed_)
        if (owed.answerId == answerId) owed.answerTaken = true;
}

void ReplyLedger::ForgetOwed() {
    owed_.clear();
    partial_.Clear();
}

void ReplyLedger::Reset() {
    ForgetOwed();
    held_.clear();
}

std::optional<std::string> ReplyLedger::TakeHeld(Store store) {
    const auto held = std::find_if(held_.begin(), held_.end(), [&](const auto& h) { return h.first == store; });
    if (held == held_.end()) return std::nullopt;
    std::string text = std::move(held->second);
    held_.erase(held);
    return text;
}

void ReplyLedger::DropHeld(Store store) {
    held_.erase(std::remove_if(held_.begin(), held_.end(), [&](const auto& h) { return h.first == store; }),
                held_.end());
}

// The line settles the oldest reply owed, except an ACK before a record:
// what follows its letters (up to a NUL) starts the next line, and ACK
// straight before OVER is the end of the records.
ReplyLine ReplyLedger::CompleteLine(const std::string& line) {
    const OwedReply owed = owed_.front();
    const bool tooLong = partial_.Overflowed() || line.size() > LongestLine(owed.kind);
    partial_.Clear();
    if (owed.kind == ReplyKind::Record && !tooLong && BeginsWith(line, protocol::kAck)) {
        const std::string_view rest = UpToNul(std::string_view(line).substr(std::string_view(protocol::kAck).size()));
        if (!BeginsWith(rest, protocol::kOver)) {
            partial_.Assign(rest);
            return {owed, rest, false, true};
        }
        owed_.pop_front();
        return {owed, rest, false, false};
    }
    owed_.pop_front();
    return {owed, line, tooLong, false};
}

void ReplyLedger::File(const ReplyLine& line) {
    if (line.leadIn || line.owed.kind != ReplyKind::Record) return;
    const RecordVerdict verdict = JudgeRecordLine(line.bytes, line.tooLong);
    if (verdict.kind == RecordVerdict::Kind::Refused) return;
    AnswerTaken(line.owed.answerId);
    if (verdict.kind == RecordVerdict::Kind::Record) Hold(line.owed.store, verdict.text);
}

void SendOwing(SerialLine& line, Clock& clock, ReplyLedger& ledger, std::string_view bytes, ReplyKind kind,
                   Store store, bool drain, std::optional<uint64_t> sameAnswerAs) {
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    if (drain)
        line.WriteAndDrain(data, bytes.size());
    else
        line.Write(data, bytes.size());
    ledger.Owe(kind, store, clock.NowMs(), sameAnswerAs);
}

std::optional<int32_t> SettleOwedReplies(SerialLine& line, Clock& clock, Pace pace, ReplyLedger& ledger) {
    auto file = [&](const uint8_t* bytes, size_t count) {
        return ledger.Take(bytes, count, [&](const ReplyLine& reply) {
            ledger.File(reply);
            return false;
        });
    };
    Receiver receiver(line, clock, pace);
    receiver.Drain(file);
    ledger.DropExpired(clock.NowMs());
    while (ledger.Owes()) {
        if (const auto ending = EndingCode(receiver.RunPass(file))) return ending;
        ledger.DropExpired(clock.NowMs());
    }
    return std::nullopt;
}

}  // namespace quill
