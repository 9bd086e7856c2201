#include "link/wire_trace.h"

#include <cstdio>

#include "link/protocol.h"
#include "link/trace_file.h"

namespace quill {
namespace {

constexpr size_t kMillisecondsWidth = 7;
constexpr uint8_t kFirstPrintable = 0x20;
constexpr uint8_t kLastPrintable = 0x7E;
constexpr char kBackslash = '\\';
constexpr char kHexDigits[] = "0123456789ABCDEF";

std::string Flag(bool on) { return on ? "on" : "off"; }

std::string LineText(const LineSettings& settings) {
    return std::to_string(settings.baudRate) + " baud, RTS " + Flag(settings.rtsHigh) + ", DTR on";
}

}  // namespace

std::string TraceBytes(const uint8_t* bytes, size_t count) {
    std::string shown;
    shown.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t byte = bytes[i];
        if (byte == kBackslash) {
            shown += "\\\\";
        } else if (byte >= kFirstPrintable && byte <= kLastPrintable) {
            shown += static_cast<char>(byte);
        } else if (byte == protocol::kCarriageReturn) {
            shown += "\\r";
        } else {
            shown += "\\x";
            shown += kHexDigits[byte >> 4];
            shown += kHexDigits[byte & 0x0F];
        }
    }
    return shown;
}

std::string TraceBytes(std::string_view bytes) {
    return TraceBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string TraceLine(uint64_t milliseconds, std::string_view event) {
    std::string line = std::to_string(milliseconds);
    if (line.size() < kMillisecondsWidth) line.insert(0, kMillisecondsWidth - line.size(), ' ');
    line += ' ';
    line += event;
    return line;
}

// --- The trace ------------------------------------------------------------------

void WireTrace::SetSink(TraceSink* sink, std::string_view why) {
    if (sink == sink_.load()) return;
    if (sink_.load() != nullptr) Add("trace off");
    sink_.store(sink);
    if (sink == nullptr) return;
    if (!shown_) baseMs_ = clock_.NowMs();
    std::string started = "trace on at " + LocalNow();
    if (!why.empty()) started += std::string(", ") + std::string(why);
    Add(started);
}

void WireTrace::Opened(const std::string& portName, bool succeeded) {
    if (!On()) return;
    if (!succeeded) {
        Add("open " + portName + " failed");
        return;
    }
    baseMs_ = clock_.NowMs();
    shown_.reset();
    Add("open " + portName + " at " + LocalNow());
}

void WireTrace::Closed() {
    if (!On()) return;
    shown_.reset();
    Add("close: DTR and RTS off");
}

void WireTrace::LineSet(const LineSettings& settings, bool refused) {
    if (!On()) return;
    if (refused) {
        Add("line " + std::to_string(settings.baudRate) + " baud refused by the port");
        return;
    }
    if (shown_ && shown_->baudRate == settings.baudRate && shown_->rtsHigh == settings.rtsHigh) return;
    shown_ = settings;
    Add("line " + LineText(settings));
}

void WireTrace::Wrote(const uint8_t* bytes, size_t count) {
    if (On()) Add("write " + TraceBytes(bytes, count));
}

void WireTrace::Read(const uint8_t* bytes, size_t count) {
    if (On()) Add("read " + TraceBytes(bytes, count));
}

void WireTrace::CallStarted(std::string_view method) {
    if (On()) Add("call " + std::string(method));
}

void WireTrace::CallEnded(std::string_view method, std::optional<int32_t> value, int32_t result) {
    if (!On()) return;
    std::string ended = "done " + std::string(method) + ": ";
    if (value) ended += std::to_string(*value) + ", ";
    Add(ended + "Result " + std::to_string(result));
}

void WireTrace::Note(std::string_view event) {
    if (On()) Add(event);
}

void WireTrace::Add(std::string_view event) {
    TraceSink* sink = sink_.load();
    if (sink == nullptr) return;
    const uint64_t now = clock_.NowMs();
    const uint64_t sinceOpen = now >= baseMs_ ? now - baseMs_ : 0;
    sink->Add(TraceLine(sinceOpen, label_.empty() ? std::string(event) : label_ + ": " + std::string(event)));
}

std::string WireTrace::LocalNow() const {
    const LocalTime now = localTime_.Now();
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", now.year, now.month, now.day, now.hour,
                  now.minute, now.second);
    return text;
}

