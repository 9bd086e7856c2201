// Records between the terminal and the component, one per call: downloads of
// document and database records, the upload of a database record, and the
// end of a load.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

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
        lastSent_ = NumberedCommand(kind_.command, number);
        if (const auto held = ledger_.TakeHeld(store_)) return HandOut(*held);
        if (ledger_.OwesOnlyRecordsOf(store_)) return ReceiveOwedRecord();
        return AskForRecord();
    }

private:
    // Takes one read: lines to TakeLine until the download has its answer.
    auto Taker() {
        return [this](const uint8_t* bytes, size_t count) {
            return ledger_.Take(bytes, count, [this](const ReplyLine& line) { return TakeLine(line); });
        };
    }

    // A record an earlier download received beyond its own.
    int32_t HandOut(std::string_view text) {
        Accept(text);
        state_.result = code::kSuccess;
        return kRecordReceived;
    }

    // The terminal still owes records of this store, for commands an earlier
    // download wrote: the first of them is this download's record. When what
    // comes is no record (an earlier download's refusal answered with ERR,
    // say), this download asks the terminal anew: asking again with NAK
    // would only be answered the same way, call after call.
    int32_t ReceiveOwedRecord() {
        if (const auto outcome = ReceiveEarlierReplies()) return *outcome;
        failedAttempts_ = 0;
        state_.result = code::kTimeout;
        return AskForRecord();
    }

    // The outcome, or nothing when the replies still owed brought no record
    // of this store and the download must ask the terminal itself.
    std::optional<int32_t> ReceiveEarlierReplies() {
        receivingEarlierReplies_ = true;
        std::optional<int32_t> outcome;
        Receiver receiver(line_, clock_, pace_);
        if (receiver.Drain(Taker())) {
            outcome = outcome_;
        } else {
            ledger_.DropExpired(clock_.NowMs());
            if (ledger_.OwesOnlyRecordsOf(store_)) outcome = Receive(receiver);
        }
        receivingEarlierReplies_ = false;
        if (std::exchange(earlierReplyRefused_, false)) return std::nullopt;
        return outcome;
    }

    int32_t AskForRecord() {
        if (const auto ending = SettleOwedReplies(line_, clock_, pace_, ledger_)) {
            state_.result = *ending;
            return kDownloadFailed;
        }
        if (const auto held = ledger_.TakeHeld(store_)) return HandOut(*held);
        line_.AbortPending();
        Send(lastSent_);
        Receiver receiver(line_, clock_, pace_);
        return Receive(receiver);
    }

    int32_t Receive(Receiver& receiver) {
        while (failedAttempts_ < protocol::kFailedAttemptsBeforeGivingUp) {
            const PassResult pass = receiver.RunPass(Taker());
            if (pass == PassResult::Answered) return outcome_;
            if (const auto ending = EndingCode(pass)) {
                state_.result = *ending;
                return kDownloadFailed;
            }
            if (pass == PassResult::TimedOut) CountTimeout();
        }
        if (kind_.givingUpLeavesTimeout) state_.result = code::kTimeout;
        return kDownloadFailed;
    }

    // The last message goes out again: a command asks for the next record,
    // a NAK for the same one again.
    void CountTimeout() {
        if (kind_.timeoutSetsCode) state_.result = code::kTimeout;
        if (++failedAttempts_ == protocol::kTimeoutsBeforeResend) Send(lastSent_, lastSentAsksAgainFor_);
    }

    // True when the line ends the download.
    bool TakeLine(const ReplyLine& line) {
        if (line.leadIn) {
            failedAttempts_ = 0;
            return false;
        }
        const RecordVerdict verdict = JudgeRecordLine(line.bytes, line.tooLong);
        if (verdict.kind == RecordVerdict::Kind::Refused) return Refuse(line.owed.answerId);
        ledger_.AnswerTaken(line.owed.answerId);
        if (verdict.kind == RecordVerdict::Kind::End) return Finish(kNoMoreRecords);
        Accept(verdict.text);
        return Finish(kRecordReceived);
    }

    void Accept(std::string_view text) {
        state_.ClearTexts();
        state_.data.assign(text);
        SplitIntoFields(text, state_.fields);
    }

    // A corrupted line: asked for again, never kept. While the terminal still
    // owes another record, its "send that again" would be ambiguous, so the
    // refusal is only counted.
    bool Refuse(uint64_t refusedAnswer) {
        if (receivingEarlierReplies_) {
            earlierReplyRefused_ = true;
            return true;
        }
        if (!ledger_.Owes()) Send(protocol::kRefuseRecord, refusedAnswer);
        ++failedAttempts_;
        state_.result = code::kTransferError;
        return false;
    }

    bool Finish(int32_t outcome) {
        state_.result = code::kSuccess;
        outcome_ = outcome;
        return true;
    }

    void Send(std::string message, std::optional<uint64_t> askingAgainFor = {}) {
        lastSent_ = std::move(message);
        SendOwing(line_, clock_, ledger_, lastSent_, ReplyKind::Record, store_, false, askingAgainFor);
        lastSentAsksAgainFor_ = askingAgainFor;
    }

    SerialLine& line_;
    Clock& clock_;
    const Pace pace_;
    ReplyLedger& ledger_;
    ComponentState& state_;
    const DownloadKind& kind_;
    Store store_;
    std::string lastSent_;
    std::optional<uint64_t> lastSentAsksAgainFor_;  // a NAK: the answer it asks for again
    int failedAttempts_ = 0;
    int32_t outcome_ = kDownloadFailed;
    bool receivingEarlierReplies_ = false;  // replies owed to an earlier download's lines
    bool earlierReplyRefused_ = false;
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

