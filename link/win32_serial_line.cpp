// The serial line on Windows. The wait for input, the read and the write
// each have an OVERLAPPED record and a manual-reset event of their own, and
// no wait blocks without a time limit: an operation that does not complete
// in its time is ended (the way that fits it, then CancelIoEx on its own
// record, which reaches it whichever thread started it), and when a read or
// a write will not end even then the port is closed, so the caller sees a
// failed read and never a call that does not return. A wait for input that
// times out is ended too; one that will not end (seen under Wine) is left
// armed, and the next wait, from whichever thread calls next, waits on it
// again instead of starting a second one. When the thread that armed it has
// ended, Windows has cancelled it: it then counts as a wait that timed out,
// and a fresh one is started. An operation that fails with an error saying
// the port's device has gone (a USB cable or adapter pulled out) marks the
// port gone: every wait then ends as such at once, and nothing more is
// written to it until it is closed.
#include "link/win32_serial_line.h"

#include <algorithm>
#include <atomic>
#include <new>

#include "core/win/module_thread.h"

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

// Reads return at once with whatever is queued, or, when the line reads as
// bytes arrive, wait for them up to a total time; a write may take 5 ms per
// byte plus 50 ms.
constexpr DWORD kReadAtOnceInterval = MAXDWORD;
constexpr DWORD kNoInterval = 0;
constexpr DWORD kWriteMsPerByte = 5;
constexpr DWORD kWriteMsExtra = 50;

constexpr DWORD kReceivedCharacter = EV_RXCHAR;
constexpr DWORD kClearQueues = PURGE_TXCLEAR | PURGE_RXCLEAR;

// "COM10" and above open only through the device namespace.
constexpr char kDeviceNamespace[] = "\\\\.\\";

// How long an operation is given to complete beyond its own time: a read of
// queued bytes returns at once, a write within its write time-outs.
constexpr DWORD kReadLimitMs = 500;
constexpr DWORD kCompletionSlackMs = 500;
// How long an operation is given to end once asked to.
constexpr DWORD kEndingLimitMs = 200;
// What the system leaves in the record of an operation it cancelled; read
// back as ERROR_OPERATION_ABORTED.
constexpr ULONG_PTR kStatusCancelled = 0xC0000120;
// After an early signal, how often completion is looked at.
constexpr DWORD kRecheckMs = 5;

// Opens a port exclusively for overlapped I/O; the invalid handle when it is
// missing or held by another program. A virtual port may not return for
// long.
HANDLE OpenDevice(const std::string& deviceName) {
    return ::CreateFileA(deviceName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
}

// Errors with which Windows fails the operations on a port whose device has
// gone. Serial drivers differ: USB ones give ERROR_BAD_COMMAND,
// ERROR_ACCESS_DENIED, ERROR_GEN_FAILURE or ERROR_DEVICE_REMOVED, some
// ERROR_FILE_NOT_FOUND, ERROR_DEVICE_NOT_CONNECTED or ERROR_NO_SUCH_DEVICE.
// Under Wine, a port whose far end has closed gives ERROR_NOT_READY to the
// queue's status and to writes, and ERROR_BROKEN_PIPE to reads. (The
// operations in progress as a device goes end as ERROR_OPERATION_ABORTED,
// which is taken for a sign of it only when the port cannot report its queue
// either: Windows also ends so the I/O of a thread that ends.)
constexpr DWORD kNoSuchDevice = 433;  // ERROR_NO_SUCH_DEVICE, which MinGW's headers lack

bool SaysPortGone(DWORD error) {
    switch (error) {
        case ERROR_BAD_COMMAND:
        case ERROR_ACCESS_DENIED:
        case ERROR_GEN_FAILURE:
        case ERROR_DEVICE_REMOVED:
        case ERROR_FILE_NOT_FOUND:
        case ERROR_DEVICE_NOT_CONNECTED:
        case kNoSuchDevice:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_NOT_READY:
        case ERROR_BROKEN_PIPE:
            return true;
        default:
            return false;
    }
}

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

DWORD WriteLimitMs(size_t count) {
    return static_cast<DWORD>(count) * kWriteMsPerByte + kWriteMsExtra + kCompletionSlackMs;
}

// The first way to end each kind of operation: changing the event mask ends
// a wait (on Windows and under Wine, where CancelIoEx does not reach it).
void EndWait(HANDLE port) { ::SetCommMask(port, kReceivedCharacter); }  // unchecked: completion tells
void EndRead(HANDLE port) { ::PurgeComm(port, PURGE_RXABORT); }         // unchecked: completion tells
void EndWrite(HANDLE port) { ::PurgeComm(port, PURGE_TXABORT); }        // unchecked: completion tells

// The port's time-outs: with `readWaitMs` 0 a read returns at once with what
// is queued; otherwise it returns once it has all it asked for, or after
// `readWaitMs` with what has come by then.
COMMTIMEOUTS LineTimeouts(DWORD readWaitMs) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = readWaitMs == 0 ? kReadAtOnceInterval : kNoInterval;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = readWaitMs;
    timeouts.WriteTotalTimeoutMultiplier = kWriteMsPerByte;
    timeouts.WriteTotalTimeoutConstant = kWriteMsExtra;
    return timeouts;
}

}  // namespace

