// Records between the terminal and the component, one per call: downloads of
// document and database records, the upload of a database record, and the
// end of a load.

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/numbers.h"
#include "core/result_codes.h"
#include "link/checksum.h"
#include "link/command_line.h"
#include "link/protocol.h"
#include "link/receive_pass.h"
#include "link/received_record.h"
#include "link/reply_class.h"
#include "link/reply_ledger.h"
#include "link/terminal_link.h"

namespace quill {
namespace {

constexpr int32_t kRecordReceived = 1;
constexpr int32_t kNoMoreRecords = 0;
constexpr int32_t kDownloadFailed = -1;
constexpr int32_t kStored = 1;
constexpr int32_t kNotStored = 0;

// Where a number outside `range` falls: below it the data is "too short",
// above it "too long".
std::optional<int32_t> RangeCode(int32_t number, Range range) {
    if (number < range.lowest) return code::kDataTooShort;
    if (number > range.highest) return code::kDataTooLong;
    return std::nullopt;
}

// Commas separate the fields; the walk stops after the last field's comma,
// so text beyond it reaches no field.
void SplitIntoFields(std::string_view text, std::array<std::string, kFieldCount>& fields) {
    size_t field = 0;
    for (char c : text) {
        if (static_cast<uint8_t>(c) != protocol::kComma) {
            fields[field].push_back(c);
        } else if (++field == fields.size()) {
            return;
        }
    }
}

struct DownloadKind {
    const char* command;
    Store::Kind store;
    Range numbers;
    bool emptiesDataFirst;
    bool timeoutSetsCode;
    bool givingUpLeavesTimeout;  // rather than whichever code was set last
};

constexpr DownloadKind kDocumentDownload{protocol::kGetDocumentRecord, Store::Kind::Document,
                                         protocol::kDocumentRange, true, true, false};
constexpr DownloadKind kDatabaseDownload{protocol::kGetDatabaseRecord, Store::Kind::Database,
                                         protocol::kDatabaseRange, false, false, true};

class RecordDownload {
public:
    RecordDownload(SerialLine& line, Clock& clock, Pace pace, ReplyLedger& ledger, ComponentState& state,
                   const DownloadKind& kind)
        : line_(line), clock_(clock), pace_(pace), ledger_(ledger), state_(state), kind_(kind) {}

    int32_t Run(int32_t number) {
        if (const auto outside = RangeCode(number, kind_.numbers)) {
            state_.result = *outside;
            return kDownloadFailed;
        }
        if (!line_.IsOpen()) {
            state_.result = code::kPortNotInitialised;
            return kDownloadFailed;
        }
        if (kind_.emptiesDataFirst) state_.data.clear();
        state_.result = code::kTimeout;
        store_ = Store{kind_.store, number};
        command_ = NumberedCommand(kind_.command, number);
        firstOwnLine_ = ledger_.NextLine();
        if (const auto handedOut = TakeHandedOut()) return *handedOut;
        // Replies owed to other operations or stores are waited for and put
        // where they belong before this download writes anything.
        if (ledger_.Owes() && !ledger_.OwesOnlyRecordsOf(store_)) {
            if (const auto ending = SettleOwedReplies(line_, clock_, pace_, ledger_)) {
                state_.result = *ending;
                return kDownloadFailed;
            }
            if (const auto handedOut = TakeHandedOut()) return *handedOut;
        }
        Receiver receiver(line_, clock_, pace_);
        return Receive(receiver);
    }

private:
    // Takes one read: lines to TakeLine until the download has its answer.
    auto Taker() {
        return [this](const uint8_t* bytes, size_t count) {
            return ledger_.Take(bytes, count, [this](const ReplyLine& line) { return TakeLine(line); });
        };
    }

    // The first thing this store was handed, when it answers the download:
    // a record, or the place of one the terminal moved past. A garbled
    // record after that place is asked for again first, while the terminal
    // can still send it: the next call may be another operation's.
    std::optional<int32_t> TakeHandedOut() {
        if (!HasAnswer()) return std::nullopt;
        const HandedOut taken = ledger_.TakeFirst(store_);
        if (taken.kind == HandedOut::Kind::Lost) {
            state_.result = code::kTransferError;
            return kDownloadFailed;
        }
        Accept(taken.text);
        state_.result = code::kSuccess;
        return kRecordReceived;
    }

