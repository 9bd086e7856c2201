#include "tests/e2e/console_frame.h"

#include <shlobj.h>

#include "tests/e2e/script.h"
#include "tests/win/test_host.h"
#include "tools/host-console/settings_frame.h"
#include "ui/settings_page_ids.h"

namespace quill::test {
namespace {

constexpr DWORD kFrameWaitMs = 20000;
constexpr DWORD kExitWaitMs = 30000;
constexpr DWORD kPollMs = 50;

BOOL CALLBACK FindPage(HWND window, LPARAM found) {
    if (::GetDlgItem(window, IDC_PORT_LIST) == nullptr) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

}  // namespace

std::wstring ConsoleStorePath() {
    wchar_t appData[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, appData);
    return std::wstring(appData) + L"\\Quillomat\\quill-console.ini";
}

ConsoleRun::ConsoleRun(const std::wstring& arguments, const std::string& outputName)
    : output_(WorkFile(outputName)) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    win::unique_hfile out(::CreateFileW(Wide(output_).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out.get();
    startup.hStdError = out.get();
    std::wstring commandLine = L"\"" + DirectoryOfThisProgram() + L"quill-console.exe\" " + arguments;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                          &started))
        return;
    process_.reset(started.hProcess);
    ::CloseHandle(started.hThread);
}

ConsoleRun::~ConsoleRun() {
    if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) ::TerminateProcess(process_.get(), 9);
}

std::optional<DWORD> ConsoleRun::Finish() {
    if (::WaitForSingleObject(process_.get(), kExitWaitMs) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    ::GetExitCodeProcess(process_.get(), &code);
    return code;
}

std::string ConsoleRun::Output() const { return ReadWholeFile(output_); }

HWND WaitForFrame() {
    for (DWORD waited = 0; waited < kFrameWaitMs; waited += kPollMs) {
        HWND frame = ::FindWindowW(console::kSettingsFrameClass, nullptr);
        if (frame != nullptr && ::IsWindowVisible(frame)) return frame;
        ::Sleep(kPollMs);
    }
    return nullptr;
}

HWND PageInFrame(HWND frame) {
    HWND page = nullptr;
    ::EnumChildWindows(frame, &FindPage, reinterpret_cast<LPARAM>(&page));
    return page;
}

bool SaveWindowPicture(HWND window, const std::wstring& path) {
    RECT area{};
    ::GetClientRect(window, &area);
    ::MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&area), 2);
    const int width = area.right - area.left, height = area.bottom - area.top;
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;  // bottom row first, as BMP files keep it
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const win::unique_window_dc screen(nullptr);
    const win::unique_hdc memory(::CreateCompatibleDC(screen.get()));
    void* bits = nullptr;
    const win::unique_hgdiobj bitmap(::CreateDIBSection(memory.get(), reinterpret_cast<BITMAPINFO*>(&header),
                                                        DIB_RGB_COLORS, &bits, nullptr, 0));
    if (bits == nullptr) return false;
    const win::select_object_scope selected(memory.get(), bitmap.get());
    ::BitBlt(memory.get(), 0, 0, width, height, screen.get(), area.left, area.top, SRCCOPY);
    ::GdiFlush();

    const DWORD rowBytes = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    const DWORD pixelBytes = rowBytes * static_cast<DWORD>(height);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + pixelBytes;
    win::unique_hfile out(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return out && ::WriteFile(out.get(), &file, sizeof file, &written, nullptr) &&
           ::WriteFile(out.get(), &header, sizeof header, &written, nullptr) &&
           ::WriteFile(out.get(), bits, pixelBytes, &written, nullptr);
}

}  // namespace quill::test
