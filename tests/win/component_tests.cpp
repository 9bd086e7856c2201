// The component as the host sees it, through Quillomat.dll loaded from the
// test program's directory: its life from Init to Done, the extension
// tables, the properties, the dispatch paths that need no terminal, the
// class factory, aggregation and the unload rule. No COM port exists in the
// test prefix, so every open fails.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <initializer_list>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "component/table_answers.h"
#include "tests/result_message_table.h"
#include "tests/win/test_host.h"

namespace quill::test {
namespace {

constexpr LONG kJunk = static_cast<LONG>(0xdeadbeef);

// Script property and method numbers, as the host knows them.
enum Property : LONG {
    kResult = 0,
    kResultDescription = 1,
    kData = 2,
    kEnabled = 3,
    kField1 = 4,
    kField2 = 5,
    kField3 = 6,
    kField6 = 9,
};
constexpr LONG kPropertyCount = 10;

enum Method : LONG {
    kAttach = 0,
    kDeattach = 1,
    kPing = 2,
    kGetRecordsCount = 9,
    kClearDoc = 10,
    kGetData = 12,
    kShowProgress = 16,
};

// Port indices whose ports do not exist in the test prefix (COM6, COM14).
// COM1 (index 0) opens: a simulated terminal that never answers sits there.
constexpr LONG kMissingPorts[] = {5, 13};

const std::vector<std::string> kEveryHostInterfaceAsked = {
    "QueryInterface IErrorLog",
    "QueryInterface IAsyncEvent",
    "QueryInterface IStatusLine",
    "QueryInterface IPropertyProfile",
};

// The connection settings as IConnectionSettings reports them.
struct PortSettings {
    LONG port = kJunk, speed = kJunk, irda = kJunk;
    bool operator==(const PortSettings& other) const {
        return port == other.port && speed == other.speed && irda == other.irda;
    }
};

std::ostream& operator<<(std::ostream& out, const PortSettings& s) {
    return out << "{port " << s.port << ", speed " << s.speed << ", irda " << s.irda << "}";
}

class ComponentTest : public ::testing::Test {
protected:
    explicit ComponentTest(Offer offer = Offer()) : connection(offer) {}

    void SetUp() override {
        component = Module::Get().CreateComponent();
        ASSERT_TRUE(component) << "no component from " << Utf8(Module::Get().path().c_str(), Module::Get().path().size());
        extender = component.query<ILanguageExtender>();
        settings = component.query<IConnectionSettings>();
        ASSERT_TRUE(extender);
        ASSERT_TRUE(settings);
    }

    void TearDown() override {
        settings.reset();
        extender.reset();
        component.reset();
        EXPECT_EQ(S_OK, Module::Get().CanUnloadNow()) << "the test left something alive";
    }

    HRESULT Init() { return component->Init(&connection); }
    size_t LogMark() const { return connection.log.events.size(); }
    std::vector<std::string> LogSince(size_t mark) const { return connection.log.Since(mark); }

    HRESULT Write(LONG property, const win::unique_variant& value) {
        return extender->SetPropVal(property, const_cast<VARIANT*>(value.get()));
    }
    win::unique_variant Read(LONG property) {
        win::unique_variant value;
        EXPECT_EQ(S_OK, extender->GetPropVal(property, value.get())) << "property " << property;
        return value;
    }
    LONG ReadInt(LONG property) {
        const win::unique_variant value = Read(property);
        EXPECT_EQ(VT_I4, value.type()) << "property " << property;
        return value->lVal;
    }
    std::string ReadText(LONG property) {
        const win::unique_variant value = Read(property);
        EXPECT_EQ(VT_BSTR, value.type()) << "property " << property;
        return value.type() == VT_BSTR ? Utf8(value->bstrVal) : std::string();
    }
    void SetResult(LONG code) { ASSERT_EQ(S_OK, Write(kResult, IntValue(code))); }

    PortSettings CurrentSettings() {
        PortSettings current;
        EXPECT_EQ(S_OK, settings->GetSettings(&current.port, &current.speed, &current.irda));
        return current;
    }

    // A call with its parameters in a VARIANT array.
    struct Call {
        HRESULT hr;
        win::unique_variant value;
    };
    Call CallWithArray(LONG method, SAFEARRAY** parameters) {
        Call call{S_OK, IntValue(kJunk)};
        call.hr = extender->CallAsFunc(method, call.value.get(), parameters);
        return call;
    }
    Call CallFunction(LONG method, std::initializer_list<const win::unique_variant*> parameters) {
        VariantArray array(static_cast<ULONG>(parameters.size()));
        LONG index = 0;
        for (const win::unique_variant* parameter : parameters) array.Set(index++, *parameter->get());
        return CallWithArray(method, array.put());
    }
    HRESULT CallProcedure(LONG method, std::initializer_list<const win::unique_variant*> parameters) {
        VariantArray array(static_cast<ULONG>(parameters.size()));
        LONG index = 0;
        for (const win::unique_variant* parameter : parameters) array.Set(index++, *parameter->get());
        return extender->CallAsProc(method, array.put());
    }

    FakeConnection connection;
    win::com_ptr<IInitDone> component;
    win::com_ptr<ILanguageExtender> extender;
    win::com_ptr<IConnectionSettings> settings;
};

// --- Life from Init to Done ---------------------------------------------------

TEST_F(ComponentTest, InitAsksForTheHostInterfacesInOrderThenRegistersAndReadsTheProfile) {
    ASSERT_EQ(S_OK, Init());

    std::vector<std::string> expected = kEveryHostInterfaceAsked;
    expected.insert(expected.end(), {"RegisterProfileAs Quillomat VDX AddIn Profile Name", "Read Port:0",
                                     "Read Speed:0", "Read IsIrDA:0", "Read FastExchange:0", "Read Trace:0"});
    EXPECT_EQ(expected, connection.log.events);
    EXPECT_EQ(1, connection.errorLog.references());
    EXPECT_EQ(1, connection.asyncEvent.references());
    EXPECT_EQ(1, connection.statusLine.references());
    EXPECT_EQ(1, connection.profile.references());
    ASSERT_EQ(S_OK, component->Done());
}

TEST_F(ComponentTest, DoneWritesTheSettingsThenReleasesTheHostInterfacesInOrder) {
    ASSERT_EQ(S_OK, Init());
    const size_t mark = LogMark();

    EXPECT_EQ(S_OK, component->Done());

    const std::vector<std::string> expected = {
        "Write Port 0",        "Write Speed 0",       "Write IsIrDA 0",      "Write FastExchange 0",
        "Write Trace 0",
        "Release IStatusLine", "Release IPropertyProfile", "Release IAsyncEvent", "Release IErrorLog",
    };
    EXPECT_EQ(expected, LogSince(mark));
    EXPECT_EQ(0, connection.errorLog.references());
    EXPECT_EQ(0, connection.asyncEvent.references());
    EXPECT_EQ(0, connection.statusLine.references());
    EXPECT_EQ(0, connection.profile.references());
    EXPECT_EQ(0, connection.errorLog.calls() + connection.asyncEvent.calls() + connection.statusLine.calls())
        << "the error log, the event queue and the status line are held, never called";
}

TEST_F(ComponentTest, SettingsReadFromTheProfileAreKeptAndWrittenBackAtDone) {
    connection.profile.Store("Port", 3);
    connection.profile.Store("Speed", 1);
    connection.profile.Store("IsIrDA", 7);
    ASSERT_EQ(S_OK, Init());
    EXPECT_EQ((PortSettings{3, 1, 1}), CurrentSettings()) << "the adapter flag is kept as 0 or 1";

    ASSERT_EQ(S_OK, component->Done());
    ASSERT_NE(nullptr, connection.profile.Written("Port"));
    EXPECT_EQ(3, *connection.profile.Written("Port"));
    EXPECT_EQ(1, *connection.profile.Written("Speed"));
    EXPECT_EQ(1, *connection.profile.Written("IsIrDA"));
}

TEST_F(ComponentTest, TheFastExchangeFlagIsOnOnlyForOneAndIsWrittenAsZeroOrOne) {
    const struct {
        const char* sentence;
        LONG stored, kept;
    } cases[] = {{"1 turns it on", 1, 1}, {"0 leaves it off", 0, 0}, {"5 counts as off", 5, 0}};
    const auto pace = component.query<IExchangeSettings>();
    ASSERT_TRUE(pace);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sentence);
        connection.profile.Store("FastExchange", c.stored);
        ASSERT_EQ(S_OK, Init());
        LONG fast = kJunk;
        EXPECT_EQ(S_OK, pace->GetFastExchange(&fast));
        EXPECT_EQ(c.kept, fast);
        ASSERT_EQ(S_OK, component->Done());
        ASSERT_NE(nullptr, connection.profile.Written("FastExchange"));
        EXPECT_EQ(c.kept, *connection.profile.Written("FastExchange"));
    }
}

