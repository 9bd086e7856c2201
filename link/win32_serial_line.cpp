// The serial line on Windows. One auto-reset event and one OVERLAPPED record
// serve every write, read and wait on the port, so at most one of them is
// outstanding at a time: a write still in progress is finished, and a wait
// still armed is ended, before the record is used again. Otherwise the two
// operations would overwrite each other's status in the record, and a write
// completing would signal the shared event as if a byte had arrived.
#include "link/win32_serial_line.h"

#include <algorithm>

namespace quill {
namespace {

// Line settings applied at every open.
constexpr DWORD kLineSettingsSize = 28;
static_assert(sizeof(DCB) == kLineSettingsSize, "the 32-bit DCB is 28 bytes");
constexpr WORD kXonLimit = 2048;
constexpr WORD kXoffLimit = 512;
constexpr BYTE kDataBits = 8;
constexpr char kXonChar = 0x0B;
constexpr char kXoffChar = 0x0D;

// Both queues of the port driver, in bytes.
constexpr DWORD kQueueSize = 1024;

// Reads return at once with whatever is queued; a write may take 5 ms per
// byte plus 50 ms.
constexpr DWORD kReadInterval = MAXDWORD;
constexpr DWORD kWriteMsPerByte = 5;
constexpr DWORD kWriteMsExtra = 50;

constexpr DWORD kReceivedCharacter = EV_RXCHAR;
constexpr DWORD kAbortTransfers = PURGE_TXABORT | PURGE_RXABORT;
constexpr DWORD kClearQueues = PURGE_TXCLEAR | PURGE_RXCLEAR;

// "COM10" and above open only through the device namespace.
constexpr char kDeviceNamespace[] = "\\\\.\\";

DWORD RtsControl(bool rtsHigh) { return rtsHigh ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE; }

// 8 data bits, no parity, one stop bit, no flow control, DTR raised; the
// members not named here keep what the port reported.
void ApplyLineTable(DCB& dcb, const LineSettings& settings) {
    dcb.DCBlength = kLineSettingsSize;
    dcb.BaudRate = settings.baudRate;
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 1;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RtsControl(settings.rtsHigh);
    dcb.fAbortOnError = 0;
    dcb.XonLim = kXonLimit;
    dcb.XoffLim = kXoffLimit;
    dcb.ByteSize = kDataBits;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = kXonChar;
    dcb.XoffChar = kXoffChar;
    dcb.ErrorChar = 0;
    dcb.EofChar = 0;
    dcb.EvtChar = 0;
}

COMMTIMEOUTS LineTimeouts() {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = kReadInterval;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = kWriteMsPerByte;
    timeouts.WriteTotalTimeoutConstant = kWriteMsExtra;
    return timeouts;
}

}  // namespace

Win32SerialLine::~Win32SerialLine() { Close(); }

bool Win32SerialLine::Open(const std::string& portName) {
    Close();
    overlapped_ = OVERLAPPED{};
    ioEvent_.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!ioEvent_) return false;
    overlapped_.hEvent = ioEvent_.get();

