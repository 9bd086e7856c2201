// The receive loop every terminal operation is built from: one wait for a
// received character and, when the line signals, the queued bytes handed
// over in reads of at most one chunk each. At the standard pace a short
// settle comes before the reads; at the fast pace the line reads as the
// bytes arrive, and a line that is still arriving is collected over the
// passes that follow.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/result_codes.h"
#include "link/pace.h"
#include "link/protocol.h"
#include "link/serial_line.h"

namespace quill {

inline void WriteText(SerialLine& line, std::string_view text) {
    line.Write(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

enum class PassResult {
    Answered,       // the bytes completed the operation; the rest of that read is dropped
    BytesTaken,     // bytes arrived, the operation goes on
    NothingQueued,  // the line signalled but had nothing to read
    TimedOut,       // nothing arrived within the wait
    LineFailed,     // the wait itself failed
    PortGone,       // the port's device has gone: the port cannot be used
    LineStuck,      // the line kept signalling with nothing to read
    OutOfTime,      // the receive loop has had all the time it may take
};

// The result code of a pass that ends its operation before any count runs
// out; nothing for the passes the operation counts itself.
inline std::optional<int32_t> EndingCode(PassResult pass) {
    if (pass == PassResult::LineFailed) return code::kPortError;
    if (pass == PassResult::PortGone) return code::kCannotOpenPort;
    if (pass == PassResult::LineStuck || pass == PassResult::OutOfTime) return code::kTimeout;
    return std::nullopt;
}

// True for the codes of a port that failed or went away, which end an
// operation whatever it was waiting for.
inline bool PortFailureCode(int32_t resultCode) {
    return resultCode == code::kPortError || resultCode == code::kCannotOpenPort;
}

// No deadline of the caller's own: a receive loop's time is its limit.
constexpr uint64_t kNoDeadline = UINT64_MAX;

class Receiver {
public:
    // A receive loop ends at the latest `untilMs`, or its limit after it
    // began; no wait of a pass runs past that end.
    Receiver(SerialLine& line, Clock& clock, Pace pace, uint64_t untilMs = kNoDeadline)
        : line_(line),
          clock_(clock),
          pace_(pace),
          deadlineMs_(std::min(clock.NowMs() + protocol::kReceiveLimitMs, untilMs)) {}

    // `take(bytes, count)` consumes one read in order and returns true once
    // the operation has its answer. A read that fills a whole chunk is
    // followed at once by the next: more queued bytes would not signal again.
    template <class TakeBytes>
    PassResult RunPass(TakeBytes&& take) {
        if (clock_.NowMs() >= deadlineMs_) return PassResult::OutOfTime;
        return pace_ == Pace::Fast ? RunFastPass(take) : RunStandardPass(take);
    }

    // Takes what is queued now, without waiting; true once answered.
    template <class TakeBytes>
    bool Drain(TakeBytes&& take) {
        bool anyBytes = false;
        return ReadQueued(take, anyBytes);
    }

private:
    // Waits, lets the line settle, then reads what is queued.
    template <class TakeBytes>
    PassResult RunStandardPass(TakeBytes& take) {
        if (const auto ended = PassEndedBy(line_.WaitForInput(WaitMs()))) return *ended;
        clock_.Sleep(protocol::kSettleBeforeReadMs);
        bool anyBytes = false;
        if (ReadQueued(take, anyBytes)) return PassResult::Answered;
        return anyBytes ? BytesArrived() : NothingArrived();
    }

    // Reads as the bytes arrive: the line's read that waits hands over the
    // first chunk, and a full chunk is followed by reads of the rest.
    template <class TakeBytes>
    PassResult RunFastPass(TakeBytes& take) {
        uint8_t chunk[protocol::kReadChunkSize];
        const SerialLine::ArrivingInput input = line_.ReadArriving(chunk, sizeof chunk, WaitMs());
        if (const auto ended = PassEndedBy(input.outcome)) return *ended;
        if (input.count == 0) return NothingArrived();
        if (take(chunk, input.count)) return PassResult::Answered;
        if (input.count == sizeof chunk && Drain(take)) return PassResult::Answered;
        return BytesArrived();
    }

    // One wait for input, cut short where the loop's end comes first.
    uint32_t WaitMs() const {
        return static_cast<uint32_t>(std::min<uint64_t>(protocol::kInputWaitMs, deadlineMs_ - clock_.NowMs()));
    }

    // How a pass ends when its wait saw no input.
    static std::optional<PassResult> PassEndedBy(WaitOutcome outcome) {
        switch (outcome) {
            case WaitOutcome::TimedOut: return PassResult::TimedOut;
            case WaitOutcome::Failed: return PassResult::LineFailed;
            case WaitOutcome::PortGone: return PassResult::PortGone;
            case WaitOutcome::Received: break;
        }
        return std::nullopt;
    }

    template <class TakeBytes>
    bool ReadQueued(TakeBytes& take, bool& anyBytes) {
        uint8_t chunk[protocol::kReadChunkSize];
        for (;;) {
            const size_t count = line_.ReadQueued(chunk, sizeof chunk);
            if (count == 0) return false;
            anyBytes = true;
            if (take(chunk, count)) return true;
            if (count < sizeof chunk) return false;
        }
    }

    PassResult BytesArrived() {
        emptyPassesInARow_ = 0;
        return PassResult::BytesTaken;
    }
    PassResult NothingArrived() {
        return ++emptyPassesInARow_ >= protocol::kEmptyPassesBeforeGivingUp ? PassResult::LineStuck
                                                                            : PassResult::NothingQueued;
    }

    SerialLine& line_;
    Clock& clock_;
    const Pace pace_;
    const uint64_t deadlineMs_;
    int emptyPassesInARow_ = 0;
};

}  // namespace quill