// --- The wire trace ---------------------------------------------------------------

TEST_F(ComponentTest, TheTraceFlagIsReadAndWrittenLikeTheFastExchangeFlag) {
    const struct {
        const char* sentence;
        LONG stored, kept;
    } cases[] = {{"1 turns it on", 1, 1}, {"0 leaves it off", 0, 0}, {"5 counts as off", 5, 0}};
    const auto trace = component.query<IWireTrace>();
    ASSERT_TRUE(trace);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sentence);
        connection.profile.Store("Trace", c.stored);
        ASSERT_EQ(S_OK, Init());
        LONG flag = kJunk;
        EXPECT_EQ(S_OK, trace->GetTrace(&flag));
        EXPECT_EQ(c.kept, flag);
        ASSERT_EQ(S_OK, component->Done());
        ASSERT_NE(nullptr, connection.profile.Written("Trace"));
        EXPECT_EQ(c.kept, *connection.profile.Written("Trace"));
    }
    for (const auto& [given, kept] : {std::pair<LONG, LONG>{1, 1}, {0, 0}, {2, 0}, {-1, 0}}) {
        EXPECT_EQ(S_OK, trace->SetTrace(given));
        LONG flag = kJunk;
        EXPECT_EQ(S_OK, trace->GetTrace(&flag));
        EXPECT_EQ(kept, flag) << "given " << given;
    }
    EXPECT_EQ(S_OK, trace->SetTrace(0));
    EXPECT_EQ(E_POINTER, trace->GetTrace(nullptr));
}

// A file of the test's own in the temporary folder, removed at the end.
class TraceFile {
public:
    explicit TraceFile(const std::wstring& name) {
        wchar_t folder[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, folder);
        path_ = std::wstring(folder) + name;
        Remove();
    }
    ~TraceFile() { Remove(); }
    const std::wstring& path() const { return path_; }
    std::string Text() const {
        win::unique_hfile file(::CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
        if (!file) return {};
        std::string text(1 << 16, '\0');
        DWORD read = 0;
        ::ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr);
        text.resize(read);
        return text;
    }
    // The file once it holds `part`, within a few seconds.
    std::string WaitFor(const std::string& part) const {
        for (int tries = 0; tries < 100; ++tries) {
            const std::string text = Text();
            if (text.find(part) != std::string::npos) return text;
            ::Sleep(50);
        }
        return Text();
    }

private:
    void Remove() const {
        ::DeleteFileW(path_.c_str());
        const size_t dot = path_.rfind(L'.');
        ::DeleteFileW((path_.substr(0, dot) + L".1" + path_.substr(dot)).c_str());
    }
    std::wstring path_;
};

struct TraceState {
    LONG state = kJunk;
    std::string file;
};

TraceState StateOf(IWireTrace& trace) {
    TraceState answer;
    win::unique_bstr path;
    EXPECT_EQ(S_OK, trace.GetTraceState(&answer.state, path.put()));
    answer.file = Utf8(path.get());
    return answer;
}