// --- One overlapped operation ------------------------------------------------

OVERLAPPED* Win32SerialLine::PendingIo::Begin() {
    overlapped = OVERLAPPED{};
    overlapped.hEvent = event.get();
    event.ResetEvent();
    pending = true;
    return &overlapped;
}

bool Win32SerialLine::PendingIo::AwaitCompletion(DWORD milliseconds) {
    const DWORD start = ::GetTickCount();
    const auto left = [&]() -> DWORD {
        const DWORD elapsed = ::GetTickCount() - start;
        return elapsed < milliseconds ? milliseconds - elapsed : 0;
    };
    DWORD slice = milliseconds;
    bool signalDropped = false;
    for (;;) {
        const DWORD outcome = ::WaitForSingleObject(event.get(), std::min(left(), slice));
        const bool completed = HasOverlappedIoCompleted(&overlapped);
        if (outcome == WAIT_OBJECT_0 && completed) return true;
        if (outcome == WAIT_OBJECT_0) {
            // Signalled while still in progress (seen under Wine): the signal
            // says nothing. Completion is looked at every few milliseconds
            // from now on, since its own signal may be the one dropped here.
            event.ResetEvent();
            signalDropped = true;
            slice = kRecheckMs;
        } else if (outcome != WAIT_TIMEOUT) {
            return completed;  // nothing to wait on
        } else if (completed && signalDropped) {
            return true;
        }
        if (left() == 0) {
            // Completed just now: its signal follows at once.
            if (completed) ::WaitForSingleObject(event.get(), kRecheckMs);  // unchecked: completed either way
            return completed;
        }
    }
}

bool Win32SerialLine::PendingIo::Collect(HANDLE port, DWORD& transferred) {
    transferred = 0;
    pending = false;
    return ::GetOverlappedResult(port, &overlapped, &transferred, FALSE) != FALSE;
}

// --- The line ----------------------------------------------------------------

Win32SerialLine::Win32SerialLine() = default;

Win32SerialLine::~Win32SerialLine() { Close(); }

bool Win32SerialLine::Open(const std::string& portName) {
    Close();
    if (!PrepareRecords()) return false;
    win::unique_hfile port(OpenDevice(kDeviceNamespace + portName));
    if (!port) {
        ClosePortHandle();
        return false;
    }
    TakeOpenedPort(port.release());
    return true;
}

// What the line and the thread that opens share. The thread writes the
// handle, then says how the open ended; the line says it has left the open
// instead, when it will not wait for it. Whichever comes second owns an
// opened handle that nobody takes, and closes it.
struct Win32SerialLine::PortOpening {
    enum : int { kPending, kOpened, kFailed, kLeft };
    std::string deviceName;
    HANDLE port = INVALID_HANDLE_VALUE;
    std::atomic<int> state{kPending};
};

DWORD Win32SerialLine::OpenOnItsThread(void* opening) {
    const std::unique_ptr<std::shared_ptr<PortOpening>> held(static_cast<std::shared_ptr<PortOpening>*>(opening));
    PortOpening& shared = **held;
    const HANDLE port = OpenDevice(shared.deviceName);
    shared.port = port;
    int expected = PortOpening::kPending;
    const int ended = port != INVALID_HANDLE_VALUE ? PortOpening::kOpened : PortOpening::kFailed;
    if (!shared.state.compare_exchange_strong(expected, ended) && port != INVALID_HANDLE_VALUE)
        ::CloseHandle(port);  // left by the line
    return 0;
}

