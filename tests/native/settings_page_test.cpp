// The settings page's logic on fake controls and a fake frame: what the page
// shows when its window opens, which commands make it dirty and what the
// site hears, and what Apply stores and opens, on the fake line; the trace
// box and the notes, and the find button with a fake search.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/cp1251.h"
#include "core/result_codes.h"
#include "fake_line.h"
#include "ui/settings_page.h"
#include "ui/settings_page_ids.h"

namespace quill {

// Found by argument lookup next to the record it prints.
inline std::ostream& operator<<(std::ostream& out, const ConnectionSettings& s) {
    return out << "{" << s.Port << ", " << s.Speed << ", " << s.IsIrDA << ", " << s.FastExchange << ", " << s.Trace
               << "}";
}

namespace {

constexpr int32_t kEditChanged = 5;  // a list's edit field was typed into
constexpr int32_t kEditUpdated = 6;
constexpr int32_t kFocusGained = 3;

// A lock of the page on one thread. `busy` stands for a terminal call on
// another thread holding the component's call lock: TryAcquire fails, and
// Acquire waits for that call to end (logged) before it takes the lock.
class FakeLock final : public Lock {
public:
    FakeLock(const char* name, std::vector<std::string>& log) : name_(name), log_(log) {}
    bool busy = false;

    bool TryAcquire() override {
        if (busy) return false;
        ++depth_;
        return true;
    }
    void Acquire() override {
        if (busy) {
            log_.push_back(std::string("waited for the call to end"));
            busy = false;
        }
        ++depth_;
    }
    void Release() override {
        if (depth_ == 0) ADD_FAILURE() << "the " << name_ << " let go of without being held";
        --depth_;
    }
    bool held() const { return depth_ > 0; }

private:
    const char* name_;
    std::vector<std::string>& log_;
    int depth_ = 0;
};

// Both locks of the page; every call out of the component (and every touch
// of the controls) checks that neither is held, every look at what the
// component holds that the call lock is.
struct PageLocks {
    explicit PageLocks(std::vector<std::string>& log) : call("call lock", log), page("page lock", log) {}
    void ExpectFree(const char* what) const {
        EXPECT_FALSE(call.held()) << what << " while the call lock is held";
        EXPECT_FALSE(page.held()) << what << " while the page lock is held";
    }
    void ExpectCallLockOnly(const char* what) const {
        EXPECT_TRUE(call.held()) << what << " without the call lock";
        EXPECT_FALSE(page.held()) << what << " under the page lock";
    }
    FakeLock call, page;
};

// Controls that behave as the platform's: a selection index with no entry
// leaves the list unselected. Every call is logged; `unreadable` makes every
// read fail, as a window of another thread that does not answer.
class FakeControls final : public PageControls {
public:
    explicit FakeControls(std::vector<std::string>& log, const PageLocks& locks) : log_(log), locks_(locks) {}
    std::vector<std::string> ports, speeds;
    int32_t portSelected = -1, speedSelected = -1;
    bool ticked = false;       // the adapter box
    bool fastTicked = false;   // the fast exchange box
    bool traceTicked = false;  // the trace box
    bool enabled = true;
    bool unreadable = false;
    std::string notes;                     // UTF-8
    std::string findButton, searchStatus;  // UTF-8

    void FillList(PageList list, const std::vector<std::string>& entries) override {
        Touch(Name(list) + " filled with " + std::to_string(entries.size()));
        Entries(list) = entries;
        Selected(list) = -1;
    }
    void SelectEntry(PageList list, int32_t index) override {
        Touch(Name(list) + " select " + std::to_string(index));
        const bool exists = index >= 0 && static_cast<size_t>(index) < Entries(list).size();
        Selected(list) = exists ? index : -1;
    }
    std::optional<int32_t> SelectedEntry(PageList list) const override {
        locks_.ExpectFree("a control read");
        if (unreadable) return std::nullopt;
        return list == PageList::Port ? portSelected : speedSelected;
    }
    void SetTicked(PageBox box, bool value) override {
        Touch(Name(box) + (value ? " ticked" : " clear"));
        Box(box) = value;
    }
    std::optional<bool> Ticked(PageBox box) const override {
        locks_.ExpectFree("a control read");
        if (unreadable) return std::nullopt;
        return const_cast<FakeControls*>(this)->Box(box);
    }
    void Enable(bool value) override {
        Touch(value ? "enabled" : "disabled");
        enabled = value;
    }
    void SetNotes(const std::string& text) override {
        Touch("notes");
        notes = Utf8FromCp1251(text);
    }
    void SetSearchButton(const std::string& text) override {
        findButton = Utf8FromCp1251(text);
        Touch("find button: " + findButton);
    }
    void SetSearchStatus(const std::string& text) override {
        searchStatus = Utf8FromCp1251(text);
        Touch("search status: " + searchStatus);
    }

private:
    void Touch(const std::string& what) {
        locks_.ExpectFree("a control set");
        log_.push_back(what);
    }
    static std::string Name(PageList list) { return list == PageList::Port ? "ports" : "speeds"; }
    static std::string Name(PageBox box) {
        return box == PageBox::Adapter ? "adapter" : box == PageBox::FastExchange ? "fast" : "trace";
    }
    bool& Box(PageBox box) {
        return box == PageBox::Adapter ? ticked : box == PageBox::FastExchange ? fastTicked : traceTicked;
    }
    std::vector<std::string>& Entries(PageList list) { return list == PageList::Port ? ports : speeds; }
    int32_t& Selected(PageList list) { return list == PageList::Port ? portSelected : speedSelected; }

