// The wire trace: one readable text line for each thing that happens on the
// line (every byte written and read, each change of speed, RTS or DTR, each
// open and close) and for each call that talks to the terminal, with its
// method name and its result code. Each line starts with the milliseconds
// since the port was last opened. The lines go to a sink that never blocks
// and never fails; where the sink puts them is the platform's business.
//
//      0 open COM3 at 2026-12-10 14:03:05
//      0 line 115200 baud, RTS on, DTR on
//      1 call Ping
//      1 write PNG\r
//     53 read ACK\r
//    104 done Ping: 1, Result 0
//    120 close
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "link/serial_line.h"

namespace quill {

// Bytes as the trace shows them: printable ASCII as it is, a backslash
// doubled, CR as \r, every other byte as \xNN.
std::string TraceBytes(const uint8_t* bytes, size_t count);
std::string TraceBytes(std::string_view bytes);

// One line of the trace, without its line end: the milliseconds right-aligned
// in seven places, a blank, the event.
std::string TraceLine(uint64_t milliseconds, std::string_view event);

class TraceSink {
public:
    virtual ~TraceSink() = default;
    // Takes one line (without its line end); never blocks, never fails.
    virtual void Add(std::string line) = 0;
};

class WireTrace {
public:
    WireTrace(Clock& clock, const LocalTimeSource& localTime) : clock_(clock), localTime_(localTime) {}
    // The trace of another line, written where `joined` writes (as it is
    // now), each event marked with `label` (each port a search tries at the
    // same time as others has one). It says nothing of its start.
    WireTrace(Clock& clock, const LocalTimeSource& localTime, const WireTrace& joined, std::string label)
        : clock_(clock), localTime_(localTime), sink_(joined.sink_.load()), label_(std::move(label)) {
        baseMs_ = clock.NowMs();
    }

    // Where the lines go from now on; null turns the trace off. A new sink
    // hears first when the trace started and why.
    void SetSink(TraceSink* sink, std::string_view why = {});
    bool On() const { return sink_.load() != nullptr; }

    void Opened(const std::string& portName, bool succeeded);
    void Closed();
    // The line settings applied; a line is written when the speed, RTS or
    // DTR changed (or `refused` when the port rejected them).
    void LineSet(const LineSettings& settings, bool refused = false);
    void Wrote(const uint8_t* bytes, size_t count);
    void Read(const uint8_t* bytes, size_t count);
    void CallStarted(std::string_view method);
    void CallEnded(std::string_view method, std::optional<int32_t> value, int32_t result);
    // Anything else worth a line (a search, a line given up).
    void Note(std::string_view event);

private:
    void Add(std::string_view event);
    std::string LocalNow() const;

    Clock& clock_;
    const LocalTimeSource& localTime_;
    std::atomic<TraceSink*> sink_{nullptr};
    const std::string label_;
    uint64_t baseMs_ = 0;  // when the port was last opened, or the trace started
    // What the last line about the line settings said; nothing while closed.
    std::optional<LineSettings> shown_;
};

// A serial line that tells the trace what happens on it, when the trace is
// on; otherwise it only passes each call on.
class TracedLine final : public ForwardingLine {
public:
    TracedLine(SerialLine& line, WireTrace& trace) : ForwardingLine(line), trace_(trace) {}

    bool Open(const std::string& portName) override;
    Opening BeginOpen(const std::string& portName) override;
    Opening OpeningNow() override;
    void LeaveOpening() override;
    void Close() override;
    bool Configure(const LineSettings& settings) override;
    void Reconfigure(const LineSettings& settings) override;
    void Write(const uint8_t* bytes, size_t count) override;
    void WriteAndDrain(const uint8_t* bytes, size_t count) override;
    size_t ReadQueued(uint8_t* buffer, size_t capacity) override;
    ArrivingInput ReadArriving(uint8_t* buffer, size_t capacity, uint32_t milliseconds) override;

private:
    // How an open that was begun has ended, once it has.
    Opening Traced(Opening opening);

    WireTrace& trace_;
    std::string opening_;  // the port whose open is pending
};

// Whether the trace is being written, as the settings page tells the user.
struct TraceNotice {
    enum class State {
        Off,
        Writing,
        Dropped,  // the last lines could not be written
    };
    enum class Cause {
        None,
        NoFolder,     // the file's folder does not exist
        DiskFull,
        FileLocked,   // another program holds the file, or it may not be written
        CannotWrite,  // any other failure
        TooMuch,      // the lines came faster than they could be written
        CannotRotate, // the file is at its limit and cannot be moved to the older one
    };
    State state = State::Off;
    Cause cause = Cause::None;
    std::string file;  // UTF-8

    bool operator==(const TraceNotice& other) const {
        return state == other.state && cause == other.cause && file == other.file;
    }
    bool operator!=(const TraceNotice& other) const { return !(*this == other); }
};

class TraceReport {
public:
    virtual ~TraceReport() = default;
    virtual TraceNotice Notice() const = 0;
};

// What the page says of the trace (UTF-8); empty while it is off.
std::string TraceNoticeText(const TraceNotice& notice);

}  // namespace quill