TEST_F(ComponentTest, AHostsTraceFileGetsEveryCallWithItsResultAndTheOpenThatFailed) {
    const TraceFile file(L"quill-component-trace.log");
    ASSERT_EQ(S_OK, Init());
    const auto trace = component.query<IWireTrace>();
    EXPECT_EQ(0, StateOf(*trace.get()).state) << "off by default";
    ASSERT_EQ(S_OK, settings->SetSettings(kMissingPorts[0], 0, 0));
    ASSERT_EQ(S_OK, trace->SetTraceFile(Bstr(Utf8(file.path().c_str(), file.path().size())).get()));
    EXPECT_EQ(1, StateOf(*trace.get()).state);
    EXPECT_EQ(Utf8(file.path().c_str(), file.path().size()), StateOf(*trace.get()).file);

    EXPECT_EQ(0, CallFunction(kAttach, {}).value->lVal);
    EXPECT_EQ(0, CallFunction(kPing, {}).value->lVal);
    ASSERT_EQ(S_OK, component->Done());

    const std::string text = file.WaitFor("trace off");
    for (const char* line : {"call Attach\r\n", " open COM6 failed\r\n", " done Attach: 0, Result 2\r\n",
                             " call Ping\r\n", " done Ping: 0, Result 1\r\n", " trace off\r\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
    EXPECT_NE(text.find("trace on at "), std::string::npos);
    ASSERT_NE(nullptr, connection.profile.Written("Trace"));
    EXPECT_EQ(0, *connection.profile.Written("Trace")) << "a host's file leaves the flag off";
}

TEST_F(ComponentTest, ATraceThatCannotBeWrittenFailsNoCallAndSaysWhy) {
    const TraceFile held(L"quill-held-trace.log");
    win::unique_hfile holder(::CreateFileW(held.path().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder) << "the test holds the file";
    wchar_t folder[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, folder);
    const struct {
        const char* sentence;
        std::wstring path;
    } cases[] = {
        {"a folder that does not exist", std::wstring(folder) + L"quill-no-such-folder\\trace.log"},
        {"a file another program holds", held.path()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sentence);
        ASSERT_EQ(S_OK, Init());
        const auto trace = component.query<IWireTrace>();
        ASSERT_EQ(S_OK, settings->SetSettings(kMissingPorts[1], 0, 0));
        ASSERT_EQ(S_OK, trace->SetTraceFile(Bstr(Utf8(c.path.c_str(), c.path.size())).get()));
        const DWORD start = ::GetTickCount();
        for (int call = 0; call < 20; ++call) {
            const Call attach = CallFunction(kAttach, {});
            EXPECT_EQ(S_OK, attach.hr);
            EXPECT_EQ(0, attach.value->lVal);
            EXPECT_EQ(2, ReadInt(kResult)) << "the call's own outcome, nothing of the trace";
        }
        EXPECT_LT(::GetTickCount() - start, 2000u) << "no call waits for the file";
        TraceState state;
        for (int tries = 0; tries < 60 && (state = StateOf(*trace.get())).state != 2; ++tries) ::Sleep(50);
        EXPECT_EQ(2, state.state) << "dropped";
        EXPECT_EQ(Utf8(c.path.c_str(), c.path.size()), state.file);
        ASSERT_EQ(S_OK, component->Done());
        EXPECT_EQ(0, StateOf(*trace.get()).state) << "Done ends it";
    }
}

// --- The search ---------------------------------------------------------------------

TEST_F(ComponentTest, ASearchStartsOnceRunsBesideTheCallerAndStopsWhenAsked) {
    ASSERT_EQ(S_OK, Init());
    const auto search = component.query<ITerminalSearch>();
    LONG state = kJunk, port = kJunk, speed = kJunk, irda = kJunk;
    EXPECT_EQ(S_OK, search->GetSearchState(&state, &port, &speed, &irda));
    EXPECT_EQ(0, state) << "none yet";

    const DWORD start = ::GetTickCount();
    ASSERT_EQ(S_OK, search->StartSearch());
    EXPECT_LT(::GetTickCount() - start, 200u) << "the call returns at once";
    EXPECT_EQ(S_FALSE, search->StartSearch()) << "one at a time";
    EXPECT_EQ(S_OK, search->GetSearchState(&state, &port, &speed, &irda));
    EXPECT_EQ(1, state);

    ::Sleep(100);
    const DWORD stopped = ::GetTickCount();
    EXPECT_EQ(S_OK, search->StopSearch());
    while (state == 1 && ::GetTickCount() - stopped < 5000) {
        ::Sleep(10);
        search->GetSearchState(&state, &port, &speed, &irda);
    }
    EXPECT_EQ(4, state) << "stopped";
    EXPECT_LT(::GetTickCount() - stopped, 1000u) << "within 300 ms, loosely under Wine";
    EXPECT_EQ(E_POINTER, search->GetSearchState(nullptr, &port, &speed, &irda));
    ASSERT_EQ(S_OK, component->Done());
}

// A search narrowed to ports given: its arguments checked, then watched and
// stopped as any search.
TEST_F(ComponentTest, ANarrowedSearchChecksItsPortsThenRunsAndStopsAsAnyOther) {
    ASSERT_EQ(S_OK, Init());
    const auto narrowed = component.query<ISearchPorts>();
    const auto search = component.query<ITerminalSearch>();
    ASSERT_TRUE(narrowed);
    LONG ports[] = {2, 22};
    EXPECT_EQ(E_INVALIDARG, narrowed->StartSearchOn(-1, ports));
    EXPECT_EQ(E_INVALIDARG, narrowed->StartSearchOn(1025, ports));
    EXPECT_EQ(E_POINTER, narrowed->StartSearchOn(2, nullptr));
    LONG state = kJunk, port = kJunk, speed = kJunk, irda = kJunk;
    EXPECT_EQ(S_OK, search->GetSearchState(&state, &port, &speed, &irda));
    EXPECT_EQ(0, state) << "nothing started by a refused call";

    ASSERT_EQ(S_OK, narrowed->StartSearchOn(2, ports));
    EXPECT_EQ(S_FALSE, search->StartSearch()) << "one at a time, narrowed or not";
    EXPECT_EQ(S_OK, search->StopSearch());
    const DWORD stopped = ::GetTickCount();
    do {
        ::Sleep(10);
        search->GetSearchState(&state, &port, &speed, &irda);
    } while (state == 1 && ::GetTickCount() - stopped < 5000);
    EXPECT_TRUE(state == 3 || state == 4) << "ended: nothing answered on COM3 and COM23, or stopped: " << state;
    ASSERT_EQ(S_OK, component->Done());
}

TEST_F(ComponentTest, AProfileThatRefusesFastExchangeStillGivesTheOtherSettings) {
    connection.profile.Store("Port", 3);
    connection.profile.Store("IsIrDA", 1);
    connection.profile.RefuseRead("FastExchange:0");
    EXPECT_EQ(S_OK, Init()) << "an older profile without the value";
    EXPECT_EQ((PortSettings{3, 0, 1}), CurrentSettings());
    LONG fast = kJunk;
    EXPECT_EQ(S_OK, component.query<IExchangeSettings>()->GetFastExchange(&fast));
    EXPECT_EQ(0, fast) << "the standard pace";
    ASSERT_EQ(S_OK, component->Done());
    EXPECT_EQ(0, *connection.profile.Written("FastExchange"));
}

TEST_F(ComponentTest, TheFastExchangeFlagSetThroughItsInterfaceIsKeptAsZeroOrOne) {
    const auto pace = component.query<IExchangeSettings>();
    ASSERT_TRUE(pace);
    EXPECT_EQ(E_POINTER, pace->GetFastExchange(nullptr));
    for (const auto& [given, kept] : {std::pair<LONG, LONG>{1, 1}, {0, 0}, {2, 0}, {-1, 0}}) {
        EXPECT_EQ(S_OK, pace->SetFastExchange(given));
        LONG fast = kJunk;
        EXPECT_EQ(S_OK, pace->GetFastExchange(&fast));
        EXPECT_EQ(kept, fast) << "given " << given;
    }
    EXPECT_EQ((PortSettings{0, 0, 0}), CurrentSettings()) << "the other settings are not touched";
}

TEST_F(ComponentTest, SettingsAnsweredAsTextAreTakenAsNumbers) {
    connection.profile.Store("Port", 5);
    connection.profile.AnswerAsText(true);
    ASSERT_EQ(S_OK, Init());
    EXPECT_EQ((PortSettings{5, 0, 0}), CurrentSettings());
    ASSERT_EQ(S_OK, component->Done());
}

TEST_F(ComponentTest, SettingsChangedThroughTheInterfaceReachTheProfileOnlyAtDone) {
    ASSERT_EQ(S_OK, Init());
    ASSERT_EQ(S_OK, settings->SetSettings(15, 0, 2));
    EXPECT_EQ((PortSettings{15, 0, 2}), CurrentSettings()) << "stored as given";
    EXPECT_EQ(nullptr, connection.profile.Written("Port"));

    ASSERT_EQ(S_OK, component->Done());
    EXPECT_EQ(15, *connection.profile.Written("Port"));
    EXPECT_EQ(0, *connection.profile.Written("Speed"));
    EXPECT_EQ(1, *connection.profile.Written("IsIrDA")) << "the flag is written as 0 or 1";
}

TEST_F(ComponentTest, AFailingProfileReadEndsInitWithEFailAndLeavesTheRest) {
    ASSERT_EQ(S_OK, settings->SetSettings(9, 4, 1));
    SetResult(5);
    ASSERT_EQ(S_OK, Write(kData, TextValue("до")));
    connection.profile.Store("Port", 3);
    connection.profile.RefuseRead("Speed:0");

    EXPECT_EQ(E_FAIL, Init());

    std::vector<std::string> expected = kEveryHostInterfaceAsked;
    expected.insert(expected.end(),
                    {"RegisterProfileAs Quillomat VDX AddIn Profile Name", "Read Port:0", "Read Speed:0"});
    EXPECT_EQ(expected, connection.log.events) << "no read after the failing one";
    EXPECT_EQ((PortSettings{3, 4, 1}), CurrentSettings()) << "the port was loaded, the rest kept";
    EXPECT_EQ(5, ReadInt(kResult));
    EXPECT_EQ("до", ReadText(kData));
    EXPECT_EQ(1, connection.profile.references()) << "held until Done";

    EXPECT_EQ(S_OK, component->Done());
    EXPECT_EQ(0, connection.profile.references());
    EXPECT_EQ(0, connection.errorLog.references());
}

TEST_F(ComponentTest, RepeatedInitDoesNotPileUpHostReferences) {
    ASSERT_EQ(S_OK, Init());
    ASSERT_EQ(S_OK, Init());
    EXPECT_EQ(1, connection.profile.references());
    EXPECT_EQ(1, connection.errorLog.references());
    ASSERT_EQ(S_OK, component->Done());
}

TEST_F(ComponentTest, AnObjectLetGoWithoutDoneStillReleasesTheHostInterfaces) {
    ASSERT_EQ(S_OK, Init());
    settings.reset();
    extender.reset();
    component.reset();
    EXPECT_EQ(0, connection.profile.references());
    EXPECT_EQ(0, connection.statusLine.references());
    EXPECT_EQ(0, connection.asyncEvent.references());
    EXPECT_EQ(0, connection.errorLog.references());
}

TEST_F(ComponentTest, StateRightAfterInit) {
    SetResult(7);
    ASSERT_EQ(S_OK, Write(kData, TextValue("старые данные")));
    ASSERT_EQ(S_OK, Write(kField2, TextValue("поле")));
    ASSERT_EQ(S_OK, Write(kField6, IntValue(6)));

    ASSERT_EQ(S_OK, Init());

    EXPECT_EQ(1, ReadInt(kResult));
    EXPECT_EQ("COM порт не инициализирован!", ReadText(kResultDescription));
    EXPECT_EQ(0, ReadInt(kEnabled));
    EXPECT_EQ("", ReadText(kData));
    for (LONG field = kField1; field <= kField6; ++field) EXPECT_EQ("", ReadText(field)) << "property " << field;
    ASSERT_EQ(S_OK, component->Done());
}

TEST_F(ComponentTest, StateAfterDone) {
    ASSERT_EQ(S_OK, Init());
    SetResult(7);
    ASSERT_EQ(S_OK, component->Done());
    EXPECT_EQ(0, ReadInt(kEnabled));
    EXPECT_EQ(0, ReadInt(kResult));
}

TEST_F(ComponentTest, InitWithoutAConnectionObjectWorksWithoutHostInterfaces) {
    EXPECT_EQ(S_OK, component->Init(nullptr));
    EXPECT_EQ(1, ReadInt(kResult));
    EXPECT_EQ(S_OK, component->Done());
}

class ConnectionWithOnlyAProfile : public ComponentTest {
protected:
    ConnectionWithOnlyAProfile() : ComponentTest(Offer{false, false, false, true}) {}
};

TEST_F(ConnectionWithOnlyAProfile, GivesAWorkingComponentAndDoneReleasesOnlyTheProfile) {
    ASSERT_EQ(S_OK, Init());
    EXPECT_EQ(1, connection.profile.references());
    EXPECT_EQ(0, connection.errorLog.references());
    EXPECT_EQ(1, ReadInt(kResult));
    const size_t mark = LogMark();

    ASSERT_EQ(S_OK, component->Done());

    const std::vector<std::string> expected = {"Write Port 0",         "Write Speed 0", "Write IsIrDA 0",
                                               "Write FastExchange 0", "Write Trace 0", "Release IPropertyProfile"};
    EXPECT_EQ(expected, LogSince(mark));
}

class ConnectionWithoutAProfile : public ComponentTest {
protected:
    ConnectionWithoutAProfile() : ComponentTest(Offer{true, true, true, false}) {}
};

TEST_F(ConnectionWithoutAProfile, NeitherReadsNorWritesSettings) {
    ASSERT_EQ(S_OK, settings->SetSettings(2, 3, 1));
    ASSERT_EQ(S_OK, Init());
    EXPECT_EQ(kEveryHostInterfaceAsked, connection.log.events) << "no profile name, no reads";
    EXPECT_EQ((PortSettings{2, 3, 1}), CurrentSettings());
    const size_t mark = LogMark();

    ASSERT_EQ(S_OK, component->Done());

    const std::vector<std::string> expected = {"Release IStatusLine", "Release IAsyncEvent", "Release IErrorLog"};
    EXPECT_EQ(expected, LogSince(mark)) << "nothing written";
}

TEST_F(ComponentTest, SettingsBeforeAnyLoadingAreZero) {
    EXPECT_EQ((PortSettings{0, 0, 0}), CurrentSettings());
}

TEST_F(ComponentTest, GetInfoWritesTheVersionAtElementZeroAndLeavesTheOthers) {
    VariantArray info(3);
    for (LONG index = 0; index < 3; ++index) info.Set(index, *IntValue(kJunk).get());

    EXPECT_EQ(S_OK, component->GetInfo(info.put()));

    EXPECT_EQ(VT_I4, info.At(0).type());
    EXPECT_EQ(1000, info.At(0)->lVal);
    EXPECT_EQ(kJunk, info.At(1)->lVal);
    EXPECT_EQ(kJunk, info.At(2)->lVal);
}

TEST_F(ComponentTest, GetInfoLeavesArraysItCannotFillAlone) {
    EXPECT_EQ(S_OK, component->GetInfo(nullptr));
    SAFEARRAY* none = nullptr;
    EXPECT_EQ(S_OK, component->GetInfo(&none));

    VariantArray integers(2, VT_I4);
    LONG index = 0;
    LONG junk = kJunk;
    ::SafeArrayPutElement(integers.get(), &index, &junk);
    EXPECT_EQ(S_OK, component->GetInfo(integers.put())) << "an array of integers, not of VARIANTs";
    LONG element = 0;
    ::SafeArrayGetElement(integers.get(), &index, &element);
    EXPECT_EQ(kJunk, element);
}

TEST_F(ComponentTest, ExtensionNameIsQuillomat) {
    BSTR name = nullptr;
    ASSERT_EQ(S_OK, extender->RegisterExtensionAs(&name));
    const win::unique_bstr owned(name);
    EXPECT_EQ("Quillomat", Utf8(name));
}

// --- Extension tables -------------------------------------------------------------

TEST_F(ComponentTest, CountsOfPropertiesAndMethods) {
    LONG count = kJunk;
    EXPECT_EQ(S_OK, extender->GetNProps(&count));
    EXPECT_EQ(10, count);
    count = kJunk;
    EXPECT_EQ(S_OK, extender->GetNMethods(&count));
    EXPECT_EQ(17, count);
}

struct LookupCase {
    const char* name;  // nullptr: a null BSTR
    LONG number;
    HRESULT hr;
};

std::string Describe(const LookupCase& row) { return row.name != nullptr ? std::string("\"") + row.name + "\"" : "null"; }

TEST_F(ComponentTest, FindPropMatchesExactNamesOnly) {
    const LookupCase cases[] = {
        {"Result", 0, S_OK},           {"Результат", 0, S_OK},          {"ОписаниеРезультата", 1, S_OK},
        {"Enabled", 3, S_OK},          {"Field6", 9, S_OK},             {"Поле6", 9, S_OK},
        {"result", -1, S_FALSE},       {"RESULT", -1, S_FALSE},         {"Result ", -1, S_FALSE},
        {"результат", -1, S_FALSE},    {"", -1, S_FALSE},               {nullptr, -1, S_FALSE},
        {"ShowProgress", -1, S_FALSE}, {"ПоказатьПрогресс", -1, S_FALSE}, {"Result,Результат", -1, S_FALSE},
    };
    for (const LookupCase& row : cases) {
        SCOPED_TRACE(Describe(row));
        const win::unique_bstr name = row.name != nullptr ? Bstr(row.name) : win::unique_bstr();
        LONG number = kJunk;
        EXPECT_EQ(row.hr, extender->FindProp(name.get(), &number));
        EXPECT_EQ(row.number, number);
    }
}

TEST_F(ComponentTest, FindMethodMatchesExactNamesOnly) {
    const LookupCase cases[] = {
        {"Attach", 0, S_OK},          {"Deattach", 1, S_OK},           {"Отключить", 1, S_OK},
        {"GetData", 12, S_OK},        {"ЗавершитьЗагрузку", 15, S_OK}, {"ShowProgress", 16, S_OK},
        {"ПоказатьПрогресс", 16, S_OK}, {"Detach", -1, S_FALSE},        {"getdata", -1, S_FALSE},
        {"GetData ", -1, S_FALSE},    {"Result", -1, S_FALSE},         {"", -1, S_FALSE},
        {nullptr, -1, S_FALSE},
    };
    for (const LookupCase& row : cases) {
        SCOPED_TRACE(Describe(row));
        const win::unique_bstr name = row.name != nullptr ? Bstr(row.name) : win::unique_bstr();
        LONG number = kJunk;
        EXPECT_EQ(row.hr, extender->FindMethod(name.get(), &number));
        EXPECT_EQ(row.number, number);
    }
}

struct NameCase {
    LONG number;
    LONG alias;
    const char* name;
    HRESULT hr;
};

void ExpectNames(const std::function<HRESULT(LONG, LONG, BSTR*)>& getName, const std::vector<NameCase>& cases) {
    for (const NameCase& row : cases) {
        SCOPED_TRACE("number " + std::to_string(row.number) + ", alias " + std::to_string(row.alias));
        BSTR name = nullptr;
        EXPECT_EQ(row.hr, getName(row.number, row.alias, &name));
        const win::unique_bstr owned(name);
        EXPECT_NE(nullptr, name) << "an empty name is still a BSTR";
        EXPECT_EQ(row.name, Utf8(name));
    }
}

TEST_F(ComponentTest, PropertyNamesByAlias) {
    ExpectNames([&](LONG n, LONG a, BSTR* out) { return extender->GetPropName(n, a, out); },
                {
                    {3, 0, "Enabled", S_OK},
                    {3, 1, "УстройствоВключено", S_OK},
                    {0, 1, "Результат", S_OK},
                    {9, 0, "Field6", S_OK},
                    {3, 2, "", S_OK},
                    {3, -1, "", S_OK},
                    {10, 0, "", S_FALSE},
                    {-1, 0, "", S_FALSE},
                });
}

TEST_F(ComponentTest, MethodNamesByAlias) {
    ExpectNames([&](LONG n, LONG a, BSTR* out) { return extender->GetMethodName(n, a, out); },
                {
                    {16, 0, "ShowProgress", S_OK},
                    {16, 1, "ПоказатьПрогресс", S_OK},
                    {1, 0, "Deattach", S_OK},
                    {13, 1, "ПолучитьЗаписьИзБазыДанных", S_OK},
                    {2, 2, "", S_OK},
                    {17, 0, "", S_FALSE},
                    {-1, 1, "", S_FALSE},
                });
}

TEST_F(ComponentTest, ParameterCountsAndReturnKindsOfEveryMethod) {
    struct Shape {
        LONG params;
        LONG returnsValue;
    };
    const Shape shapes[17] = {
        {0, 1}, {0, 0}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {1, 1},
        {1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}, {0, 1}, {2, 0},
    };
    for (LONG method = 0; method < 17; ++method) {
        SCOPED_TRACE("method " + std::to_string(method));
        LONG params = kJunk, returnsValue = kJunk;
        EXPECT_EQ(S_OK, extender->GetNParams(method, &params));
        EXPECT_EQ(shapes[method].params, params);
        EXPECT_EQ(S_OK, extender->HasRetVal(method, &returnsValue));
        EXPECT_EQ(shapes[method].returnsValue, returnsValue);
    }
}

TEST_F(ComponentTest, MethodNumbersOutOfRange) {
    for (LONG method : {17L, -1L, LONG_MAX}) {
        SCOPED_TRACE("method " + std::to_string(method));
        LONG params = kJunk, returnsValue = kJunk;
        EXPECT_EQ(S_FALSE, extender->GetNParams(method, &params));
        EXPECT_EQ(0, params) << "the count is written as 0";
        EXPECT_EQ(S_FALSE, extender->HasRetVal(method, &returnsValue));
        EXPECT_EQ(kJunk, returnsValue) << "the answer is left alone";
    }
}

TEST_F(ComponentTest, EveryPropertyIsReadableAndAllButTheFirstTwoWritable) {
    for (LONG property = 0; property < kPropertyCount; ++property) {
        SCOPED_TRACE("property " + std::to_string(property));
        LONG readable = kJunk, writable = kJunk;
        EXPECT_EQ(S_OK, extender->IsPropReadable(property, &readable));
        EXPECT_EQ(1, readable);
        EXPECT_EQ(S_OK, extender->IsPropWritable(property, &writable));
        EXPECT_EQ(property >= kData ? 1 : 0, writable);
    }
    for (LONG property : {10L, -1L}) {
        SCOPED_TRACE("property " + std::to_string(property));
        LONG readable = kJunk, writable = kJunk;
        EXPECT_EQ(S_FALSE, extender->IsPropReadable(property, &readable));
        EXPECT_EQ(S_FALSE, extender->IsPropWritable(property, &writable));
        EXPECT_EQ(kJunk, readable);
        EXPECT_EQ(kJunk, writable);
    }
}

TEST_F(ComponentTest, NoParameterHasADefaultValue) {
    struct DefaultCase {
        LONG method, param;
        HRESULT hr;
    };
    for (const DefaultCase& row : {DefaultCase{5, 3, S_OK}, DefaultCase{12, 0, S_OK}, DefaultCase{0, -1, S_OK},
                                   DefaultCase{17, 0, S_FALSE}, DefaultCase{-1, 0, S_FALSE}}) {
        SCOPED_TRACE("method " + std::to_string(row.method) + ", parameter " + std::to_string(row.param));
        win::unique_variant value = IntValue(kJunk);
        EXPECT_EQ(row.hr, extender->GetParamDefValue(row.method, row.param, value.get()));
        EXPECT_EQ(VT_EMPTY, value.type());
    }
}

// --- Properties --------------------------------------------------------------------

// Every property, as text, to show that a refused write changed nothing.
std::vector<std::string> Snapshot(ILanguageExtender& extender) {
    std::vector<std::string> values;
    for (LONG property = 0; property < kPropertyCount; ++property) {
        win::unique_variant value;
        extender.GetPropVal(property, value.get());
        values.push_back(value.type() == VT_BSTR ? Utf8(value->bstrVal) : std::to_string(value->lVal));
    }
    return values;
}

TEST_F(ComponentTest, WritesOfOtherTypesAreRefusedAndChangeNothing) {
    SetResult(17);
    ASSERT_EQ(S_OK, Write(kData, TextValue("данные")));
    ASSERT_EQ(S_OK, Write(kField1, TextValue("поле")));
    const std::vector<std::string> before = Snapshot(*extender.get());

    for (LONG property = 0; property < kPropertyCount; ++property) {
        SCOPED_TRACE("property " + std::to_string(property));
        EXPECT_EQ(S_FALSE, Write(property, DoubleValue(1.0))) << "VT_R8";
        EXPECT_EQ(S_FALSE, Write(property, ShortValue(1))) << "VT_I2";
        EXPECT_EQ(S_FALSE, Write(property, BoolValue(true))) << "VT_BOOL";
    }
    EXPECT_EQ(before, Snapshot(*extender.get()));
}

TEST_F(ComponentTest, FieldsTakeIntegersAsSignedDecimalText) {
    struct FieldCase {
        LONG field;
        LONG value;
        const char* text;
    };
    for (const FieldCase& row : {FieldCase{kField3, 42, "42"}, FieldCase{kField3, -7, "-7"},
                                 FieldCase{kField1, 0, "0"}, FieldCase{kField6, INT_MIN, "-2147483648"}}) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(S_OK, Write(row.field, IntValue(row.value)));
        EXPECT_EQ(row.text, ReadText(row.field));
    }
}

TEST_F(ComponentTest, DataAndFieldsTakeText) {
    for (LONG property : {LONG(kData), LONG(kField1), LONG(kField6)}) {
        SCOPED_TRACE("property " + std::to_string(property));
        EXPECT_EQ(S_OK, Write(property, TextValue("Штрихкод 4600, №7")));
        EXPECT_EQ("Штрихкод 4600, №7", ReadText(property));
        EXPECT_EQ(S_OK, Write(property, TextValue("")));
        EXPECT_EQ("", ReadText(property));
    }
}

TEST_F(ComponentTest, DataRefusesAnInteger) {
    ASSERT_EQ(S_OK, Write(kData, TextValue("было")));
    EXPECT_EQ(S_FALSE, Write(kData, IntValue(5)));
    EXPECT_EQ("было", ReadText(kData));
}

TEST_F(ComponentTest, ResultTakesAnyIntegerAndResultDescriptionNothing) {
    EXPECT_EQ(S_OK, Write(kResult, IntValue(99)));
    EXPECT_EQ(99, ReadInt(kResult));
    EXPECT_EQ("Неизвестная ошибка номер:99", ReadText(kResultDescription));
    EXPECT_EQ(S_FALSE, Write(kResultDescription, TextValue("текст")));
    EXPECT_EQ(S_FALSE, Write(kResultDescription, IntValue(0)));
    EXPECT_EQ(99, ReadInt(kResult));
}

TEST_F(ComponentTest, TextWritesLeaveTheResultCodeAlone) {
    SetResult(17);
    ASSERT_EQ(S_OK, Write(kData, TextValue("x")));
    ASSERT_EQ(S_OK, Write(kField2, TextValue("y")));
    ASSERT_EQ(S_OK, Write(kField3, IntValue(3)));
    EXPECT_EQ(17, ReadInt(kResult));
}

TEST_F(ComponentTest, EnablingAMissingPortReportsNotInitialised) {
    ASSERT_EQ(S_OK, Init());
    for (LONG port : kMissingPorts) {
        SCOPED_TRACE("port index " + std::to_string(port));
        ASSERT_EQ(S_OK, settings->SetSettings(port, 0, 0));
        SetResult(17);
        EXPECT_EQ(S_OK, Write(kEnabled, IntValue(1)));
        EXPECT_EQ(1, ReadInt(kResult)) << "not the open failure's own code";
        EXPECT_EQ(0, ReadInt(kEnabled));
    }
    ASSERT_EQ(S_OK, component->Done());
}

TEST_F(ComponentTest, DisablingClosesAndSucceeds) {
    ASSERT_EQ(S_OK, Init());
    for (LONG value : {0L, -1L, LONG(INT_MIN)}) {
        SCOPED_TRACE("Enabled = " + std::to_string(value));
        SetResult(9);
        EXPECT_EQ(S_OK, Write(kEnabled, IntValue(value)));
        EXPECT_EQ(0, ReadInt(kResult));
        EXPECT_EQ(0, ReadInt(kEnabled));
    }
    ASSERT_EQ(S_OK, component->Done());
}

TEST_F(ComponentTest, ReadingAnUnknownPropertyGivesAnEmptyValue) {
    for (LONG property : {10L, -1L, LONG_MIN}) {
        SCOPED_TRACE("property " + std::to_string(property));
        win::unique_variant value = IntValue(kJunk);
        EXPECT_EQ(S_FALSE, extender->GetPropVal(property, value.get()));
        EXPECT_EQ(VT_EMPTY, value.type());
    }
    EXPECT_EQ(S_FALSE, Write(10, IntValue(1)));
    EXPECT_EQ(S_FALSE, Write(-1, TextValue("x")));
}

TEST_F(ComponentTest, EveryResultCodeReadsAsItsMessage) {
    for (const MessageCase& row : kResultMessages) {
        SCOPED_TRACE("code " + std::to_string(row.code));
        SetResult(row.code);
        EXPECT_EQ(row.message, ReadText(kResultDescription));
    }
}

// --- Method dispatch without a terminal --------------------------------------------

TEST_F(ComponentTest, MethodsCalledTheWrongWayDoNothing) {
    ASSERT_EQ(S_OK, Init());
    SetResult(17);
    for (LONG method : {LONG(kDeattach), LONG(kShowProgress), 17L, -1L}) {
        SCOPED_TRACE("CallAsFunc of method " + std::to_string(method));
        const Call call = CallFunction(method, {});
        EXPECT_EQ(S_FALSE, call.hr);
        EXPECT_EQ(VT_I4, call.value.type());
        EXPECT_EQ(kJunk, call.value->lVal) << "the return value is left alone";
    }
    for (LONG method : {LONG(kPing), LONG(kAttach), LONG(kGetData), 17L, -1L}) {
        SCOPED_TRACE("CallAsProc of method " + std::to_string(method));
        EXPECT_EQ(S_FALSE, CallProcedure(method, {}));
    }
    EXPECT_EQ(17, ReadInt(kResult));
    ASSERT_EQ(S_OK, component->Done());
}

TEST_F(ComponentTest, AParameterOfAnotherTypeGivesMinusOneAndCode28) {
    ASSERT_EQ(S_OK, Init());
    const win::unique_variant real = DoubleValue(3.0), flag = BoolValue(true), small = ShortValue(3);
    struct BadCase {
        const char* what;
        std::vector<const win::unique_variant*> parameters;
    };
    const BadCase cases[] = {{"VT_R8", {&real}}, {"VT_BOOL", {&flag}}, {"VT_I2", {&small}}, {"no parameter", {}}};
    for (const BadCase& row : cases) {
        SCOPED_TRACE(row.what);
        SetResult(17);
        VariantArray array(static_cast<ULONG>(row.parameters.size()));
        for (size_t i = 0; i < row.parameters.size(); ++i) array.Set(static_cast<LONG>(i), *row.parameters[i]->get());
        const Call call = CallWithArray(kGetData, array.put());
        EXPECT_EQ(S_OK, call.hr);
        EXPECT_EQ(VT_I4, call.value.type());
        EXPECT_EQ(-1, call.value->lVal);
        EXPECT_EQ(28, ReadInt(kResult));
    }
    ASSERT_EQ(S_OK, component->Done());
}

// The port is closed: a number taken from the text goes on to the port
// check (code 1); a text refused stops before it (code 28).
TEST_F(ComponentTest, ATextParameterIsTakenOnlyWhenItIsAWholeDecimalNumber) {
    ASSERT_EQ(S_OK, Init());
    const struct {
        const char* sentence;
        LONG method;
        const char* text;
        LONG result;
    } cases[] = {
        {"GetData with \"3\" goes on to the port", kGetData, "3", 1},
        {"GetData with \" 3 \" goes on to the port", kGetData, " 3 ", 1},
        {"GetRecordsCount with \"-1\" goes on to the port", kGetRecordsCount, "-1", 1},
        {"ClearDoc with \"Документ 3\" is refused", kClearDoc, "Документ 3", 28},
        {"GetRecordsCount with \"x\" is refused", kGetRecordsCount, "x", 28},
        {"GetData with \"7abc\" is refused", kGetData, "7abc", 28},
        {"GetData with an empty text is refused", kGetData, "", 28},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sentence);
        SetResult(17);
        const win::unique_variant text = TextValue(c.text);
        const Call call = CallFunction(c.method, {&text});
        EXPECT_EQ(S_OK, call.hr);
        EXPECT_EQ(VT_I4, call.value.type());
        if (c.result == 28) {
            EXPECT_EQ(-1, call.value->lVal);
        }
        EXPECT_EQ(c.result, ReadInt(kResult));
    }
    ASSERT_EQ(S_OK, component->Done());
}

TEST_F(ComponentTest, AParameterArrayThatIsNoVectorOfVariantsIsABadParameter) {
    ASSERT_EQ(S_OK, Init());
    VariantArray integers(1, VT_I4);
    LONG index = 0, three = 3;
    ::SafeArrayPutElement(integers.get(), &index, &three);
    SAFEARRAY* none = nullptr;
    for (SAFEARRAY** parameters : {integers.put(), &none, static_cast<SAFEARRAY**>(nullptr)}) {
        SetResult(17);
        const Call call = CallWithArray(kGetData, parameters);
        EXPECT_EQ(S_OK, call.hr);
        EXPECT_EQ(-1, call.value->lVal);
        EXPECT_EQ(28, ReadInt(kResult));
    }
    ASSERT_EQ(S_OK, component->Done());
}

TEST_F(ComponentTest, ShowProgressWithABadParameterDrawsNothingAndSetsCode28) {
    ASSERT_EQ(S_OK, Init());
    const win::unique_variant real = DoubleValue(1.0), one = IntValue(1), flag = BoolValue(false),
                              word = TextValue("Режим");
    struct BadCase {
        const char* what;
        std::initializer_list<const win::unique_variant*> parameters;
    };
    const BadCase cases[] = {{"mode VT_R8", {&real, &one}},
                             {"mode a text that is no number", {&word, &one}},
                             {"count VT_BOOL", {&one, &flag}},
                             {"no count", {&one}},
                             {"nothing", {}}};
    for (const BadCase& row : cases) {
        SCOPED_TRACE(row.what);
        SetResult(17);
        EXPECT_EQ(S_OK, CallProcedure(kShowProgress, row.parameters));
        EXPECT_EQ(28, ReadInt(kResult));
    }
    ASSERT_EQ(S_OK, component->Done());
}

TEST_F(ComponentTest, ShowProgressWithGoodParametersSucceeds) {
    ASSERT_EQ(S_OK, Init());
    const win::unique_variant mode = TextValue("1"), count = IntValue(70000);
    SetResult(17);
    EXPECT_EQ(S_OK, CallProcedure(kShowProgress, {&mode, &count}));
    EXPECT_EQ(0, ReadInt(kResult));
    ASSERT_EQ(S_OK, component->Done());
}

TEST_F(ComponentTest, AttachOnAMissingPortReturnsZeroWithTheOpenFailureCode) {
    ASSERT_EQ(S_OK, Init());
    ASSERT_EQ(S_OK, settings->SetSettings(kMissingPorts[0], 0, 0));
    const Call call = CallFunction(kAttach, {});
    EXPECT_EQ(S_OK, call.hr);
    EXPECT_EQ(VT_I4, call.value.type());
    EXPECT_EQ(0, call.value->lVal);
    EXPECT_EQ(2, ReadInt(kResult)) << "Невозможно открыть COM порт!";
    EXPECT_EQ(0, ReadInt(kEnabled));
    ASSERT_EQ(S_OK, component->Done());
}

TEST_F(ComponentTest, DeattachOnAClosedPortSucceeds) {
    ASSERT_EQ(S_OK, Init());
    SetResult(9);
    EXPECT_EQ(S_OK, extender->CallAsProc(kDeattach, nullptr));
    EXPECT_EQ(0, ReadInt(kResult));
    ASSERT_EQ(S_OK, component->Done());
}

// --- Threads --------------------------------------------------------------------------

TEST_F(ComponentTest, ReferenceCountsStayExactWhenTwoThreadsCountAtOnce) {
    constexpr int kPairsPerThread = 100000;
    win::com_ptr<IClassFactory> factory;
    ASSERT_EQ(S_OK, Module::Get().GetClassObject(__uuidof(AddIn), IID_IClassFactory, factory.put_void()));
    HostLog log;
    FakeOuter outer(log);
    ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_IUnknown, outer.inner.put_void()));

    struct CountCase {
        const char* object;
        IUnknown* unknown;
    };
    const CountCase cases[] = {
        {"the component object, through IInitDone", component.get()},
        {"the component object, through IConnectionSettings", settings.get()},
        {"the inner unknown of an aggregated object", outer.inner.get()},
        {"the class factory", factory.get()},
    };
    for (const CountCase& row : cases) {
        SCOPED_TRACE(row.object);
        const ULONG before = row.unknown->AddRef();
        row.unknown->Release();
        OnTwoMtaThreads([&] {
            for (int i = 0; i < kPairsPerThread; ++i) {
                row.unknown->AddRef();
                row.unknown->Release();
            }
        });
        const ULONG after = row.unknown->AddRef();
        row.unknown->Release();
        EXPECT_EQ(before, after) << "100,000 AddRef and Release pairs on each of two threads";
    }
    outer.inner.reset();
}