    std::vector<std::string>& log_;
    const PageLocks& locks_;
};

// The frame with its objects: each object either offers settings (a record
// of its own, or this component's) or does not, and may lack the fast
// exchange flag, as a component made before it does. The site's status
// changes and the settings exchanges go to `log`, which the controls share.
// The page is handed references under the call lock and calls them, and
// lets them go, after it.
class FakeFrame final : public PageFrame {
public:
    FakeFrame(std::vector<std::string>& log, PageLocks& locks, ConnectionSettings& record)
        : log_(log), locks_(locks), record_(record) {}

    struct Object {
        ConnectionSettings* settings;  // null: does not offer them; the record: this component
        bool offersFastExchange = true;
    };
    std::vector<Object> objects;
    bool siteHeld = true;
    // Runs when the first object is asked for its settings (a call that
    // starts meanwhile, say).
    std::function<void()> whileReading;

    std::shared_ptr<PageSite> Site() override {
        locks_.ExpectCallLockOnly("the site taken");
        if (!siteHeld) return nullptr;
        return Held(std::make_shared<SiteRef>(*this));
    }
    std::shared_ptr<PageObject> FirstObject() override {
        locks_.ExpectCallLockOnly("the first object taken");
        if (objects.empty()) return nullptr;
        return Held(std::make_shared<ObjectRef>(*this, objects.front()));
    }

private:
    class SiteRef final : public PageSite {
    public:
        explicit SiteRef(FakeFrame& frame) : frame_(frame) {}
        void OnStatusChange(uint32_t status) override {
            frame_.locks_.ExpectFree("the site told");
            frame_.log_.push_back("site status " + std::to_string(status));
        }

    private:
        FakeFrame& frame_;
    };

    class ObjectRef final : public PageObject {
    public:
        ObjectRef(FakeFrame& frame, Object& object) : frame_(frame), object_(object) {}
        bool ReadSettings(ConnectionSettings& settings) override {
            frame_.locks_.ExpectFree("an object asked");
            frame_.log_.push_back("read object 0");
            if (frame_.whileReading) frame_.whileReading();
            if (object_.settings == nullptr) return false;
            // This component answers with its record as the page read it.
            if (object_.settings == &frame_.record_) return true;
            const int32_t fast = object_.offersFastExchange ? object_.settings->FastExchange : settings.FastExchange;
            settings = *object_.settings;
            settings.FastExchange = fast;
            return true;
        }
        bool WriteSettings(const ConnectionSettings& settings) override {
            frame_.locks_.ExpectFree("an object handed settings");
            frame_.log_.push_back("write object 0: " + std::to_string(settings.Port) + " " +
                                  std::to_string(settings.Speed) + " " + std::to_string(settings.IsIrDA) + " " +
                                  std::to_string(settings.FastExchange));
            if (object_.settings == nullptr) return false;
            // This component takes them under its own call lock.
            const bool itself = object_.settings == &frame_.record_;
            if (itself) frame_.locks_.call.Acquire();
            const int32_t fast = object_.offersFastExchange ? settings.FastExchange : object_.settings->FastExchange;
            *object_.settings = settings;
            object_.settings->FastExchange = fast;
            if (itself) frame_.locks_.call.Release();
            return true;
        }

    private:
        FakeFrame& frame_;
        Object& object_;
    };

    // A reference the page lets go of after the call lock.
    template <typename T>
    std::shared_ptr<T> Held(std::shared_ptr<T> made) {
        PageLocks& locks = locks_;
        return std::shared_ptr<T>(made.get(), [made, &locks](T*) mutable {
            locks.ExpectFree("a reference let go");
            made.reset();
        });
    }

    std::vector<std::string>& log_;
    PageLocks& locks_;
    ConnectionSettings& record_;
};

// The component's search as the page drives it: it runs until the test says
// how it ended. The page asks it without either lock held: a search holds
// the call lock for as long as it runs.
class FakeSearch final : public SearchControl {
public:
    explicit FakeSearch(const PageLocks& locks) : locks_(locks) {}
    SearchStatus status;
    int starts = 0, stops = 0;
    bool refuses = false;  // another search is running

    bool StartSearch() override {
        locks_.ExpectFree("a search started");
        if (refuses) return false;
        ++starts;
        status = {SearchState::Searching, ConnectionSettings{0, 0, 0}};
        return true;
    }
    void StopSearch() override {
        locks_.ExpectFree("a search stopped");
        ++stops;
    }
    SearchStatus Status() const override {
        locks_.ExpectFree("the search asked how it goes");
        return status;
    }

private:
    const PageLocks& locks_;
};

struct FakeTrace final : TraceReport {
    explicit FakeTrace(const PageLocks& locks) : locks_(locks) {}
    TraceNotice notice;
    TraceNotice Notice() const override {
        locks_.ExpectFree("the trace asked");
        return notice;
    }

private:
    const PageLocks& locks_;
};

// The ports Windows lists, read without the call lock.
struct FakePortMap final : PortMap {
    explicit FakePortMap(const PageLocks& locks) : locks_(locks) {}
    std::vector<std::string> names;
    std::vector<std::string> PortNames() const override {
        locks_.ExpectFree("the port map read");
        return names;
    }

private:
    const PageLocks& locks_;
};

// A component's settings page: its record, its port on the fake line, its
// locks, its search and trace, the ports Windows lists (none above COM16
// unless a test says otherwise), and the frame whose first object is the
// component itself unless a test says otherwise.
struct PageBench {
    PageBench() { frame.objects = {{&settings}}; }