    const std::string deviceName = kDeviceNamespace + portName;
    port_.reset(::CreateFileA(deviceName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (!port_) {
        ioEvent_.reset();
        overlapped_.hEvent = nullptr;
        return false;
    }
    lineSettings_ = DCB{};
    lineSettings_.DCBlength = kLineSettingsSize;
    // Unchecked: the fields the line uses are all set by Configure, and the
    // queue sizes are only a request to the driver.
    ::GetCommState(port_.get(), &lineSettings_);
    ::SetupComm(port_.get(), kQueueSize, kQueueSize);
    return true;
}

void Win32SerialLine::Close() {
    if (port_) FreeOverlapped();
    port_.reset();
    ioEvent_.reset();
    overlapped_.hEvent = nullptr;
    pending_ = Pending::Nothing;
    writeBuffer_.clear();
}

bool Win32SerialLine::IsOpen() const { return port_.is_valid(); }

bool Win32SerialLine::Configure(const LineSettings& settings) {
    if (!IsOpen()) return false;
    ApplyLineTable(lineSettings_, settings);
    if (!::SetCommState(port_.get(), &lineSettings_)) return false;
    // Unchecked: the port took its line settings just now; a mask or time-outs
    // it refused show as failed waits and reads.
    ::SetCommMask(port_.get(), kReceivedCharacter);
    COMMTIMEOUTS timeouts = LineTimeouts();
    ::SetCommTimeouts(port_.get(), &timeouts);
    return true;
}

void Win32SerialLine::Reconfigure(const LineSettings& settings) {
    if (!IsOpen()) return;
    lineSettings_.BaudRate = settings.baudRate;
    lineSettings_.fRtsControl = RtsControl(settings.rtsHigh);
    ::SetCommState(port_.get(), &lineSettings_);  // unchecked: the adapter's silence tells
}

void Win32SerialLine::Write(const uint8_t* bytes, size_t count) { StartWrite(bytes, count); }

void Win32SerialLine::WriteAndDrain(const uint8_t* bytes, size_t count) {
    if (StartWrite(bytes, count)) FinishPendingWrite();
}

WaitOutcome Win32SerialLine::WaitForInput(uint32_t milliseconds) {
    if (!IsOpen()) return WaitOutcome::Failed;
    FinishPendingWrite();
    // A wait that timed out earlier is still armed: keep waiting on it. (A
    // second WaitCommEvent would fail at once, and Wine would signal the
    // event for it all the same.)
    if (pending_ == Pending::Wait) return AwaitPendingWait(milliseconds);
    // Bytes left queued by an earlier read, or whose arrival signalled a
    // wait that was ended for a write, are input already received.
    if (QueuedInputBytes() > 0) return WaitOutcome::Received;

    ioEvent_.ResetEvent();
    if (::WaitCommEvent(port_.get(), &eventMask_, &overlapped_)) return WaitOutcome::Received;
    if (::GetLastError() != ERROR_IO_PENDING) return WaitOutcome::Failed;
    pending_ = Pending::Wait;
    return AwaitPendingWait(milliseconds);
}

size_t Win32SerialLine::ReadQueued(uint8_t* buffer, size_t capacity) {
    if (!IsOpen() || buffer == nullptr || capacity == 0) return 0;
    FreeOverlapped();
    const size_t wanted = std::min<size_t>(QueuedInputBytes(), capacity);
    if (wanted == 0) return 0;

    if (!::ReadFile(port_.get(), buffer, static_cast<DWORD>(wanted), nullptr, &overlapped_) &&
        ::GetLastError() != ERROR_IO_PENDING) {
        return 0;
    }
    DWORD read = 0;
    if (!::GetOverlappedResult(port_.get(), &overlapped_, &read, TRUE)) return 0;
    return std::min<size_t>(read, wanted);
}

void Win32SerialLine::AbortPending() {
    if (!IsOpen()) return;
    ::PurgeComm(port_.get(), kAbortTransfers);  // unchecked: nothing may be pending
    FinishPendingWrite();
}

void Win32SerialLine::DiscardQueues() {
    if (!IsOpen()) return;
    ::PurgeComm(port_.get(), kClearQueues);  // unchecked: empty queues stay empty
}

// Starts an overlapped write of a copy of the bytes; true when it is still
// in progress.
bool Win32SerialLine::StartWrite(const uint8_t* bytes, size_t count) {
    if (!IsOpen() || bytes == nullptr || count == 0) return false;
    FreeOverlapped();
    writeBuffer_.assign(bytes, bytes + count);
    if (::WriteFile(port_.get(), writeBuffer_.data(), static_cast<DWORD>(writeBuffer_.size()),
                    nullptr, &overlapped_)) {
        return false;
    }
    if (::GetLastError() != ERROR_IO_PENDING) return false;
    pending_ = Pending::Write;
    return true;
}

// Bounded by the write time-outs of the line.
void Win32SerialLine::FinishPendingWrite() {
    if (pending_ == Pending::Write) CollectPendingResult(true);
}

// Setting the event mask again ends an armed wait at once (CancelIo does
// not reach it under Wine). A byte that completed the wait meanwhile stays
// queued and is found by the next wait.
void Win32SerialLine::EndPendingWait() {
    if (pending_ != Pending::Wait) return;
    if (!PendingOperationDone()) ::SetCommMask(port_.get(), kReceivedCharacter);
    CollectPendingResult(true);
}

void Win32SerialLine::FreeOverlapped() {
    FinishPendingWrite();
    EndPendingWait();
}

WaitOutcome Win32SerialLine::AwaitPendingWait(uint32_t milliseconds) {
    if (PendingOperationDone()) {
        CollectPendingResult(false);
        return WaitOutcome::Received;
    }
    const DWORD outcome = ::WaitForSingleObject(ioEvent_.get(), milliseconds);
    if (outcome != WAIT_OBJECT_0 && outcome != WAIT_TIMEOUT) return WaitOutcome::Failed;
    if (PendingOperationDone()) {
        CollectPendingResult(false);
        return WaitOutcome::Received;
    }
    if (outcome == WAIT_OBJECT_0) return WaitOutcome::Received;
    ioEvent_.ResetEvent();
    return WaitOutcome::TimedOut;
}

bool Win32SerialLine::PendingOperationDone() const { return HasOverlappedIoCompleted(&overlapped_); }

void Win32SerialLine::CollectPendingResult(bool wait) {
    DWORD transferred = 0;
    // Unchecked: the outcome of a write or a wait is read from the queues.
    ::GetOverlappedResult(port_.get(), &overlapped_, &transferred, wait ? TRUE : FALSE);
    pending_ = Pending::Nothing;
}

DWORD Win32SerialLine::QueuedInputBytes() {
    DWORD errors = 0;
    queueStatus_ = COMSTAT{};
    if (!::ClearCommError(port_.get(), &errors, &queueStatus_)) return 0;
    return queueStatus_.cbInQue;
}

}  // namespace quill
