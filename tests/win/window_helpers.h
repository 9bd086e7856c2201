// What the window tests ask of a window and of the thread's messages: a
// window's text, and running the messages (timers among them) until
// something holds.
#pragma once

#include <windows.h>

#include <string>

namespace quill::test {

inline std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)), L'\0');
    ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()) + 1);
    return text;
}

// Runs this thread's messages until `done` holds or `limitMs` has passed;
// the milliseconds it took.
template <class Done>
DWORD RunMessagesUntil(Done&& done, DWORD limitMs) {
    const DWORD start = ::GetTickCount();
    while (!done() && ::GetTickCount() - start < limitMs) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        ::Sleep(5);
    }
    return ::GetTickCount() - start;
}

}  // namespace quill::test
