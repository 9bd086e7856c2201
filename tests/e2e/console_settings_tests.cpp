// The host console's settings frame, driven as a user drives it from another
// program: a port picked in the page's list, the fast exchange box ticked,
// Apply, OK. The choice is kept in the console's profile store, and the next
// run's Attach reaches the simulated terminal on that port. A picture of the
// frame is left in the work folder (tools/page-screenshot turns it into the
// README's PNG).
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <optional>
#include <string>

#include "core/win/handles.h"
#include "tests/e2e/script.h"
#include "tests/win/test_host.h"
#include "tools/host-console/settings_frame.h"
#include "ui/settings_page_ids.h"

namespace quill::test {
namespace {

constexpr int kPickedPortIndex = 15;  // COM16: a plain terminal in the scenarios
constexpr DWORD kFrameWaitMs = 20000;
constexpr DWORD kExitWaitMs = 30000;
constexpr DWORD kPollMs = 50;
constexpr DWORD kPaintSettleMs = 500;
constexpr const wchar_t* kProfileName = L"Quillomat VDX AddIn Profile Name";

std::wstring StorePath() {
    wchar_t appData[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, appData);
    return std::wstring(appData) + L"\\Quillomat\\quill-console.ini";
}

// A run of the console with its output in a file of the work folder.
class ConsoleRun {
public:
    ConsoleRun(const std::wstring& arguments, const std::string& outputName) : output_(WorkFile(outputName)) {
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
    ~ConsoleRun() {
        if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) ::TerminateProcess(process_.get(), 9);
    }

    bool started() const { return process_.is_valid(); }
    // The exit code, or nullopt when the run did not end in time.
    std::optional<DWORD> Finish() {
        if (::WaitForSingleObject(process_.get(), kExitWaitMs) != WAIT_OBJECT_0) return std::nullopt;
        DWORD code = 0;
        ::GetExitCodeProcess(process_.get(), &code);
        return code;
    }
    std::string Output() const { return ReadWholeFile(output_); }

private:
    std::string output_;
    win::unique_handle process_;
};

HWND WaitForFrame() {
    for (DWORD waited = 0; waited < kFrameWaitMs; waited += kPollMs) {
        HWND frame = ::FindWindowW(console::kSettingsFrameClass, nullptr);
        if (frame != nullptr && ::IsWindowVisible(frame)) return frame;
        ::Sleep(kPollMs);
    }
    return nullptr;
}

BOOL CALLBACK FindPage(HWND window, LPARAM found) {
    if (::GetDlgItem(window, IDC_PORT_LIST) == nullptr) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// The window's client area as it is on the screen, as a 24-bit BMP file.
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

TEST(ConsoleSettingsFrame, AChoiceAppliedThereIsKeptAndUsedByTheNextAttach) {
    ::DeleteFileW(StorePath().c_str());
    ConsoleRun frameRun(L"settings", "console-settings.out");
    ASSERT_TRUE(frameRun.started());
    const HWND frame = WaitForFrame();
    ASSERT_NE(frame, nullptr) << "no settings frame: " << frameRun.Output();
    HWND page = nullptr;
    ::EnumChildWindows(frame, &FindPage, reinterpret_cast<LPARAM>(&page));
    ASSERT_NE(page, nullptr);
    const HWND portList = ::GetDlgItem(page, IDC_PORT_LIST);
    const HWND apply = ::GetDlgItem(frame, console::kApplyButtonId);
    EXPECT_EQ(::SendMessageW(portList, CB_GETCURSEL, 0, 0), 0) << "a fresh profile: COM1";
    EXPECT_FALSE(::IsWindowEnabled(apply)) << "nothing to apply yet";

    // The user picks COM16 in the list.
    ::SendMessageW(portList, CB_SETCURSEL, kPickedPortIndex, 0);
    ::SendMessageW(page, WM_COMMAND, MAKEWPARAM(IDC_PORT_LIST, CBN_SELCHANGE), reinterpret_cast<LPARAM>(portList));
    EXPECT_TRUE(::IsWindowEnabled(apply)) << "the page reported a change";
    // And ticks the fast exchange box.
    ::SendMessageW(::GetDlgItem(page, IDC_FAST_EXCHANGE), BM_CLICK, 0, 0);
    ::RedrawWindow(frame, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    ::Sleep(kPaintSettleMs);  // the picture only: the console paints on its own thread
    EXPECT_TRUE(SaveWindowPicture(frame, Wide(WorkFile("settings-frame.bmp"))));

    ::SendMessageW(apply, BM_CLICK, 0, 0);
    EXPECT_FALSE(::IsWindowEnabled(apply)) << "applied";
    ::SendMessageW(::GetDlgItem(frame, IDOK), BM_CLICK, 0, 0);
    EXPECT_EQ(frameRun.Finish(), std::optional<DWORD>(0));
    EXPECT_NE(frameRun.Output().find("Settings applied: COM16, 115200 baud, cable, fast exchange   Result 0"),
              std::string::npos)
        << frameRun.Output();

    const std::wstring store = StorePath();
    EXPECT_EQ(::GetPrivateProfileIntW(kProfileName, L"Port", -99, store.c_str()), kPickedPortIndex);
    EXPECT_EQ(::GetPrivateProfileIntW(kProfileName, L"Speed", -99, store.c_str()), 0);
    EXPECT_EQ(::GetPrivateProfileIntW(kProfileName, L"IsIrDA", -99, store.c_str()), 0);
    EXPECT_EQ(::GetPrivateProfileIntW(kProfileName, L"FastExchange", -99, store.c_str()), 1);

    ConsoleRun next(L"call Attach call Ping call Deattach", "console-next.out");
    ASSERT_TRUE(next.started());
    EXPECT_EQ(next.Finish(), std::optional<DWORD>(0));
    EXPECT_NE(next.Output().find("() -> 1\n    Result 0"), std::string::npos) << next.Output();
    EXPECT_NE(next.Output().find("Ping / ПроверитьНаличие() -> 1"), std::string::npos) << next.Output();
    ::DeleteFileW(store.c_str());
}

}  // namespace
}  // namespace quill::test
