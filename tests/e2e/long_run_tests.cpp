// The module over long runs and on two threads at once, against the plain
// simulated terminal on COM16 (see run-e2e.sh): two threads of the
// multi-threaded apartment pinging through one component; 10,000 calls on
// one component and 1,000 component lives from creation to release, with
// the process's live handles counted before and after.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/win/test_host.h"

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
// profile that chooses COM16, Done and released when it goes.
class Component {
public:
    Component() {
        connection_.profile.Store("Port", kPort - 1);
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

}  // namespace
}  // namespace quill::test