class RecordUpload {
public:
    RecordUpload(SerialLine& line, Clock& clock, Pace pace, ReplyLedger& ledger, ComponentState& state,
                 std::string recordLine)
        : line_(line),
          clock_(clock),
          pace_(pace),
          ledger_(ledger),
          state_(state),
          recordLine_(std::move(recordLine)) {}

    // Sends the record until the terminal takes it, refuses it as full, or
    // the attempts run out. A copy goes out again only when the terminal
    // refused the last one or stayed silent long enough that it cannot have
    // received it, so a late acknowledgement never leaves two copies stored.
    int32_t Run() {
        Receiver receiver(line_, clock_, pace_);
        auto take = [this](const uint8_t* bytes, size_t count) {
            return ledger_.Take(bytes, count, [this](const ReplyLine& line) { return TakeReply(line); });
        };
        // An announcement written twice is answered twice: that second
        // answer is waited for before the record goes out, never taken for
        // the record's.
        if (const auto ending = SettleOwedReplies(line_, clock_, pace_, ledger_)) {
            state_.result = *ending;
            return kNotStored;
        }
        SendCopy();
        while (!GivingUp()) {
            const PassResult pass = receiver.RunPass(take);
            if (pass == PassResult::Answered) return outcome_;
            if (const auto ending = EndingCode(pass)) {
                state_.result = *ending;
                return kNotStored;
            }
            if (pass == PassResult::BytesTaken) silentWaits_ = 0;
            if (pass == PassResult::TimedOut) CountSilentWait();
            if (std::exchange(copyDue_, false) && SendCopyAfterRefusal(receiver, take)) return outcome_;
        }
        return kNotStored;
    }

private:
    void SendCopy() {
        SendOwing(line_, clock_, ledger_, recordLine_, ReplyKind::RecordAck, Store{}, true);
        silentWaits_ = 0;
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

    void CountSilentWait() {
        state_.result = code::kTimeout;
        if (++silentWaits_ < protocol::kSilentWaitsBeforeNextCopy) return;
        failedAttempts_ += protocol::kFailedAttemptsOfAnUnansweredCopy;
        if (!GivingUp()) SendCopy();
    }

    bool GivingUp() const { return failedAttempts_ >= protocol::kFailedAttemptsBeforeGivingUp; }

    // True when the reply ends the upload.
    bool TakeReply(const ReplyLine& line) {
        if (!line.tooLong && BeginsWith(line.bytes, protocol::kAck)) return Finish(code::kSuccess, kStored);
        if (!line.tooLong && BeginsWith(line.bytes, protocol::kFull)) return Finish(code::kMemoryFull, kNotStored);
        state_.result = code::kTransferError;
        ++failedAttempts_;
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

    SerialLine& line_;
    Clock& clock_;
    const Pace pace_;
    ReplyLedger& ledger_;
    ComponentState& state_;
    const std::string recordLine_;
    int failedAttempts_ = 0;
    int silentWaits_ = 0;
    bool copyDue_ = false;  // refused, and nothing else owed: the next copy goes out
    int32_t outcome_ = kNotStored;
};

}  // namespace

int32_t TerminalLink::GetDocumentRecord(int32_t document) {
    return RecordDownload(line_, clock_, pace_, ledger_, state_, kDocumentDownload).Run(document);
}

int32_t TerminalLink::GetDatabaseRecord(int32_t database) {
    return RecordDownload(line_, clock_, pace_, ledger_, state_, kDatabaseDownload).Run(database);
}

int32_t TerminalLink::PutDatabaseRecord(int32_t database) {
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
    std::string recordLine = SentRecordLine(sentText);
    line_.AbortPending();
    const bool announced = ExchangeCommand(NumberedCommand(protocol::kPutDatabaseRecord, database)) != 0 &&
                           BeginsWith(state_.data, protocol::kAck);
    if (!announced) {
        // A broken line stays a port error; any other miss is a refused load.
        if (state_.result != code::kPortError) state_.result = code::kCannotEnterLoadMode;
        return kNotStored;
    }
    return RecordUpload(line_, clock_, pace_, ledger_, state_, std::move(recordLine)).Run();
}

int32_t TerminalLink::FinishLoad() {
    if (!IsOpen()) {
        state_.result = code::kPortNotInitialised;
        return kNotStored;
    }
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