    bool HasAnswer() const {
        const HandedOut* first = ledger_.First(store_);
        if (first == nullptr || first->kind == HandedOut::Kind::Refused) return false;
        return first->kind == HandedOut::Kind::Record || ledger_.Refused(store_) == nullptr;
    }

    // Records still owed to this store (for commands an earlier download
    // wrote) answer this download before it asks itself; a garbled record is
    // asked for again with NAK once no other record can come before the
    // terminal hears it.
    int32_t Receive(Receiver& receiver) {
        for (;;) {
            if (const auto handedOut = TakeHandedOut()) return *handedOut;
            if (failedAttempts_ >= protocol::kFailedAttemptsBeforeGivingUp)
                return GiveUp(kind_.givingUpLeavesTimeout ? code::kTimeout : state_.result);
            const std::optional<bool> counted = WriteWhatIsDue();
            if (!counted) continue;
            const PassResult pass = receiver.RunPass(Taker());
            if (pass == PassResult::Answered) {
                if (std::exchange(endReached_, false)) return Finish(kNoMoreRecords);
                continue;
            }
            if (const auto ending = EndingCode(pass)) return GiveUp(*ending);
            ledger_.DropExpired(clock_.NowMs());
            if (pass == PassResult::TimedOut && *counted) CountTimeout();
        }
    }

    // Writes what the download owes the terminal before its next wait, if
    // anything. Whether that wait counts as an attempt; nothing when the
    // store has an answer without one.
    std::optional<bool> WriteWhatIsDue() {
        if (const HandedOut* refused = ledger_.Refused(store_)) {
            // Another record may still come: if it does, the terminal has
            // moved past the garbled one. Until that is settled, nothing goes
            // out and the waits are not attempts.
            if (ledger_.OwesOtherThan(refused->answerId)) return false;
            if (refused->mayHoldNext) {
                ledger_.ReportLostBefore(store_);
                return std::nullopt;
            }
            if (!ledger_.Owes()) AskAgain(refused->answerId);
            return !WaitingForOthers();
        }
        // Copies of answers dealt with already: what comes for them must not
        // be taken for the answer to a line written now.
        if (ledger_.OwesSettledAnswers()) return false;
        if ((!asked_ || askDue_) && !ledger_.Owes()) Ask();
        return !WaitingForOthers();
    }

    // A wait for a reply to a line an earlier call wrote, or for the rest of
    // a reply coming in, is not an attempt of this download: its time is
    // bounded by that reply's.
    bool WaitingForOthers() const { return ledger_.LineInProgress() || ledger_.OwesLinesBefore(firstOwnLine_); }

    // The last message goes out again: a command asks for the next record,
    // a NAK for the garbled one again. Not while a reply is coming in: the
    // terminal heard the line, and a command would move it past the record
    // on its way.
    void CountTimeout() {
        if (kind_.timeoutSetsCode) state_.result = code::kTimeout;
        if (++failedAttempts_ != protocol::kTimeoutsBeforeResend) return;
        if (ledger_.LineInProgress()) return;
        if (const HandedOut* refused = ledger_.Refused(store_))
            AskAgain(refused->answerId);
        else
            Ask();
    }

    // True when the line ends the download.
    bool TakeLine(const ReplyLine& line) {
        if (line.leadIn) {
            failedAttempts_ = 0;
            return false;
        }
        switch (ledger_.File(line, line.owed.line >= firstOwnLine_)) {
            case Filed::Refused: Refuse(); break;
            case Filed::Declined: Decline(); break;
            case Filed::End:
                if (ledger_.First(store_) == nullptr) return endReached_ = true;
                break;
            case Filed::Record:
            case Filed::Dropped: break;
        }
        return HasAnswer();
    }

    void Accept(std::string_view text) {
        state_.ClearTexts();
        state_.data.assign(text);
        SplitIntoFields(text, state_.fields);
    }