    void Open() { page.WindowOpened(controls); }
    std::vector<std::string> TakeLog() { return std::exchange(log, {}); }

    std::vector<std::string> log;
    fake::LinkBench bench{false};
    ConnectionSettings settings;
    PageLocks locks{log};
    FakeControls controls{log, locks};
    FakeFrame frame{log, locks, settings};
    FakeSearch search{locks};
    FakeTrace trace{locks};
    FakePortMap portMap{locks};
    SettingsPage page{frame, locks.call, locks.page, settings, bench.link, search, trace, portMap};
};

class PageTest : public ::testing::Test, protected PageBench {};

TEST_F(PageTest, OpeningReadsTheFirstObjectThenFillsTheListsTicksTheBoxesAndTellsTheSiteItIsClean) {
    settings = {3, 1, 1, 1};
    Open();
    const std::vector<std::string> expected = {
        "read object 0",   "ports filled with 16", "ports select 3", "speeds filled with 5",
        "speeds select 1", "adapter ticked",       "fast ticked",    "trace clear",
        "site status 0",   "notes",                "find button: Найти терминал", "search status: ",
    };
    EXPECT_EQ(log, expected);
    EXPECT_EQ(controls.portSelected, 3);
    EXPECT_EQ(controls.speedSelected, 1);
    EXPECT_FALSE(page.IsDirty());
}

TEST_F(PageTest, TheListsHoldThePortNamesAndTheFiveFastestSpeeds) {
    Open();
    ASSERT_EQ(controls.ports.size(), 16u);
    EXPECT_EQ(controls.ports.front(), "COM1");
    EXPECT_EQ(controls.ports.back(), "COM16");
    EXPECT_EQ(controls.speeds, (std::vector<std::string>{"115200", "57600", "38400", "19200", "9600"}));
    EXPECT_NE(controls.notes.find("Quillomat"), std::string::npos);
}

// Each entry names its port: Apply stores the port of the entry chosen, not
// the entry's place in the list.
TEST_F(PageTest, ThePortListHasCom1ToCom16ThenThePresentPortsAboveThenAnAbsentStoredPortAndApplyStoresThePortChosen) {
    portMap.names = {"COM41", "COM3", "COM23", "\\Device\\Serial0", "COM300"};
    settings = {29, 0, 0};  // COM30, not present now
    Open();
    std::vector<std::string> expected;
    for (int port = 1; port <= 16; ++port) expected.push_back("COM" + std::to_string(port));
    for (const char* above : {"COM23", "COM41", "COM30"}) expected.push_back(above);
    EXPECT_EQ(controls.ports, expected);
    EXPECT_EQ(controls.portSelected, 18) << "the stored COM30, last";

    controls.portSelected = 16;
    page.Command(IDC_PORT_LIST, kNotifySelectionChanged);
    page.Apply();
    EXPECT_EQ(settings.Port, 22) << "COM23";
    EXPECT_EQ(bench.line.OpenedNames(), std::vector<std::string>{"COM23"});
    controls.portSelected = 2;
    page.Apply();
    EXPECT_EQ(settings.Port, 2) << "COM3 in its place";
}

TEST_F(PageTest, APortAboveCom16ThatTheSearchFindsIsListedSelectedAndStoredByApply) {
    Open();
    page.Command(IDC_FIND_TERMINAL, kNotifyClicked);
    search.status = {SearchState::Found, ConnectionSettings{40, 4, 0}};
    page.Poll();
    ASSERT_EQ(controls.ports.size(), 17u);
    EXPECT_EQ(controls.ports.back(), "COM41");
    EXPECT_EQ(controls.portSelected, 16);
    EXPECT_EQ(controls.searchStatus, "Найден: COM41, 9600 бод");
    page.Apply();
    EXPECT_EQ(settings, (ConnectionSettings{40, 4, 0}));
}

TEST_F(PageTest, AnAdapterFlagOtherThanOneStillTicksItsBoxAndAFastFlagOtherThanOneDoesNot) {
    settings = {0, 0, 2, 2};
    Open();
    EXPECT_TRUE(controls.ticked);
    EXPECT_FALSE(controls.fastTicked) << "any fast exchange value but 1 is the standard pace";
}

// The two boxes that keep a flag: what each shows, and what Apply stores.
TEST_F(PageTest, EachFlagsBoxShowsTheFlagAndApplyStoresIt) {
    const struct {
        const char* sentence;
        int32_t ConnectionSettings::*flag;
        bool FakeControls::*box;
        int32_t control;
        int32_t stored;
        bool clickedTo;
        int32_t applied;
    } cases[] = {
        {"ticking the fast exchange box turns fast exchange on", &ConnectionSettings::FastExchange,
         &FakeControls::fastTicked, IDC_FAST_EXCHANGE, 0, true, 1},
        {"clearing the fast exchange box turns it off", &ConnectionSettings::FastExchange, &FakeControls::fastTicked,
         IDC_FAST_EXCHANGE, 1, false, 0},
        {"ticking the trace box turns the trace on", &ConnectionSettings::Trace, &FakeControls::traceTicked, IDC_TRACE,
         0, true, 1},
        {"clearing the trace box turns the trace off", &ConnectionSettings::Trace, &FakeControls::traceTicked,
         IDC_TRACE, 1, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sentence);
        PageBench p;
        p.settings = {2, 0, 0};
        p.settings.*c.flag = c.stored;
        p.Open();
        EXPECT_EQ(p.controls.*c.box, c.stored == 1);
        p.controls.*c.box = c.clickedTo;
        p.page.Command(c.control, kNotifyClicked);
        EXPECT_TRUE(p.page.IsDirty());
        EXPECT_EQ(p.settings.*c.flag, c.stored) << "nothing stored before Apply";
        p.page.Apply();
        ConnectionSettings applied{2, 0, 0};
        applied.*c.flag = c.applied;
        EXPECT_EQ(p.settings, applied);
        EXPECT_FALSE(p.page.IsDirty());
        EXPECT_EQ(p.bench.line.OpenedNames(), std::vector<std::string>{"COM3"}) << "the port is reopened";
    }
}

TEST_F(PageTest, AFirstObjectWithoutTheFastFlagKeepsThisRecordsFlagAndIsWrittenTheRest) {
    ConnectionSettings other{7, 2, 1, 5};  // 5: a flag the object does not offer
    frame.objects = {{&other, false}};
    settings = {0, 0, 0, 1};
    Open();
    EXPECT_EQ(settings, (ConnectionSettings{7, 2, 1, 1})) << "port, speed and adapter from the object";
    EXPECT_TRUE(controls.fastTicked) << "the box shows this component's own flag";

    controls.portSelected = 9;
    controls.fastTicked = false;
    page.Command(IDC_FAST_EXCHANGE, kNotifyClicked);
    page.Apply();
    EXPECT_EQ(other, (ConnectionSettings{9, 2, 1, 5})) << "the object takes what it offers";
}

TEST_F(PageTest, AnotherComponentAsFirstObjectLendsItsSettingsAndReceivesTheChoice) {
    ConnectionSettings other{7, 2, 1};
    frame.objects = {{&other}, {&settings}};
    Open();
    EXPECT_EQ(settings, (ConnectionSettings{7, 2, 1})) << "copied into this component's record";
    EXPECT_EQ(controls.portSelected, 7);

    controls.portSelected = 9;
    page.Command(IDC_PORT_LIST, kNotifySelectionChanged);
    page.Apply();

    EXPECT_EQ(other, (ConnectionSettings{9, 2, 1})) << "the choice goes to the first object";
    EXPECT_EQ(settings, (ConnectionSettings{7, 2, 1})) << "this record is not the first object's";
    EXPECT_EQ(bench.line.OpenedNames(), std::vector<std::string>{"COM8"}) << "this component's port, its record";
}

TEST(SettingsPage, WithoutAnObjectOfferingSettingsThePageShowsTheRecordAndApplyStoresNothing) {
    const struct {
        const char* sentence;
        bool anyObject;
        std::vector<std::string> exchanges;
    } cases[] = {
        {"no objects: nobody is asked", false, {}},
        {"a first object without settings: it is asked, and refuses", true,
         {"read object 0", "write object 0: 9 4 0 0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sentence);
        PageBench p;
        ConnectionSettings second{};
        p.frame.objects.clear();
        if (c.anyObject) p.frame.objects = {{nullptr}, {&second}};
        p.settings = {2, 3, 1};
        p.Open();
        EXPECT_EQ(p.controls.portSelected, 2);
        EXPECT_EQ(p.controls.speedSelected, 3);
        EXPECT_TRUE(p.controls.ticked);

        p.controls.portSelected = 9;
        p.controls.speedSelected = 4;
        p.controls.ticked = false;
        p.page.Command(IDC_PORT_LIST, kNotifySelectionChanged);
        p.page.Apply();

        std::vector<std::string> exchanges;
        for (const std::string& line : p.log)
            if (line.rfind("read", 0) == 0 || line.rfind("write", 0) == 0) exchanges.push_back(line);
        EXPECT_EQ(exchanges, c.exchanges);
        EXPECT_EQ(p.settings, (ConnectionSettings{2, 3, 1}));
        EXPECT_EQ(second, ConnectionSettings{}) << "only the first object is asked";
        EXPECT_FALSE(p.page.IsDirty());
        EXPECT_EQ(p.bench.line.OpenedNames(), std::vector<std::string>{"COM3"}) << "the port is reopened all the same";
    }
}

struct CommandCase {
    const char* sentence;
    int32_t control, notification;
    bool dirty;
};

TEST_F(PageTest, ChoosingInAListOrClickingMakesThePageDirtyAndTypingDoesNot) {
    const CommandCase cases[] = {
        {"a new port chosen", IDC_PORT_LIST, kNotifySelectionChanged, true},
        {"a new speed chosen", IDC_SPEED_LIST, kNotifySelectionChanged, true},
        {"the adapter box clicked", IDC_IR_ADAPTER, kNotifyClicked, true},
        {"the fast exchange box clicked", IDC_FAST_EXCHANGE, kNotifyClicked, true},
        {"the trace box clicked", IDC_TRACE, kNotifyClicked, true},
        {"a command with code 0 from anywhere", 1, kNotifyClicked, true},
        {"typing into the port list's edit field", IDC_PORT_LIST, kEditChanged, false},
        {"typing into the speed list's edit field", IDC_SPEED_LIST, kEditUpdated, false},
        {"a selection change from the notes box", IDC_NOTES, kNotifySelectionChanged, false},
        {"the adapter box taking the focus", IDC_IR_ADAPTER, kFocusGained, false},
        {"the fast exchange box taking the focus", IDC_FAST_EXCHANGE, kFocusGained, false},
    };
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.sentence);
        PageBench fresh;
        fresh.Open();
        fresh.TakeLog();
        fresh.page.Command(c.control, c.notification);
        EXPECT_EQ(fresh.page.IsDirty(), c.dirty);
        EXPECT_EQ(fresh.TakeLog(), c.dirty ? std::vector<std::string>{"site status 3"} : std::vector<std::string>{});
    }
}

TEST_F(PageTest, TheSiteHearsOfBecomingDirtyOnceUntilApply) {
    Open();
    TakeLog();
    page.Command(IDC_PORT_LIST, kNotifySelectionChanged);
    page.Command(IDC_SPEED_LIST, kNotifySelectionChanged);
    page.Command(IDC_IR_ADAPTER, kNotifyClicked);
    EXPECT_EQ(TakeLog(), std::vector<std::string>{"site status 3"});

    page.Apply();
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"write object 0: 0 0 0 0", "site status 0"}));
    page.Command(IDC_IR_ADAPTER, kNotifyClicked);
    EXPECT_EQ(TakeLog(), std::vector<std::string>{"site status 3"}) << "dirty again after Apply";
}