// --- Null out pointers ---------------------------------------------------------------

TEST_F(ComponentTest, EveryNullOutPointerIsRefusedWithEPointer) {
    const win::unique_bstr name = Bstr("Result");
    LONG number = 0;
    struct PointerCase {
        const char* call;
        std::function<HRESULT()> run;
    };
    const PointerCase cases[] = {
        {"RegisterExtensionAs", [&] { return extender->RegisterExtensionAs(nullptr); }},
        {"GetNProps", [&] { return extender->GetNProps(nullptr); }},
        {"FindProp", [&] { return extender->FindProp(name.get(), nullptr); }},
        {"GetPropName", [&] { return extender->GetPropName(0, 0, nullptr); }},
        {"GetPropVal", [&] { return extender->GetPropVal(0, nullptr); }},
        {"SetPropVal", [&] { return extender->SetPropVal(0, nullptr); }},
        {"IsPropReadable", [&] { return extender->IsPropReadable(0, nullptr); }},
        {"IsPropWritable", [&] { return extender->IsPropWritable(0, nullptr); }},
        {"GetNMethods", [&] { return extender->GetNMethods(nullptr); }},
        {"FindMethod", [&] { return extender->FindMethod(name.get(), nullptr); }},
        {"GetMethodName", [&] { return extender->GetMethodName(0, 0, nullptr); }},
        {"GetNParams", [&] { return extender->GetNParams(0, nullptr); }},
        {"GetParamDefValue", [&] { return extender->GetParamDefValue(0, 0, nullptr); }},
        {"HasRetVal", [&] { return extender->HasRetVal(0, nullptr); }},
        {"CallAsFunc", [&] { return extender->CallAsFunc(kAttach, nullptr, nullptr); }},
        {"GetSettings port", [&] { return settings->GetSettings(nullptr, &number, &number); }},
        {"GetSettings speed", [&] { return settings->GetSettings(&number, nullptr, &number); }},
        {"GetSettings flag", [&] { return settings->GetSettings(&number, &number, nullptr); }},
        {"QueryInterface", [&] { return component->QueryInterface(IID_IUnknown, nullptr); }},
    };
    SetResult(17);
    for (const PointerCase& row : cases) {
        SCOPED_TRACE(row.call);
        EXPECT_EQ(E_POINTER, row.run());
    }
    EXPECT_EQ(17, ReadInt(kResult)) << "CallAsFunc with nowhere to put the value runs nothing";
}