SerialLine::Opening Win32SerialLine::BeginOpen(const std::string& portName) {
    Close();
    if (!PrepareRecords()) return Opening::Failed;
    std::shared_ptr<PortOpening> opening(new (std::nothrow) PortOpening);
    auto* forThread = opening ? new (std::nothrow) std::shared_ptr<PortOpening>(opening) : nullptr;
    win::unique_handle thread;
    if (forThread == nullptr) {
        ClosePortHandle();
        return Opening::Failed;
    }
    opening->deviceName = kDeviceNamespace + portName;
    if (!win::StartModuleThread(&OpenOnItsThread, forThread, thread)) {
        delete forThread;
        return Open(portName) ? Opening::Opened : Opening::Failed;  // here, then
    }
    opening_ = std::move(opening);
    return OpeningNow();
}

SerialLine::Opening Win32SerialLine::OpeningNow() {
    if (!opening_) return IsOpen() ? Opening::Opened : Opening::Failed;
    switch (opening_->state.load()) {
        case PortOpening::kPending: return Opening::Pending;
        case PortOpening::kOpened: {
            const HANDLE port = opening_->port;
            opening_.reset();
            TakeOpenedPort(port);
            return Opening::Opened;
        }
        default: break;
    }
    opening_.reset();
    ClosePortHandle();
    return Opening::Failed;
}

void Win32SerialLine::LeaveOpening() {
    if (!opening_) return;
    int expected = PortOpening::kPending;
    if (!opening_->state.compare_exchange_strong(expected, PortOpening::kLeft) && expected == PortOpening::kOpened)
        ::CloseHandle(opening_->port);  // opened just now, and not wanted
    opening_.reset();
    ClosePortHandle();
}

// The records of the three kinds of operation, each with its event.
bool Win32SerialLine::PrepareRecords() {
    for (std::unique_ptr<PendingIo>* io : {&wait_, &read_, &write_}) {
        io->reset(new (std::nothrow) PendingIo);
        if (!*io || !(*io)->event.create(win::unique_event::Reset::Manual)) {
            ClosePortHandle();
            return false;
        }
    }
    return true;
}

void Win32SerialLine::TakeOpenedPort(HANDLE port) {
    port_.reset(port);
    lineSettings_ = DCB{};
    lineSettings_.DCBlength = kLineSettingsSize;
    // Unchecked: the fields the line uses are all set by Configure, and the
    // queue sizes are only a request to the driver.
    ::GetCommState(port_.get(), &lineSettings_);
    ::SetupComm(port_.get(), kQueueSize, kQueueSize);
}

// Each operation still in progress is ended before the handle goes; one that
// cannot be ended has closed the port already. On a port whose device has
// gone, closing the handle ends them.
void Win32SerialLine::Close() {
    LeaveOpening();
    if (IsOpen() && !goneError_ &&
        (!EndOperation(*wait_, EndWait) || !EndOperation(*read_, EndRead) || !EndOperation(*write_, EndWrite))) {
        return;
    }
    ClosePortHandle();
}

bool Win32SerialLine::IsOpen() const { return port_.is_valid(); }

std::optional<uint32_t> Win32SerialLine::GoneError() const {
    if (!goneError_) return std::nullopt;
    return static_cast<uint32_t>(*goneError_);
}

bool Win32SerialLine::Configure(const LineSettings& settings) {
    if (!IsOpen()) return false;
    ApplyLineTable(lineSettings_, settings);
    if (!::SetCommState(port_.get(), &lineSettings_)) return false;
    // Unchecked: the port took its line settings just now; a mask or time-outs
    // it refused show as failed waits and reads.
    ::SetCommMask(port_.get(), kReceivedCharacter);
    COMMTIMEOUTS timeouts = LineTimeouts(0);
    ::SetCommTimeouts(port_.get(), &timeouts);
    readWaitMs_ = 0;
    return true;
}

void Win32SerialLine::Reconfigure(const LineSettings& settings) {
    if (!IsOpen() || goneError_) return;
    lineSettings_.BaudRate = settings.baudRate;
    lineSettings_.fRtsControl = RtsControl(settings.rtsHigh);
    ::SetCommState(port_.get(), &lineSettings_);  // unchecked: the adapter's silence tells
}

