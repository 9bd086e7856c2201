#include "component/component_trace.h"

#include "core/win/text.h"
#include "core/win/this_module.h"

namespace quill {
namespace {

// How long Done waits for the last lines to reach the file.
constexpr DWORD kLastLinesWaitMs = 500;

std::string ThisModuleFile() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(win::ThisModule(), path, MAX_PATH);
    return win::Utf8FromWide(std::wstring_view(path, length < MAX_PATH ? length : 0));
}

}  // namespace

ComponentTrace::~ComponentTrace() { wire_.SetSink(nullptr); }

void ComponentTrace::Follow(int32_t traceFlag) {
    flag_ = TraceFlag(traceFlag);
    Switch();
}

void ComponentTrace::SetFile(const std::wstring& path) {
    hostFile_ = path;
    Switch();
}

void ComponentTrace::End() {
    wire_.SetSink(nullptr);
    std::unique_ptr<TraceFileWriter> ending;
    {
        const auto lock = guard_.lock();
        ending.swap(writer_);
        writing_.clear();
        startFailed_ = false;
    }
    if (ending) ending->Finish(kLastLinesWaitMs);
}

// A new file gets a writer of its own; the old writer writes its last lines
// and ends by itself.
void ComponentTrace::Switch() {
    const std::wstring wanted = !hostFile_.empty() ? hostFile_ : (flag_ == kTraceOn ? DefaultTraceFile() : L"");
    if (wanted == writing_) return;
    wire_.SetSink(nullptr);
    std::unique_ptr<TraceFileWriter> next;
    if (!wanted.empty()) next = TraceFileWriter::Start(wanted, hostFile_.empty());
    {
        const auto lock = guard_.lock();
        writer_.swap(next);
        writing_ = wanted;
        startFailed_ = !wanted.empty() && !writer_;
    }
    if (writer_)
        wire_.SetSink(writer_.get(), (hostFile_.empty() ? "by the Trace setting, " : "by the host, ") + ThisModuleFile());
}

TraceNotice ComponentTrace::Notice() const {
    const auto lock = guard_.lock();
    if (writer_) return writer_->Notice();
    TraceNotice notice;
    if (startFailed_) {
        notice.state = TraceNotice::State::Dropped;
        notice.cause = TraceNotice::Cause::CannotWrite;
        notice.file = win::Utf8FromWide(writing_);
    }
    return notice;
}

}  // namespace quill