TEST_F(PageTest, ApplyStoresTheChoiceThenMarksCleanThenReopensThePort) {
    settings = {1, 0, 0};
    Open();
    ASSERT_EQ(bench.link.OpenPort(settings), 1);
    ASSERT_EQ(bench.line.OpenedNames(), std::vector<std::string>{"COM2"});
    controls.portSelected = 4;
    controls.speedSelected = 2;
    controls.ticked = true;
    page.Command(IDC_SPEED_LIST, kNotifySelectionChanged);
    TakeLog();

    page.Apply();

    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"write object 0: 4 2 1 0", "site status 0"}));
    EXPECT_EQ(settings, (ConnectionSettings{4, 2, 1}));
    EXPECT_FALSE(page.IsDirty());
    EXPECT_FALSE(bench.line.OpenedWhileOpen()) << "the open port is closed first";
    EXPECT_EQ(bench.state.result, code::kCannotConfigureIrAdapter) << "the adapter is asked for, and absent";
    EXPECT_EQ(bench.line.OpenedNames(), (std::vector<std::string>{"COM2", "COM5"}));
    EXPECT_EQ(bench.line.Configured().back().baudRate, 38400u);
}

TEST_F(PageTest, ApplyOnACleanPageTellsTheSiteNothingAndStillReopensThePort) {
    settings = {2, 0, 0};
    Open();
    TakeLog();
    page.Apply();
    EXPECT_EQ(TakeLog(), std::vector<std::string>{"write object 0: 2 0 0 0"});
    EXPECT_EQ(bench.line.OpenedNames(), std::vector<std::string>{"COM3"}) << "even with no script attached";
    EXPECT_EQ(bench.state.result, code::kSuccess);
}

