// The host console's settings frame, driven as a user drives it from another
// program: a port picked in the page's list, the fast exchange box ticked,
// Apply, OK. The choice is kept in the console's profile store, and the next
// run's Attach reaches the simulated terminal on that port. A picture of the
// frame is left in the work folder (tools/page-screenshot turns it into the
// picture in docs/CONSOLE.md).
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>

#include "core/win/handles.h"
#include "tests/e2e/console_frame.h"
#include "tests/e2e/script.h"
#include "tests/win/test_host.h"
#include "tools/host-console/settings_frame.h"
#include "ui/settings_page_ids.h"

namespace quill::test {
namespace {

constexpr int kPickedPortIndex = 15;  // COM16: a plain terminal in the scenarios
constexpr DWORD kPaintSettleMs = 500;
constexpr const wchar_t* kProfileName = L"Quillomat VDX AddIn Profile Name";

TEST(ConsoleSettingsFrame, AChoiceAppliedThereIsKeptAndUsedByTheNextAttach) {
    ::DeleteFileW(ConsoleStorePath().c_str());
    ConsoleRun frameRun(L"settings", "console-settings.out");
    ASSERT_TRUE(frameRun.started());
    const HWND frame = WaitForFrame();
    ASSERT_NE(frame, nullptr) << "no settings frame: " << frameRun.Output();
    const HWND page = PageInFrame(frame);
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

    const std::wstring store = ConsoleStorePath();
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