TEST(NameAnswer, MemoryRunningOutLeavesANullNameNotWhatTheHostLeftThere) {
    BSTR name = reinterpret_cast<BSTR>(static_cast<uintptr_t>(0xdeadbeef));
    const auto noMemory = []() -> std::optional<std::string> { throw std::bad_alloc(); };
    EXPECT_EQ(E_OUTOFMEMORY, answer::Name(&name, noMemory));
    EXPECT_EQ(nullptr, name);
}

// --- Identity, factory, aggregation, unloading -----------------------------------------

template <typename T>
IUnknown* Identity(T* object) {
    win::com_ptr<IUnknown> unknown;
    object->QueryInterface(IID_IUnknown, unknown.put_void());
    return unknown.get();
}

TEST_F(ComponentTest, QueryInterfaceAnswersExactlyItsInterfacesFromEachOfThem) {
    const IID* answered[] = {&IID_IUnknown,
                             &__uuidof(IInitDone),
                             &__uuidof(ILanguageExtender),
                             &__uuidof(IConnectionSettings),
                             &__uuidof(IExchangeSettings),
                             &__uuidof(IWireTrace),
                             &__uuidof(ITerminalSearch),
                             &__uuidof(ISearchPorts),
                             &IID_IPropertyPage};
    const IID* refused[] = {&IID_IDispatch, &IID_IClassFactory, &IID_IPropertyPageSite, &__uuidof(IPropertyProfile),
                            &__uuidof(IAsyncEvent), &IID_IPersist};
    win::com_ptr<IPropertyPage> page = component.query<IPropertyPage>();
    ASSERT_TRUE(page);
    win::com_ptr<IExchangeSettings> pace = component.query<IExchangeSettings>();
    ASSERT_TRUE(pace);
    win::com_ptr<IWireTrace> trace = component.query<IWireTrace>();
    ASSERT_TRUE(trace);
    win::com_ptr<ITerminalSearch> search = component.query<ITerminalSearch>();
    ASSERT_TRUE(search);
    IUnknown* const sources[] = {component.get(), extender.get(), settings.get(), pace.get(),
                                 trace.get(),     search.get(),   page.get()};

    for (IUnknown* source : sources) {
        for (const IID* iid : answered) {
            win::com_ptr<IUnknown> answer;
            EXPECT_EQ(S_OK, source->QueryInterface(*iid, answer.put_void()));
            EXPECT_NE(nullptr, answer.get());
        }
        for (const IID* iid : refused) {
            void* answer = reinterpret_cast<void*>(static_cast<uintptr_t>(0xdeadbeef));
            EXPECT_EQ(E_NOINTERFACE, source->QueryInterface(*iid, &answer));
            EXPECT_EQ(nullptr, answer);
        }
        EXPECT_EQ(static_cast<IUnknown*>(component.get()), Identity(source)) << "IUnknown is the IInitDone pointer";
    }
}

class ModuleTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(S_OK, Module::Get().CanUnloadNow()) << "the test left something alive"; }

    win::com_ptr<IClassFactory> Factory() {
        win::com_ptr<IClassFactory> factory;
        EXPECT_EQ(S_OK, Module::Get().GetClassObject(__uuidof(AddIn), IID_IClassFactory, factory.put_void()));
        return factory;
    }
};

TEST_F(ModuleTest, OnlyTheAddInClassIsAvailable) {
    void* object = reinterpret_cast<void*>(static_cast<uintptr_t>(0xdeadbeef));
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, Module::Get().GetClassObject(__uuidof(AddInConnection), IID_IClassFactory, &object));
    EXPECT_EQ(nullptr, object);
    object = reinterpret_cast<void*>(static_cast<uintptr_t>(0xdeadbeef));
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, Module::Get().GetClassObject(IID_IUnknown, IID_IClassFactory, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(E_POINTER, Module::Get().GetClassObject(__uuidof(AddIn), IID_IClassFactory, nullptr));
}

TEST_F(ModuleTest, TheFactoryAnswersOnlyIUnknownAndIClassFactory) {
    win::com_ptr<IClassFactory> factory = Factory();
    ASSERT_TRUE(factory);
    win::com_ptr<IUnknown> unknown;
    EXPECT_EQ(S_OK, factory->QueryInterface(IID_IUnknown, unknown.put_void()));
    void* object = reinterpret_cast<void*>(static_cast<uintptr_t>(0xdeadbeef));
    EXPECT_EQ(E_NOINTERFACE, factory->QueryInterface(IID_IDispatch, &object));
    EXPECT_EQ(nullptr, object);
    void* viaModule = reinterpret_cast<void*>(static_cast<uintptr_t>(0xdeadbeef));
    EXPECT_EQ(E_NOINTERFACE, Module::Get().GetClassObject(__uuidof(AddIn), __uuidof(IInitDone), &viaModule));
    EXPECT_EQ(nullptr, viaModule);
}

