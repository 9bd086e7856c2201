#include "fake_line.h"

#include <algorithm>

namespace quill::fake {

void FakeLine::QueueAt(uint64_t atMs, const std::string& bytes, uint32_t byteGapMs) {
    Arrive(atMs, bytes, byteGapMs);
}

std::vector<std::string> FakeLine::WrittenTexts() const {
    std::vector<std::string> texts;
    for (const WriteRecord& write : writes_) texts.push_back(write.bytes);
    return texts;
}

int FakeLine::WritesOf(const std::string& bytes) const {
    return static_cast<int>(std::count_if(writes_.begin(), writes_.end(),
                                          [&](const WriteRecord& write) { return write.bytes == bytes; }));
}

size_t FakeLine::QueuedCount() const {
    return static_cast<size_t>(std::count_if(incoming_.begin(), incoming_.end(),
                                             [&](const Arrival& arrival) { return Arrived(arrival); }));
}

void FakeLine::UnplugAt(uint64_t atMs, uint32_t error) {
    unplugAtMs_ = atMs;
    unplugError_ = error;
}

std::optional<uint32_t> FakeLine::GoneError() const {
    if (!open_ || !foundGone_) return std::nullopt;
    return unplugError_;
}

void FakeLine::FindGone() {
    foundGone_ = true;
    incoming_.clear();
}

bool FakeLine::Open(const std::string& portName) {
    if (open_) openedWhileOpen_ = true;
    openedNames_.push_back(portName);
    if (failOpen || Unplugged()) return false;
    open_ = true;
    return true;
}

// As on Windows, the closed handle takes what was queued with it.
void FakeLine::Close() {
    if (!open_) return;
    open_ = false;
    foundGone_ = false;
    ++closes_;
    DropArrived();
}

bool FakeLine::Configure(const LineSettings& settings) {
    configured_.push_back(settings);
    if (failConfigure) return false;
    current_ = settings;
    return true;
}

void FakeLine::Reconfigure(const LineSettings& settings) {
    current_ = settings;
    reconfigures_.push_back({settings, clock_.NowMs()});
}

void FakeLine::Write(const uint8_t* bytes, size_t count) {
    Operate();
    Record(bytes, count, false);
}

void FakeLine::WriteAndDrain(const uint8_t* bytes, size_t count) {
    Operate();
    Record(bytes, count, true);
}

void FakeLine::Operate() {
    if (operationLimit && ++operations_ > *operationLimit) throw ClockLimitPassed{clock_.NowMs()};
    if (freeze_ && freeze_->atMs <= clock_.NowMs()) {
        clock_.AdvanceTo(freeze_->atMs + freeze_->forMs);
        freeze_.reset();
    }
}

// The write goes on record; the adapter echoes it or the terminal answers it.
// On an unplugged port it fails and reaches nobody.
void FakeLine::Record(const uint8_t* bytes, size_t count, bool drained) {
    if (open_ && foundGone_) ++writesToAGonePort_;
    if (open_ && Unplugged()) {
        FindGone();
        return;
    }
    const std::string text(reinterpret_cast<const char*>(bytes), count);
    const uint64_t now = clock_.NowMs();
    writes_.push_back({text, now, current_, drained});

    if (adapter_ && current_.baudRate == adapter_->rate && !current_.rtsHigh)
        Arrive(now, adapter_->echo, 0);

    const int occurrence = ++writeCounts_[text];
    for (const ScriptedReply& reply : replies_) {
        if (reply.command != text) continue;
        if (reply.onlyOccurrence != 0 && reply.onlyOccurrence != occurrence) continue;
        if (occurrence <= reply.silentFor) continue;
        Arrive(now + reply.delayMs, reply.bytes, reply.byteGapMs);
    }
    if (onWrite) onWrite(text);
}

void FakeLine::Arrive(uint64_t atMs, const std::string& bytes, uint32_t byteGapMs) {
    for (char byte : bytes) {
        const Arrival arrival{atMs, byte, false};
        // After everything arriving at the same time or earlier.
        auto place = std::upper_bound(incoming_.begin(), incoming_.end(), arrival,
                                      [](const Arrival& a, const Arrival& b) { return a.atMs < b.atMs; });
        incoming_.insert(place, arrival);
        atMs += byteGapMs;
    }
}

// Received as soon as a byte arrives that no read has seen yet; a byte left
// queued by an earlier read does not signal again.
WaitOutcome FakeLine::WaitForInput(uint32_t milliseconds) {
    Operate();
    if (freeze_) {
        // Frozen before the wait would end: it ends at the thaw, or goes on
        // to its time.
        const auto fresh = std::find_if(incoming_.begin(), incoming_.end(),
                                        [](const Arrival& arrival) { return !arrival.signalled; });
        const uint64_t limit = clock_.NowMs() + milliseconds;
        const uint64_t ends = fresh != incoming_.end() && fresh->atMs <= limit ? fresh->atMs : limit;
        if (freeze_->atMs <= ends) {
            const uint64_t thaw = freeze_->atMs + freeze_->forMs;
            freeze_.reset();
            clock_.AdvanceTo(thaw);
            return WaitForInput(static_cast<uint32_t>(limit > thaw ? limit - thaw : 0));
        }
    }
    if (open_ && (foundGone_ || Unplugged())) {
        FindGone();
        return WaitOutcome::PortGone;
    }
    if (!forced_.empty()) {
        const ForcedWait forced = forced_.front();
        forced_.pop_front();
        if (forced == ForcedWait::Failed) return WaitOutcome::Failed;
        if (forced == ForcedWait::ReceivedEmpty) return WaitOutcome::Received;
    }
    const auto fresh = std::find_if(incoming_.begin(), incoming_.end(),
                                    [](const Arrival& arrival) { return !arrival.signalled; });
    const uint64_t limit = clock_.NowMs() + milliseconds;
    const uint64_t unplugged = unplugAtMs_.value_or(UINT64_MAX);
    if (fresh != incoming_.end() && fresh->atMs <= limit && fresh->atMs < unplugged) {
        clock_.AdvanceTo(fresh->atMs);
        return WaitOutcome::Received;
    }
    if (open_ && unplugged <= limit) {
        clock_.AdvanceTo(unplugged);
        FindGone();
        return WaitOutcome::PortGone;
    }
    clock_.AdvanceTo(limit);
    return WaitOutcome::TimedOut;
}

size_t FakeLine::ReadQueued(uint8_t* buffer, size_t capacity) {
    Operate();
    if (open_ && Unplugged()) FindGone();
    size_t count = 0;
    while (count < capacity && !incoming_.empty() && Arrived(incoming_.front())) {
        buffer[count++] = static_cast<uint8_t>(incoming_.front().byte);
        incoming_.pop_front();
    }
    for (Arrival& arrival : incoming_)
        if (Arrived(arrival)) arrival.signalled = true;
    reads_.push_back({capacity, count, clock_.NowMs()});
    return count;
}

void FakeLine::DiscardQueues() {
    ++discards_;
    DropArrived();
}

void FakeLine::DropArrived() {
    while (!incoming_.empty() && Arrived(incoming_.front())) incoming_.pop_front();
}

}  // namespace quill::fake
