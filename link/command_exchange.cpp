// One command line out, one reply line back.

#include "link/receive_pass.h"
#include "link/reply_class.h"
#include "link/terminal_link.h"

namespace quill {

TerminalLink::TerminalLink(SerialLine& line, Clock& clock, const LocalTimeSource& localTime,
                           ComponentState& state)
    : line_(line), clock_(clock), localTime_(localTime), state_(state) {}

int32_t TerminalLink::ExchangeCommand(const std::string& commandLine) {
    return Exchange(commandLine).replied ? 1 : 0;
}

TerminalLink::Exchanged TerminalLink::Exchange(const std::string& commandLine) {
    constexpr Exchanged kNoReply{false, false};
    constexpr Exchanged kLineGaveOut{false, true};
    if (!IsOpen()) {
        state_.result = code::kPortNotInitialised;
        return kNoReply;
    }
    const std::string_view command = UpToNul(commandLine);
    if (command.empty() || command.size() > protocol::kMaxCommandLength) return kNoReply;

    state_.data.clear();
    state_.result = code::kTimeout;
    if (const auto ending = SettleOwedReplies(line_, clock_, pace_, ledger_)) {
        state_.result = *ending;
        return kLineGaveOut;
    }
    line_.AbortPending();
    SendOwing(line_, clock_, ledger_, command, ReplyKind::Command);

    // The first line owed is the reply; later lines of the same read answer
    // the command's second copy, if any, or nothing.
    std::string reply;
    bool replyTooLong = false;
    auto takeReply = [&](const uint8_t* bytes, size_t count) {
        return ledger_.Take(bytes, count, [&](const ReplyLine& line) {
            reply = UpToNul(line.bytes);
            replyTooLong = line.tooLong;
            return true;
        });
    };

    Receiver receiver(line_, clock_, pace_);
    int timeouts = 0;
    while (timeouts < protocol::kTimeoutsBeforeGivingUp) {
        const PassResult pass = receiver.RunPass(takeReply);
        if (pass == PassResult::Answered) {
            if (replyTooLong) {
                state_.result = code::kTransferError;
                return kNoReply;
            }
            state_.data = reply;
            state_.result = code::kSuccess;
            return {true, false};
        }
        if (const auto ending = EndingCode(pass)) {
            state_.result = *ending;
            return kLineGaveOut;
        }
        if (pass == PassResult::BytesTaken) timeouts = 0;
        // Not while a reply is coming in: the terminal heard the command, and
        // its second answer could join the first.
        if (pass == PassResult::TimedOut && ++timeouts == protocol::kTimeoutsBeforeResend &&
            !ledger_.LineInProgress())
            SendOwing(line_, clock_, ledger_, command, ReplyKind::Command);
    }
    state_.result = code::kTimeout;
    return kNoReply;
}

}  // namespace quill
