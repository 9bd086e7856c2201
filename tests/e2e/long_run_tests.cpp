// The module over long runs and on two threads at once, against the plain
// simulated terminal on COM16 (see run-e2e.sh): two threads of the
// multi-threaded apartment pinging through one component; 10,000 calls on
// one component and 1,000 component lives from creation to release, with
// the process's live handles counted before and after; and the settings page
// driven from threads of its own while a script calls, on COM16 and against
// the silent terminal on COM5.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <ocidl.h>

#include "host/page_site.h"
#include "tests/win/test_host.h"
#include "ui/settings_page_ids.h"

namespace quill::test {
namespace {

constexpr int kPort = 16;  // scenarios/com16-terminal.scn
constexpr LONG kSuccess = 0;

// Handle values are multiples of 4; a process of this size stays far below.
constexpr uintptr_t kHandleValueStep = 4;
constexpr uintptr_t kHandleValueLimit = 0x10000;

// Live handles of this process. GetProcessHandleCount reads 0 under Wine, so
// every handle value of the range is asked for its information.
size_t LiveHandles() {
    size_t count = 0;
    for (uintptr_t value = kHandleValueStep; value < kHandleValueLimit; value += kHandleValueStep) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

// One component object as a host holds it: created, initialised with a
// profile that chooses its port (COM16 unless told), Done and released when
// it goes.
class Component {
public:
    explicit Component(int port = kPort) {
        connection_.profile.Store("Port", port - 1);
        connection_.profile.Store("Speed", 0);
        connection_.profile.Store("IsIrDA", 0);
        object_ = Module::Get().CreateComponent();
        extender_ = object_.query<ILanguageExtender>();
        initialised_ = extender_ && object_->Init(&connection_) == S_OK;
    }
    ~Component() {
        if (initialised_) object_->Done();
    }

    bool initialised() const { return initialised_; }

    template <typename T>
    win::com_ptr<T> Query() const {
        return object_.query<T>();
    }
    // Done, as the host calls it before it lets go, and the host's last
    // reference handed over.
    win::com_ptr<IInitDone> Finish() {
        if (initialised_) object_->Done();
        initialised_ = false;
        extender_.reset();
        return std::move(object_);
    }

    LONG MethodNumber(const std::string& name) { return Number(name, &ILanguageExtender::FindMethod); }
    LONG PropertyNumber(const std::string& name) { return Number(name, &ILanguageExtender::FindProp); }

    // A method without parameters through CallAsFunc; its value, or kNoValue.
    static constexpr LONG kNoValue = -1000;
    LONG Call(LONG method) {
        VariantArray parameters(0);
        win::unique_variant value;
        if (extender_->CallAsFunc(method, value.get(), parameters.put()) != S_OK || value.type() != VT_I4)
            return kNoValue;
        return value->lVal;
    }
    // A method without value through CallAsProc.
    HRESULT Proc(LONG method) {
        VariantArray parameters(0);
        return extender_->CallAsProc(method, parameters.put());
    }
    HRESULT Read(LONG property, win::unique_variant& value) { return extender_->GetPropVal(property, value.get()); }
    HRESULT Write(LONG property, const win::unique_variant& value) {
        return extender_->SetPropVal(property, const_cast<VARIANT*>(value.get()));
    }
    LONG Result() {
        win::unique_variant value;
        return Read(PropertyNumber("Result"), value) == S_OK ? value->lVal : kNoValue;
    }

private:
    LONG Number(const std::string& name, HRESULT (STDMETHODCALLTYPE ILanguageExtender::*find)(BSTR, LONG*)) {
        LONG number = -1;
        (extender_.get()->*find)(Bstr(name).get(), &number);
        return number;
    }

    FakeConnection connection_;
    win::com_ptr<IInitDone> object_;
    win::com_ptr<ILanguageExtender> extender_;
    bool initialised_ = false;
};

// Creation, Init, Attach, Deattach, Done, release: true when every step did
// its work.
bool LiveOneComponent() {
    Component component;
    if (!component.initialised()) return false;
    const bool attached = component.Call(component.MethodNumber("Attach")) == 1;
    const bool detached = component.Proc(component.MethodNumber("Deattach")) == S_OK;
    return attached && detached && component.Result() == kSuccess;
}

// A host script's mix: a terminal query on every 10th call, property reads
// and writes and name lookups in between. Each call either does its work or
// is described in the returned text (the first failure; empty when none).
class CallMix {
public:
    explicit CallMix(Component& component) : component_(component) {
        for (const char* name : {"Ping", "GetSN", "GetTime", "CurrentState", "GetFreeMem"})
            queries_.push_back(component.MethodNumber(name));
        result_ = component.PropertyNumber("Result");
        description_ = component.PropertyNumber("ResultDescription");
        data_ = component.PropertyNumber("Data");
        enabled_ = component.PropertyNumber("Enabled");
        field_ = component.PropertyNumber("Field1");
    }

    std::string Run(int calls) {
        for (int i = 0; i < calls; ++i) {
            const std::string failure = CallNumber(i);
            if (!failure.empty()) return "call " + std::to_string(i) + ": " + failure;
        }
        return {};
    }

private:
    static constexpr int kQueryEvery = 10;

    std::string CallNumber(int i) {
        if (i % kQueryEvery == 0) {
            const LONG method = queries_[(i / kQueryEvery) % queries_.size()];
            if (component_.Call(method) < 1) return "method " + std::to_string(method) + " failed";
            return component_.Result() == kSuccess ? std::string() : "result " + std::to_string(component_.Result());
        }
        win::unique_variant value;
        switch (i % 6) {
            case 0: return Expect(component_.Read(result_, value) == S_OK && value->lVal == kSuccess, "Result");
            case 1: return Expect(component_.Read(description_, value) == S_OK && value.type() == VT_BSTR, "ResultDescription");
            case 2: return Expect(component_.Read(data_, value) == S_OK && value.type() == VT_BSTR, "Data");
            case 3: return Expect(component_.Read(enabled_, value) == S_OK && value->lVal == 1, "Enabled");
            case 4: return Expect(component_.Write(field_, TextValue("Поле " + std::to_string(i))) == S_OK, "Field1 write");
            default: return Expect(component_.MethodNumber("СерийныйНомер") >= 0, "FindMethod");
        }
    }

    static std::string Expect(bool done, const char* call) { return done ? std::string() : std::string(call); }

    Component& component_;
    std::vector<LONG> queries_;
    LONG result_, description_, data_, enabled_, field_;
};

TEST(TwoThreads, PingingThroughOneComponentAtOnceNeverFails) {
    constexpr int kPingsPerThread = 50;
    Component component;
    ASSERT_TRUE(component.initialised());
    ASSERT_EQ(component.Call(component.MethodNumber("Attach")), 1);
    const LONG ping = component.MethodNumber("Ping");
    std::atomic<int> failed{0};
    OnTwoMtaThreads([&] {
        for (int i = 0; i < kPingsPerThread; ++i)
            if (component.Call(ping) != 1) ++failed;
    });
    EXPECT_EQ(failed.load(), 0) << "of " << 2 * kPingsPerThread << " pings";
    EXPECT_EQ(component.Call(ping), 1);
    EXPECT_EQ(component.Result(), kSuccess);
}

TEST(LongRun, TenThousandCallsOnOneComponentLeaveNoHandleBehind) {
    constexpr int kWarmUpCalls = 100;
    constexpr int kCalls = 10000;
    Component component;
    ASSERT_TRUE(component.initialised());
    ASSERT_EQ(component.Call(component.MethodNumber("Attach")), 1);
    CallMix mix(component);
    ASSERT_EQ(mix.Run(kWarmUpCalls), "");

    const size_t handles = LiveHandles();
    EXPECT_EQ(mix.Run(kCalls), "");
    EXPECT_EQ(LiveHandles(), handles) << "live handles before and after " << kCalls << " calls";
}

TEST(LongRun, AThousandComponentLivesLeaveNoHandleBehind) {
    constexpr int kLives = 1000;
    ASSERT_TRUE(LiveOneComponent()) << "warm-up";

    const size_t handles = LiveHandles();
    int failed = 0;
    for (int i = 0; i < kLives; ++i)
        if (!LiveOneComponent()) ++failed;
    EXPECT_EQ(failed, 0) << "of " << kLives << " lives from creation to release";
    EXPECT_EQ(LiveHandles(), handles) << "live handles before and after " << kLives << " lives";
    EXPECT_EQ(S_OK, Module::Get().CanUnloadNow());
}

// --- The settings page on threads of its own ----------------------------------------------

constexpr int kSilentPort = 5;  // scenarios/com05-silent.scn
constexpr DWORD kThreadLimitMs = 30000;
constexpr LONG kPortIndexOf16 = kPort - 1;
// How soon a page that had to wait shows the settings once it may.
constexpr DWORD kShownWithinMs = 1000;

// The frame's site, told from whichever thread the page tells it.
class CountingSite final : public PlainPageSite<> {
public:
    std::atomic<int> statuses{0};
    LONG references() const { return references_.load(); }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IPropertyPageSite) return E_NOINTERFACE;
        *object = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++references_); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--references_); }
    STDMETHODIMP OnStatusChange(DWORD) override {
        ++statuses;
        return S_OK;
    }

