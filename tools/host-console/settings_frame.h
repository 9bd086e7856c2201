// The console's settings frame: the component's settings page in a small
// window of the console's own, with OK, Cancel and Apply under it, the way
// the host application shows the page in its settings frame.
#pragma once

#include <windows.h>

#include <string>

namespace quill::console {

// The identifiers of the frame's window class and buttons, for people and
// programs that drive the frame.
constexpr const wchar_t* kSettingsFrameClass = L"QuillConsoleSettingsFrame";
constexpr int kApplyButtonId = 0x3021;  // as in the system's property sheets

// How the frame was left.
enum class FrameOutcome {
    Failed,     // the page could not be shown; the error says why
    Applied,    // Apply or OK stored a choice at least once
    Unchanged,  // closed without an Apply
};

// Shows `component`'s settings page for `component` itself, until the user
// closes the frame. Apply (enabled once the page reports a change) and OK on
// a changed page apply the choice.
FrameOutcome RunSettingsFrame(IUnknown* component, std::wstring& error);

}  // namespace quill::console
