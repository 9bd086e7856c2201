// The component's wire trace: on while the profile's flag says so, to
// %LOCALAPPDATA%\Quillomat\trace.log, or while the host has named a file of
// its own, to that file. Switched under the call lock, like everything the
// trace hears of; what the page asks of it (Notice) may come from any thread.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "core/connection_settings.h"
#include "core/win/handles.h"
#include "link/serial_line.h"
#include "link/win32_trace_file.h"
#include "link/wire_trace.h"

namespace quill {

class ComponentTrace final : public TraceReport {
public:
    ComponentTrace(Clock& clock, const LocalTimeSource& localTime) : wire_(clock, localTime) {}
    ~ComponentTrace() override;
    ComponentTrace(const ComponentTrace&) = delete;
    ComponentTrace& operator=(const ComponentTrace&) = delete;

    // What the line and the calls tell.
    WireTrace& wire() { return wire_; }

    // The profile's flag: 1 on, anything else off.
    void Follow(int32_t traceFlag);
    // The host's own file, whatever the flag; empty goes back to the flag.
    void SetFile(const std::wstring& path);
    // The component is done: the trace ends, and what is waiting is written
    // within a short time.
    void End();

    TraceNotice Notice() const override;

private:
    void Switch();

    WireTrace wire_;
    int32_t flag_ = 0;
    std::wstring hostFile_;
    std::wstring writing_;  // the file the writer writes; empty when off
    bool startFailed_ = false;
    mutable win::critical_section guard_;  // over the writer, for Notice
    std::unique_ptr<TraceFileWriter> writer_;
};

}  // namespace quill