TEST_F(PageTest, AnApplyThatCannotOpenThePortLeavesItsCodeInTheResult) {
    bench.line.failOpen = true;
    Open();
    page.Apply();
    EXPECT_EQ(bench.state.result, code::kCannotOpenPort);
    EXPECT_FALSE(page.IsDirty());
}

TEST_F(PageTest, AnUntouchedListStoresThePortItShowsAndMinusOneWhereItShowsNothing) {
    const struct {
        const char* sentence;
        ConnectionSettings stored, applied;
        const char* port;
        uint32_t baud;
    } cases[] = {
        {"port 20, COM21, is listed though absent, kept and opened", {20, 0, 0}, {20, 0, 0}, "COM21", 115200},
        {"port 255, COM256, likewise", {255, 0, 0}, {255, 0, 0}, "COM256", 115200},
        {"port 256 names no port: no entry, and COM1 opens", {256, 0, 0}, {-1, 0, 0}, "COM1", 115200},
        {"speed 5 (4800 baud) has no entry and opens at 9600", {0, 5, 0}, {0, -1, 0}, "COM1", 9600},
        {"port -3 has no entry either", {-3, 1, 0}, {-1, 1, 0}, "COM1", 57600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sentence);
        PageBench fresh;
        fresh.settings = c.stored;
        fresh.Open();
        fresh.page.Command(IDC_IR_ADAPTER, kNotifyClicked);
        fresh.page.Apply();
        EXPECT_EQ(fresh.settings, c.applied);
        EXPECT_EQ(fresh.bench.line.OpenedNames(), std::vector<std::string>{c.port});
        EXPECT_EQ(fresh.bench.line.Configured().at(0).baudRate, c.baud);
    }
}

TEST_F(PageTest, ApplyBeforeAnyWindowKeepsTheRecordAndReopensThePort) {
    settings = {6, 2, 1};
    page.Apply();
    EXPECT_EQ(log, std::vector<std::string>{}) << "no control read, no object written, no status";
    EXPECT_EQ(settings, (ConnectionSettings{6, 2, 1}));
    EXPECT_EQ(bench.line.OpenedNames(), std::vector<std::string>{"COM7"});
}

TEST_F(PageTest, AChoiceLeftDirtyWhenTheWindowClosedIsStoredByALaterApply) {
    Open();
    controls.portSelected = 11;
    page.Command(IDC_PORT_LIST, kNotifySelectionChanged);
    page.WindowClosing();
    page.WindowClosed();
    controls.portSelected = 0;  // the controls are gone; nothing may read them now
    EXPECT_TRUE(page.IsDirty()) << "the frame still learns that the page has changes";

    page.Apply();
    EXPECT_EQ(settings.Port, 11);
    EXPECT_EQ(bench.line.OpenedNames(), std::vector<std::string>{"COM12"});

    settings.Port = 3;
    page.Apply();
    EXPECT_EQ(settings.Port, 3) << "the kept choice is stored once";
}

