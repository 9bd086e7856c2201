#include "link/reply_ledger.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "link/received_record.h"

namespace quill {
namespace {

size_t LongestLine(ReplyKind kind) {
    return kind == ReplyKind::Command ? protocol::kMaxReplyLength : protocol::kMaxRecordLineLength;
}

// NAK, OK or ERR in place of a record: the terminal refused or did not
// understand the line; it sent no record.
bool TerminalRefused(const ReplyLine& line) {
    if (line.tooLong) return false;
    const ReplyClass reply = ClassifyReply(line.bytes);
    return reply == ReplyClass::Nak || reply == ReplyClass::Ok || reply == ReplyClass::Err;
}

// A line made of a whole record line, its CR lost, and more: a reply that
// came late and lost its CR, joined by the reply to the line written after
// it (a record, garbled or not, or the end of the records).
bool HoldsTwoRecords(std::string_view line) {
    for (size_t split = protocol::kReceivedFramingLength; split < line.size(); ++split)
        if (JudgeRecordLine(line.substr(0, split), false).kind == RecordVerdict::Kind::Record) return true;
    return false;
}

}  // namespace

void ReplyLedger::Owe(ReplyKind kind, Store store, uint64_t writtenAtMs, std::optional<uint64_t> sameAnswerAs) {
    const uint64_t answerId = sameAnswerAs ? *sameAnswerAs : ++lastAnswerId_;
    LoseRefusedOtherThan(sameAnswerAs);
    owed_.push_back({kind, store, writtenAtMs + protocol::kLateReplyLimitMs, answerId, ++linesWritten_, false,
                     sameAnswerAs.has_value()});
}

bool ReplyLedger::OwesOnlyRecordsOf(Store store) const {
    return !owed_.empty() && std::all_of(owed_.begin(), owed_.end(), [&](const OwedReply& owed) {
        return owed.kind == ReplyKind::Record && owed.store == store;
    });
}

bool ReplyLedger::OwesOtherThan(uint64_t answerId) const {
    return std::any_of(owed_.begin(), owed_.end(), [&](const OwedReply& owed) { return owed.answerId != answerId; });
}

bool ReplyLedger::OwesSettledAnswers() const {
    return std::any_of(owed_.begin(), owed_.end(), [](const OwedReply& owed) { return owed.answerTaken; });
}

uint64_t ReplyLedger::FrontExpiresAtMs() const {
    const uint64_t expires = owed_.front().expiresAtMs;
    if (!partialBegun_) return expires;
    return std::max(expires, partialLastByteMs_ + protocol::kLineGapLimitMs);
}

// A line whose bytes stopped coming is the oldest reply's, cut short; with
// nothing owed any more, bytes still coming are nobody's.
void ReplyLedger::DropExpired(uint64_t nowMs) {
    while (!owed_.empty() && FrontExpiresAtMs() <= nowMs) {
        if (partialBegun_) {
            CutFront();
            // The terminal answers in turn: the replies behind the line
            // given up come after its tail, whenever that ends.
            for (OwedReply& owed : owed_)
                owed.expiresAtMs = std::max(owed.expiresAtMs, nowMs + protocol::kLateReplyLimitMs);
        } else {
            owed_.pop_front();
        }
    }
    if (owed_.empty()) ClearPartial();
}

void ReplyLedger::LineClosed() {
    // The records owed, each answer once, in the order their lines went out.
    std::vector<OwedReply> records;
    for (const OwedReply& owed : owed_) {
        if (owed.kind != ReplyKind::Record || owed.answerTaken) continue;
        if (!records.empty() && records.back().answerId == owed.answerId) continue;
        records.push_back(owed);
    }
    std::optional<uint64_t> cutLine;
    if (partialBegun_ && !owed_.empty()) {
        cutLine = owed_.front().line;
        CutFront();
    }
    // The rest of a line cut so may still come on the port opened again.
    ClearPartial();
    for (size_t i = 0; i < records.size(); ++i) {
        const OwedReply& owed = records[i];
        HandedOut* held = HeldFor(owed.answerId);
        if (i + 1 < records.size()) {
            // A later line asked for another record: the terminal, if it
            // heard that line, has moved past this one.
            if (held != nullptr)
                held->kind = HandedOut::Kind::Lost;
            else if (owed.line != cutLine)
                Hand(HandedOut{HandedOut::Kind::Lost, owed.store, {}, owed.answerId});
        } else if (held == nullptr && !owed.asksAgain && owed.line != cutLine) {
            LeaveRefused(owed.store, owed.answerId, false, true);
        }
    }
}

// The terminal heard the line and sent its reply, whose end never came: a
// record is still the one it sent last, unless a later line moves it on.
void ReplyLedger::CutFront() {
    const OwedReply cut = owed_.front();
    const bool began = partialBeganAfter_ >= cut.line;
    // The end of the records, cut short (even before its last letter), is
    // no record to ask for again.
    const std::string_view begun = partial_.Bytes();
    const std::string_view over = protocol::kOver;
    const bool end = BeginsWith(begun, protocol::kOver) ||
                     (!begun.empty() && begun.size() < over.size() && over.substr(0, begun.size()) == begun);
    // An ACK line and nothing after it in answer to a NAK: the terminal had
    // no record to send again (its last reply was an ACK), like ERR.
    const bool onlyAck = partial_.Bytes().empty();
    ClearPartial();
    tailMayFollow_ = true;
    givenUpAtMs_ = clock_.NowMs();
    owed_.pop_front();
    // Its reply began: the terminal heard the line, and has moved past a
    // garbled record refused for another.
    if (began && cut.kind == ReplyKind::Record) LoseRefusedOtherThan(cut.answerId, false);
    if (!began || end || cut.kind != ReplyKind::Record || cut.answerTaken) return;
    if (onlyAck && cut.asksAgain) {
        if (HandedOut* refused = RefusedFor(cut.answerId)) refused->kind = HandedOut::Kind::Lost;
        return;
    }
    // Another command written meanwhile may have moved the terminal past it.
    LeaveRefused(cut.store, cut.answerId, !owed_.empty() && owed_.front().answerId != cut.answerId);
}

bool ReplyLedger::IsTailOfTheLineGivenUp(std::string_view line) const {
    const OwedReply& owed = owed_.front();
    // Bytes that began to come before the line owed was written.
    if (PartialBeganAfter() < owed.line) return true;
    const ReplyClass reply = ClassifyReply(line);
    switch (owed.kind) {
        case ReplyKind::Record:
            if (reply != ReplyClass::Data && reply != ReplyClass::Over) return false;
            return JudgeRecordLine(line, partial_.Overflowed()).kind == RecordVerdict::Kind::Refused;
        case ReplyKind::RecordAck:
            return reply != ReplyClass::Ack && reply != ReplyClass::Nak && !BeginsWith(line, protocol::kFull);
        case ReplyKind::Command:
            break;  // any line may answer a command
    }
    return false;
}

void ReplyLedger::TailDropped() {
    const OwedReply& owed = owed_.front();
    if (owed.kind == ReplyKind::Record && !owed.answerTaken && PartialBeganAfter() >= owed.line)
        LeaveRefused(owed.store, owed.answerId, false);
    ClearPartial();
}

void ReplyLedger::LeaveRefused(Store store, uint64_t answerId, bool mayHoldNext, bool unsure) {
    if (HandedOut* refused = RefusedFor(answerId))
        refused->mayHoldNext = refused->mayHoldNext || mayHoldNext;
    else
        Hand(HandedOut{HandedOut::Kind::Refused, store, {}, answerId, mayHoldNext, unsure});
}

void ReplyLedger::AnswerTaken(uint64_t answerId) {
    for (OwedReply& owed : owed_)
        if (owed.answerId == answerId) owed.answerTaken = true;
}

void ReplyLedger::ForgetOwed() {
    owed_.clear();
    ClearPartial();
    tailMayFollow_ = false;
}

void ReplyLedger::Reset() {
    ForgetOwed();
    handedOut_.clear();
    lastRecord_.clear();
}

void ReplyLedger::ClearPartial() {
    partial_.Clear();
    partialBegun_ = false;
}

const HandedOut* ReplyLedger::First(Store store) const {
    const auto first = std::find_if(handedOut_.begin(), handedOut_.end(),
                                    [&](const HandedOut& h) { return h.store == store; });
    return first == handedOut_.end() ? nullptr : &*first;
}

HandedOut ReplyLedger::TakeFirst(Store store) {
    const auto first = std::find_if(handedOut_.begin(), handedOut_.end(),
                                    [&](const HandedOut& h) { return h.store == store; });
    HandedOut taken = std::move(*first);
    handedOut_.erase(first);
    return taken;
}

void ReplyLedger::DropHandedOut(Store store) {
    handedOut_.erase(std::remove_if(handedOut_.begin(), handedOut_.end(),
                                    [&](const HandedOut& h) { return h.store == store; }),
                     handedOut_.end());
}

const HandedOut* ReplyLedger::Refused(Store store) const {
    const auto refused = std::find_if(handedOut_.begin(), handedOut_.end(), [&](const HandedOut& h) {
        return h.store == store && h.kind == HandedOut::Kind::Refused;
    });
    return refused == handedOut_.end() ? nullptr : &*refused;
}

void ReplyLedger::ReportLostBefore(Store store) {
    const auto refused = std::find_if(handedOut_.begin(), handedOut_.end(), [&](const HandedOut& h) {
        return h.store == store && h.kind == HandedOut::Kind::Refused;
    });
    if (refused == handedOut_.end()) return;
    refused->mayHoldNext = false;
    handedOut_.insert(refused, HandedOut{HandedOut::Kind::Lost, store, {}});
}

const HandedOut* ReplyLedger::AnyRefused() const {
    const auto refused = std::find_if(handedOut_.begin(), handedOut_.end(),
                                      [](const HandedOut& h) { return h.kind == HandedOut::Kind::Refused; });
    return refused == handedOut_.end() ? nullptr : &*refused;
}

HandedOut* ReplyLedger::HeldFor(uint64_t answerId) {
    const auto held = std::find_if(handedOut_.begin(), handedOut_.end(), [&](const HandedOut& h) {
        return h.kind != HandedOut::Kind::Record && h.answerId == answerId;
    });
    return held == handedOut_.end() ? nullptr : &*held;
}

HandedOut* ReplyLedger::RefusedFor(uint64_t answerId) {
    const auto refused = std::find_if(handedOut_.begin(), handedOut_.end(), [&](const HandedOut& h) {
        return h.kind == HandedOut::Kind::Refused && h.answerId == answerId;
    });
    return refused == handedOut_.end() ? nullptr : &*refused;
}

// A NAK asks the terminal for the reply it sent last: once it has answered,
// or been sent, a line for another answer, a record refused before cannot be
// asked for again.
void ReplyLedger::LoseRefusedOtherThan(std::optional<uint64_t> answerId, bool mayHaveHeldNext) {
    for (auto h = handedOut_.begin(); h != handedOut_.end(); ++h) {
        if (h->kind != HandedOut::Kind::Refused || (answerId && h->answerId == *answerId)) continue;
        h->kind = HandedOut::Kind::Lost;
        // A line that may have held the next record too stands for both,
        // unless that record's reply has come on its own line.
        if (std::exchange(h->mayHoldNext, false) && mayHaveHeldNext)
            h = handedOut_.insert(h, HandedOut{HandedOut::Kind::Lost, h->store, {}}) + 1;
    }
}

// The line settles the oldest reply owed, except an ACK before a record:
// what follows its letters (up to a NUL) starts the next line, and ACK
// straight before OVER is the end of the records.
ReplyLine ReplyLedger::CompleteLine(const std::string& line) {
    const OwedReply owed = owed_.front();
    const bool tooLong = partial_.Overflowed() || line.size() > LongestLine(owed.kind);
    const uint64_t beganAfter = partialBegun_ ? partialBeganAfter_ : linesWritten_;
    ClearPartial();
    if (owed.kind == ReplyKind::Record && !tooLong && BeginsWith(line, protocol::kAck)) {
        const std::string_view rest = UpToNul(std::string_view(line).substr(std::string_view(protocol::kAck).size()));
        if (!BeginsWith(rest, protocol::kOver)) {
            // The record after the ACK is the same reply: it began with the ACK.
            partial_.Assign(rest);
            partialBegun_ = true;
            partialBeganAfter_ = beganAfter;
            return {owed, rest, false, true, false};
        }
        owed_.pop_front();
        LoseRefusedOtherThan(owed.answerId, false);
        return {owed, rest, false, false, false};
    }
    owed_.pop_front();
    LoseRefusedOtherThan(owed.answerId, false);
    const bool mayHoldNext = !owed_.empty() && owed_.front().answerId != owed.answerId &&
                             (owed_.front().line > beganAfter || HoldsTwoRecords(line));
    return {owed, line, tooLong, false, mayHoldNext};
}

Filed ReplyLedger::File(const ReplyLine& line, bool answersOwnLine) {
    if (line.leadIn || line.owed.kind != ReplyKind::Record) return Filed::Dropped;
    const uint64_t answerId = line.owed.answerId;
    const RecordVerdict verdict = JudgeRecordLine(line.bytes, line.tooLong);
    switch (verdict.kind) {
        case RecordVerdict::Kind::Record: {
            AnswerTaken(answerId);
            const bool sameAsLast = verdict.text == lastRecord_;
            lastRecord_.assign(verdict.text);
            HandedOut* held = HeldFor(answerId);
            if (held != nullptr && held->unsure && sameAsLast) {
                // The record the terminal sent before: the line cut with the
                // port may never have reached it, or its record was the same
                // text. Which, nothing tells: its place is reported lost.
                held->kind = HandedOut::Kind::Lost;
                held->unsure = false;
                return Filed::Dropped;
            }
            HandedOut record{HandedOut::Kind::Record, line.owed.store, std::string(verdict.text)};
            if (held != nullptr)
                *held = std::move(record);  // asked for again, or late, and come whole
            else
                Hand(std::move(record));
            return Filed::Record;
        }
        case RecordVerdict::Kind::End:
            AnswerTaken(answerId);
            // The line asked for again was the end of the records, garbled
            // or cut: no record is missing.
            handedOut_.erase(std::remove_if(handedOut_.begin(), handedOut_.end(),
                                            [&](const HandedOut& h) {
                                                return h.kind == HandedOut::Kind::Refused && h.answerId == answerId;
                                            }),
                             handedOut_.end());
            return Filed::End;
        case RecordVerdict::Kind::Refused: break;
    }
    if (TerminalRefused(line)) {
        // The terminal has no record to send again: a NAK finds the one it
        // was asked for gone (it heard the NAK garbled and moved on).
        if (line.owed.asksAgain) {
            if (HandedOut* refused = RefusedFor(answerId)) refused->kind = HandedOut::Kind::Lost;
        }
        return answersOwnLine && !line.owed.asksAgain ? Filed::Declined : Filed::Dropped;
    }
    if (HandedOut* refused = RefusedFor(answerId); refused != nullptr && refused->unsure) {
        // Garbled, for a line that may never have been heard: what the
        // terminal holds cannot be told, and is not asked for again.
        refused->kind = HandedOut::Kind::Lost;
        refused->unsure = false;
        return Filed::Dropped;
    }
    LeaveRefused(line.owed.store, answerId, line.mayHoldNext);
    return Filed::Refused;
}

void SendOwing(SerialLine& line, Clock& clock, ReplyLedger& ledger, std::string_view bytes, ReplyKind kind,
                   Store store, bool drain, std::optional<uint64_t> sameAnswerAs) {
    if (!ledger.Owes() && !ledger.TakingARead()) {
        uint8_t chunk[protocol::kReadChunkSize];
        for (size_t count; (count = line.ReadQueued(chunk, sizeof chunk)) > 0;) {
            ledger.Take(chunk, count, [](const ReplyLine&) { return false; });
            if (count < sizeof chunk) break;
        }
        ledger.DropExpired(clock.NowMs());
        if (line.GoneError()) return;
    }
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    if (drain)
        line.WriteAndDrain(data, bytes.size());
    else
        line.Write(data, bytes.size());
    if (line.GoneError()) return;
    ledger.Owe(kind, store, clock.NowMs(), sameAnswerAs);
}

std::optional<int32_t> SettleOwedReplies(SerialLine& line, Clock& clock, Pace pace, ReplyLedger& ledger) {
    return SettleOwedReplies(line, clock, pace, ledger, [&](const ReplyLine& reply) { ledger.File(reply); });
}

}  // namespace quill