// --- The traced line ---------------------------------------------------------------

bool TracedLine::Open(const std::string& portName) {
    const bool opened = line_.Open(portName);
    trace_.Opened(portName, opened);
    return opened;
}

SerialLine::Opening TracedLine::BeginOpen(const std::string& portName) {
    opening_ = portName;
    return Traced(line_.BeginOpen(portName));
}

SerialLine::Opening TracedLine::OpeningNow() { return Traced(line_.OpeningNow()); }

void TracedLine::LeaveOpening() {
    line_.LeaveOpening();
    if (opening_.empty()) return;
    trace_.Note("open " + opening_ + " left: it has not returned");
    opening_.clear();
}

SerialLine::Opening TracedLine::Traced(Opening opening) {
    if (opening == Opening::Pending || opening_.empty()) return opening;
    trace_.Opened(opening_, opening == Opening::Opened);
    opening_.clear();
    return opening;
}

void TracedLine::Close() {
    if (!line_.IsOpen()) return;
    if (const auto error = line_.GoneError()) trace_.Note("port gone (error " + std::to_string(*error) + ")");
    line_.Close();
    trace_.Closed();
}

bool TracedLine::Configure(const LineSettings& settings) {
    const bool configured = line_.Configure(settings);
    trace_.LineSet(settings, !configured);
    return configured;
}

void TracedLine::Reconfigure(const LineSettings& settings) {
    line_.Reconfigure(settings);
    if (line_.IsOpen()) trace_.LineSet(settings);
}

void TracedLine::Write(const uint8_t* bytes, size_t count) {
    if (line_.IsOpen()) trace_.Wrote(bytes, count);
    line_.Write(bytes, count);
}

void TracedLine::WriteAndDrain(const uint8_t* bytes, size_t count) {
    if (line_.IsOpen()) trace_.Wrote(bytes, count);
    line_.WriteAndDrain(bytes, count);
}

size_t TracedLine::ReadQueued(uint8_t* buffer, size_t capacity) {
    const size_t count = line_.ReadQueued(buffer, capacity);
    if (count > 0) trace_.Read(buffer, count);
    return count;
}

SerialLine::ArrivingInput TracedLine::ReadArriving(uint8_t* buffer, size_t capacity, uint32_t milliseconds) {
    const ArrivingInput input = line_.ReadArriving(buffer, capacity, milliseconds);
    if (input.count > 0) trace_.Read(buffer, input.count);
    return input;
}

// --- What the page says --------------------------------------------------------------

namespace {

constexpr uint64_t kBytesPerMegabyte = 1024 * 1024;

// The file's own name and its older file's, for the user to look for.
std::string TheTwoFiles(const std::string& path) {
    const std::string name = path.substr(path.find_last_of("\\/") + 1);  // all of it when there is no folder
    return name + " или " + OlderTraceFileName(name);
}

}  // namespace

std::string TraceNoticeText(const TraceNotice& notice) {
    using State = TraceNotice::State;
    using Cause = TraceNotice::Cause;
    switch (notice.state) {
        case State::Off: return {};
        case State::Writing: return "Журнал обмена пишется в файл " + notice.file + ".";
        case State::Dropped: break;
    }
    std::string why;
    switch (notice.cause) {
        case Cause::NoFolder: why = "нет папки"; break;
        case Cause::DiskFull: why = "диск заполнен"; break;
        case Cause::FileLocked: why = "файл занят другой программой или закрыт для записи"; break;
        case Cause::TooMuch: why = "запись не успевает за обменом, часть строк пропущена"; break;
        case Cause::CannotRotate:
            why = "файл достиг " + std::to_string(kTraceFileLimitBytes / kBytesPerMegabyte) + " МБ, а " +
                  TheTwoFiles(notice.file) + " открыт в другой программе или закрыт для записи";
            break;
        case Cause::None:
        case Cause::CannotWrite: why = "ошибка записи"; break;
    }
    return "Журнал обмена не записывается (" + why + "): " + notice.file + ". Обмен с терминалом идёт как обычно.";
}

}  // namespace quill
