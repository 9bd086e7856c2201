// A scripted serial line on a virtual clock, with a terminal that answers
// written commands as the test says and an infrared adapter model. Time moves
// only when the code under test sleeps or waits, so every delay is exact.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/component_state.h"
#include "link/serial_line.h"
#include "link/terminal_link.h"

namespace quill::fake {

// Thrown by the virtual clock when it passes the limit a test set: the code
// under test would have gone on waiting without end.
struct ClockLimitPassed {
    uint64_t atMs;
};

class VirtualClock final : public Clock {
public:
    void Sleep(uint32_t milliseconds) override {
        now_ += milliseconds;
        CheckLimit();
    }
    uint64_t NowMs() const override { return now_; }
    void AdvanceTo(uint64_t ms) {
        if (ms > now_) now_ = ms;
        CheckLimit();
    }
    // Time past `ms` throws ClockLimitPassed; nothing: no limit.
    std::optional<uint64_t> limitMs;

private:
    void CheckLimit() const {
        if (limitMs && now_ > *limitMs) throw ClockLimitPassed{now_};
    }
    uint64_t now_ = 0;
};

class FixedLocalTime final : public LocalTimeSource {
public:
    LocalTime Now() const override { return time; }
    LocalTime time;
};

// The terminal's answer to one command.
struct ScriptedReply {
    std::string command;     // the whole of one write that triggers it
    std::string bytes;       // what the terminal sends back
    uint32_t delayMs = 20;   // from the write to the first byte
    uint32_t byteGapMs = 0;  // 0: all bytes at once; otherwise one byte per gap
    int onlyOccurrence = 0;  // 0: every time; N: only to the Nth write of the command
    int silentFor = 0;       // no answer to the first K writes of the command
};

// Infrared adapter in the cradle: echoes to every byte written while the
// line runs at `rate` with RTS low.
struct AdapterModel {
    uint32_t rate;
    std::string echo = "\x0F";
};

// Forced outcome of the next wait, in order; Natural lets a wait run normally.
enum class ForcedWait { Natural, Failed, ReceivedEmpty };

struct WriteRecord {
    std::string bytes;
    uint64_t atMs;
    LineSettings settings;
    bool drained;
};

struct ReconfigureRecord {
    LineSettings settings;
    uint64_t atMs;
};

struct ReadRecord {
    size_t capacity;
    size_t count;
    uint64_t atMs;
};

class FakeLine final : public SerialLine {
public:
    explicit FakeLine(VirtualClock& clock) : clock_(clock) {}

    // ---- Script.
    bool failOpen = false;
    bool failConfigure = false;
    void Reply(ScriptedReply reply) { replies_.push_back(std::move(reply)); }
    void Reply(const std::string& command, const std::string& bytes, uint32_t delayMs = 20) {
        Reply(ScriptedReply{command, bytes, delayMs});
    }
    // Bytes that arrive at a given time whatever was written.
    void QueueAt(uint64_t atMs, const std::string& bytes, uint32_t byteGapMs = 0);
    void ForceWaits(std::initializer_list<ForcedWait> waits) { forced_.insert(forced_.end(), waits); }
    void AttachAdapter(AdapterModel adapter) { adapter_ = std::move(adapter); }
    // The cable is pulled out at `atMs`: from then on every operation fails
    // with `error`, as Windows fails them, what was queued goes with the
    // device, and the port cannot be opened until it is plugged back.
    void UnplugAt(uint64_t atMs, uint32_t error = kUnpluggedError);
    void PlugBack() { unplugAtMs_.reset(); }
    bool PulledOut() const { return Unplugged(); }
    // The host's thread stops at `atMs` for `forMs`: a wait or read due
    // meanwhile ends only after it, and finds what came queued.
    void FreezeHostAt(uint64_t atMs, uint32_t forMs) { freeze_ = Freeze{atMs, forMs}; }
    // More operations than this on the line throw ClockLimitPassed: the code
    // under test went round without end.
    std::optional<uint64_t> operationLimit;
    static constexpr uint32_t kUnpluggedError = 22;  // the USB serial driver's "bad command"
    // Told of every write after the scripted replies; a terminal model
    // answers through QueueAt.
    std::function<void(const std::string& bytes)> onWrite;