TEST_F(PageTest, ACleanPageClosedKeepsNothingToStore) {
    settings = {5, 0, 0};
    Open();
    page.WindowClosing();
    page.WindowClosed();
    settings.Port = 8;
    page.Apply();
    EXPECT_EQ(settings.Port, 8);
}

TEST_F(PageTest, ReopeningTheWindowShowsTheObjectAgainAndForgetsAKeptChoice) {
    Open();
    controls.portSelected = 11;
    page.Command(IDC_PORT_LIST, kNotifySelectionChanged);
    page.WindowClosing();
    page.WindowClosed();
    TakeLog();

    Open();
    EXPECT_FALSE(page.IsDirty());
    EXPECT_EQ(controls.portSelected, 0);
    const std::vector<std::string> log = TakeLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), "site status 0"), 2) << "clean, and the opening's own notice";
    page.Apply();
    EXPECT_EQ(settings.Port, 0);
}

// --- A terminal call holding the component's call lock --------------------------------

// Only the site's statuses, in order.
std::vector<std::string> SiteStatuses(const std::vector<std::string>& log) {
    std::vector<std::string> statuses;
    for (const std::string& line : log)
        if (line.rfind("site status", 0) == 0) statuses.push_back(line);
    return statuses;
}

TEST_F(PageTest, AWindowOpenedDuringACallShowsNoChoiceUntilTheCallHasEndedThenTheSettings) {
    settings = {3, 1, 1, 1};
    locks.call.busy = true;
    EXPECT_FALSE(page.WindowOpened(controls)) << "something is left for later";
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"ports filled with 16", "speeds filled with 5", "disabled",
                                                   "notes", "find button: Найти терминал", "search status: "}))
        << "nothing asked, nothing selected, the site not yet told";
    EXPECT_EQ(controls.portSelected, -1);
    EXPECT_FALSE(page.IsDirty());

    EXPECT_FALSE(page.CatchUp()) << "the call goes on";
    EXPECT_EQ(TakeLog(), std::vector<std::string>{});

    locks.call.busy = false;
    EXPECT_TRUE(page.CatchUp());
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"read object 0", "ports select 3", "speeds select 1",
                                                   "adapter ticked", "fast ticked", "trace clear", "enabled",
                                                   "site status 0"}));
    EXPECT_TRUE(page.CatchUp()) << "nothing is left";
    EXPECT_EQ(TakeLog(), std::vector<std::string>{});
    EXPECT_FALSE(page.IsDirty());
}

TEST_F(PageTest, SettingsLentByAnotherObjectAsACallStartsAreTakenOnceTheCallHasEnded) {
    ConnectionSettings other{7, 2, 1};
    frame.objects = {{&other}};
    frame.whileReading = [&] { locks.call.busy = true; };  // a script's call starts just then
    EXPECT_FALSE(page.WindowOpened(controls));
    EXPECT_EQ(settings, ConnectionSettings{}) << "not stored while the call holds the lock";
    EXPECT_FALSE(controls.enabled);

    frame.whileReading = nullptr;
    locks.call.busy = false;
    EXPECT_TRUE(page.CatchUp());
    EXPECT_EQ(settings, (ConnectionSettings{7, 2, 1})) << "asked again and taken";
    EXPECT_EQ(controls.portSelected, 7);
    EXPECT_TRUE(controls.enabled);
}

TEST_F(PageTest, AChangeDuringACallMakesThePageDirtyAtOnceAndReachesTheSiteOnceTheCallHasEnded) {
    Open();
    TakeLog();
    locks.call.busy = true;
    EXPECT_FALSE(page.Command(IDC_IR_ADAPTER, kNotifyClicked));
    EXPECT_TRUE(page.IsDirty());
    EXPECT_FALSE(page.Command(IDC_PORT_LIST, kNotifySelectionChanged)) << "the site is still owed the change";
    EXPECT_EQ(TakeLog(), std::vector<std::string>{});

    locks.call.busy = false;
    EXPECT_TRUE(page.CatchUp());
    EXPECT_EQ(TakeLog(), std::vector<std::string>{"site status 3"}) << "once";
}

TEST_F(PageTest, ApplyDuringACallWaitsForItThenStoresTheChoiceMarksCleanAndReopensThePort) {
    settings = {1, 0, 0};
    Open();
    controls.portSelected = 4;
    page.Command(IDC_PORT_LIST, kNotifySelectionChanged);
    TakeLog();
    locks.call.busy = true;

    page.Apply();

    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"waited for the call to end", "write object 0: 4 0 0 0",
                                                   "site status 0"}));
    EXPECT_EQ(settings, (ConnectionSettings{4, 0, 0}));
    EXPECT_FALSE(page.IsDirty());
    EXPECT_EQ(bench.line.OpenedNames(), std::vector<std::string>{"COM5"});
}

