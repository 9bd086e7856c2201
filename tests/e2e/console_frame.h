// The host console as a user drives it from another program: a run of
// quill-console.exe with its output in a file of the work folder, its
// settings frame and the page in it, and a picture of a window.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "core/win/handles.h"

namespace quill::test {

// The console's profile store of the Wine user.
std::wstring ConsoleStorePath();

// A run of the console beside this program, with its output in a file of
// the work folder; ended by force if it has not ended when it goes.
class ConsoleRun {
public:
    ConsoleRun(const std::wstring& arguments, const std::string& outputName);
    ~ConsoleRun();

    bool started() const { return process_.is_valid(); }
    // The exit code, or nullopt when the run did not end in time.
    std::optional<DWORD> Finish();
    std::string Output() const;

private:
    std::string output_;
    win::unique_handle process_;
};

// The console's settings frame once it is shown; null when it does not come.
HWND WaitForFrame();
// The settings page in the frame; null when it is not there.
HWND PageInFrame(HWND frame);

// The window's client area as it is on the screen, as a 24-bit BMP file.
bool SaveWindowPicture(HWND window, const std::wstring& path);

}  // namespace quill::test