    // A garbled line: asked for again at once unless another record may
    // still come (copies of the same one may: they are taken once); never
    // kept.
    void Refuse() {
        ++failedAttempts_;
        state_.result = code::kTransferError;
        const HandedOut* refused = ledger_.Refused(store_);
        if (refused != nullptr && !refused->mayHoldNext && !ledger_.OwesOtherThan(refused->answerId))
            AskAgain(refused->answerId);
    }

    // The terminal did not take the command for one (it heard it garbled)
    // and sent no record: the command goes again once nothing else is owed.
    void Decline() {
        ++failedAttempts_;
        state_.result = code::kTransferError;
        askDue_ = true;
    }

    // The download ends without a record. A garbled record the terminal can
    // still send again stays its store's, asked for by the next download.
    int32_t GiveUp(int32_t resultCode) {
        state_.result = resultCode;
        return kDownloadFailed;
    }

    int32_t Finish(int32_t outcome) {
        state_.result = code::kSuccess;
        return outcome;
    }

    void Ask() {
        if (!asked_) line_.AbortPending();
        asked_ = true;
        askDue_ = false;
        SendOwing(line_, clock_, ledger_, command_, ReplyKind::Record, store_);
    }

    void AskAgain(uint64_t answerId) {
        asked_ = true;
        SendOwing(line_, clock_, ledger_, protocol::kRefuseRecord, ReplyKind::Record, store_, false, answerId);
    }

    SerialLine& line_;
    Clock& clock_;
    const Pace pace_;
    ReplyLedger& ledger_;
    ComponentState& state_;
    const DownloadKind& kind_;
    Store store_;
    std::string command_;
    uint64_t firstOwnLine_ = 0;  // the lines this download writes, from this one on
    int failedAttempts_ = 0;
    bool asked_ = false;       // this download has written a line
    bool askDue_ = false;      // the command goes again: the terminal declined it
    bool endReached_ = false;  // the terminal has no more records
};

// ---- Sent record lines: text without LF, checksum high, checksum low, CR.

// The non-empty fields in order, each followed by a TAB.
std::string UploadText(const std::array<std::string, kFieldCount>& fields) {
    std::string text;
    for (const std::string& field : fields) {
        const std::string_view value = UpToNul(field);
        if (value.empty()) continue;
        text.append(value);
        text.push_back(static_cast<char>(protocol::kTab));
    }
    return text;
}

std::string WithoutLineFeeds(std::string_view text) {
    std::string kept;
    for (char c : text)
        if (static_cast<uint8_t>(c) != protocol::kLineFeed) kept.push_back(c);
    return kept;
}

std::string SentRecordLine(std::string text) {
    const ChecksumBytes checksum = LineChecksum(text);
    text.push_back(static_cast<char>(checksum.high));
    text.push_back(static_cast<char>(checksum.low));
    text.push_back(static_cast<char>(protocol::kCarriageReturn));
    return text;
}

// A count carries no checksum: it is taken once two readings give the same
// number, at most kCountReadingsAtMost readings, and none more once no two
// could agree. At the fast pace each reading but the first (and the first
// too, with `pauseFirst`) waits the settle that the standard pace keeps
// before it reads the reply before.
struct CountRead {
    std::optional<int32_t> count;
    bool lineGaveOut = false;
};

CountRead ReadCountUntilTwoAgree(TerminalLink& link, ComponentState& state, Clock& clock, Pace pace,
                                 int32_t database, bool pauseFirst) {
    std::vector<int32_t> read;
    for (int reading = 0; reading < protocol::kCountReadingsAtMost; ++reading) {
        if (read.empty() && protocol::kCountReadingsAtMost - reading < 2) break;
        if (pace == Pace::Fast && (reading > 0 || pauseFirst)) clock.Sleep(protocol::kSettleBeforeReadMs);
        const TerminalLink::Exchanged exchanged = link.Exchange(NumberedCommand(protocol::kGetDatabaseCount, database));
        if (exchanged.lineGaveOut) return {std::nullopt, true};
        const std::optional<int32_t> count = exchanged.replied ? StrictCount(state.data) : std::nullopt;
        if (!count) continue;
        if (std::find(read.begin(), read.end(), *count) != read.end()) return {count, false};
        read.push_back(*count);
    }
    return {};
}

// What downloads of a store kept (a record to ask for again, the place of
// one lost, a record for the next download) goes once the operation that
// leaves it without meaning is over: a load into that database, or the end
// of the load.
class KeptDroppedAfter {
public:
    KeptDroppedAfter(ReplyLedger& ledger, int32_t database)
        : ledger_(ledger), store_{Store::Kind::Database, database} {}
    ~KeptDroppedAfter() { ledger_.DropHandedOut(store_); }
    KeptDroppedAfter(const KeptDroppedAfter&) = delete;
    KeptDroppedAfter& operator=(const KeptDroppedAfter&) = delete;

private:
    ReplyLedger& ledger_;
    const Store store_;
};

// Announces a load into `database`; false, with code 19 (or 5 for a broken
// line, 2 for a port gone), when the terminal did not answer ACK.
bool Announce(TerminalLink& link, ComponentState& state, int32_t database) {
    const TerminalLink::Exchanged announced = link.Exchange(NumberedCommand(protocol::kPutDatabaseRecord, database));
    if (announced.replied && BeginsWith(state.data, protocol::kAck)) return true;
    // A broken line or a port gone keeps its code; any other miss is a
    // refused load.
    if (!PortFailureCode(state.result)) state.result = code::kCannotEnterLoadMode;
    return false;
}

class RecordUpload {
public:
    RecordUpload(TerminalLink& link, SerialLine& line, Clock& clock, Pace pace, ReplyLedger& ledger,
                 ComponentState& state, DatabaseCounts& counts, std::optional<CutOffCopy>& cutOff, int32_t database,
                 std::string recordLine)
        : link_(link),
          line_(line),
          clock_(clock),
          pace_(pace),
          ledger_(ledger),
          state_(state),
          counts_(counts),
          cutOff_(cutOff),
          database_(database),
          recordLine_(std::move(recordLine)) {}