TEST_F(PageTest, ApplyBeforeTheSettingsAreShownKeepsTheRecordAndTellsTheSiteWhatItIsOwed) {
    settings = {6, 2, 1};
    locks.call.busy = true;
    page.WindowOpened(controls);
    page.Command(IDC_IR_ADAPTER, kNotifyClicked);
    TakeLog();

    page.Apply();

    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"waited for the call to end", "site status 0", "site status 3",
                                                   "site status 0"}))
        << "the opening, the change and the Apply, in order; nothing stored";
    EXPECT_EQ(settings, (ConnectionSettings{6, 2, 1}));
    EXPECT_EQ(bench.line.OpenedNames(), std::vector<std::string>{"COM7"});

    EXPECT_TRUE(page.CatchUp());
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"read object 0", "ports select 6", "speeds select 2",
                                                   "adapter ticked", "fast clear", "trace clear", "enabled"}));
}

TEST_F(PageTest, AChoiceThatCannotBeReadIsNotStored) {
    settings = {2, 1, 0};
    Open();
    controls.portSelected = 9;
    page.Command(IDC_PORT_LIST, kNotifySelectionChanged);
    controls.unreadable = true;  // the window's thread does not answer
    TakeLog();

    page.Apply();

    EXPECT_EQ(SiteStatuses(TakeLog()), std::vector<std::string>{"site status 0"});
    EXPECT_EQ(settings, (ConnectionSettings{2, 1, 0})) << "neither -1 nor 0 stored for what could not be read";
    EXPECT_EQ(bench.line.OpenedNames(), std::vector<std::string>{"COM3"});
}

// --- The trace box --------------------------------------------------------------------

TEST_F(PageTest, TheNotesSayFirstWhereTheTraceGoesOrWhyItIsNotWritten) {
    Open();
    EXPECT_EQ(controls.notes.rfind("Quillomat 4.0.9.1", 0), 0u) << "the trace off: the notes as they were";
    trace.notice = {TraceNotice::State::Writing, TraceNotice::Cause::None, "C:\\Users\\kassa\\trace.log"};
    page.Poll();
    EXPECT_EQ(controls.notes.rfind("Журнал обмена пишется в файл C:\\Users\\kassa\\trace.log.\r\nQuillomat", 0), 0u)
        << controls.notes;
    trace.notice.state = TraceNotice::State::Dropped;
    trace.notice.cause = TraceNotice::Cause::NoFolder;
    TakeLog();
    page.Poll();
    EXPECT_EQ(controls.notes.rfind("Журнал обмена не записывается (нет папки): C:\\Users", 0), 0u) << controls.notes;
    page.Poll();
    EXPECT_EQ(TakeLog(), std::vector<std::string>{"notes"}) << "the notes are set again only when they change";
    EXPECT_FALSE(page.IsDirty());
}

// --- Finding the terminal -------------------------------------------------------------

TEST_F(PageTest, TheFindButtonStartsASearchThatShowsWhatItTriesAndASecondPressStopsIt) {
    Open();
    TakeLog();
    page.Command(IDC_FIND_TERMINAL, kNotifyClicked);
    EXPECT_EQ(search.starts, 1);
    EXPECT_EQ(controls.findButton, "Остановить");
    EXPECT_EQ(controls.searchStatus, "Поиск: COM1, 115200 бод");
    EXPECT_FALSE(page.IsDirty()) << "the press itself changes nothing";

    search.status.settings = ConnectionSettings{6, 0, 1};
    page.Poll();
    EXPECT_EQ(controls.searchStatus, "Поиск: COM7, ИК-адаптер");
    page.Poll();
    std::vector<std::string> log = TakeLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), "search status: Поиск: COM7, ИК-адаптер"), 1);

    page.Command(IDC_FIND_TERMINAL, kNotifyClicked);
    EXPECT_EQ(search.stops, 1);
    EXPECT_EQ(search.starts, 1);
    search.status.state = SearchState::Stopped;
    page.Poll();
    EXPECT_EQ(controls.findButton, "Найти терминал");
    EXPECT_EQ(controls.searchStatus, "Поиск остановлен");
    EXPECT_EQ(controls.portSelected, 0) << "nothing found, nothing changed";
    EXPECT_FALSE(page.IsDirty());
}

TEST_F(PageTest, WhatTheSearchFindsGoesIntoTheControlsAsAChangeAndIsStoredOnlyByApply) {
    settings = {0, 0, 0, 1, 0};
    Open();
    page.Command(IDC_FIND_TERMINAL, kNotifyClicked);
    TakeLog();
    search.status = {SearchState::Found, ConnectionSettings{13, 2, 1, 1, 0}};
    page.Poll();

    EXPECT_EQ(controls.portSelected, 13);
    EXPECT_EQ(controls.speedSelected, 2) << "the rate the adapter answered at";
    EXPECT_TRUE(controls.ticked);
    EXPECT_EQ(controls.searchStatus, "Найден: COM14, ИК-адаптер");
    EXPECT_EQ(controls.findButton, "Найти терминал");
    EXPECT_TRUE(page.IsDirty());
    const std::vector<std::string> log = TakeLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), "site status 3"), 1) << "Apply is enabled";
    EXPECT_EQ(settings, (ConnectionSettings{0, 0, 0, 1, 0})) << "nothing stored yet";

    page.Poll();
    EXPECT_TRUE(TakeLog().empty()) << "a found terminal is put in once";

    page.Apply();
    EXPECT_EQ(settings, (ConnectionSettings{13, 2, 1, 1, 0}));
}

TEST_F(PageTest, ASearchThatFindsNothingSaysSoAndChangesNothing) {
    settings = {4, 1, 0};
    Open();
    page.Command(IDC_FIND_TERMINAL, kNotifyClicked);
    search.status.state = SearchState::NothingAnswered;
    page.Poll();
    EXPECT_EQ(controls.searchStatus, "Терминал не найден");
    EXPECT_EQ(controls.findButton, "Найти терминал");
    EXPECT_EQ(controls.portSelected, 4);
    EXPECT_FALSE(page.IsDirty());
}

