// The private interfaces for support: IWireTrace (the wire trace's flag, a
// file of the host's, and whether it is written) and ITerminalSearch (the
// search for the terminal, which the settings page's button also starts).
#include "component/addin_object.h"

#include <string>
#include <vector>

#include "core/win/text.h"

namespace quill {
namespace {

// The most port numbers a narrowed search takes: every port once, with room
// for repeats.
constexpr LONG kMostSearchPorts = 4 * kPortIndexCount;

// What GetTraceState and GetSearchState answer.
constexpr LONG kTraceOff = 0, kTraceWriting = 1, kTraceDropped = 2;

LONG TraceStateNumber(TraceNotice::State state) {
    switch (state) {
        case TraceNotice::State::Off: return kTraceOff;
        case TraceNotice::State::Writing: return kTraceWriting;
        case TraceNotice::State::Dropped: return kTraceDropped;
    }
    return kTraceOff;
}

LONG SearchStateNumber(SearchState state) {
    switch (state) {
        case SearchState::Idle: return 0;
        case SearchState::Searching: return 1;
        case SearchState::Found: return 2;
        case SearchState::NothingAnswered: return 3;
        case SearchState::Stopped: return 4;
    }
    return 0;
}

}  // namespace

// --- IWireTrace ------------------------------------------------------------

STDMETHODIMP AddInObject::GetTrace(LONG* plTrace) {
    if (plTrace == nullptr) return E_POINTER;
    const auto guard = callGuard_.lock();
    *plTrace = settings_.Trace;
    return S_OK;
}

// Kept as 1 or 0, as the fast exchange flag; the trace follows at once.
STDMETHODIMP AddInObject::SetTrace(LONG lTrace) {
    const auto guard = callGuard_.lock();
    return win::GuardedCall([&] {
        settings_.Trace = TraceFlag(lTrace);
        trace_.Follow(settings_.Trace);
        return S_OK;
    });
}

STDMETHODIMP AddInObject::SetTraceFile(BSTR bstrPath) {
    const auto guard = callGuard_.lock();
    return win::GuardedCall([&] {
        trace_.SetFile(std::wstring(bstrPath != nullptr ? bstrPath : L"", ::SysStringLen(bstrPath)));
        return S_OK;
    });
}

// Answered without the call lock: the page asks while a search holds it.
STDMETHODIMP AddInObject::GetTraceState(LONG* plState, BSTR* pbstrPath) {
    if (plState == nullptr || pbstrPath == nullptr) return E_POINTER;
    *pbstrPath = nullptr;
    return win::GuardedCall([&]() -> HRESULT {
        const TraceNotice notice = trace_.Notice();
        *plState = TraceStateNumber(notice.state);
        const std::wstring file = win::WideFromUtf8(notice.file);
        *pbstrPath = ::SysAllocStringLen(file.data(), static_cast<UINT>(file.size()));
        return *pbstrPath != nullptr ? S_OK : E_OUTOFMEMORY;
    });
}

// --- ITerminalSearch ---------------------------------------------------------

STDMETHODIMP AddInObject::StartSearch() {
    return win::GuardedCall([&] { return finder_.StartSearch() ? S_OK : S_FALSE; });
}

STDMETHODIMP AddInObject::StartSearchOn(LONG lCount, LONG* plPorts) {
    if (lCount < 0 || lCount > kMostSearchPorts) return E_INVALIDARG;
    if (lCount > 0 && plPorts == nullptr) return E_POINTER;
    return win::GuardedCall([&] {
        const std::vector<int32_t> ports(plPorts, plPorts + lCount);
        return finder_.StartSearchOn(ports) ? S_OK : S_FALSE;
    });
}

STDMETHODIMP AddInObject::StopSearch() {
    finder_.StopSearch();
    return S_OK;
}

STDMETHODIMP AddInObject::GetSearchState(LONG* plState, LONG* plPort, LONG* plSpeed, LONG* plIsIrDA) {
    if (plState == nullptr || plPort == nullptr || plSpeed == nullptr || plIsIrDA == nullptr) return E_POINTER;
    const SearchStatus status = finder_.Status();
    *plState = SearchStateNumber(status.state);
    *plPort = status.settings.Port;
    *plSpeed = status.settings.Speed;
    *plIsIrDA = status.settings.IsIrDA;
    return S_OK;
}

}  // namespace quill