TEST_F(ModuleTest, CreateInstanceRules) {
    win::com_ptr<IClassFactory> factory = Factory();
    ASSERT_TRUE(factory);
    HostLog log;
    FakeOuter outer(log);

    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, __uuidof(IInitDone), nullptr));

    void* object = reinterpret_cast<void*>(static_cast<uintptr_t>(0xdeadbeef));
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, __uuidof(IInitDone), &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(0, outer.references());

    object = reinterpret_cast<void*>(static_cast<uintptr_t>(0xdeadbeef));
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IDispatch, &object));
    EXPECT_EQ(nullptr, object);

    win::com_ptr<ILanguageExtender> extender;
    EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, __uuidof(ILanguageExtender), extender.put_void()));
    EXPECT_TRUE(extender);
}

TEST_F(ModuleTest, TheModuleCanBeUnloadedOnlyWhenNothingHoldsIt) {
    EXPECT_EQ(S_OK, Module::Get().CanUnloadNow()) << "at the start";

    win::com_ptr<IClassFactory> factory = Factory();
    EXPECT_EQ(S_FALSE, Module::Get().CanUnloadNow()) << "an extra factory reference";
    win::com_ptr<IClassFactory> second = Factory();
    factory.reset();
    EXPECT_EQ(S_FALSE, Module::Get().CanUnloadNow()) << "a second extra factory reference";

    win::com_ptr<IInitDone> object;
    ASSERT_EQ(S_OK, second->CreateInstance(nullptr, __uuidof(IInitDone), object.put_void()));
    second.reset();
    EXPECT_EQ(S_FALSE, Module::Get().CanUnloadNow()) << "a component object";
    object.reset();
    EXPECT_EQ(S_OK, Module::Get().CanUnloadNow()) << "all let go";
}