TEST_F(PageTest, ClosingTheWindowStopsTheSearchItStartedAndANewWindowShowsOneStillRunning) {
    Open();
    page.Command(IDC_FIND_TERMINAL, kNotifyClicked);
    page.WindowClosing();
    page.WindowClosed();
    EXPECT_EQ(search.stops, 1);
    page.Poll();  // no window: nothing to show

    Open();
    EXPECT_EQ(controls.findButton, "Остановить") << "the search has not ended yet";
    search.status = {SearchState::Found, ConnectionSettings{9, 4, 0}};
    page.Poll();
    EXPECT_EQ(controls.portSelected, 9);
    EXPECT_TRUE(page.IsDirty());
}

TEST_F(PageTest, APressWhileAnotherSearchRunsStartsNothing) {
    Open();
    search.refuses = true;
    page.Command(IDC_FIND_TERMINAL, kNotifyClicked);
    EXPECT_EQ(controls.findButton, "Найти терминал");
    EXPECT_EQ(controls.searchStatus, "");
    page.Poll();
    EXPECT_FALSE(page.IsDirty());
}

TEST(SettingsPage, TheSearchLineNamesThePortAndTheSpeedOrTheAdapter) {
    const struct {
        SearchStatus status;
        const char* text;
    } cases[] = {
        {{SearchState::Idle, {}}, ""},
        {{SearchState::Searching, {2, 4, 0}}, "Поиск: COM3, 9600 бод"},
        {{SearchState::Searching, {15, 0, 1}}, "Поиск: COM16, ИК-адаптер"},
        {{SearchState::Found, {0, 1, 0}}, "Найден: COM1, 57600 бод"},
        {{SearchState::NothingAnswered, {}}, "Терминал не найден"},
        {{SearchState::Stopped, {}}, "Поиск остановлен"},
    };
    for (const auto& c : cases) EXPECT_EQ(SearchStatusText(c.status), c.text);
}

// --- A search holding the call lock ---------------------------------------------------

TEST_F(PageTest, WhileTheSearchHoldsTheCallLockItsLineFollowsItAndTheButtonStopsItWithoutWaiting) {
    Open();
    page.Command(IDC_FIND_TERMINAL, kNotifyClicked);
    TakeLog();
    locks.call.busy = true;  // the search has taken the call lock on its thread

    search.status.settings = ConnectionSettings{5, 4, 0};
    EXPECT_TRUE(page.Poll());
    EXPECT_EQ(controls.searchStatus, "Поиск: COM6, 9600 бод");
    EXPECT_FALSE(page.Command(IDC_IR_ADAPTER, kNotifyClicked)) << "the site hears of a change after the search";
    EXPECT_TRUE(page.IsDirty());
    page.Command(IDC_FIND_TERMINAL, kNotifyClicked);
    EXPECT_EQ(search.stops, 1);
    EXPECT_EQ(TakeLog(),
              (std::vector<std::string>{"find button: Остановить", "search status: Поиск: COM6, 9600 бод"}))
        << "nothing waited for, the site not told while the search holds the lock";

    search.status.state = SearchState::Stopped;
    locks.call.busy = false;
    EXPECT_TRUE(page.Poll());
    EXPECT_TRUE(page.CatchUp());
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"find button: Найти терминал", "search status: Поиск остановлен",
                                                   "site status 3"}));
}

TEST_F(PageTest, AWindowOpenedDuringASearchShowsItAndPutsWhatItFoundOverTheSettingsOnceTheyAreShown) {
    settings = {0, 0, 0, 1, 0};
    search.status = {SearchState::Searching, ConnectionSettings{3, 1, 0}};  // started from an earlier window
    locks.call.busy = true;
    EXPECT_FALSE(page.WindowOpened(controls));
    EXPECT_FALSE(controls.enabled) << "the lists and boxes, not the find button";
    EXPECT_EQ(controls.findButton, "Остановить");
    EXPECT_EQ(controls.searchStatus, "Поиск: COM4, 57600 бод");

    // The search has ended, but a script's call holds the lock now.
    search.status = {SearchState::Found, ConnectionSettings{13, 2, 1, 1, 0}};
    EXPECT_FALSE(page.Poll()) << "the settings are not shown yet";
    EXPECT_EQ(controls.searchStatus, "Найден: COM14, ИК-адаптер");
    EXPECT_EQ(controls.portSelected, -1);
    EXPECT_FALSE(page.IsDirty());

    locks.call.busy = false;
    EXPECT_FALSE(page.Poll()) << "still waiting for CatchUp to show the settings";
    EXPECT_TRUE(page.CatchUp());
    EXPECT_EQ(controls.portSelected, 0) << "the record first";
    EXPECT_TRUE(page.Poll());
    EXPECT_EQ(controls.portSelected, 13) << "then what was found, over it";
    EXPECT_EQ(controls.speedSelected, 2);
    EXPECT_TRUE(controls.ticked);
    EXPECT_TRUE(controls.fastTicked) << "the fast exchange box as the record has it";
    EXPECT_TRUE(page.IsDirty());
    EXPECT_EQ(SiteStatuses(TakeLog()), (std::vector<std::string>{"site status 0", "site status 3"}));

    page.Apply();
    EXPECT_EQ(settings, (ConnectionSettings{13, 2, 1, 1, 0}));
}

}  // namespace
}  // namespace quill
