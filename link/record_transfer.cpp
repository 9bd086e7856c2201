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
#include "link/bounded_line.h"
#include "link/checksum.h"
#include "link/command_line.h"
#include "link/protocol.h"
#include "link/receive_pass.h"
#include "link/reply_class.h"
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

// ---- Received record lines: leading byte, text, checksum low, checksum high.

bool ReceivedChecksumMatches(std::string_view line) {
    const size_t summed = line.size() - 2;
    const ChecksumBytes expected = LineChecksum(line.substr(0, summed));
    return static_cast<uint8_t>(line[summed]) == expected.low &&
           static_cast<uint8_t>(line[summed + 1]) == expected.high;
}

std::string_view ReceivedRecordText(std::string_view line) {
    return UpToNul(line.substr(1, line.size() - protocol::kReceivedFramingLength));
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
    Range numbers;
    bool emptiesDataFirst;
    bool timeoutSetsCode;
    bool givingUpLeavesTimeout;  // rather than whichever code was set last
};

constexpr DownloadKind kDocumentDownload{protocol::kGetDocumentRecord, protocol::kDocumentRange, true, true, false};
constexpr DownloadKind kDatabaseDownload{protocol::kGetDatabaseRecord, protocol::kDatabaseRange, false, false, true};

class RecordDownload {
public:
    RecordDownload(SerialLine& line, Clock& clock, ComponentState& state, const DownloadKind& kind)
        : line_(line), clock_(clock), state_(state), kind_(kind) {}

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
        line_.AbortPending();
        Send(NumberedCommand(kind_.command, number));
        return Receive();
    }

private:
    int32_t Receive() {
        Receiver receiver(line_, clock_);
        auto take = [this](const uint8_t* bytes, size_t count) { return TakeBytes(bytes, count); };
        while (failedAttempts_ < protocol::kFailedAttemptsBeforeGivingUp) {
            const PassResult pass = receiver.RunPass(take);
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

    void CountTimeout() {
        if (kind_.timeoutSetsCode) state_.result = code::kTimeout;
        if (++failedAttempts_ == protocol::kTimeoutsBeforeResend) WriteText(line_, lastSent_);
    }

    bool TakeBytes(const uint8_t* bytes, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            if (bytes[i] != protocol::kCarriageReturn)
                record_.Append(bytes[i]);
            else if (TakeCompleteLine())
                return true;
        }
        return false;
    }

    // True when the line ends the download.
    bool TakeCompleteLine() {
        const std::string_view line = record_.Bytes();
        if (record_.Overflowed()) return Refuse();
        if (BeginsWith(line, protocol::kAck)) return TakeAcknowledgement(line);
        if (BeginsWith(line, protocol::kOver)) return Finish(kNoMoreRecords);
        state_.result = code::kSuccess;
        if (line.size() < protocol::kReceivedFramingLength || !ReceivedChecksumMatches(line)) return Refuse();
        Accept(line);
        return Finish(kRecordReceived);
    }

    // The terminal's ACK is dropped; what followed it on the line starts the
    // next line.
    bool TakeAcknowledgement(std::string_view line) {
        failedAttempts_ = 0;
        const std::string rest(UpToNul(line.substr(std::string_view(protocol::kAck).size())));
        record_.Assign(rest);
        if (BeginsWith(rest, protocol::kOver)) return Finish(kNoMoreRecords);
        return false;
    }

    void Accept(std::string_view line) {
        state_.ClearTexts();
        const std::string_view text = ReceivedRecordText(line);
        state_.data.assign(text);
        SplitIntoFields(text, state_.fields);
    }

    // A corrupted line: asked for again, never kept.
    bool Refuse() {
        Send(protocol::kRefuseRecord);
        ++failedAttempts_;
        state_.result = code::kTransferError;
        record_.Clear();
        return false;
    }

    bool Finish(int32_t outcome) {
        state_.result = code::kSuccess;
        outcome_ = outcome;
        return true;
    }

    void Send(std::string message) {
        lastSent_ = std::move(message);
        WriteText(line_, lastSent_);
    }

    SerialLine& line_;
    Clock& clock_;
    ComponentState& state_;
    const DownloadKind& kind_;
    BoundedLine record_{protocol::kMaxRecordLineLength};
    std::string lastSent_;
    int failedAttempts_ = 0;
    int32_t outcome_ = kDownloadFailed;
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
    RecordUpload(SerialLine& line, Clock& clock, ComponentState& state, std::string recordLine)
        : line_(line), clock_(clock), state_(state), recordLine_(std::move(recordLine)) {}

    // Sends the record until the terminal takes it, refuses it as full, or
    // the attempts run out.
    int32_t Run() {
        Receiver receiver(line_, clock_);
        auto take = [this](const uint8_t* bytes, size_t count) { return TakeBytes(bytes, count); };
        while (failedAttempts_ < protocol::kFailedAttemptsBeforeGivingUp) {
            line_.WriteAndDrain(Bytes(recordLine_), recordLine_.size());
            reply_.Clear();
            const PassResult pass = receiver.RunPass(take);
            if (pass == PassResult::Answered) return outcome_;
            if (const auto ending = EndingCode(pass)) {
                state_.result = *ending;
                return kNotStored;
            }
            if (pass == PassResult::TimedOut) {
                state_.result = code::kTimeout;
                ++failedAttempts_;
            }
        }
        return kNotStored;
    }

private:
    static const uint8_t* Bytes(const std::string& text) {
        return reinterpret_cast<const uint8_t*>(text.data());
    }

    bool TakeBytes(const uint8_t* bytes, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            if (bytes[i] != protocol::kCarriageReturn)
                reply_.Append(bytes[i]);
            else if (TakeReply())
                return true;
        }
        return false;
    }

    bool TakeReply() {
        if (!reply_.Overflowed() && BeginsWith(reply_.Bytes(), protocol::kAck))
            return Finish(code::kSuccess, kStored);
        if (!reply_.Overflowed() && BeginsWith(reply_.Bytes(), protocol::kFull))
            return Finish(code::kMemoryFull, kNotStored);
        state_.result = code::kTransferError;
        WriteText(line_, recordLine_);
        ++failedAttempts_;
        reply_.Clear();
        return false;
    }

    bool Finish(int32_t resultCode, int32_t outcome) {
        state_.result = resultCode;
        outcome_ = outcome;
        return true;
    }

    SerialLine& line_;
    Clock& clock_;
    ComponentState& state_;
    const std::string recordLine_;
    BoundedLine reply_{protocol::kMaxRecordLineLength};
    int failedAttempts_ = 0;
    int32_t outcome_ = kNotStored;
};

}  // namespace

int32_t TerminalLink::GetDocumentRecord(int32_t document) {
    return RecordDownload(line_, clock_, state_, kDocumentDownload).Run(document);
}

int32_t TerminalLink::GetDatabaseRecord(int32_t database) {
    return RecordDownload(line_, clock_, state_, kDatabaseDownload).Run(database);
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
    return RecordUpload(line_, clock_, state_, std::move(recordLine)).Run();
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
