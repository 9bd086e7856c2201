// The settings page through the component's IPropertyPage, with the test as
// the frame: a window of its own as the page's parent and a site that
// records what the page tells it. Lists are driven as a user drives them
// (a selection, then the list's notification to the page). No COM port
// exists in the test prefix, so every reopening ends with result code 2.
#include <gtest/gtest.h>

#include <windows.h>
#include <olectl.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/win/handles.h"
#include "link/terminal_search.h"
#include "tests/win/screen.h"
#include "tests/win/test_host.h"
#include "tests/win/window_helpers.h"
#include "ui/settings_page_ids.h"

namespace quill::test {
namespace {

constexpr LONG kResultProperty = 0;
constexpr LONG kShowProgressMethod = 16;
constexpr LONG kCannotOpenPort = 2;
constexpr DWORD kDirtyAndValid = 3;
constexpr const wchar_t* kFrameClass = L"QuillPageTestFrame";

struct Settings {
    LONG port, speed, irda;
    bool operator==(const Settings& o) const { return port == o.port && speed == o.speed && irda == o.irda; }
};
std::ostream& operator<<(std::ostream& out, const Settings& s) {
    return out << "{" << s.port << ", " << s.speed << ", " << s.irda << "}";
}

void RegisterFrameClass() {
    WNDCLASSW frameClass{};
    frameClass.lpfnWndProc = ::DefWindowProcW;
    frameClass.hInstance = ::GetModuleHandleW(nullptr);
    frameClass.lpszClassName = kFrameClass;
    frameClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    ::RegisterClassW(&frameClass);
}

// A component, initialised, with its page interfaces.
struct Component {
    Component() {
        object = Module::Get().CreateComponent();
        page = object.query<IPropertyPage>();
        settings = object.query<IConnectionSettings>();
        pace = object.query<IExchangeSettings>();
        extender = object.query<ILanguageExtender>();
        EXPECT_EQ(object->Init(&connection), S_OK);
    }
    ~Component() {
        if (object) object->Done();
    }
    // The host lets go of every reference it holds, the way it ends the
    // component: Done, then the last Release.
    void LetGo() {
        page.reset();
        settings.reset();
        pace.reset();
        extender.reset();
        object->Done();
        object.reset();
    }
    Settings Current() const {
        Settings s{-99, -99, -99};
        settings->GetSettings(&s.port, &s.speed, &s.irda);
        return s;
    }
    void Set(Settings s) { settings->SetSettings(s.port, s.speed, s.irda); }
    LONG Fast() const {
        LONG fast = -99;
        pace->GetFastExchange(&fast);
        return fast;
    }
    void SetFast(LONG fast) { pace->SetFastExchange(fast); }
    LONG Trace() const {
        LONG trace = -99;
        object.query<IWireTrace>()->GetTrace(&trace);
        return trace;
    }
    LONG Result() const {
        win::unique_variant value;
        extender->GetPropVal(kResultProperty, value.get());
        return value->lVal;
    }
    void SetResult(LONG code) {
        win::unique_variant value = IntValue(code);
        extender->SetPropVal(kResultProperty, value.get());
    }
    IUnknown* Unknown() const { return object.get(); }

    FakeConnection connection;
    win::com_ptr<IInitDone> object;
    win::com_ptr<IPropertyPage> page;
    win::com_ptr<IConnectionSettings> settings;
    win::com_ptr<IExchangeSettings> pace;
    win::com_ptr<ILanguageExtender> extender;
};

class SettingsPage : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterFrameClass(); }

    void SetUp() override {
        frame.reset(::CreateWindowExW(0, kFrameClass, L"frame", WS_POPUP, 0, 0, 640, 480, nullptr,
                                      nullptr, ::GetModuleHandleW(nullptr), nullptr));
        ASSERT_TRUE(frame);
    }
    void TearDown() override {
        if (component.page) {
            component.page->Deactivate();
            component.page->SetObjects(0, nullptr);
            component.page->SetPageSite(nullptr);
        }
        frame.reset();
        EXPECT_EQ(site.references(), 0) << "the site is let go";
    }

    // The frame's opening: site, the component itself as the object, the
    // window in the frame's rectangle, shown.
    void Open(IUnknown* object = nullptr) {
        ASSERT_EQ(component.page->SetPageSite(&site), S_OK);
        IUnknown* objects[] = {object != nullptr ? object : component.Unknown()};
        ASSERT_EQ(component.page->SetObjects(1, objects), S_OK);
        ActivateAndShow();
    }
    void ActivateAndShow(RECT rect = {10, 10, 430, 290}) {
        ASSERT_EQ(component.page->Activate(frame.get(), &rect, TRUE), S_OK);
        ASSERT_EQ(component.page->Show(SW_SHOW), S_OK);
    }