void Win32SerialLine::Write(const uint8_t* bytes, size_t count) { StartWrite(bytes, count); }

void Win32SerialLine::WriteAndDrain(const uint8_t* bytes, size_t count) {
    if (StartWrite(bytes, count)) FinishWrite();
}

WaitOutcome Win32SerialLine::WaitForInput(uint32_t milliseconds) {
    if (!IsOpen()) return WaitOutcome::Failed;
    if (goneError_) return WaitOutcome::PortGone;
    const std::optional<DWORD> queued = QueuedInputBytes();
    if (!queued) return FailedOutcome();
    // Bytes left queued by an earlier read are input already received.
    if (*queued > 0) return WaitOutcome::Received;

    PendingIo& wait = *wait_;
    if (!wait.pending) return StartWait(milliseconds);
    // A wait that would not end when an earlier time ran out (seen under
    // Wine) is still armed: it is waited on again, never a second one started.
    const DWORD start = ::GetTickCount();
    if (!wait.AwaitCompletion(milliseconds)) return WaitOutcome::TimedOut;
    DWORD ignored = 0;
    if (wait.Collect(port_.get(), ignored)) return WaitOutcome::Received;
    // Ended not by a character but by the system: the thread that armed it
    // has ended, and Windows cancels the I/O of an ending thread (unless the
    // device has gone). Nothing came; a fresh wait takes the rest of the time.
    const DWORD error = ::GetLastError();
    if (FoundGone(error) || error != ERROR_OPERATION_ABORTED) return FailedOutcome();
    const DWORD elapsed = ::GetTickCount() - start;
    return StartWait(elapsed < milliseconds ? milliseconds - elapsed : 0);
}

// Starts a wait for a received character and waits up to `milliseconds`
// for it.
WaitOutcome Win32SerialLine::StartWait(DWORD milliseconds) {
    PendingIo& wait = *wait_;
    if (!::WaitCommEvent(port_.get(), &wait.eventMask, wait.Begin())) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) {
            wait.Forget();
            FoundGone(error);
            return FailedOutcome();
        }
        if (!wait.AwaitCompletion(milliseconds)) return EndWaitAfterTimeOut();
    }
    // A wait that completed with an error is a failed wait, whatever its mask.
    DWORD ignored = 0;
    if (wait.Collect(port_.get(), ignored)) return WaitOutcome::Received;
    FoundGone(::GetLastError());
    return FailedOutcome();
}

// Ends a wait whose time ran out. Under Wine neither a changed event mask nor
// CancelIoEx always reaches it; such a wait is left armed, to be waited on again
// by the next wait for input (reads and writes have records of their own),
// rather than the port closed under the script.
WaitOutcome Win32SerialLine::EndWaitAfterTimeOut() {
    // A port whose device has gone is not asked: closing it ends the wait
    // (under Wine nothing else does).
    if (!QueuedInputBytes() && goneError_) return WaitOutcome::PortGone;
    TryToEnd(*wait_, EndWait);  // unchecked: a wait that did not end stays armed
    const std::optional<DWORD> queued = QueuedInputBytes();
    if (!queued) return FailedOutcome();
    // A character may have come just as the time ran out.
    return *queued > 0 ? WaitOutcome::Received : WaitOutcome::TimedOut;
}

// Reads into a buffer of the line's own, so that a read that outlives the
// call can never write into the caller's.
size_t Win32SerialLine::ReadQueued(uint8_t* buffer, size_t capacity) {
    if (!IsOpen() || buffer == nullptr || capacity == 0) return 0;
    const size_t wanted = std::min<size_t>(QueuedInputBytes().value_or(0), capacity);
    if (wanted == 0) return 0;

    const std::optional<FinishedRead> finished = RunRead(static_cast<DWORD>(wanted), kReadLimitMs);
    if (!finished || finished->endedEarly || !finished->succeeded) return 0;
    const size_t taken = std::min<size_t>(finished->count, wanted);
    std::copy_n(read_->bytes.data(), taken, buffer);
    return taken;
}

