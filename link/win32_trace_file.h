// The wire trace's file on Windows: a writer thread that takes the waiting
// lines every 100 ms and appends them to the file (opened for each batch,
// shared with readers), rotating it at 8 MB. Adding a line only copies it
// into the bounded queue under a short lock: a call never waits for the disk,
// and a file that cannot be written (no folder, a full disk, a file held by
// another program, a full file that cannot be renamed) loses its lines
// without any call noticing; the notice says so.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "link/trace_file.h"
#include "link/wire_trace.h"

namespace quill {

// %LOCALAPPDATA%\Quillomat\trace.log of the user the host runs as.
std::wstring DefaultTraceFile();

class TraceFileWriter final : public TraceSink {
public:
    // A writer of `path`, its thread started; `makeFolder` makes the file's
    // folder when it is missing (the default file's). Null when no thread
    // can be started.
    static std::unique_ptr<TraceFileWriter> Start(const std::wstring& path, bool makeFolder);
    // Asks the thread to write what is waiting and end, and does not wait.
    ~TraceFileWriter() override;
    TraceFileWriter(const TraceFileWriter&) = delete;
    TraceFileWriter& operator=(const TraceFileWriter&) = delete;

    void Add(std::string line) override;
    TraceNotice Notice() const;
    // Writes what is waiting and ends the thread, waiting for it up to
    // `milliseconds`; true when it ended in that time.
    bool Finish(DWORD milliseconds);

    struct Shared;  // what the writer and its thread share

private:
    explicit TraceFileWriter(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
    std::shared_ptr<Shared> shared_;
};

}  // namespace quill