private:
    std::atomic<LONG> references_{0};
};

// A host's user-interface thread: it makes a frame window, hands the page
// the site and the object, activates and shows it, and then handles its
// messages until told to stop or until the page window is gone. What it saw
// is read after Join.
class WindowThread {
public:
    WindowThread(IPropertyPage* page, IUnknown* object, IPropertyPageSite* site) {
        activated_.create(win::unique_event::Reset::Manual);
        stop_.create(win::unique_event::Reset::Manual);
        thread_ = std::thread([=] { Run(page, object, site); });
    }
    ~WindowThread() { Join(); }

    bool WaitUntilActivated() { return activated_.wait(kThreadLimitMs); }
    void Stop() { stop_.SetEvent(); }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }

    DWORD activatedAt = 0, activateMs = 0;
    bool disabledRightAfterActivate = false;
    std::atomic<DWORD> shownAt{0};  // when the port list was first enabled, 0 before
    LRESULT portShown = -2;
    bool windowGoneByItself = false;  // the page window went without Stop

private:
    void Run(IPropertyPage* page, IUnknown* object, IPropertyPageSite* site) {
        static const wchar_t* const kClass = L"QuillLongRunFrame";
        WNDCLASSW frameClass{};
        frameClass.lpfnWndProc = ::DefWindowProcW;
        frameClass.hInstance = ::GetModuleHandleW(nullptr);
        frameClass.lpszClassName = kClass;
        ::RegisterClassW(&frameClass);  // a second registration fails harmlessly
        win::unique_hwnd frame(::CreateWindowExW(0, kClass, L"frame", WS_POPUP, 0, 0, 640, 480, nullptr, nullptr,
                                                 ::GetModuleHandleW(nullptr), nullptr));
        page->SetPageSite(site);
        IUnknown* objects[] = {object};
        page->SetObjects(1, objects);
        RECT area{10, 10, 430, 290};
        const DWORD start = ::GetTickCount();
        page->Activate(frame.get(), &area, TRUE);
        activatedAt = ::GetTickCount();
        activateMs = activatedAt - start;
        const HWND pageWindow = ::GetWindow(frame.get(), GW_CHILD);
        const HWND portList = ::GetDlgItem(pageWindow, IDC_PORT_LIST);
        disabledRightAfterActivate = !::IsWindowEnabled(portList);
        page->Show(SW_SHOW);
        activated_.SetEvent();

        HANDLE stop[] = {stop_.get()};
        while (::GetTickCount() - start < kThreadLimitMs) {
            if (::MsgWaitForMultipleObjects(1, stop, FALSE, 10, QS_ALLINPUT) == WAIT_OBJECT_0) break;
            MSG message;
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
            if (!::IsWindow(pageWindow)) {
                windowGoneByItself = true;
                break;
            }
            if (shownAt.load() == 0 && ::IsWindowEnabled(portList)) {
                portShown = ::SendMessageW(portList, CB_GETCURSEL, 0, 0);
                shownAt = ::GetTickCount();
            }
        }
    }

    win::unique_event activated_, stop_;
    std::thread thread_;
};