TEST_F(ModuleTest, ServerLocksHoldTheModuleAndUnlocksGiveBackOnlyWhatWasTaken) {
    struct LockCase {
        const char* sentence;
        std::vector<BOOL> calls;  // LockServer arguments, in order
        HRESULT canUnload;        // once the factory is let go
    };
    const LockCase cases[] = {
        {"a lock holds the module", {TRUE}, S_FALSE},
        {"a lock given back holds nothing", {TRUE, FALSE}, S_OK},
        {"an unlock without a lock gives nothing back", {FALSE}, S_OK},
        {"unlocks beyond the locks give nothing back", {TRUE, FALSE, FALSE}, S_OK},
        {"a lock after unlocks without locks still holds", {FALSE, FALSE, TRUE}, S_FALSE},
    };
    for (const LockCase& row : cases) {
        SCOPED_TRACE(row.sentence);
        win::com_ptr<IClassFactory> factory = Factory();
        ASSERT_TRUE(factory);
        for (BOOL lock : row.calls) EXPECT_EQ(S_OK, factory->LockServer(lock));
        factory.reset();
        EXPECT_EQ(row.canUnload, Module::Get().CanUnloadNow());

        factory = Factory();
        for (BOOL lock : row.calls)
            if (lock) factory->LockServer(FALSE);
    }
}

TEST_F(ModuleTest, AnAggregatedObjectSharesTheOuterIdentity) {
    win::com_ptr<IClassFactory> factory = Factory();
    ASSERT_TRUE(factory);
    HostLog log;
    FakeOuter outer(log);
    ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_IUnknown, outer.inner.put_void()));
    factory.reset();
    EXPECT_EQ(0, outer.references()) << "creating the inner object takes no outer reference";

    win::com_ptr<IUnknown> innerAgain;
    ASSERT_EQ(S_OK, outer.inner->QueryInterface(IID_IUnknown, innerAgain.put_void()));
    EXPECT_EQ(outer.inner.get(), innerAgain.get()) << "the inner unknown answers itself";
    innerAgain.reset();

    win::com_ptr<IInitDone> initDone;
    ASSERT_EQ(S_OK, outer.inner->QueryInterface(__uuidof(IInitDone), initDone.put_void()));
    EXPECT_EQ(1, outer.references()) << "references to the interfaces count on the outer unknown";

    EXPECT_EQ(static_cast<IUnknown*>(static_cast<IDispatch*>(&outer)), Identity(initDone.get()))
        << "IUnknown comes from the outer unknown";
    win::com_ptr<IDispatch> dispatch;
    EXPECT_EQ(S_OK, initDone->QueryInterface(IID_IDispatch, dispatch.put_void()));
    EXPECT_EQ(static_cast<IDispatch*>(&outer), dispatch.get()) << "the outer unknown is asked first";
    dispatch.reset();

    win::com_ptr<ILanguageExtender> extender;
    EXPECT_EQ(S_OK, initDone->QueryInterface(__uuidof(ILanguageExtender), extender.put_void()))
        << "an interface the outer unknown refuses comes from the object's own table";
    EXPECT_EQ(2, outer.references());

    outer.delegate = true;
    win::com_ptr<IConnectionSettings> settings;
    EXPECT_EQ(S_OK, initDone->QueryInterface(__uuidof(IConnectionSettings), settings.put_void()));
    EXPECT_EQ(3, outer.references());
    void* refused = reinterpret_cast<void*>(static_cast<uintptr_t>(0xdeadbeef));
    EXPECT_EQ(E_NOINTERFACE, initDone->QueryInterface(IID_IPersist, &refused));
    EXPECT_EQ(nullptr, refused);

    settings.reset();
    extender.reset();
    initDone.reset();
    EXPECT_EQ(0, outer.references());
    EXPECT_EQ(S_FALSE, Module::Get().CanUnloadNow()) << "the inner object lives on";
    outer.inner.reset();
}

}  // namespace
}  // namespace quill::test
