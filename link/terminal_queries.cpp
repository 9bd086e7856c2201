// The short operations: one command line, one reply line, judged by its class.

#include <cstdio>
#include <string>

#include "core/numbers.h"
#include "core/result_codes.h"
#include "link/command_line.h"
#include "link/protocol.h"
#include "link/reply_class.h"
#include "link/terminal_link.h"

namespace quill {
namespace {

// What a reply means for an operation: its result code and, on success, the
// value the operation returns.
struct Verdict {
    int32_t code;
    int32_t value;
};

constexpr Verdict Success(int32_t value) { return {code::kSuccess, value}; }
constexpr Verdict Refusal(int32_t resultCode) { return {resultCode, 0}; }

// Two ASCII digits with a leading zero.
std::string TwoDigits(int value) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02d", ((value % 100) + 100) % 100);
    return digits;
}

std::string SetTimeCommand(const LocalTime& now) {
    return std::string(protocol::kSetTerminalTime) + protocol::kSetTimeCentury + TwoDigits(now.year) +
           TwoDigits(now.month) + TwoDigits(now.day) + TwoDigits(now.hour) + TwoDigits(now.minute) +
           TwoDigits(now.second) + static_cast<char>(protocol::kCarriageReturn);
}

// Judges of the reply line, one per kind of operation.
Verdict AcknowledgedEitherWay(ReplyClass reply, const std::string&) {
    if (reply == ReplyClass::Ack || reply == ReplyClass::Nak) return Success(1);
    return Refusal(code::kUnknownReply);
}

Verdict AnsweredOk(ReplyClass reply, const std::string&) {
    if (reply == ReplyClass::Ok) return Success(1);
    return Refusal(UnexpectedReplyCode(reply));
}

Verdict DatabaseCleared(ReplyClass reply, const std::string& text) {
    if (reply == ReplyClass::Err) return Refusal(code::kDatabaseFormatUnknown);
    return AnsweredOk(reply, text);
}

Verdict AnsweredText(ReplyClass reply, const std::string&) {
    if (reply == ReplyClass::Data) return Success(1);
    return Refusal(UnexpectedReplyCode(reply));
}

Verdict AnsweredClock(ReplyClass reply, const std::string& text) {
    if (reply == ReplyClass::Data && text.size() != protocol::kClockTextLength)
        return Refusal(code::kUnknownReply);
    return AnsweredText(reply, text);
}

Verdict AnsweredNumber(ReplyClass reply, const std::string& text) {
    if (reply == ReplyClass::Data) return Success(ParseDecimal(text));
    return Refusal(UnexpectedReplyCode(reply));
}

Verdict AnsweredCount(ReplyClass reply, const std::string& text) {
    const Verdict number = AnsweredNumber(reply, text);
    if (number.code == code::kSuccess && number.value < 0) return Refusal(code::kBadCount);
    return number;
}

using Judge = Verdict (*)(ReplyClass, const std::string&);

constexpr int32_t kFailedFlag = 0;
constexpr int32_t kFailedNumber = -1;

// Port check, exchange, judgement; the reply text stays in Data whatever it is.
int32_t RunQuery(TerminalLink& link, ComponentState& state, const std::string& command,
                        Judge judge, int32_t failureValue) {
    if (!link.IsOpen()) {
        state.result = code::kPortNotInitialised;
        return failureValue;
    }
    if (link.ExchangeCommand(command) == 0) return failureValue;
    const Verdict verdict = judge(ClassifyReply(state.data), state.data);
    state.result = verdict.code;
    return verdict.code == code::kSuccess ? verdict.value : failureValue;
}

}  // namespace

int32_t TerminalLink::PingTerminal() {
    return RunQuery(*this, state_, protocol::kPing, AcknowledgedEitherWay, kFailedFlag);
}

int32_t TerminalLink::GetFreeMemory() {
    return RunQuery(*this, state_, protocol::kGetFreeMemory, AnsweredNumber, kFailedNumber);
}

int32_t TerminalLink::GetSerialNumber() {
    return RunQuery(*this, state_, protocol::kGetSerialNumber, AnsweredText, kFailedFlag);
}

int32_t TerminalLink::GetTerminalTime() {
    return RunQuery(*this, state_, protocol::kGetTerminalTime, AnsweredClock, kFailedFlag);
}

int32_t TerminalLink::SetTerminalTime() {
    return RunQuery(*this, state_, SetTimeCommand(localTime_.Now()), AnsweredOk, kFailedFlag);
}

int32_t TerminalLink::GetCurrentState() {
    return RunQuery(*this, state_, protocol::kGetCurrentState, AnsweredText, kFailedFlag);
}

int32_t TerminalLink::GetDocumentCount(int32_t document) {
    return RunQuery(*this, state_, NumberedCommand(protocol::kGetDocumentCount, document), AnsweredCount,
                    kFailedNumber);
}

int32_t TerminalLink::GetDatabaseCount(int32_t database) {
    return RunQuery(*this, state_, NumberedCommand(protocol::kGetDatabaseCount, database), AnsweredCount,
                    kFailedNumber);
}

// A store the terminal has cleared takes the records held for it along.
int32_t TerminalLink::ClearDocument(int32_t document) {
    const int32_t cleared = RunQuery(*this, state_, NumberedCommand(protocol::kClearDocument, document),
                                     AnsweredOk, kFailedFlag);
    if (cleared == 1) ledger_.DropHandedOut(Store{Store::Kind::Document, document});
    return cleared;
}

// Whatever the answer, the database may have been cleared: its count is
// asked anew before the next load into it.
int32_t TerminalLink::ClearTerminalDatabase(int32_t database) {
    const int32_t cleared = RunQuery(*this, state_, NumberedCommand(protocol::kClearDatabase, database),
                                     DatabaseCleared, kFailedFlag);
    if (cleared == 1) ledger_.DropHandedOut(Store{Store::Kind::Database, database});
    databaseCounts_.Forget(database);
    if (cutOffCopy_ && cutOffCopy_->database == database) cutOffCopy_.reset();
    return cleared;
}

}  // namespace quill
