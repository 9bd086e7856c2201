// The replies the terminal still owes. It answers every line it hears with
// one line, in the order the lines were written, and sometimes late: so a
// command written twice may be answered twice, and a reply may come after its
// operation has given up. A line it never heard (it was busy, or noise ate
// the line's end) is never answered: its reply is given up when its time is
// over. Each received line is taken for the oldest reply still owed; a line
// nobody is owed is dropped.
//
// What a download's lines hand out is kept per store, in order, until a
// download of that store takes it: a record that came for a download beyond
// the one that was answered, a garbled record the terminal can still be asked
// for again with NAK, and the place of a garbled record it has moved past
// (reported to that store's next download as a failure). So nothing the
// terminal handed out is lost or filed under another store, and nothing it
// moved past is passed over with success.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "link/bounded_line.h"
#include "link/pace.h"
#include "link/protocol.h"
#include "link/receive_pass.h"
#include "link/reply_class.h"
#include "link/serial_line.h"

namespace quill {

// What kind of line answers a line written.
enum class ReplyKind {
    Command,    // a command of an exchange: any line up to 1023 bytes
    Record,     // a download command or NAK: a record line or OVER; ACK only leads in
    RecordAck,  // a copy of an uploaded record: ACK, FULL or a refusal, up to 255 bytes
};

// The terminal's stores whose records a download fetches.
struct Store {
    enum class Kind { None, Document, Database } kind = Kind::None;
    int32_t number = 0;
    friend bool operator==(Store a, Store b) { return a.kind == b.kind && a.number == b.number; }
};

struct OwedReply {
    ReplyKind kind;
    Store store;  // for Record replies: whose record it brings
    uint64_t expiresAtMs;
    // Replies with the same id bring the same record: the answers to a
    // command and to each NAK that asked for that record again.
    uint64_t answerId;
    uint64_t line;      // the how-many-th line written this answers
    bool answerTaken;   // that record has been taken: this copy is dropped
    bool asksAgain;     // a NAK: the terminal sends again the record it sent last
};

// A complete line and the reply it answers.
struct ReplyLine {
    OwedReply owed;
    std::string_view bytes;  // before the CR
    bool tooLong;            // more than a reply of its kind may hold
    bool leadIn;             // an ACK before a record: that reply is still owed
    // It began to arrive before the next line owed, which asks for another
    // record, was written, or it is a whole record line and more (the first
    // one late, its CR lost): if its own CR was lost, it holds that reply too.
    bool mayHoldNext;
};

// What a download's line left for its store.
struct HandedOut {
    enum class Kind {
        Record,   // a good record
        Refused,  // a garbled record the terminal still sends again at a NAK
        Lost,     // a garbled record the terminal has moved past
    } kind;
    Store store;
    std::string text;          // Record: the record text
    uint64_t answerId = 0;     // Refused: what a NAK asks for again; Lost: the answer it stands for
    bool mayHoldNext = false;  // Refused: the record after it may have come with it
    // Refused: its line went out just before the port was cut, and nothing
    // of its reply came: the terminal may never have heard it, and a NAK may
    // bring the record before it again (the one it sent last).
    bool unsure = false;
};

// What became of a line of a download.
enum class Filed {
    Record,    // a good record
    End,       // OVER: no more records
    Refused,   // a garbled record, to be asked for again with NAK
    Declined,  // NAK, OK or ERR for the line's own command: no record came, the command may go again
    Dropped,   // nothing for the store
};

class ReplyLedger {
public:
    // The clock times the bytes of a line as they come.
    explicit ReplyLedger(const Clock& clock) : clock_(clock) {}

