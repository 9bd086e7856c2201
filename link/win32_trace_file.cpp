#include "link/win32_trace_file.h"

#include <new>

#include "core/win/handles.h"
#include "core/win/module_thread.h"
#include "core/win/text.h"

namespace quill {
namespace {

using Cause = TraceNotice::Cause;

// How often the writer takes the waiting lines.
constexpr DWORD kWriterPeriodMs = 100;
constexpr wchar_t kDefaultFolder[] = L"\\Quillomat";
constexpr wchar_t kDefaultName[] = L"\\trace.log";
constexpr wchar_t kLocalAppData[] = L"LOCALAPPDATA";

Cause CauseOf(DWORD error) {
    switch (error) {
        case ERROR_PATH_NOT_FOUND:
        case ERROR_FILE_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_DRIVE:
            return Cause::NoFolder;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return Cause::DiskFull;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
            return Cause::FileLocked;
        default:
            return Cause::CannotWrite;
    }
}

std::wstring FolderOf(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

// The current file opened anew for each batch, shared with readers and with
// another writer of the same file; the older one beside it.
class Win32TraceFiles final : public TraceFiles {
public:
    Win32TraceFiles(std::wstring path, bool makeFolder)
        : path_(std::move(path)), older_(OlderTraceFileName(path_)), makeFolder_(makeFolder) {}

    Cause Open(uint64_t& size) override {
        if (makeFolder_) ::CreateDirectoryW(FolderOf(path_).c_str(), nullptr);  // there already, or made now
        file_.reset(::CreateFileW(path_.c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file_) return CauseOf(::GetLastError());
        LARGE_INTEGER length{};
        if (!::GetFileSizeEx(file_.get(), &length)) return CauseOf(::GetLastError());
        size = static_cast<uint64_t>(length.QuadPart);
        return Cause::None;
    }

    Cause Append(std::string_view bytes) override {
        while (!bytes.empty()) {
            DWORD written = 0;
            if (!::WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
                return CauseOf(::GetLastError());
            if (written == 0) return Cause::DiskFull;
            bytes.remove_prefix(written);
        }
        return Cause::None;
    }

    void Close() override { file_.reset(); }

    bool MoveToOlder() override {
        return ::MoveFileExW(path_.c_str(), older_.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    }

private:
    std::wstring path_, older_;
    bool makeFolder_;
    win::unique_hfile file_;
};

}  // namespace

std::wstring DefaultTraceFile() {
    wchar_t folder[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(kLocalAppData, folder, MAX_PATH);
    // Without the variable the name stays as the user would write it, and
    // the trace reports that its folder is missing.
    const std::wstring base = length > 0 && length < MAX_PATH ? std::wstring(folder, length) : L"%LOCALAPPDATA%";
    return base + kDefaultFolder + kDefaultName;
}

struct TraceFileWriter::Shared {
    Shared(std::wstring filePath, bool makeIt) : path(std::move(filePath)), makeFolder(makeIt) {
        notice.state = TraceNotice::State::Writing;
        notice.file = win::Utf8FromWide(path);
    }

    const std::wstring path;
    const bool makeFolder;
    win::unique_event ending;  // set when the writer is to write what is left and end
    win::unique_handle thread;

    mutable win::critical_section guard;  // over the queue and the notice
    TraceQueue queue;
    TraceNotice notice;
};

namespace {

// The writer's thread: every period, or at once when asked to end, the
// waiting lines go into the file.
DWORD WriteTrace(void* parameter) {
    std::shared_ptr<TraceFileWriter::Shared> shared(
        std::move(*static_cast<std::shared_ptr<TraceFileWriter::Shared>*>(parameter)));
    delete static_cast<std::shared_ptr<TraceFileWriter::Shared>*>(parameter);
    Win32TraceFiles files(shared->path, shared->makeFolder);
    TraceBatchWriter writer;
    for (;;) {
        const bool ending = shared->ending.wait(kWriterPeriodMs);
        TraceQueue::Batch batch;
        {
            const auto lock = shared->guard.lock();
            batch = shared->queue.Take();
        }
        if (const auto standing = writer.Write(files, batch)) {
            const auto lock = shared->guard.lock();
            shared->notice.state = standing->state;
            shared->notice.cause = standing->cause;
        }
        if (ending) return 0;
    }
}

}  // namespace

std::unique_ptr<TraceFileWriter> TraceFileWriter::Start(const std::wstring& path, bool makeFolder) {
    auto shared = std::make_shared<Shared>(path, makeFolder);
    if (!shared->ending.create(win::unique_event::Reset::Manual)) return nullptr;
    std::unique_ptr<TraceFileWriter> writer(new TraceFileWriter(shared));
    auto handedOver = std::make_unique<std::shared_ptr<Shared>>(shared);
    if (!win::StartModuleThread(&WriteTrace, handedOver.get(), shared->thread)) return nullptr;
    (void)handedOver.release();  // the thread's now
    return writer;
}

TraceFileWriter::~TraceFileWriter() { shared_->ending.SetEvent(); }

void TraceFileWriter::Add(std::string line) {
    const auto lock = shared_->guard.lock();
    shared_->queue.Push(line);
}

TraceNotice TraceFileWriter::Notice() const {
    const auto lock = shared_->guard.lock();
    return shared_->notice;
}

bool TraceFileWriter::Finish(DWORD milliseconds) {
    shared_->ending.SetEvent();
    return ::WaitForSingleObject(shared_->thread.get(), milliseconds) == WAIT_OBJECT_0;
}

}  // namespace quill
