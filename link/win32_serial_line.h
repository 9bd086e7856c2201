// The serial line on Windows: one overlapped port handle, one auto-reset
// event and one OVERLAPPED record for every read, write and wait.
#pragma once

#include <windows.h>

#include <vector>

#include "core/win/handles.h"
#include "link/serial_line.h"

namespace quill {

class Win32SerialLine final : public SerialLine {
public:
    Win32SerialLine() = default;
    ~Win32SerialLine() override;
    Win32SerialLine(const Win32SerialLine&) = delete;
    Win32SerialLine& operator=(const Win32SerialLine&) = delete;

    bool Open(const std::string& portName) override;
    void Close() override;
    bool IsOpen() const override;
    bool Configure(const LineSettings& settings) override;
    void Reconfigure(const LineSettings& settings) override;
    void Write(const uint8_t* bytes, size_t count) override;
    void WriteAndDrain(const uint8_t* bytes, size_t count) override;
    WaitOutcome WaitForInput(uint32_t milliseconds) override;
    size_t ReadQueued(uint8_t* buffer, size_t capacity) override;
    void AbortPending() override;
    void DiscardQueues() override;

private:
    // The one operation that may be outstanding on the shared OVERLAPPED.
    enum class Pending { Nothing, Write, Wait };

    bool StartWrite(const uint8_t* bytes, size_t count);
    void FinishPendingWrite();
    void EndPendingWait();
    void FreeOverlapped();
    WaitOutcome AwaitPendingWait(uint32_t milliseconds);
    bool PendingOperationDone() const;
    void CollectPendingResult(bool wait);
    DWORD QueuedInputBytes();

    win::unique_hfile port_;
    win::unique_event ioEvent_;
    OVERLAPPED overlapped_{};
    DCB lineSettings_{};
    COMSTAT queueStatus_{};
    // Written by the system when a pending wait completes, so it lives here.
    DWORD eventMask_ = 0;
    // The bytes of the write in progress; the caller's buffer may be gone
    // before the port has sent them.
    std::vector<uint8_t> writeBuffer_;
    Pending pending_ = Pending::Nothing;
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
