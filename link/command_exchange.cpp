// One command line out, one reply line back.

#include <optional>

#include "link/bounded_line.h"
#include "link/receive_pass.h"
#include "link/reply_class.h"
#include "link/terminal_link.h"

namespace quill {

TerminalLink::TerminalLink(SerialLine& line, Clock& clock, const LocalTimeSource& localTime,
                           ComponentState& state)
    : line_(line), clock_(clock), localTime_(localTime), state_(state) {}

int32_t TerminalLink::ExchangeCommand(const std::string& commandLine) {
    if (!IsOpen()) {
        state_.result = code::kPortNotInitialised;
        return 0;
    }
    const std::string_view command = UpToNul(commandLine);
    if (command.empty() || command.size() > protocol::kMaxCommandLength) return 0;

    state_.data.clear();
    state_.result = code::kTimeout;
    line_.AbortPending();
    WriteText(line_, command);

    // The reply line collects across reads up to its CR; what follows the CR
    // in the same read is dropped.
    BoundedLine reply(protocol::kMaxReplyLength);
    bool replyFits = false;
    auto takeReplyBytes = [&](const uint8_t* bytes, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            if (bytes[i] == protocol::kCarriageReturn) {
                replyFits = !reply.Overflowed();
                return true;
            }
            reply.Append(bytes[i]);
        }
        return false;
    };

    Receiver receiver(line_, clock_);
    int timeouts = 0;
    while (timeouts < protocol::kTimeoutsBeforeGivingUp) {
        const PassResult pass = receiver.RunPass(takeReplyBytes);
        if (pass == PassResult::Answered) {
            if (!replyFits) {
                state_.result = code::kTransferError;
                return 0;
            }
            state_.data = std::string(UpToNul(reply.Bytes()));
            state_.result = code::kSuccess;
            return 1;
        }
        if (const auto ending = EndingCode(pass)) {
            state_.result = *ending;
            return 0;
        }
        if (pass == PassResult::BytesTaken) timeouts = 0;
        if (pass == PassResult::TimedOut && ++timeouts == protocol::kTimeoutsBeforeResend)
            WriteText(line_, command);
    }
    state_.result = code::kTimeout;
    return 0;
}

}  // namespace quill