    // Sends the record until the terminal takes it, refuses it as full, or
    // the attempts run out. A copy goes out again only when the terminal
    // refused the last one or stayed silent long enough that it cannot have
    // received it, so a late acknowledgement never leaves two copies stored.
    // When the database's count is known and the answer to a copy cannot be
    // read (garbled, or missing past its time), the terminal is asked for
    // the count before anything else goes out: one record more than before
    // the copy means it was stored, and no copy goes out again.
    int32_t Run() {
        const std::optional<int32_t> countBefore = counts_.Known(database_);
        int32_t outcome = Upload();
        if (outcome == kNotStored && !PortFailureCode(state_.result) && ledger_.Owes())
            outcome = LateAcknowledgement();
        // A copy whose answer went with the port may have been stored: the
        // count after the next attach tells, when the record comes again.
        if (state_.result == code::kCannotOpenPort && copiesSent_ > 0 && countBefore)
            cutOff_ = CutOffCopy{database_, *countBefore, recordLine_};
        // A copy whose answer is still owed may yet be stored.
        if (ledger_.Owes()) counts_.Forget(database_);
        return outcome;
    }

private:
    enum class Stored { Acknowledged, Counted, No, Unknown, LineGaveOut };

    int32_t Upload() {
        for (;;) {
            // An announcement written twice is answered twice: that second
            // answer is waited for before the record goes out, never taken
            // for the record's.
            if (const auto ending = SettleOwedReplies(line_, clock_, pace_, ledger_)) {
                state_.result = *ending;
                return kNotStored;
            }
            SendCopy();
            Receiver receiver(line_, clock_, pace_);
            if (const auto outcome = ReceiveAnswers(receiver)) return *outcome;
            const Stored stored = AskWhetherStored();
            if (stored == Stored::LineGaveOut) {
                counts_.Forget(database_);
                return kNotStored;
            }
            if (stored == Stored::Acknowledged || stored == Stored::Counted) {
                // A count takes the terminal out of load mode; it is put back
                // in it, as after any record stored.
                if (stored == Stored::Counted) Announce(link_, state_, database_);
                state_.result = code::kSuccess;
                return kStored;
            }
            if (stored == Stored::Unknown) counts_.Forget(database_);  // and the copy goes again
            if (GivingUp()) {
                state_.result = failureCode_;
                return kNotStored;
            }
            PauseBeforeWriting();
            if (!Announce(link_, state_, database_)) return kNotStored;
            PauseBeforeWriting();
        }
    }

