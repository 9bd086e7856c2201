// Calling the script methods: which operation each method number runs, the
// result code it starts from, how its parameters are read and bounded, and
// which of CallAsFunc and CallAsProc reaches it. The host-side conversion of
// VARIANT parameters stays with the component object; this part is portable.
#pragma once

#include <cstdint>
#include <optional>

#include "core/component_state.h"
#include "link/terminal_link.h"
#include "link/wire_trace.h"
#include "core/connection_settings.h"
#include "ui/progress_painter.h"

namespace quill {

// The parameters of one call, read by index when the method needs them: an
// integer (VT_I4, or a text that is a whole decimal number), or nullopt for a
// missing parameter, any other text, or one of another type.
class MethodParameters {
public:
    virtual ~MethodParameters() = default;
    virtual std::optional<int32_t> Integer(int32_t index) const = 0;
};

class MethodCalls {
public:
    // `trace`, when given, hears of each call that reaches the terminal link.
    MethodCalls(TerminalLink& link, ComponentState& state, const ConnectionSettings& settings,
                ProgressPainter& painter, WireTrace* trace = nullptr);

    // The value for the script, or nullopt when the method is not called as a
    // function (S_FALSE: nothing done). A bad parameter gives -1 with code 28.
    std::optional<int32_t> CallAsFunc(int32_t methodNumber, const MethodParameters& params);
    // True when the method is called as a procedure (S_OK), false otherwise
    // (S_FALSE: nothing done).
    bool CallAsProc(int32_t methodNumber, const MethodParameters& params);

private:
    int32_t RunFunction(int32_t methodNumber, int32_t number);
    // Runs a call of the terminal link between its two trace lines.
    template <class Call>
    auto Traced(int32_t methodNumber, Call&& call);

    TerminalLink& link_;
    ComponentState& state_;
    const ConnectionSettings& settings_;
    ProgressPainter& painter_;
    WireTrace* trace_;
};

}  // namespace quill
