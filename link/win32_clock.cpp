// The system's clocks: real delays, a monotonic reading in milliseconds and
// the computer's local date and time.
#include <windows.h>

#include "link/win32_serial_line.h"

namespace quill {
namespace {

constexpr uint64_t kMsPerSecond = 1000;

uint64_t CounterFrequency() {
    static const uint64_t frequency = [] {
        LARGE_INTEGER value{};
        ::QueryPerformanceFrequency(&value);  // unchecked: 0 falls back to the tick count
        return static_cast<uint64_t>(value.QuadPart);
    }();
    return frequency;
}

}  // namespace

void Win32Clock::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

uint64_t Win32Clock::NowMs() const {
    const uint64_t frequency = CounterFrequency();
    if (frequency == 0) return ::GetTickCount64();
    LARGE_INTEGER counter{};
    ::QueryPerformanceCounter(&counter);  // unchecked: cannot fail once the frequency is known
    const auto ticks = static_cast<uint64_t>(counter.QuadPart);
    // Whole seconds first, so the product cannot overflow.
    return ticks / frequency * kMsPerSecond + ticks % frequency * kMsPerSecond / frequency;
}

LocalTime Win32LocalTime::Now() const {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    LocalTime time;
    time.year = now.wYear;
    time.month = now.wMonth;
    time.day = now.wDay;
    time.hour = now.wHour;
    time.minute = now.wMinute;
    time.second = now.wSecond;
    return time;
}

}  // namespace quill