    // The answers to the copies: the outcome of the upload, or nothing when
    // the terminal is to be asked what it stored.
    std::optional<int32_t> ReceiveAnswers(Receiver& receiver) {
        auto take = [this](const uint8_t* bytes, size_t count) {
            return ledger_.Take(bytes, count, [this](const ReplyLine& line) { return TakeReply(line); });
        };
        while (!GivingUp()) {
            const PassResult pass = receiver.RunPass(take);
            if (pass == PassResult::Answered) return Answered();
            if (const auto ending = EndingCode(pass)) {
                counts_.Forget(database_);  // whether the copy was stored is not known
                state_.result = *ending;
                return kNotStored;
            }
            if (pass == PassResult::BytesTaken) silentWaits_ = 0;
            if (pass == PassResult::TimedOut) CountSilentWait();
            if (countDue_) return std::nullopt;
            if (std::exchange(copyDue_, false) && SendCopyAfterRefusal(receiver, take)) return Answered();
            if (copyWhenUnanswered_ && !GivingUp() && AnswerGivenUp()) SendCopy();
        }
        return kNotStored;
    }

    std::optional<int32_t> Answered() const {
        if (countDue_) return std::nullopt;
        return outcome_;
    }

    void SendCopy() {
        SendOwing(line_, clock_, ledger_, recordLine_, ReplyKind::RecordAck, Store{}, true);
        silentWaits_ = 0;
        ++copiesSent_;
        copyWhenUnanswered_ = false;
    }

    // The next copy after a refusal goes out once what the terminal sent with
    // the refusal is in: a record line cut in two on its way is refused twice,
    // and the second refusal must not be taken for the next copy's answer
    // (the terminal would store that copy and the one after it). At the
    // standard pace the settle before each read has gathered it; at the fast
    // pace the same settle is kept here, for refusals only. True when what
    // came meanwhile ended the upload.
    template <class Take>
    bool SendCopyAfterRefusal(Receiver& receiver, Take& take) {
        if (pace_ == Pace::Fast) {
            clock_.Sleep(protocol::kSettleBeforeReadMs);
            if (receiver.Drain(take)) return true;
        }
        ledger_.ForgetOwed();  // a line begun before this copy cannot be its answer
        SendCopy();
        return false;
    }

    // A terminal that needs a moment after its reply before it listens
    // again hears what the standard pace writes, which reads each reply a
    // settle after it came; at the fast pace the lines of a count and of the
    // copy after it wait that settle.
    void PauseBeforeWriting() {
        if (pace_ == Pace::Fast) clock_.Sleep(protocol::kSettleBeforeReadMs);
    }

    // Without a count to ask, the next copy goes out only once the answer
    // to the last is given up (400 ms after it): an acknowledgement that
    // late still finds one copy stored.
    void CountSilentWait() {
        state_.result = failureCode_ = code::kTimeout;
        if (++silentWaits_ != protocol::kSilentWaitsBeforeNextCopy) return;
        failedAttempts_ += protocol::kFailedAttemptsOfAnUnansweredCopy;
        if (counts_.Known(database_)) {
            countDue_ = true;
            return;
        }
        copyWhenUnanswered_ = true;
    }

    bool AnswerGivenUp() {
        ledger_.DropExpired(clock_.NowMs());
        return !ledger_.Owes();
    }

    void Refused() {
        state_.result = failureCode_ = code::kTransferError;
        ++failedAttempts_;
    }

    bool GivingUp() const { return failedAttempts_ >= protocol::kFailedAttemptsBeforeGivingUp; }