    // Notes a reply owed for a line written now; `sameAnswerAs` for a line
    // that asks for an answer again. Any other line moves the terminal past
    // the garbled records it could still have sent again.
    void Owe(ReplyKind kind, Store store, uint64_t writtenAtMs, std::optional<uint64_t> sameAnswerAs = {});
    // The line the next Owe notes.
    uint64_t NextLine() const { return linesWritten_ + 1; }
    // The answer has been taken: further copies of it are dropped as they come.
    void AnswerTaken(uint64_t answerId);
    bool Owes() const { return !owed_.empty(); }
    // True while a read is being taken: a line written now (a NAK at a
    // refusal) comes before the rest of that read is taken.
    bool TakingARead() const { return taking_; }
    // True when replies are owed and all of them are records of `store`.
    bool OwesOnlyRecordsOf(Store store) const;
    // True when a reply is owed that brings another answer than `answerId`.
    bool OwesOtherThan(uint64_t answerId) const;
    // True when a reply is owed to a line written before the `line`-th.
    bool OwesLinesBefore(uint64_t line) const { return !owed_.empty() && owed_.front().line < line; }
    // True when a reply is owed whose answer was taken already: what comes
    // for it is no answer to a line written now.
    bool OwesSettledAnswers() const;
    // True while the bytes of a reply owed are coming in: a line written
    // now would reach the terminal before that reply has ended.
    bool LineInProgress() const { return partialBegun_ && !owed_.empty(); }
    // Gives up the replies whose time is over. A reply's time runs until
    // 400 ms after its line, and on while its bytes keep coming. A record
    // whose bytes had begun to come and never ended (its CR was lost, or
    // it stopped half-way) was sent: it is left to its store to ask for
    // again with NAK, and the first line that completes after it, begun
    // within 400 ms, is its tail when it can be nothing else (below). The
    // replies owed behind a line given up half-way come after its tail:
    // their time runs anew.
    void DropExpired(uint64_t nowMs);
    // Gives up every reply still owed and the line being collected; what
    // the stores were handed stays.
    void ForgetOwed();
    // The port was closed, or failed: the bytes of a line being collected
    // went with it, and so may every reply still owed. A record cut so is
    // left to its store to ask for again with NAK; so is a record whose
    // command went out and whose reply had not begun (the terminal most
    // likely sent it into the closed port); an earlier record owed to the
    // same store, the terminal has moved past: its place is reported lost.
    // The replies stay owed until their time is over, in case they still
    // come on the port opened again: a record that does is taken whole.
    void LineClosed();
    // Lines the link did not write have reached the terminal (another
    // program on the port, the search for the terminal): a garbled record
    // can no longer be asked for again.
    void TerminalSpokenToElsewhere() { LoseRefusedOtherThan(std::nullopt); }
    // Another port: nothing there is owed or handed out.
    void Reset();

    // The oldest of what `store` was handed, if any.
    const HandedOut* First(Store store) const;
    HandedOut TakeFirst(Store store);
    // The garbled record of any store that a NAK would still bring again.
    const HandedOut* AnyRefused() const;
    // The garbled record of `store` that a NAK would still bring again, if any.
    const HandedOut* Refused(Store store) const;
    // A store the terminal has cleared: what it was handed goes.
    void DropHandedOut(Store store);
    // The refused record may have carried the next one with it: its place
    // is reported lost, and a NAK now asks for whatever the terminal sent
    // last.
    void ReportLostBefore(Store store);

    // Takes one read in order. Each complete line goes to `onLine` with the
    // reply it answers until `onLine` returns true (the operation has its
    // answer); the lines after that are filed. True when answered.
    template <class OnLine>
    bool Take(const uint8_t* bytes, size_t count, OnLine&& onLine) {
        const Taking taking(taking_);
        bool answered = false;
        for (size_t i = 0; i < count; ++i) {
            partialLastByteMs_ = clock_.NowMs();
            if (bytes[i] != protocol::kCarriageReturn) {
                if (!partialBegun_) {
                    partialBegun_ = true;
                    partialBeganAfter_ = linesWritten_;
                    partialBeganAtMs_ = partialLastByteMs_;
                }
                partial_.Append(bytes[i]);
                continue;
            }
            const uint64_t beganAtMs = partialBegun_ ? partialBeganAtMs_ : partialLastByteMs_;
            const bool mayBeTail = std::exchange(tailMayFollow_, false) &&
                                   beganAtMs <= givenUpAtMs_ + protocol::kLateReplyLimitMs;
            if (owed_.empty()) {
                ClearPartial();  // nobody asked for it
                continue;
            }
            if (mayBeTail && IsTailOfTheLineGivenUp(partial_.Bytes())) {
                TailDropped();  // the rest of a line given up: no answer to a later one
                continue;
            }
            const std::string line(partial_.Bytes());
            const ReplyLine reply = CompleteLine(line);
            if (reply.owed.answerTaken && !reply.leadIn) continue;
            if (answered)
                File(reply);
            else
                answered = onLine(reply);
        }
        return answered;
    }