// A multi-threaded host's frame: one thread makes and shows the page and
// handles its messages, another applies, a third lets go of the component
// without deactivating the page, while a script thread pings the terminal
// through the same component. No ping and no Apply fails, Apply stores what
// the page shows, and the page window, let go of by its page, is destroyed by
// its own thread.
TEST(PageOnThreadsOfItsOwn, ActivatedAppliedAndLetGoWhileAScriptPingsNothingFails) {
    constexpr int kApplies = 5;
    Component component;
    ASSERT_TRUE(component.initialised());
    ASSERT_EQ(component.Call(component.MethodNumber("Attach")), 1);
    const LONG ping = component.MethodNumber("Ping");
    win::com_ptr<IPropertyPage> page = component.Query<IPropertyPage>();
    win::com_ptr<IUnknown> itself = component.Query<IUnknown>();
    win::com_ptr<IConnectionSettings> settings = component.Query<IConnectionSettings>();
    CountingSite site;

    std::atomic<bool> stopPinging{false};
    std::atomic<int> pings{0}, failedPings{0};
    std::thread script([&] {
        while (!stopPinging.load()) {
            if (component.Call(ping) != 1) ++failedPings;
            ++pings;
        }
    });

    WindowThread window(page.get(), itself.get(), &site);
    EXPECT_TRUE(window.WaitUntilActivated());
    int failedApplies = 0;
    std::thread([&] {
        for (int i = 0; i < kApplies; ++i) {
            if (page->Apply() != S_OK) ++failedApplies;
            ::Sleep(50);
        }
    }).join();
    // The page catches up between two pings, however close they follow.
    const DWORD deadline = ::GetTickCount() + kShownWithinMs;
    while (window.shownAt.load() == 0 && static_cast<LONG>(::GetTickCount() - deadline) < 0) ::Sleep(10);
    const DWORD shownAt = window.shownAt.load();
    stopPinging = true;
    script.join();

    EXPECT_EQ(failedPings.load(), 0) << "of " << pings.load() << " pings";
    EXPECT_GT(pings.load(), 0);
    EXPECT_EQ(failedApplies, 0);
    LONG port = -1, speed = -1, adapter = -1;
    settings->GetSettings(&port, &speed, &adapter);
    EXPECT_EQ(port, kPortIndexOf16) << "Apply stored what the page shows, COM16";
    EXPECT_EQ(speed, 0);
    EXPECT_EQ(adapter, 0);
    EXPECT_NE(shownAt, 0u) << "the page showed the settings between two pings";
    EXPECT_EQ(window.portShown, kPortIndexOf16);
    EXPECT_GT(site.statuses.load(), 0);

    // The frame lets go on a thread of its own, without deactivating the page.
    itself.reset();
    settings.reset();
    win::com_ptr<IInitDone> last = component.Finish();
    std::thread([&] {
        page->SetObjects(0, nullptr);
        page->SetPageSite(nullptr);
        page.reset();
        last.reset();
    }).join();
    window.Join();
    EXPECT_TRUE(window.windowGoneByItself) << "the window's own thread destroyed it";
    EXPECT_EQ(site.references(), 0);
}

