// The serial line on Windows: one overlapped port handle, one auto-reset
// event and one OVERLAPPED record for every read, write and wait.
#pragma once

#include <windows.h>

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
    // Implementation state (handle, event, OVERLAPPED, DCB, COMSTAT, adapter
    // byte) is the implementer's; RAII wrappers from core/win.
    struct State;
    State* state_ = nullptr;
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