    HWND PageWindow() const { return ::GetWindow(frame.get(), GW_CHILD); }
    HWND Control(int id) const { return ::GetDlgItem(PageWindow(), id); }
    LRESULT Selected(int list) const { return ::SendMessageW(Control(list), CB_GETCURSEL, 0, 0); }
    bool Ticked(int box = IDC_IR_ADAPTER) const {
        return ::SendMessageW(Control(box), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }

    // What a user's pick in a list does: the selection moves, and the list
    // tells the page.
    void Choose(int list, int entry) {
        ::SendMessageW(Control(list), CB_SETCURSEL, static_cast<WPARAM>(entry), 0);
        ::SendMessageW(PageWindow(), WM_COMMAND, MAKEWPARAM(list, CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(Control(list)));
    }
    void ClickAdapterBox() { Click(IDC_IR_ADAPTER); }
    void Click(int box) { ::SendMessageW(Control(box), BM_CLICK, 0, 0); }

    HostLog log;
    RecordingSite site{log};
    Component component;
    win::unique_hwnd frame;
};

std::vector<std::wstring> ListEntries(HWND list) {
    std::vector<std::wstring> entries;
    const LRESULT count = ::SendMessageW(list, CB_GETCOUNT, 0, 0);
    for (LRESULT index = 0; index < count; ++index) {
        std::wstring text(static_cast<size_t>(::SendMessageW(list, CB_GETLBTEXTLEN, index, 0)), L'\0');
        ::SendMessageW(list, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
        entries.push_back(text);
    }
    return entries;
}

// --- What the page shows -------------------------------------------------------

TEST_F(SettingsPage, OpensInsideTheFrameWithTheListsShowingTheSettings) {
    component.Set({3, 1, 1});
    Open();

    ASSERT_NE(PageWindow(), nullptr);
    EXPECT_TRUE(::GetWindowLongW(PageWindow(), GWL_STYLE) & WS_VISIBLE) << "shown";
    RECT placed{};
    ::GetWindowRect(PageWindow(), &placed);
    ::MapWindowPoints(nullptr, frame.get(), reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_EQ(placed.left, 10);
    EXPECT_EQ(placed.bottom, 290);

    const std::vector<std::wstring> ports = ListEntries(Control(IDC_PORT_LIST));
    ASSERT_EQ(ports.size(), 16u);
    EXPECT_EQ(ports[0], L"COM1");
    EXPECT_EQ(ports[15], L"COM16");
    EXPECT_EQ(ListEntries(Control(IDC_SPEED_LIST)),
              (std::vector<std::wstring>{L"115200", L"57600", L"38400", L"19200", L"9600"}));
    EXPECT_EQ(Selected(IDC_PORT_LIST), 3);
    EXPECT_EQ(Selected(IDC_SPEED_LIST), 1);
    EXPECT_TRUE(Ticked());
    EXPECT_EQ(WindowText(Control(IDC_IR_ADAPTER)), L"IR - адаптер (подставка)");
    EXPECT_FALSE(Ticked(IDC_FAST_EXCHANGE)) << "the standard pace";
    EXPECT_EQ(WindowText(Control(IDC_FAST_EXCHANGE)), L"Быстрый обмен");
    EXPECT_FALSE(Ticked(IDC_TRACE)) << "no trace";
    EXPECT_EQ(WindowText(Control(IDC_TRACE)), L"Журнал обмена");
    EXPECT_EQ(WindowText(Control(IDC_FIND_TERMINAL)), L"Найти терминал");
    EXPECT_EQ(WindowText(Control(IDC_SEARCH_STATUS)), L"");
    EXPECT_NE(WindowText(Control(IDC_NOTES)).find(L"Quillomat"), std::wstring::npos);
    EXPECT_EQ(site.statuses, std::vector<DWORD>{0}) << "opening tells the site the page is clean";
    EXPECT_EQ(component.page->IsPageDirty(), S_FALSE);
}

// Each control with an id where the template puts it, in dialog units: the
// fast exchange box and then the trace box stand in space that was free, the
// find button under the fast exchange box's column in a row the page grew
// by, with the search's line beside it, and nothing else has moved. A combo box's template height includes its drop-down
// list, so only the top, left and width of the lists are compared.
TEST_F(SettingsPage, EveryControlStandsWhereTheTemplatePutsItAndNoneOverlaps) {
    Open();
    const struct {
        int id;
        int x, y, width, height;  // dialog units
        bool dropDown;
    } controls[] = {
        {IDC_IR_ADAPTER, 141, 79, 97, 9, false},   {IDC_PORT_LIST, 153, 46, 80, 82, true},
        {IDC_SPEED_LIST, 153, 62, 80, 70, true},   {IDC_NOTES, 15, 100, 221, 47, false},
        {IDC_FAST_EXCHANGE, 141, 89, 97, 9, false}, {IDC_TRACE, 20, 89, 75, 9, false},
        {IDC_FIND_TERMINAL, 141, 152, 97, 14, false}, {IDC_SEARCH_STATUS, 15, 155, 122, 8, false},
    };
    std::vector<RECT> placed;
    for (const auto& c : controls) {
        SCOPED_TRACE(c.id);
        // The dialog maps the position and the size each on its own.
        RECT corner{c.x, c.y, 0, 0}, size{0, 0, c.width, c.height};
        ASSERT_TRUE(::MapDialogRect(PageWindow(), &corner) && ::MapDialogRect(PageWindow(), &size));
        RECT actual{};
        ::GetWindowRect(Control(c.id), &actual);
        ::MapWindowPoints(nullptr, PageWindow(), reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(actual.left, corner.left);
        EXPECT_EQ(actual.top, corner.top);
        EXPECT_EQ(actual.right - actual.left, size.right);
        if (!c.dropDown) {
            EXPECT_EQ(actual.bottom - actual.top, size.bottom);
        }
        placed.push_back(actual);
    }
    RECT page{};
    ::GetClientRect(PageWindow(), &page);
    RECT common{};
    for (size_t i = 0; i < placed.size(); ++i) {
        EXPECT_TRUE(::IntersectRect(&common, &placed[i], &page) && ::EqualRect(&common, &placed[i]))
            << "control " << controls[i].id << " inside the page";
        for (size_t j = i + 1; j < placed.size(); ++j)
            EXPECT_FALSE(::IntersectRect(&common, &placed[i], &placed[j]))
                << "controls " << controls[i].id << " and " << controls[j].id << " overlap";
    }
}

// A list whose stored index has no entry shows no selection; an Apply that
// leaves it alone stores -1 for it, and the port is reopened (as COM1, or at
// 9600 baud: the link's rule for indices out of range).
TEST_F(SettingsPage, Port256ShowsNoSelectionAndAnApplyThatLeavesItStoresMinusOne) {
    component.Set({256, 0, 0});
    Open();
    EXPECT_EQ(Selected(IDC_PORT_LIST), CB_ERR);
    component.SetResult(7);
    EXPECT_EQ(component.page->Apply(), S_OK);
    EXPECT_EQ(component.Current(), (Settings{-1, 0, 0}));
    EXPECT_NE(component.Result(), 7) << "the port was reopened";
}

// Port 20 names COM21, which this prefix lacks: the list shows it after
// COM16, selected, so that the page shows what is stored; an Apply that
// leaves it alone keeps it.
TEST_F(SettingsPage, Port20IsListedAfterCom16AsCom21AndAnApplyThatLeavesItKeepsIt) {
    component.Set({20, 0, 0});
    Open();
    const std::vector<std::wstring> ports = ListEntries(Control(IDC_PORT_LIST));
    ASSERT_EQ(ports.size(), 17u);
    EXPECT_EQ(ports[16], L"COM21");
    EXPECT_EQ(Selected(IDC_PORT_LIST), 16);
    EXPECT_EQ(component.page->Apply(), S_OK);
    EXPECT_EQ(component.Current(), (Settings{20, 0, 0}));
    EXPECT_EQ(component.Result(), kCannotOpenPort) << "COM21 reopened, and missing";
}

TEST_F(SettingsPage, Speed5ShowsNoSelectionAndAnApplyThatLeavesItStoresMinusOne) {
    component.Set({5, 5, 0});
    Open();
    EXPECT_EQ(Selected(IDC_SPEED_LIST), CB_ERR);
    Choose(IDC_PORT_LIST, 13);
    EXPECT_EQ(component.page->Apply(), S_OK);
    EXPECT_EQ(component.Current(), (Settings{13, -1, 0}));
    EXPECT_EQ(component.Result(), kCannotOpenPort);
}

// --- Dirty, and what the site hears -----------------------------------------------

TEST_F(SettingsPage, ThePageBecomesDirtyOnceWhateverTheUserChanges) {
    Open();
    Choose(IDC_PORT_LIST, 4);
    EXPECT_EQ(component.page->IsPageDirty(), S_OK);
    Choose(IDC_SPEED_LIST, 2);
    ClickAdapterBox();
    EXPECT_TRUE(Ticked());
    EXPECT_EQ(site.statuses, (std::vector<DWORD>{0, kDirtyAndValid}));
}

TEST_F(SettingsPage, ClickingTheAdapterBoxAloneMakesThePageDirty) {
    Open();
    ClickAdapterBox();
    EXPECT_EQ(component.page->IsPageDirty(), S_OK);
    EXPECT_EQ(site.statuses, (std::vector<DWORD>{0, kDirtyAndValid}));
}

TEST_F(SettingsPage, TheFastExchangeBoxShowsTheFlagAndAClickThenApplyStoresIt) {
    component.Set({5, 0, 0});
    component.SetFast(1);
    Open();
    EXPECT_TRUE(Ticked(IDC_FAST_EXCHANGE));
    Click(IDC_FAST_EXCHANGE);
    EXPECT_FALSE(Ticked(IDC_FAST_EXCHANGE));
    EXPECT_EQ(component.page->IsPageDirty(), S_OK);
    EXPECT_EQ(site.statuses, (std::vector<DWORD>{0, kDirtyAndValid}));
    EXPECT_EQ(component.Fast(), 1) << "nothing is stored before Apply";

    EXPECT_EQ(component.page->Apply(), S_OK);
    EXPECT_EQ(component.Fast(), 0);
    EXPECT_EQ(component.page->IsPageDirty(), S_FALSE);
    EXPECT_EQ(site.statuses, (std::vector<DWORD>{0, kDirtyAndValid, 0}));
    EXPECT_EQ(component.Result(), kCannotOpenPort) << "the port was reopened";

    Click(IDC_FAST_EXCHANGE);
    EXPECT_EQ(component.page->Apply(), S_OK);
    EXPECT_EQ(component.Fast(), 1);
}

TEST_F(SettingsPage, TypingIntoAListsEditFieldLeavesThePageClean) {
    Open();
    for (int list : {IDC_PORT_LIST, IDC_SPEED_LIST}) {
        COMBOBOXINFO parts{};
        parts.cbSize = sizeof parts;
        ASSERT_TRUE(::GetComboBoxInfo(Control(list), &parts));
        ::SendMessageW(parts.hwndItem, WM_CHAR, L'7', 1);
        EXPECT_NE(WindowText(Control(list)).find(L'7'), std::wstring::npos) << "the typing reached the field";
    }
    EXPECT_EQ(component.page->IsPageDirty(), S_FALSE);
    EXPECT_EQ(site.statuses, std::vector<DWORD>{0});
}

TEST_F(SettingsPage, ApplyStoresTheChoiceMarksCleanAndReopensThePort) {
    Open();
    Choose(IDC_PORT_LIST, 13);
    Choose(IDC_SPEED_LIST, 4);
    ClickAdapterBox();
    component.SetResult(7);

    EXPECT_EQ(component.page->Apply(), S_OK);

    EXPECT_EQ(component.Current(), (Settings{13, 4, 1}));
    EXPECT_EQ(component.Fast(), 0) << "the fast box was left clear";
    EXPECT_EQ(component.page->IsPageDirty(), S_FALSE);
    EXPECT_EQ(site.statuses, (std::vector<DWORD>{0, kDirtyAndValid, 0}));
    EXPECT_EQ(component.Result(), kCannotOpenPort) << "the port was reopened though no script attached";
}

TEST_F(SettingsPage, ApplyOnACleanPageTellsTheSiteNothingAndStillReopensThePort) {
    component.Set({5, 0, 0});
    Open();
    component.SetResult(7);
    EXPECT_EQ(component.page->Apply(), S_OK);
    EXPECT_EQ(site.statuses, std::vector<DWORD>{0});
    EXPECT_EQ(component.Current(), (Settings{5, 0, 0}));
    EXPECT_EQ(component.Result(), kCannotOpenPort);
}

TEST_F(SettingsPage, ApplyBeforeTheWindowExistsKeepsTheSettings) {
    component.Set({6, 2, 1});
    ASSERT_EQ(component.page->SetPageSite(&site), S_OK);
    IUnknown* objects[] = {component.Unknown()};
    ASSERT_EQ(component.page->SetObjects(1, objects), S_OK);
    EXPECT_EQ(component.page->Apply(), S_OK);
    EXPECT_EQ(component.Current(), (Settings{6, 2, 1}));
    EXPECT_EQ(component.Result(), kCannotOpenPort);
}

TEST_F(SettingsPage, TheTraceBoxShowsTheFlagAndAClickThenApplyStoresIt) {
    component.Set({5, 0, 0});
    Open();
    EXPECT_FALSE(Ticked(IDC_TRACE));
    Click(IDC_TRACE);
    EXPECT_EQ(component.page->IsPageDirty(), S_OK);
    EXPECT_EQ(component.Trace(), 0) << "nothing is stored before Apply";
    EXPECT_EQ(component.page->Apply(), S_OK);
    EXPECT_EQ(component.Trace(), 1);
    Click(IDC_TRACE);
    EXPECT_EQ(component.page->Apply(), S_OK);
    EXPECT_EQ(component.Trace(), 0);
}

TEST_F(SettingsPage, TheFindButtonSearchesBesideThePageAndASecondPressStopsItSoon) {
    constexpr LONG kCom3 = 2;  // which the test prefix lacks
    component.Set({kCom3, 0, 0});
    Open();
    Click(IDC_FIND_TERMINAL);
    EXPECT_EQ(WindowText(Control(IDC_FIND_TERMINAL)), L"Остановить");
    EXPECT_EQ(WindowText(Control(IDC_SEARCH_STATUS)).rfind(L"Поиск: COM", 0), 0u);
    EXPECT_EQ(component.page->IsPageDirty(), S_FALSE) << "the press itself changes nothing";
    // The page answers while the search runs on its own thread.
    const DWORD answered = RunMessagesUntil([] { return false; }, 300);
    EXPECT_LT(answered, 1000u);
    EXPECT_EQ(WindowText(Control(IDC_FIND_TERMINAL)), L"Остановить") << "still searching";

    Click(IDC_FIND_TERMINAL);
    const DWORD took = RunMessagesUntil([&] { return WindowText(Control(IDC_FIND_TERMINAL)) == L"Найти терминал"; },
                                        5000);
    std::printf("the search ended %lu ms after the second press, as the page saw it\n", took);
    EXPECT_LT(took, 1000u) << "300 ms and the page's look at it, loosely under Wine";
    EXPECT_EQ(WindowText(Control(IDC_SEARCH_STATUS)), L"Поиск остановлен");
    EXPECT_EQ(component.page->IsPageDirty(), S_FALSE);
    EXPECT_EQ(component.Current(), (Settings{kCom3, 0, 0}));
}

TEST_F(SettingsPage, ApplyDuringASearchStopsItAndStoresWhatThePageShows) {
    component.Set({9, 0, 0});
    Open();
    Click(IDC_FIND_TERMINAL);
    Choose(IDC_PORT_LIST, 10);
    EXPECT_EQ(component.page->Apply(), S_OK);
    EXPECT_EQ(component.Current(), (Settings{10, 0, 0}));
    EXPECT_EQ(component.Result(), kCannotOpenPort) << "the port reopened by Apply";
    RunMessagesUntil([&] { return WindowText(Control(IDC_FIND_TERMINAL)) == L"Найти терминал"; }, 2000);
    EXPECT_EQ(WindowText(Control(IDC_SEARCH_STATUS)), L"Поиск остановлен");
}

// The search holds the call lock for as long as it runs: a page opened
// meanwhile shows no choice and greys the lists and boxes, but its find
// button shows the search and stops it, and the page catches up once the
// search has let the lock go.
TEST_F(SettingsPage, APageOpenedWhileASearchHoldsTheLockGreysItsChoicesButItsButtonStopsTheSearch) {
    constexpr LONG kCom3 = 2;
    component.Set({kCom3, 1, 0});
    const auto search = component.object.query<ITerminalSearch>();
    ASSERT_EQ(search->StartSearch(), S_OK);
    // The search tries the stored setting first and every try after it under
    // the call lock: once it reports another try, it holds the lock.
    const auto tryingAnother = [&] {
        LONG state = 0, port = 0, speed = 0, adapter = 0;
        search->GetSearchState(&state, &port, &speed, &adapter);
        return state == static_cast<LONG>(SearchState::Searching) && (port != kCom3 || speed != 1 || adapter != 0);
    };
    const DWORD start = ::GetTickCount();
    while (!tryingAnother() && ::GetTickCount() - start < 5000) ::Sleep(5);
    ASSERT_TRUE(tryingAnother()) << "the search went on from the stored setting";
    std::atomic<bool> callEnded{false};
    std::thread call([&] {
        component.Current();  // waits for the call lock
        callEnded = true;
    });
    ::Sleep(200);
    ASSERT_FALSE(callEnded) << "the search holds the call lock";

    Open();
    EXPECT_EQ(Selected(IDC_PORT_LIST), -1);
    EXPECT_FALSE(::IsWindowEnabled(Control(IDC_PORT_LIST)));
    EXPECT_FALSE(::IsWindowEnabled(Control(IDC_TRACE)));
    EXPECT_TRUE(::IsWindowEnabled(Control(IDC_FIND_TERMINAL)));
    EXPECT_EQ(WindowText(Control(IDC_FIND_TERMINAL)), L"Остановить");
    EXPECT_EQ(WindowText(Control(IDC_SEARCH_STATUS)).rfind(L"Поиск: COM", 0), 0u);

    Click(IDC_FIND_TERMINAL);
    const DWORD took = RunMessagesUntil(
        [&] { return WindowText(Control(IDC_FIND_TERMINAL)) == L"Найти терминал"; }, 5000);
    EXPECT_LT(took, 1000u) << "300 ms and the page's look at it, loosely under Wine";
    call.join();
    EXPECT_TRUE(callEnded);
    RunMessagesUntil([&] { return ::IsWindowEnabled(Control(IDC_PORT_LIST)) != FALSE; }, 2000);
    EXPECT_TRUE(::IsWindowEnabled(Control(IDC_PORT_LIST))) << "caught up once the lock was let go";
    EXPECT_EQ(Selected(IDC_PORT_LIST), kCom3);
    EXPECT_EQ(Selected(IDC_SPEED_LIST), 1);
    EXPECT_EQ(WindowText(Control(IDC_SEARCH_STATUS)), L"Поиск остановлен");
    EXPECT_EQ(site.statuses, std::vector<DWORD>{0}) << "the opening's clean page, told once the lock was free";
    EXPECT_EQ(component.page->IsPageDirty(), S_FALSE);
}

// --- The frame's calls out of order, and bad arguments -----------------------------

TEST_F(SettingsPage, ShowAndMoveNeedAWindow) {
    RECT rect{0, 0, 100, 100};
    EXPECT_EQ(component.page->Show(SW_SHOW), E_UNEXPECTED);
    EXPECT_EQ(component.page->Move(&rect), E_UNEXPECTED);
    Open();
    EXPECT_EQ(component.page->Move(nullptr), E_POINTER);
    EXPECT_EQ(component.page->Move(&rect), S_OK);
    RECT placed{};
    ::GetWindowRect(PageWindow(), &placed);
    EXPECT_EQ(placed.right - placed.left, 100);
    ASSERT_EQ(component.page->Deactivate(), S_OK);
    EXPECT_EQ(PageWindow(), nullptr);
    EXPECT_EQ(component.page->Show(SW_SHOW), E_UNEXPECTED);
}

TEST_F(SettingsPage, ASecondSiteIsRefusedAndTheFirstKept) {
    RecordingSite second{log};
    Open();
    EXPECT_EQ(component.page->SetPageSite(&second), E_UNEXPECTED);
    EXPECT_EQ(second.references(), 0);
    Choose(IDC_PORT_LIST, 1);
    EXPECT_EQ(site.statuses.back(), kDirtyAndValid);
    EXPECT_TRUE(second.statuses.empty());
}

TEST_F(SettingsPage, ActivateWithoutARectangleMakesNoWindow) {
    ASSERT_EQ(component.page->SetPageSite(&site), S_OK);
    EXPECT_EQ(component.page->Activate(frame.get(), nullptr, TRUE), E_POINTER);
    EXPECT_EQ(PageWindow(), nullptr);
    EXPECT_TRUE(site.statuses.empty());
}

TEST_F(SettingsPage, SetObjectsNeedsAnArrayForItsObjects) {
    EXPECT_EQ(component.page->SetObjects(1, nullptr), E_POINTER);
    EXPECT_EQ(component.page->SetObjects(0, nullptr), S_OK) << "a frame letting go passes no array";
}

TEST_F(SettingsPage, ThePageWindowDestroyedByItsParentIsForgotten) {
    Open();
    Choose(IDC_PORT_LIST, 9);
    frame.reset();
    EXPECT_EQ(component.page->Show(SW_SHOW), E_UNEXPECTED);
    EXPECT_EQ(component.page->Deactivate(), S_OK);
    EXPECT_EQ(component.page->Apply(), S_OK);
    EXPECT_EQ(component.Current().port, 9) << "the choice on the dirty page is not lost";

    SetUp();
    ActivateAndShow();
    EXPECT_EQ(Selected(IDC_PORT_LIST), 9) << "a new window in a new frame";
}

TEST_F(SettingsPage, TheExtendedStyleAlwaysLetsTheFrameTabIntoThePage) {
    Open();
    ::SetWindowLongW(PageWindow(), GWL_EXSTYLE, 0);
    EXPECT_TRUE(::GetWindowLongW(PageWindow(), GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
    const LONG style = ::GetWindowLongW(PageWindow(), GWL_STYLE) | WS_CLIPCHILDREN;
    ::SetWindowLongW(PageWindow(), GWL_STYLE, style);
    EXPECT_EQ(::GetWindowLongW(PageWindow(), GWL_STYLE), style) << "other styles as asked";
}

TEST_F(SettingsPage, TranslateAcceleratorPassesKeysAndMouseToThePageOnly) {
    MSG tab{};
    tab.message = WM_KEYDOWN;
    tab.wParam = VK_TAB;
    EXPECT_EQ(component.page->TranslateAccelerator(&tab), S_FALSE) << "no window yet";
    Open();
    const struct {
        const char* sentence;
        HWND window;
        UINT message;
        HRESULT hr;
    } cases[] = {
        {"Tab in the port list moves on in the page", Control(IDC_PORT_LIST), WM_KEYDOWN, S_OK},
        {"a key for the frame's own window is not the page's", frame.get(), WM_KEYDOWN, S_FALSE},
        {"a timer is no keyboard or mouse message", Control(IDC_PORT_LIST), WM_TIMER, S_FALSE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sentence);
        MSG message{};
        message.hwnd = c.window;
        message.message = c.message;
        message.wParam = VK_TAB;
        EXPECT_EQ(component.page->TranslateAccelerator(&message), c.hr);
    }
    EXPECT_EQ(component.page->TranslateAccelerator(nullptr), E_POINTER);
}

// --- Page information -----------------------------------------------------------------

// 260 x 172 dialog units in pixels of 8-point "MS Sans Serif" on this screen.
SIZE ExpectedPageSize() {
    const win::unique_window_dc screen(nullptr);
    LOGFONTW description{};
    description.lfHeight = -::MulDiv(8, ::GetDeviceCaps(screen.get(), LOGPIXELSY), 72);
    description.lfWeight = FW_NORMAL;
    description.lfCharSet = DEFAULT_CHARSET;
    wcscpy(description.lfFaceName, L"MS Sans Serif");
    const win::unique_hfont font(::CreateFontIndirectW(&description));
    const win::select_object_scope selected(screen.get(), font.get());
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(screen.get(), &metrics);
    SIZE letters{};
    ::GetTextExtentPoint32W(screen.get(), L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &letters);
    const int width = (letters.cx + 26) / 52;
    return {::MulDiv(260, width, 4), ::MulDiv(172, metrics.tmHeight + metrics.tmExternalLeading, 8)};
}

TEST_F(SettingsPage, PageInfoGivesTheTitleAndTheTemplatesSizeInItsFont) {
    PROPPAGEINFO info;
    std::memset(&info, 0xEE, sizeof info);
    ASSERT_EQ(component.page->GetPageInfo(&info), S_OK);
    // The module's own size of the record: 28 bytes in a 32-bit program, 48
    // in a 64-bit one.
    static_assert(sizeof(PROPPAGEINFO) == (sizeof(void*) == 8 ? 48 : 28), "the frame's layout of the record");
    EXPECT_EQ(info.cb, sizeof(PROPPAGEINFO));
    ASSERT_NE(info.pszTitle, nullptr);
    EXPECT_STREQ(info.pszTitle, L"Терминал Сбора Данных");
    ASSERT_NE(info.pszDocString, nullptr);
    EXPECT_STREQ(info.pszDocString, L"");
    ASSERT_NE(info.pszHelpFile, nullptr);
    EXPECT_STREQ(info.pszHelpFile, L"");
    EXPECT_EQ(info.dwHelpContext, 0u);
    const SIZE expected = ExpectedPageSize();
    EXPECT_EQ(info.size.cx, expected.cx);
    EXPECT_EQ(info.size.cy, expected.cy);
    EXPECT_GT(info.size.cx, 260) << "more than one pixel per unit";
    ::CoTaskMemFree(info.pszTitle);
    ::CoTaskMemFree(info.pszDocString);
    ::CoTaskMemFree(info.pszHelpFile);

    EXPECT_EQ(component.page->GetPageInfo(nullptr), E_POINTER);
}

// --- Whose settings, and who holds what --------------------------------------------------

TEST_F(SettingsPage, AnotherComponentAsTheObjectLendsItsSettingsAndReceivesTheChoice) {
    Component other;
    other.Set({7, 2, 1});
    other.SetFast(1);
    Open(other.Unknown());
    EXPECT_EQ(Selected(IDC_PORT_LIST), 7);
    EXPECT_EQ(Selected(IDC_SPEED_LIST), 2);
    EXPECT_TRUE(Ticked());
    EXPECT_TRUE(Ticked(IDC_FAST_EXCHANGE));
    EXPECT_EQ(component.Current(), (Settings{7, 2, 1})) << "copied into the page's component";
    EXPECT_EQ(component.Fast(), 1) << "the pace too";

    Choose(IDC_PORT_LIST, 9);
    Click(IDC_FAST_EXCHANGE);
    EXPECT_EQ(component.page->Apply(), S_OK);
    EXPECT_EQ(other.Current(), (Settings{9, 2, 1}));
    EXPECT_EQ(other.Fast(), 0);
    EXPECT_EQ(component.Current(), (Settings{7, 2, 1}));
    EXPECT_EQ(component.Fast(), 1);
    EXPECT_EQ(component.Result(), kCannotOpenPort) << "the page's component reopens its port";
    EXPECT_EQ(other.Result(), 1) << "the other component's port is left alone";
    component.page->SetObjects(0, nullptr);
}

// A component made before the fast exchange flag: connection settings only.
class OlderComponent final : public FakeObject<IConnectionSettings> {
public:
    explicit OlderComponent(HostLog& log) : FakeObject("older component", log) {}
    Settings stored{4, 1, 0};

    STDMETHODIMP GetSettings(LONG* port, LONG* speed, LONG* irda) override {
        *port = stored.port;
        *speed = stored.speed;
        *irda = stored.irda;
        return S_OK;
    }
    STDMETHODIMP SetSettings(LONG port, LONG speed, LONG irda) override {
        stored = {port, speed, irda};
        return S_OK;
    }
};

TEST_F(SettingsPage, AnOlderComponentAsTheObjectLendsAndTakesWhatItHasAndThePaceStaysThisComponents) {
    OlderComponent older(log);
    component.SetFast(1);
    Open(&older);
    EXPECT_EQ(Selected(IDC_PORT_LIST), 4);
    EXPECT_TRUE(Ticked(IDC_FAST_EXCHANGE)) << "the page's own component's pace";

    Choose(IDC_PORT_LIST, 6);
    Click(IDC_FAST_EXCHANGE);
    EXPECT_EQ(component.page->Apply(), S_OK);
    EXPECT_EQ(older.stored, (Settings{6, 1, 0}));
    EXPECT_EQ(component.Fast(), 1) << "the choice went to the object, which has no pace to take";
    component.page->SetObjects(0, nullptr);
    EXPECT_EQ(older.references(), 0);
}

TEST_F(SettingsPage, WithoutObjectsThePageShowsItsOwnSettingsAndApplyStoresNothing) {
    component.Set({2, 3, 0});
    ASSERT_EQ(component.page->SetPageSite(&site), S_OK);
    ActivateAndShow();
    EXPECT_EQ(Selected(IDC_PORT_LIST), 2);
    Choose(IDC_PORT_LIST, 12);
    EXPECT_EQ(component.page->Apply(), S_OK);
    EXPECT_EQ(component.Current(), (Settings{2, 3, 0}));
    EXPECT_EQ(component.page->IsPageDirty(), S_FALSE);
    EXPECT_EQ(component.Result(), kCannotOpenPort);
}

TEST_F(SettingsPage, TheSiteAndTheObjectsAreHeldUntilReplaced) {
    FakeObject<IUnknown> first("first", log), second("second", log);
    IUnknown* both[] = {&first, &second};
    ASSERT_EQ(component.page->SetPageSite(&site), S_OK);
    EXPECT_EQ(site.references(), 1);
    ASSERT_EQ(component.page->SetObjects(2, both), S_OK);
    EXPECT_EQ(first.references(), 1);
    EXPECT_EQ(second.references(), 1);

    IUnknown* one[] = {&second};
    ASSERT_EQ(component.page->SetObjects(1, one), S_OK);
    EXPECT_EQ(first.references(), 0);
    EXPECT_EQ(second.references(), 1);
    ASSERT_EQ(component.page->SetObjects(0, nullptr), S_OK);
    EXPECT_EQ(second.references(), 0);
    ASSERT_EQ(component.page->SetPageSite(nullptr), S_OK);
    EXPECT_EQ(site.references(), 0);
}

TEST_F(SettingsPage, AComponentLetGoWhileItsPageIsOpenDestroysTheWindowAndLetsGoOfEverything) {
    FakeObject<IUnknown> object("object", log);
    IUnknown* objects[] = {&object};
    ASSERT_EQ(component.page->SetPageSite(&site), S_OK);
    ASSERT_EQ(component.page->SetObjects(1, objects), S_OK);
    ActivateAndShow();
    ASSERT_NE(PageWindow(), nullptr);

    component.LetGo();

    EXPECT_EQ(PageWindow(), nullptr);
    EXPECT_EQ(object.references(), 0);
    EXPECT_EQ(site.references(), 0);
    EXPECT_EQ(Module::Get().CanUnloadNow(), S_OK);
}

// --- Calls from threads other than the window's ------------------------------------------

// Runs `work` on a thread of its own while this thread, which owns the page
// window, handles its messages (a read of the page's controls from another
// thread goes through them); returns when the work is done, or fails the
// test after a time limit.
void WhileThisThreadHandlesMessages(const std::function<void()>& work) {
    constexpr DWORD kLimitMs = 10000;
    win::unique_event done;
    ASSERT_TRUE(done.create(win::unique_event::Reset::Manual));
    std::thread worker([&] {
        work();
        done.SetEvent();
    });
    const DWORD start = ::GetTickCount();
    HANDLE handles[] = {done.get()};
    while (::MsgWaitForMultipleObjects(1, handles, FALSE, 50, QS_ALLINPUT) != WAIT_OBJECT_0 &&
           ::GetTickCount() - start < kLimitMs) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    }
    worker.join();
    EXPECT_TRUE(done.wait(0)) << "the other thread's work did not end in time";
}

void HandleWaitingMessages() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
}

TEST_F(SettingsPage, ApplyFromAnotherThreadStoresTheChoiceThePageShows) {
    Open();
    Choose(IDC_PORT_LIST, 13);
    Choose(IDC_SPEED_LIST, 4);
    ClickAdapterBox();

    HRESULT applied = E_FAIL;
    WhileThisThreadHandlesMessages([&] { applied = component.page->Apply(); });

    EXPECT_EQ(applied, S_OK);
    EXPECT_EQ(component.Current(), (Settings{13, 4, 1}));
    EXPECT_EQ(component.page->IsPageDirty(), S_FALSE);
    EXPECT_EQ(site.statuses, (std::vector<DWORD>{0, kDirtyAndValid, 0}));
    EXPECT_EQ(component.Result(), kCannotOpenPort) << "the port was reopened";
}

TEST_F(SettingsPage, DeactivateFromAnotherThreadKeepsTheChoiceAndLeavesTheWindowToItsThread) {
    Open();
    Choose(IDC_PORT_LIST, 11);
    const HWND window = PageWindow();

    WhileThisThreadHandlesMessages([&] { EXPECT_EQ(component.page->Deactivate(), S_OK); });
    HandleWaitingMessages();

    EXPECT_FALSE(::IsWindow(window)) << "destroyed by its own thread";
    EXPECT_EQ(component.page->Show(SW_SHOW), E_UNEXPECTED) << "the page has no window";
    EXPECT_EQ(component.page->Apply(), S_OK);
    EXPECT_EQ(component.Current().port, 11) << "the choice on the dirty page is not lost";
}

// The last reference goes on another thread while the page window, this
// thread's, still exists: that thread cannot destroy it, so the window is
// let go of first (nothing in it leads to the page any more), and this
// thread destroys it when it next handles its messages.
TEST_F(SettingsPage, AComponentLetGoOnAnotherThreadLeavesItsPageWindowLeadingNowhere) {
    FakeObject<IUnknown> object("object", log);
    IUnknown* objects[] = {&object};
    ASSERT_EQ(component.page->SetPageSite(&site), S_OK);
    ASSERT_EQ(component.page->SetObjects(1, objects), S_OK);
    ActivateAndShow();
    const HWND window = PageWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_NE(::GetWindowLongPtrW(window, DWLP_USER), 0) << "the window leads to its page";

    std::thread([&] { component.LetGo(); }).join();

    EXPECT_TRUE(::IsWindow(window)) << "no other thread can destroy it";
    EXPECT_EQ(::GetWindowLongPtrW(window, DWLP_USER), 0) << "it no longer leads to the page's memory";
    EXPECT_EQ(object.references(), 0);
    EXPECT_EQ(site.references(), 0);
    EXPECT_EQ(Module::Get().CanUnloadNow(), S_OK);

    // What a user may still do to it before it goes reaches nothing.
    ::SendMessageW(::GetDlgItem(window, IDC_IR_ADAPTER), BM_CLICK, 0, 0);
    ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_PORT_LIST, CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(::GetDlgItem(window, IDC_PORT_LIST)));
    EXPECT_EQ(site.statuses, std::vector<DWORD>{0});

    HandleWaitingMessages();
    EXPECT_FALSE(::IsWindow(window)) << "destroyed by its own thread";
}

// --- The progress box paints into the page window ----------------------------------------

TEST_F(SettingsPage, TheProgressBoxPaintsIntoThePageWindowWhileItExists) {
    constexpr int kLeft = 40, kTop = 30;
    const int width = Screen::Width(), height = Screen::Height();
    ::MoveWindow(frame.get(), 0, 0, width, height, TRUE);
    ::ShowWindow(frame.get(), SW_SHOW);
    Open();
    ASSERT_EQ(component.page->Move(std::array<RECT, 1>{{{kLeft, kTop, width, height}}}.data()), S_OK);
    ::RedrawWindow(frame.get(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);

    const auto showProgress = [&] {
        VariantArray params(2);
        params.Set(0, *IntValue(1).get());
        params.Set(1, *IntValue(5).get());
        ASSERT_EQ(component.extender->CallAsProc(kShowProgressMethod, params.put()), S_OK);
    };
    showProgress();

    // Read through the page window's own context: its corner is 0, 0.
    const auto pagePixel = [&](int x, int y) { return ::GetPixel(win::unique_window_dc(PageWindow()).get(), x, y); };
    const int half = Screen::HalfBoxWidth(L"Получено: 5 записей");
    const int x = width / 2, y = height / 2;
    EXPECT_EQ(pagePixel(x - half, y), RGB(0, 0, 0)) << "the outline, from the page's corner";
    EXPECT_EQ(pagePixel(x - half + 2, y - 18), RGB(0, 255, 255)) << "inside";
    EXPECT_NE(pagePixel(x - half - kLeft, y - kTop), RGB(0, 0, 0)) << "not at the screen's centre";

    ASSERT_EQ(component.page->Deactivate(), S_OK);
    frame.reset();
    Screen::Fill(RGB(255, 0, 255));
    showProgress();
    EXPECT_EQ(Screen::Pixel(width / 2 - half, height / 2), RGB(0, 0, 0)) << "the screen once the page is gone";
}

// --- A frame nobody here wrote: Wine's property frame ---------------------------------------

// What the inspection found in the frame, and whether it closed it.
struct FrameInspection {
    DWORD started = 0;
    bool found = false;
    bool closed = false;
    LRESULT port = -2, speed = -2;
    bool ticked = false;
    std::wstring title;
};
FrameInspection inspection;
constexpr DWORD kFrameDeadlineMs = 15000;

// The page's port list among a window's descendants.
BOOL CALLBACK FindPortList(HWND window, LPARAM found) {
    if (::GetDlgCtrlID(window) != IDC_PORT_LIST || ::GetDlgItem(::GetParent(window), IDC_SPEED_LIST) == nullptr)
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

BOOL CALLBACK InspectTopWindow(HWND window, LPARAM) {
    if (!::IsWindowVisible(window)) return TRUE;
    HWND portList = nullptr;
    ::EnumChildWindows(window, &FindPortList, reinterpret_cast<LPARAM>(&portList));
    const bool late = ::GetTickCount() - inspection.started > kFrameDeadlineMs;
    if (portList == nullptr && !late) return TRUE;
    if (portList != nullptr) {
        HWND page = ::GetParent(portList);
        inspection.found = true;
        inspection.port = ::SendMessageW(portList, CB_GETCURSEL, 0, 0);
        inspection.speed = ::SendMessageW(::GetDlgItem(page, IDC_SPEED_LIST), CB_GETCURSEL, 0, 0);
        inspection.ticked = ::SendMessageW(::GetDlgItem(page, IDC_IR_ADAPTER), BM_GETCHECK, 0, 0) == BST_CHECKED;
        inspection.title = WindowText(window);
    }
    // Cancel, as a user would; the frame ends its modal loop.
    ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    inspection.closed = true;
    return FALSE;
}

// Runs inside the frame's modal loop, on this thread.
void CALLBACK InspectFrame(HWND, UINT, UINT_PTR, DWORD) {
    if (!inspection.closed) ::EnumThreadWindows(::GetCurrentThreadId(), &InspectTopWindow, 0);
}

TEST(WinePropertyFrame, ShowsThePageWithTheComponentsSettings) {
    ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    win::com_ptr<IUnknown> factory;
    ASSERT_EQ(Module::Get().GetClassObject(__uuidof(AddIn), IID_IUnknown, factory.put_void()), S_OK);
    DWORD registration = 0;
    ASSERT_EQ(::CoRegisterClassObject(__uuidof(AddIn), factory.get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                      &registration),
              S_OK);
    {
        Component host;
        host.Set({3, 1, 1});
        IUnknown* objects[] = {host.Unknown()};
        CLSID pages[] = {__uuidof(AddIn)};

        inspection = FrameInspection{};
        inspection.started = ::GetTickCount();
        const UINT_PTR timer = ::SetTimer(nullptr, 0, 100, &InspectFrame);
        const HRESULT hr = ::OleCreatePropertyFrame(nullptr, 0, 0, L"Quillomat", 1, objects, 1, pages,
                                                    LOCALE_USER_DEFAULT, 0, nullptr);
        ::KillTimer(nullptr, timer);

        EXPECT_EQ(hr, S_OK);
        EXPECT_TRUE(inspection.found) << "the page's lists in the frame";
        EXPECT_EQ(inspection.port, 3);
        EXPECT_EQ(inspection.speed, 1);
        EXPECT_TRUE(inspection.ticked);
        EXPECT_NE(inspection.title.find(L"Quillomat"), std::wstring::npos) << "the frame's caption";
        EXPECT_EQ(host.Current(), (Settings{3, 1, 1})) << "cancelled: nothing applied";
    }
    ::CoRevokeClassObject(registration);
    factory.reset();
    ::CoUninitialize();
    EXPECT_EQ(Module::Get().CanUnloadNow(), S_OK) << "the frame's page and the host component are gone";
}

}  // namespace
}  // namespace quill::test