// A page activated while a call holds the component's lock (a silent
// terminal: each ping takes some 200 to 500 ms) opens at once, with nothing
// to choose from; it shows the settings when that call lets the lock go,
// before the script's next call takes it.
TEST(PageOnThreadsOfItsOwn, ActivateDuringACallShowsThePageAtOnceAndTheSettingsBetweenTwoCalls) {
    constexpr int kPings = 3;
    constexpr DWORD kIntoTheCallMs = 50;
    Component component(kSilentPort);
    ASSERT_TRUE(component.initialised());
    ASSERT_EQ(component.Call(component.MethodNumber("Attach")), 1);
    const LONG ping = component.MethodNumber("Ping");
    const win::com_ptr<IPropertyPage> page = component.Query<IPropertyPage>();
    const win::com_ptr<IUnknown> itself = component.Query<IUnknown>();
    CountingSite site;

    win::unique_event calling;
    ASSERT_TRUE(calling.create(win::unique_event::Reset::Manual));
    DWORD callsEnded = 0;
    std::thread script([&] {
        calling.SetEvent();
        for (int i = 0; i < kPings; ++i) component.Call(ping);
        callsEnded = ::GetTickCount();
    });
    EXPECT_TRUE(calling.wait(kThreadLimitMs));
    ::Sleep(kIntoTheCallMs);

    WindowThread window(page.get(), itself.get(), &site);
    EXPECT_TRUE(window.WaitUntilActivated());
    script.join();
    const DWORD deadline = callsEnded + kShownWithinMs;
    while (window.shownAt.load() == 0 && static_cast<LONG>(::GetTickCount() - deadline) < 0) ::Sleep(10);
    window.Stop();
    window.Join();

    EXPECT_TRUE(window.disabledRightAfterActivate) << "the page did not wait for the call to show itself";
    EXPECT_LT(static_cast<LONG>(window.activatedAt - callsEnded), 0)
        << "Activate took " << window.activateMs << " ms and returned before the calls had ended";
    ASSERT_NE(window.shownAt.load(), 0u) << "the settings shown at last";
    EXPECT_EQ(window.portShown, kSilentPort - 1);
    EXPECT_LT(static_cast<LONG>(window.shownAt.load() - callsEnded), 0) << "shown between two calls";
    std::printf("Activate took %lu ms; the settings were shown %lu ms after it, the calls ended %lu ms after it\n",
                static_cast<unsigned long>(window.activateMs),
                static_cast<unsigned long>(window.shownAt.load() - window.activatedAt),
                static_cast<unsigned long>(callsEnded - window.activatedAt));

    page->Deactivate();
    page->SetObjects(0, nullptr);
    page->SetPageSite(nullptr);
}

}  // namespace
}  // namespace quill::test