    // True when the reply ends the upload, or calls for the count.
    bool TakeReply(const ReplyLine& line) {
        if (!line.tooLong && BeginsWith(line.bytes, protocol::kAck)) {
            counts_.Stored(database_);
            return Finish(code::kSuccess, kStored);
        }
        if (!line.tooLong && BeginsWith(line.bytes, protocol::kFull)) return Finish(code::kMemoryFull, kNotStored);
        Refused();
        // A refusal says the copy was not stored; a garbled answer does not.
        const bool refused = !line.tooLong && BeginsWith(line.bytes, protocol::kNak);
        if (!refused && counts_.Known(database_)) return countDue_ = true;
        if (GivingUp()) return Finish(code::kTransferError, kNotStored);
        // A copy still on its way will be answered; only the last one refused
        // calls for the next, sent once this read has been taken.
        if (!ledger_.Owes()) copyDue_ = true;
        return false;
    }

    bool Finish(int32_t resultCode, int32_t outcome) {
        state_.result = resultCode;
        outcome_ = outcome;
        return true;
    }

    // The upload gave up with the answer to a copy still owed: it is waited
    // for within its time, so that a copy the terminal acknowledged late is
    // reported stored, and the script's next try does not store it again.
    int32_t LateAcknowledgement() {
        const int32_t failure = state_.result;
        bool acknowledged = false;
        const auto ending = SettleOwedReplies(line_, clock_, pace_, ledger_, [&](const ReplyLine& reply) {
            acknowledged = acknowledged || IsAcknowledgement(reply);
            ledger_.File(reply);
        });
        if (!acknowledged) {
            state_.result = ending.value_or(failure);
            return kNotStored;
        }
        counts_.Stored(database_);
        state_.result = code::kSuccess;
        return kStored;
    }

    static bool IsAcknowledgement(const ReplyLine& reply) {
        return reply.owed.kind == ReplyKind::RecordAck && !reply.tooLong && BeginsWith(reply.bytes, protocol::kAck);
    }

    // Whether the copy whose answer could not be read was stored: an
    // acknowledgement that still comes says so; otherwise the count, read
    // alike twice, against the count before the copy.
    Stored AskWhetherStored() {
        countDue_ = false;
        const int32_t before = *counts_.Known(database_);
        bool acknowledged = false;
        const auto ending = SettleOwedReplies(line_, clock_, pace_, ledger_, [&](const ReplyLine& reply) {
            if (IsAcknowledgement(reply))
                acknowledged = true;
            else
                ledger_.File(reply);
        });
        if (ending) {
            state_.result = *ending;
            return Stored::LineGaveOut;
        }
        if (acknowledged) {
            counts_.Stored(database_);
            return Stored::Acknowledged;
        }
        // Noise on the count's command or reply gives no number, or another
        // one: the count is taken once two readings give the same.
        const CountRead read = ReadCountUntilTwoAgree(link_, state_, clock_, pace_, database_, true);
        if (read.lineGaveOut) return Stored::LineGaveOut;
        const std::optional<int32_t> agreed = read.count;
        if (!agreed) return Stored::Unknown;
        if (*agreed == before + 1) {
            counts_.Asked(database_, *agreed);
            return Stored::Counted;
        }
        return *agreed == before ? Stored::No : Stored::Unknown;
    }