    // ---- What happened.
    const std::vector<WriteRecord>& Writes() const { return writes_; }
    std::vector<std::string> WrittenTexts() const;
    int WritesOf(const std::string& bytes) const;
    const std::vector<ReconfigureRecord>& Reconfigures() const { return reconfigures_; }
    const std::vector<ReadRecord>& Reads() const { return reads_; }
    const std::vector<std::string>& OpenedNames() const { return openedNames_; }
    const std::vector<LineSettings>& Configured() const { return configured_; }
    int CloseCount() const { return closes_; }
    int AbortCount() const { return aborts_; }
    int DiscardCount() const { return discards_; }
    bool OpenedWhileOpen() const { return openedWhileOpen_; }
    size_t ForcedWaitsLeft() const { return forced_.size(); }
    // Writes tried after an operation had found the port gone.
    int WritesToAGonePort() const { return writesToAGonePort_; }
    LineSettings Current() const { return current_; }
    // Bytes that have arrived and were not read or discarded.
    size_t QueuedCount() const;

    // ---- SerialLine.
    bool Open(const std::string& portName) override;
    void Close() override;
    bool IsOpen() const override { return open_; }
    bool Configure(const LineSettings& settings) override;
    void Reconfigure(const LineSettings& settings) override;
    void Write(const uint8_t* bytes, size_t count) override;
    void WriteAndDrain(const uint8_t* bytes, size_t count) override;
    WaitOutcome WaitForInput(uint32_t milliseconds) override;
    size_t ReadQueued(uint8_t* buffer, size_t capacity) override;
    void AbortPending() override { ++aborts_; }
    void DiscardQueues() override;
    std::optional<uint32_t> GoneError() const override;

private:
    struct Arrival {
        uint64_t atMs;
        char byte;
        bool signalled;  // a read has already seen it arrive
    };

    void Record(const uint8_t* bytes, size_t count, bool drained);
    void Arrive(uint64_t atMs, const std::string& bytes, uint32_t byteGapMs);
    void DropArrived();
    bool Unplugged() const { return unplugAtMs_ && *unplugAtMs_ <= clock_.NowMs(); }
    // An operation fails on the unplugged port: it is found gone.
    void FindGone();
    bool Arrived(const Arrival& arrival) const { return arrival.atMs <= clock_.NowMs(); }
    // A host operation: counted, and held until the host thaws.
    void Operate();

    struct Freeze {
        uint64_t atMs;
        uint32_t forMs;
    };
    std::optional<Freeze> freeze_;
    uint64_t operations_ = 0;

    VirtualClock& clock_;
    std::vector<ScriptedReply> replies_;
    std::map<std::string, int> writeCounts_;
    std::deque<ForcedWait> forced_;
    std::optional<AdapterModel> adapter_;
    std::deque<Arrival> incoming_;  // in order of arrival

    bool open_ = false;
    bool openedWhileOpen_ = false;
    LineSettings current_;
    std::vector<WriteRecord> writes_;
    std::vector<ReconfigureRecord> reconfigures_;
    std::vector<ReadRecord> reads_;
    std::vector<std::string> openedNames_;
    std::vector<LineSettings> configured_;
    int closes_ = 0;
    int aborts_ = 0;
    int discards_ = 0;
    std::optional<uint64_t> unplugAtMs_;
    uint32_t unplugError_ = kUnpluggedError;
    bool foundGone_ = false;
    int writesToAGonePort_ = 0;
};

// A terminal link on the fake line, its port open without an adapter unless
// the test says otherwise, at the standard pace unless it asks for another.
struct LinkBench {
    explicit LinkBench(bool openPort = true, Pace pace = Pace::Standard) {
        ConnectionSettings settings;
        settings.FastExchange = pace == Pace::Fast ? kFastExchangeOn : 0;
        if (openPort) link.OpenPort(settings);
    }

    VirtualClock clock;
    FakeLine line{clock};
    FixedLocalTime localTime;
    ComponentState state;
    TerminalLink link{line, clock, localTime, state};
};

}  // namespace quill::fake
