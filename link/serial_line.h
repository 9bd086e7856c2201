// The serial line as the terminal protocol sees it: the few things the link
// logic asks of a port, and nothing of how a platform provides them. The
// Windows file makes the overlapped Win32 calls; the tests use a scripted
// fake line on a virtual clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace quill {

// How a wait for received bytes ended.
enum class WaitOutcome {
    Received,  // the line signalled a received character
    TimedOut,  // nothing within the limit
    Failed,    // the wait itself failed (the event is no longer usable)
    PortGone,  // the port's device has gone (a cable or adapter pulled out)
};

// Line settings the protocol changes while a port is open: everything else
// (8 data bits, no parity, one stop bit, no flow control, DTR raised) is
// fixed by the platform file.
struct LineSettings {
    uint32_t baudRate = 9600;
    bool rtsHigh = true;
};

class SerialLine {
public:
    virtual ~SerialLine() = default;

    // Opens the named port ("COM1" ... "COM256") exclusively, reads its
    // current settings and sizes both queues. False when the port is missing
    // or held by another program; nothing stays open then.
    virtual bool Open(const std::string& portName) = 0;

    // An open that may not return for a long time (a virtual port that
    // connects its device first), made where it holds nothing else: begun,
    // looked at until it has returned, or left.
    enum class Opening {
        Pending,  // not returned yet
        Opened,   // open, as after Open
        Failed,   // as a failed Open
    };
    // Begins opening the named port and returns at once. By default the open
    // is made here and has returned by then.
    virtual Opening BeginOpen(const std::string& portName) {
        return Open(portName) ? Opening::Opened : Opening::Failed;
    }
    // How the open begun last stands now.
    virtual Opening OpeningNow() { return IsOpen() ? Opening::Opened : Opening::Failed; }
    // Lets go of an open still pending: the line stays closed, and the port
    // is closed again if it ever opens.
    virtual void LeaveOpening() {}
    // Closes the port; harmless when it is closed.
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    // First configuration after Open: the full line-settings table with the
    // given values, then the received-character event and the time-outs.
    // False when the port rejects the line settings.
    virtual bool Configure(const LineSettings& settings) = 0;
    // Changes baud rate and RTS while open; a rejection is not reported.
    virtual void Reconfigure(const LineSettings& settings) = 0;

    // Starts writing; returns without waiting for the bytes to go out.
    virtual void Write(const uint8_t* bytes, size_t count) = 0;
    // Writes and waits until the bytes have been transmitted (bounded by
    // the port's write time-outs).
    virtual void WriteAndDrain(const uint8_t* bytes, size_t count) = 0;

    // Waits up to `milliseconds` for a received character.
    virtual WaitOutcome WaitForInput(uint32_t milliseconds) = 0;
    // Reads what the input queue holds, at most `capacity` bytes, without
    // waiting; returns the count read. Bytes beyond `capacity` stay queued.
    virtual size_t ReadQueued(uint8_t* buffer, size_t capacity) = 0;

    // A wait for input and the read that follows it, in one: waits up to
    // `milliseconds` for a received character, then reads at most `capacity`
    // bytes, the first as soon as it has come and with it whatever is queued.
    // Received may come with no bytes (the line signalled with nothing to
    // read); TimedOut and Failed come with none. By default it is exactly
    // WaitForInput and then ReadQueued; a platform whose wait for a received
    // character costs more than a read that waits reads instead.
    struct ArrivingInput {
        WaitOutcome outcome;
        size_t count;
    };
    virtual ArrivingInput ReadArriving(uint8_t* buffer, size_t capacity, uint32_t milliseconds) {
        const WaitOutcome outcome = WaitForInput(milliseconds);
        if (outcome != WaitOutcome::Received) return {outcome, 0};
        return {outcome, ReadQueued(buffer, capacity)};
    }

    // Ends outstanding reads and writes; bytes already queued stay queued.
    virtual void AbortPending() = 0;
    // Discards both queues.
    virtual void DiscardQueues() = 0;

    // The platform's error with which an operation found the port's device
    // gone (a USB cable or adapter pulled out); nothing while none has. From
    // then on every wait ends as PortGone and nothing more is written to the
    // port; closing the line clears it.
    virtual std::optional<uint32_t> GoneError() const { return std::nullopt; }
};

// A line over another that passes each call on as it is; a line that adds
// something (a trace, a stop) overrides only what it changes.
class ForwardingLine : public SerialLine {
public:
    explicit ForwardingLine(SerialLine& line) : line_(line) {}

    bool Open(const std::string& portName) override { return line_.Open(portName); }
    Opening BeginOpen(const std::string& portName) override { return line_.BeginOpen(portName); }
    Opening OpeningNow() override { return line_.OpeningNow(); }
    void LeaveOpening() override { line_.LeaveOpening(); }
    void Close() override { line_.Close(); }
    bool IsOpen() const override { return line_.IsOpen(); }
    bool Configure(const LineSettings& settings) override { return line_.Configure(settings); }
    void Reconfigure(const LineSettings& settings) override { line_.Reconfigure(settings); }
    void Write(const uint8_t* bytes, size_t count) override { line_.Write(bytes, count); }
    void WriteAndDrain(const uint8_t* bytes, size_t count) override { line_.WriteAndDrain(bytes, count); }
    WaitOutcome WaitForInput(uint32_t milliseconds) override { return line_.WaitForInput(milliseconds); }
    size_t ReadQueued(uint8_t* buffer, size_t capacity) override { return line_.ReadQueued(buffer, capacity); }
    ArrivingInput ReadArriving(uint8_t* buffer, size_t capacity, uint32_t milliseconds) override {
        return line_.ReadArriving(buffer, capacity, milliseconds);
    }
    void AbortPending() override { line_.AbortPending(); }
    void DiscardQueues() override { line_.DiscardQueues(); }
    std::optional<uint32_t> GoneError() const override { return line_.GoneError(); }

protected:
    SerialLine& line_;
};

// Time as the protocol keeps it: fixed delays and, for tests, a reading.
class Clock {
public:
    virtual ~Clock() = default;
    virtual void Sleep(uint32_t milliseconds) = 0;
    virtual uint64_t NowMs() const = 0;
};

// The computer's local date and time, as `UpdateTime` sends it.
struct LocalTime {
    int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

class LocalTimeSource {
public:
    virtual ~LocalTimeSource() = default;
    virtual LocalTime Now() const = 0;
};

}  // namespace quill