// Reads `wanted` bytes into the read record and awaits the read within
// `limitMs`; a read still in progress then is ended. Nothing when the read
// did not start, or could not be ended and the port was closed.
std::optional<Win32SerialLine::FinishedRead> Win32SerialLine::RunRead(DWORD wanted, DWORD limitMs) {
    PendingIo& read = *read_;
    read.bytes.assign(wanted, 0);
    if (!::ReadFile(port_.get(), read.bytes.data(), wanted, nullptr, read.Begin())) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) {
            read.Forget();
            FoundGone(error);
            return std::nullopt;
        }
    }
    FinishedRead finished;
    finished.endedEarly = !read.AwaitCompletion(limitMs);
    if (finished.endedEarly && !EndOperation(read, EndRead)) return std::nullopt;
    finished.succeeded = read.Collect(port_.get(), finished.count);
    finished.error = finished.succeeded ? ERROR_SUCCESS : ::GetLastError();
    if (!finished.succeeded && FoundGone(finished.error)) return std::nullopt;
    return finished;
}

// Waits by reading: the first byte is read under the port's read time-outs,
// which the system ends when the byte comes, then what is queued with it.
// (Under Wine a wait for a received character costs about a millisecond of
// processor time for each reply, however short the wait; a read that waits
// costs a fraction of that.)
SerialLine::ArrivingInput Win32SerialLine::ReadArriving(uint8_t* buffer, size_t capacity,
                                                        uint32_t milliseconds) {
    if (!IsOpen() || buffer == nullptr || capacity == 0) return {WaitOutcome::Failed, 0};
    if (goneError_) return {WaitOutcome::PortGone, 0};
    const std::optional<DWORD> queued = QueuedInputBytes();
    if (!queued) return {FailedOutcome(), 0};
    if (*queued > 0) return {WaitOutcome::Received, ReadQueued(buffer, capacity)};
    if (milliseconds == 0) return {WaitOutcome::TimedOut, 0};
    const WaitOutcome outcome = ReadFirstByte(buffer[0], milliseconds);
    if (outcome != WaitOutcome::Received) return {outcome, 0};
    return {outcome, 1 + ReadQueued(buffer + 1, capacity - 1)};
}

// Reads one byte, waiting up to `milliseconds` for it. A read that runs out
// of time completes with no byte: successfully on Windows, with a time-out
// error under Wine.
WaitOutcome Win32SerialLine::ReadFirstByte(uint8_t& byte, DWORD milliseconds) {
    if (!SetReadWait(milliseconds)) return FailedOutcome();
    const std::optional<FinishedRead> finished = RunRead(1, milliseconds + kCompletionSlackMs);
    if (!finished) return FailedOutcome();
    if (finished->count > 0) {
        byte = read_->bytes[0];
        return WaitOutcome::Received;
    }
    const bool timedOut = finished->succeeded || finished->endedEarly || finished->error == ERROR_TIMEOUT;
    return timedOut ? WaitOutcome::TimedOut : FailedOutcome();
}

// Sets how long a read waits for its first byte, unless it is set already.
bool Win32SerialLine::SetReadWait(DWORD milliseconds) {
    if (readWaitMs_ == milliseconds) return true;
    COMMTIMEOUTS timeouts = LineTimeouts(milliseconds);
    if (!::SetCommTimeouts(port_.get(), &timeouts)) {
        FoundGone(::GetLastError());
        return false;
    }
    readWaitMs_ = milliseconds;
    return true;
}

// The line's own read and write are the only operations on the port: a read
// never outlives its call, and the write in progress is finished within its
// time (or ended). PurgeComm's abort flags are not used for this: under Wine
// they also empty the input queue, and a reply that came just before the next
// command would be lost.
void Win32SerialLine::AbortPending() {
    if (!IsOpen()) return;
    if (read_->pending) EndOperation(*read_, EndRead);
    FinishWrite();
}

void Win32SerialLine::DiscardQueues() {
    if (!IsOpen()) return;
    ::PurgeComm(port_.get(), kClearQueues);  // unchecked: empty queues stay empty
}

HANDLE Win32SerialLine::WaitEventForTests() const { return wait_ ? wait_->event.get() : nullptr; }

void Win32SerialLine::LeaveWaitArmedForTests() {
    if (!IsOpen() || wait_->pending) return;
    if (!::WaitCommEvent(port_.get(), &wait_->eventMask, wait_->Begin()) && ::GetLastError() != ERROR_IO_PENDING)
        wait_->Forget();
}