    TerminalLink& link_;
    SerialLine& line_;
    Clock& clock_;
    const Pace pace_;
    ReplyLedger& ledger_;
    ComponentState& state_;
    DatabaseCounts& counts_;
    std::optional<CutOffCopy>& cutOff_;
    const int32_t database_;
    const std::string recordLine_;
    int copiesSent_ = 0;
    int failedAttempts_ = 0;
    int silentWaits_ = 0;
    int32_t failureCode_ = code::kTimeout;  // 8 or 9, whichever was set last
    bool copyDue_ = false;   // refused, and nothing else owed: the next copy goes out
    bool copyWhenUnanswered_ = false;  // unanswered, no count: the next copy once the answer is given up
    bool countDue_ = false;  // the answer could not be read: the terminal is asked what it stored
    int32_t outcome_ = kNotStored;
};

}  // namespace

int32_t TerminalLink::GetDocumentRecord(int32_t document) {
    return ClosingAGonePort(
        [&] { return RecordDownload(line_, clock_, pace_, ledger_, state_, kDocumentDownload).Run(document); });
}

int32_t TerminalLink::GetDatabaseRecord(int32_t database) {
    return ClosingAGonePort(
        [&] { return RecordDownload(line_, clock_, pace_, ledger_, state_, kDatabaseDownload).Run(database); });
}

int32_t TerminalLink::PutDatabaseRecord(int32_t database) {
    return ClosingAGonePort([&] { return LoadRecord(database); });
}

int32_t TerminalLink::LoadRecord(int32_t database) {
    if (const auto outside = RangeCode(database, protocol::kUploadDatabaseRange)) {
        state_.result = *outside;
        return kNotStored;
    }
    state_.result = code::kNoDataToSend;
    state_.data = UploadText(state_.fields);
    if (state_.data.empty()) return kNotStored;
    const std::string sentText = WithoutLineFeeds(state_.data);
    if (sentText.size() > protocol::kMaxSentRecordText) {
        state_.result = code::kDataTooLong;
        return kNotStored;
    }
    if (sentText.find(static_cast<char>(protocol::kCarriageReturn)) != std::string::npos) {
        // The terminal ends a record line at its first CR: a CR inside a field
        // would cut the record short there, so such a record is not sent.
        state_.result = code::kTransferError;
        return kNotStored;
    }
    if (!IsOpen()) {
        state_.result = code::kPortNotInitialised;
        return kNotStored;
    }
    state_.result = code::kTimeout;
    loadingInto_ = database;
    const KeptDroppedAfter keptDropped(ledger_, database);
    std::string recordLine = SentRecordLine(sentText);
    // Once after each attach and each clearing: the count an unreadable
    // answer to a copy is held against. Without it, the copy goes again.
    if (databaseCounts_.ToBeAsked(database) && !AskCount(database)) return kNotStored;
    if (StoredBeforeTheCut(database, recordLine)) {
        state_.result = code::kSuccess;
        return kStored;
    }
    line_.AbortPending();
    if (!Announce(*this, state_, database)) return kNotStored;
    return RecordUpload(*this, line_, clock_, pace_, ledger_, state_, databaseCounts_, cutOffCopy_, database,
                        std::move(recordLine))
        .Run();
}

bool TerminalLink::AskCount(int32_t database) {
    const CountRead read = ReadCountUntilTwoAgree(*this, state_, clock_, pace_, database, false);
    if (read.lineGaveOut) return false;
    databaseCounts_.Asked(database, read.count);
    state_.result = code::kTimeout;
    return true;
}

// The copy of this record whose answer went with the port was stored when
// the count asked since has grown by exactly one: it is not sent again. Any
// load settles the question, so that an older cut never speaks for a later
// one.
bool TerminalLink::StoredBeforeTheCut(int32_t database, const std::string& recordLine) {
    const std::optional<CutOffCopy> cut = std::exchange(cutOffCopy_, std::nullopt);
    if (!cut || cut->database != database || cut->recordLine != recordLine) return false;
    const std::optional<int32_t> count = databaseCounts_.Known(database);
    return count && *count == cut->countBefore + 1;
}

int32_t TerminalLink::FinishLoad() {
    if (!IsOpen()) {
        state_.result = code::kPortNotInitialised;
        return kNotStored;
    }
    std::optional<KeptDroppedAfter> keptDropped;
    if (const auto database = std::exchange(loadingInto_, std::nullopt)) keptDropped.emplace(ledger_, *database);
    if (ExchangeCommand(protocol::kFinishLoad) == 0) return kNotStored;
    const ReplyClass reply = ClassifyReply(state_.data);
    if (reply != ReplyClass::Ack) {
        state_.result = UnexpectedReplyCode(reply);
        return kNotStored;
    }
    state_.result = code::kSuccess;
    return kStored;
}

}  // namespace quill
