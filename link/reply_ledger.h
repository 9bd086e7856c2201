// The replies the terminal still owes. It answers every line written to it
// with one line, in the order the lines were written, and sometimes late: so
// a command written twice is answered twice, and a reply may come after its
// operation has given up. Each received line is taken for the oldest reply
// still owed; a line nobody is owed is dropped. A record that arrives for a
// download beyond the one that was answered is held for the next download of
// the same store, in order, so nothing the terminal handed out is lost and
// nothing is filed under another store.
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
    bool answerTaken;  // that record has been taken: this copy is dropped
};

// A complete line and the reply it answers.
struct ReplyLine {
    OwedReply owed;
    std::string_view bytes;  // before the CR
    bool tooLong;            // more than a reply of its kind may hold
    bool leadIn;             // an ACK before a record: that reply is still owed
};

class ReplyLedger {
public:
    // Notes a reply owed for a line written now; `sameAnswerAs` for a line
    // that asks for an answer again.
    void Owe(ReplyKind kind, Store store, uint64_t writtenAtMs, std::optional<uint64_t> sameAnswerAs = {}) {
        const uint64_t answerId = sameAnswerAs ? *sameAnswerAs : ++lastAnswerId_;
        owed_.push_back({kind, store, writtenAtMs + protocol::kLateReplyLimitMs, answerId, false});
    }
    // The answer has been taken: further copies of it are dropped as they come.
    void AnswerTaken(uint64_t answerId);
    bool Owes() const { return !owed_.empty(); }
    // True when replies are owed and all of them are records of `store`.
    bool OwesOnlyRecordsOf(Store store) const;
    // Gives up the replies whose time is over.
    void DropExpired(uint64_t nowMs);
    // Gives up every reply still owed and the line being collected; the held
    // records stay.
    void ForgetOwed();
    // The port was closed: the bytes of a line being collected went with it.
    // What the terminal owes is still on its way, and still expires in time.
    void LineClosed() { partial_.Clear(); }
    // Another port: nothing there is owed or held.
    void Reset();

    std::optional<std::string> TakeHeld(Store store);
    void DropHeld(Store store);

    // Takes one read in order. Each complete line goes to `onLine` with the
    // reply it answers until `onLine` returns true (the operation has its
    // answer); the lines after that are filed. True when answered.
    template <class OnLine>
    bool Take(const uint8_t* bytes, size_t count, OnLine&& onLine) {
        bool answered = false;
        for (size_t i = 0; i < count; ++i) {
            if (bytes[i] != protocol::kCarriageReturn) {
                partial_.Append(bytes[i]);
                continue;
            }
            if (owed_.empty()) {
                partial_.Clear();  // nobody asked for it
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

    // A line no operation waits for: a good record is held for its store,
    // anything else dropped.
    void File(const ReplyLine& line);

private:
    ReplyLine CompleteLine(const std::string& line);
    void Hold(Store store, std::string_view text) { held_.emplace_back(store, std::string(text)); }

    std::deque<OwedReply> owed_;
    BoundedLine partial_{protocol::kMaxReplyLength};
    std::deque<std::pair<Store, std::string>> held_;  // in the order they arrived
    uint64_t lastAnswerId_ = 0;
};

// Writes a line the terminal answers and notes the reply as owed; with
// `drain`, waits until the bytes have gone out.
void SendOwing(SerialLine& line, Clock& clock, ReplyLedger& ledger, std::string_view bytes, ReplyKind kind,
                   Store store = {}, bool drain = false, std::optional<uint64_t> sameAnswerAs = {});

// Before a command goes out: takes what is queued, waits for each reply still
// owed until it comes or its time is over, and puts it where it belongs (a
// record held for its store, anything else dropped); then nothing is owed and
// nothing queued. The result code when the line failed meanwhile.
std::optional<int32_t> SettleOwedReplies(SerialLine& line, Clock& clock, Pace pace, ReplyLedger& ledger);

}  // namespace quill