void Win32SerialLine::CancelArmedWaitForTests() {
    PendingIo& wait = *wait_;
    if (!IsOpen() || !wait.pending || HasOverlappedIoCompleted(&wait.overlapped)) return;
    EndWait(port_.get());
    if (!wait.AwaitCompletion(kEndingLimitMs)) return;
    wait.overlapped.Internal = kStatusCancelled;
    wait.overlapped.InternalHigh = 0;
    wait.event.SetEvent();
}

// Starts an overlapped write of a copy of the bytes, once the write before
// it has finished; true when it started.
bool Win32SerialLine::StartWrite(const uint8_t* bytes, size_t count) {
    if (!IsOpen() || goneError_ || bytes == nullptr || count == 0 || !FinishWrite()) return false;
    PendingIo& write = *write_;
    write.bytes.assign(bytes, bytes + count);
    if (!::WriteFile(port_.get(), write.bytes.data(), static_cast<DWORD>(count), nullptr, write.Begin())) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) {
            write.Forget();
            FoundGone(error);
            return false;
        }
    }
    return true;
}

// Waits, within the write's time, until the write in progress (if any) is
// done; false when it had to be ended.
bool Win32SerialLine::FinishWrite() {
    PendingIo& write = *write_;
    if (!write.pending) return true;
    if (!write.AwaitCompletion(WriteLimitMs(write.bytes.size()))) {
        EndOperation(write, EndWrite);
        return false;
    }
    DWORD written = 0;
    // A write that failed otherwise shows as a missing answer.
    if (!write.Collect(port_.get(), written)) FoundGone(::GetLastError());
    return true;
}

// Asks an operation still in progress to end: first the way that fits it,
// then CancelIoEx on its own record (CancelIo would reach only operations
// the calling thread started, and the wait may be another thread's). True
// when nothing is in progress any more; one that did not end stays pending.
bool Win32SerialLine::TryToEnd(PendingIo& io, FirstEnding firstEnding) {
    if (!io.pending) return true;
    firstEnding(port_.get());
    if (!io.AwaitCompletion(kEndingLimitMs)) {
        ::CancelIoEx(port_.get(), &io.overlapped);  // unchecked: completion tells
        if (!io.AwaitCompletion(kEndingLimitMs)) return false;
    }
    io.Forget();
    return true;
}

// Ends an operation still in progress; when even CancelIoEx does not end it,
// the port is closed. True when nothing is in progress any more and the port
// is still open.
bool Win32SerialLine::EndOperation(PendingIo& io, FirstEnding firstEnding) {
    if (TryToEnd(io, firstEnding)) return true;
    ClosePortHandle();
    return false;
}

// Closing the handle ends what was still in progress on it. A record whose
// operation does not end even then is let go without being freed, so that a
// late completion writes into memory of its own and signals an open event.
void Win32SerialLine::ClosePortHandle() {
    port_.reset();
    goneError_.reset();
    for (std::unique_ptr<PendingIo>* io : {&wait_, &read_, &write_}) {
        if (*io && (*io)->pending && !(*io)->AwaitCompletion(kEndingLimitMs)) (void)io->release();
        io->reset();
    }
}

// A port that cannot report its queue is either gone (the error says so) or
// broken in some other way.
std::optional<DWORD> Win32SerialLine::QueuedInputBytes() {
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(port_.get(), &errors, &status)) {
        const DWORD error = ::GetLastError();
        if (!goneError_ && SaysPortGone(error)) goneError_ = error;
        return std::nullopt;
    }
    return status.cbInQue;
}

// Reads the error an operation failed with: true when it, or an earlier one,
// says that the port's device has gone. An operation ended as aborted is
// held against the port itself, which then cannot report its queue either.
bool Win32SerialLine::FoundGone(DWORD error) {
    if (goneError_) return true;
    if (error == ERROR_OPERATION_ABORTED)
        QueuedInputBytes();  // unchecked: it marks the port gone when it is
    else if (SaysPortGone(error))
        goneError_ = error;
    return goneError_.has_value();
}

WaitOutcome Win32SerialLine::FailedOutcome() const {
    return goneError_ ? WaitOutcome::PortGone : WaitOutcome::Failed;
}

}  // namespace quill
