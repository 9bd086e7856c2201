// The serial line on Windows: one overlapped port handle, and for each kind
// of operation (the wait for input, the read, the write) an OVERLAPPED record
// with an event of its own, so that one operation never reads another's
// status or signal. Every completion is awaited with a time limit. An error
// that says the port's device has gone marks the port gone until it is
// closed.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <vector>

#include "core/win/handles.h"
#include "link/serial_line.h"

namespace quill {

class Win32SerialLine final : public SerialLine {
public:
    Win32SerialLine();
    ~Win32SerialLine() override;
    Win32SerialLine(const Win32SerialLine&) = delete;
    Win32SerialLine& operator=(const Win32SerialLine&) = delete;

    bool Open(const std::string& portName) override;
    // The open is made on a thread of its own, which holds nothing of the
    // line's but what the two share; a port that opens after the line has
    // left it is closed by that thread.
    Opening BeginOpen(const std::string& portName) override;
    Opening OpeningNow() override;
    void LeaveOpening() override;
    void Close() override;
    bool IsOpen() const override;
    bool Configure(const LineSettings& settings) override;
    void Reconfigure(const LineSettings& settings) override;
    void Write(const uint8_t* bytes, size_t count) override;
    void WriteAndDrain(const uint8_t* bytes, size_t count) override;
    WaitOutcome WaitForInput(uint32_t milliseconds) override;
    size_t ReadQueued(uint8_t* buffer, size_t capacity) override;
    ArrivingInput ReadArriving(uint8_t* buffer, size_t capacity, uint32_t milliseconds) override;
    void AbortPending() override;
    void DiscardQueues() override;
    std::optional<uint32_t> GoneError() const override;

    // The event that the wait for input signals (null while the port is
    // closed). The tests signal it early, as a driver may.
    HANDLE WaitEventForTests() const;
    // For the tests: starts a wait for input and leaves it armed, as a wait
    // whose time ran out and that would not end is left.
    void LeaveWaitArmedForTests();
    // For the tests: ends the armed wait and leaves its record as the system
    // leaves one it cancelled (ERROR_OPERATION_ABORTED). Windows does so with
    // the I/O of a thread that ends; Wine does not, so the tests play its part.
    void CancelArmedWaitForTests();

private:
    // One overlapped operation in progress, or none: its record, its own
    // manual-reset event, and what the system writes when it completes (the
    // event mask of a wait, the bytes of a read or write), which must stay
    // in place until then.
    struct PendingIo {
        OVERLAPPED overlapped{};
        win::unique_event event;
        DWORD eventMask = 0;
        std::vector<uint8_t> bytes;
        bool pending = false;

        // A fresh record for the next operation, which counts as pending
        // until it is collected or forgotten.
        OVERLAPPED* Begin();
        // True once the operation has completed and signalled its event,
        // within `milliseconds`; a signal before completion is not taken.
        bool AwaitCompletion(DWORD milliseconds);
        // The outcome of a completed operation; the record is free again.
        bool Collect(HANDLE port, DWORD& transferred);
        // Frees a record whose operation did not start or was ended.
        void Forget() { pending = false; }
    };

    // How a read run by RunRead ended: early when it had to be ended after
    // its time; what the system said of it and the bytes it read.
    struct FinishedRead {
        bool endedEarly = false;
        bool succeeded = false;
        DWORD error = ERROR_SUCCESS;
        DWORD count = 0;
    };

    // How an operation in progress is asked to end before CancelIoEx.
    using FirstEnding = void (*)(HANDLE port);

    // An open on its own thread, shared by the line and that thread.
    struct PortOpening;
    static DWORD OpenOnItsThread(void* opening);

    bool PrepareRecords();
    void TakeOpenedPort(HANDLE port);
    WaitOutcome StartWait(DWORD milliseconds);
    WaitOutcome EndWaitAfterTimeOut();
    std::optional<FinishedRead> RunRead(DWORD wanted, DWORD limitMs);
    WaitOutcome ReadFirstByte(uint8_t& byte, DWORD milliseconds);
    bool SetReadWait(DWORD milliseconds);
    bool StartWrite(const uint8_t* bytes, size_t count);
    bool FinishWrite();
    bool TryToEnd(PendingIo& io, FirstEnding firstEnding);
    bool EndOperation(PendingIo& io, FirstEnding firstEnding);
    void ClosePortHandle();
    std::optional<DWORD> QueuedInputBytes();
    bool FoundGone(DWORD error);
    // How an operation that failed ends a wait: as a failure, or as the
    // port gone once an error has said so.
    WaitOutcome FailedOutcome() const;

    win::unique_hfile port_;
    std::shared_ptr<PortOpening> opening_;  // an open begun and not yet looked at to its end
    std::unique_ptr<PendingIo> wait_;
    std::unique_ptr<PendingIo> read_;
    std::unique_ptr<PendingIo> write_;
    // How long a read waits for its first byte under the port's time-outs;
    // 0 while reads return at once with what is queued.
    DWORD readWaitMs_ = 0;
    DCB lineSettings_{};
    // The error that said the port's device has gone; nothing while none has.
    std::optional<DWORD> goneError_;
};

class Win32Clock final : public Clock {
public:
    void Sleep(uint32_t milliseconds) override;
    uint64_t NowMs() const override;
};

class Win32LocalTime final : public LocalTimeSource {
public:
    LocalTime Now() const override;
};

}  // namespace quill