    // Puts a download's line where it belongs: a good record in its store's
    // line, a garbled one too while a NAK can still bring it again. A
    // refusal by the terminal (NAK, OK, ERR) brings no record: answering a
    // command, it says the terminal sent none (only the download that wrote
    // the command asks again); answering a NAK, that the terminal no longer
    // holds the record asked for, which is lost.
    Filed File(const ReplyLine& line, bool answersOwnLine = false);

private:
    ReplyLine CompleteLine(const std::string& line);
    void ClearPartial();
    // The lines written when the first byte of the line being collected came.
    uint64_t PartialBeganAfter() const { return partialBegun_ ? partialBeganAfter_ : linesWritten_; }
    // A line completes just after one was given up half-way: it is that
    // line's tail when it began before the line owed was written, or cannot
    // be a whole reply to it (for a download's line: no record whose
    // checksum holds, no keyword; for a copy of an upload: no ACK, NAK or
    // FULL). Any line may answer a command.
    bool IsTailOfTheLineGivenUp(std::string_view line) const;
    // Drops such a tail. A download's line that came after its line went
    // out may also be its own reply, garbled (the line given up had lost its
    // CR, and no tail was coming): its record is left to ask for again once
    // the reply owed is over, unless that reply still brings it.
    void TailDropped();
    // Until when the oldest reply owed is waited for.
    uint64_t FrontExpiresAtMs() const;
    // The oldest reply owed ends without its CR: a record it was bringing
    // is left to ask for again.
    void CutFront();
    void LeaveRefused(Store store, uint64_t answerId, bool mayHoldNext, bool unsure = false);
    // What a store holds for `answerId`: a record asked for again, or the
    // place of one reported lost, which the record itself replaces if it
    // still comes.
    HandedOut* HeldFor(uint64_t answerId);
    void Hand(HandedOut handedOut) { handedOut_.push_back(std::move(handedOut)); }
    HandedOut* RefusedFor(uint64_t answerId);
    // The terminal has sent or been sent another line since: a refused
    // record other than `answerId` can no longer be asked for again.
    // `mayHaveHeldNext`: false when the line goes because another reply
    // came on a line of its own.
    void LoseRefusedOtherThan(std::optional<uint64_t> answerId, bool mayHaveHeldNext = true);

    // Marks a read being taken, for as long as it is.
    struct Taking {
        explicit Taking(bool& flag) : flag_(flag), was_(flag) { flag_ = true; }
        ~Taking() { flag_ = was_; }
        Taking(const Taking&) = delete;
        Taking& operator=(const Taking&) = delete;
        bool& flag_;
        const bool was_;
    };

    const Clock& clock_;
    bool taking_ = false;
    std::deque<OwedReply> owed_;
    BoundedLine partial_{protocol::kMaxReplyLength};
    bool partialBegun_ = false;
    uint64_t partialBeganAfter_ = 0;  // the lines written when its first byte came
    uint64_t partialLastByteMs_ = 0;  // when its last byte was taken
    bool tailMayFollow_ = false;      // a line was given up half-way: its tail may still come
    uint64_t givenUpAtMs_ = 0;        // when; a line begun more than 400 ms later is no tail
    uint64_t partialBeganAtMs_ = 0;   // when the first byte of the line being collected came
    std::string lastRecord_;          // the last good record the terminal sent, of any store
    std::deque<HandedOut> handedOut_;  // in the order they arrived
    uint64_t lastAnswerId_ = 0;
    uint64_t linesWritten_ = 0;
};

// Writes a line the terminal answers and notes the reply as owed; with
// `drain`, waits until the bytes have gone out. With nothing owed, what is
// still queued is taken first and dropped (the tail of a line given up, a
// copy nobody waits for): it is no answer to this line. (A line written
// while a read is being taken is written before the rest of that read, as
// it always was.) A line written to a port found gone reached nobody:
// nothing is owed for it.
void SendOwing(SerialLine& line, Clock& clock, ReplyLedger& ledger, std::string_view bytes, ReplyKind kind,
                   Store store = {}, bool drain = false, std::optional<uint64_t> sameAnswerAs = {});

// Before a command goes out, while replies are owed: takes what is queued,
// waits for each reply still owed until it comes or its time is over, and
// hands each line to `onLine` (by default: a download's line filed for its
// store, anything else dropped); then nothing is owed, and what is still
// queued the command's write drops. The result code when the line failed
// meanwhile.
template <class OnLine>
std::optional<int32_t> SettleOwedReplies(SerialLine& line, Clock& clock, Pace pace, ReplyLedger& ledger,
                                         OnLine&& onLine);
std::optional<int32_t> SettleOwedReplies(SerialLine& line, Clock& clock, Pace pace, ReplyLedger& ledger);

template <class OnLine>
std::optional<int32_t> SettleOwedReplies(SerialLine& line, Clock& clock, Pace pace, ReplyLedger& ledger,
                                         OnLine&& onLine) {
    auto take = [&](const uint8_t* bytes, size_t count) {
        return ledger.Take(bytes, count, [&](const ReplyLine& reply) {
            onLine(reply);
            return false;
        });
    };
    if (!ledger.Owes()) return std::nullopt;  // what is queued, the next line's write drops
    Receiver receiver(line, clock, pace);
    receiver.Drain(take);
    ledger.DropExpired(clock.NowMs());
    while (ledger.Owes()) {
        if (const auto ending = EndingCode(receiver.RunPass(take))) return ending;
        ledger.DropExpired(clock.NowMs());
    }
    return std::nullopt;
}

}  // namespace quill
