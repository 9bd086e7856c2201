#include "component/method_calls.h"

#include "component/extension_tables.h"
#include "component/parameters.h"
#include "core/result_codes.h"
#include "link/protocol.h"

namespace quill {
namespace {

constexpr int32_t kBadParameterValue = -1;
constexpr int32_t kEnglishAlias = 0;

// The range a method's number parameter is bounded to; nullopt for methods
// without one.
std::optional<Range> NumberRange(int32_t methodNumber) {
    switch (methodNumber) {
        case method::kGetDataCount:
        case method::kClearDoc:
        case method::kGetData:
            return protocol::kDocumentRange;
        case method::kGetRecordsCount:
        case method::kClearDatabase:
        case method::kGetRecord:
        case method::kPutRecord:
            return protocol::kDatabaseRange;
        default:
            return std::nullopt;
    }
}

bool IsFunction(int32_t methodNumber) {
    const MethodEntry* entry = FindMethodEntry(methodNumber);
    return entry != nullptr && entry->returnsValue;
}

}  // namespace

MethodCalls::MethodCalls(TerminalLink& link, ComponentState& state, const ConnectionSettings& settings,
                         ProgressPainter& painter, WireTrace* trace)
    : link_(link), state_(state), settings_(settings), painter_(painter), trace_(trace) {}

template <class Call>
auto MethodCalls::Traced(int32_t methodNumber, Call&& call) {
    if (trace_ == nullptr || !trace_->On()) return call();
    const std::string name = MethodName(methodNumber, kEnglishAlias).value_or("?");
    trace_->CallStarted(name);
    const auto value = call();
    trace_->CallEnded(name, value, state_.result);
    return value;
}

std::optional<int32_t> MethodCalls::CallAsFunc(int32_t methodNumber, const MethodParameters& params) {
    if (!IsFunction(methodNumber)) return std::nullopt;
    state_.result = methodNumber == method::kAttach ? code::kPortNotInitialised : code::kSuccess;

    int32_t number = 0;
    if (const auto range = NumberRange(methodNumber)) {
        const std::optional<int32_t> parameter = params.Integer(0);
        if (!parameter) {
            state_.result = code::kBadParameterType;
            return kBadParameterValue;
        }
        number = Bound(*parameter, range->lowest, range->highest);
    }
    return Traced(methodNumber, [&] { return std::optional<int32_t>(RunFunction(methodNumber, number)); });
}

int32_t MethodCalls::RunFunction(int32_t methodNumber, int32_t number) {
    switch (methodNumber) {
        case method::kAttach: return link_.OpenPort(settings_);
        case method::kPing: return link_.PingTerminal();
        case method::kGetFreeMem: return link_.GetFreeMemory();
        case method::kGetSN: return link_.GetSerialNumber();
        case method::kGetTime: return link_.GetTerminalTime();
        case method::kUpdateTime: return link_.SetTerminalTime();
        case method::kCurrentState: return link_.GetCurrentState();
        case method::kGetDataCount: return link_.GetDocumentCount(number);
        case method::kGetRecordsCount: return link_.GetDatabaseCount(number);
        case method::kClearDoc: return link_.ClearDocument(number);
        case method::kClearDatabase: return link_.ClearTerminalDatabase(number);
        case method::kGetData: return link_.GetDocumentRecord(number);
        case method::kGetRecord: return link_.GetDatabaseRecord(number);
        case method::kPutRecord: return link_.PutDatabaseRecord(number);
        case method::kFinish: return link_.FinishLoad();
        default: return kBadParameterValue;  // not reached: IsFunction() guards
    }
}

bool MethodCalls::CallAsProc(int32_t methodNumber, const MethodParameters& params) {
    switch (methodNumber) {
        case method::kDeattach:
            Traced(methodNumber, [&]() -> std::optional<int32_t> {
                link_.ClosePort();
                state_.result = code::kSuccess;
                return std::nullopt;
            });
            return true;
        case method::kShowProgress: {
            const std::optional<int32_t> mode = params.Integer(0);
            if (!mode) {
                state_.result = code::kBadParameterType;
                return true;
            }
            const std::optional<int32_t> count = params.Integer(1);
            if (!count) {
                state_.result = code::kBadParameterType;
                return true;
            }
            painter_.DrawProgressBox(Bound(*mode, kProgressModeRange),
                                     Bound(*count, kProgressCountRange));
            state_.result = code::kSuccess;
            return true;
        }
        default:
            return false;
    }
}

}  // namespace quill
