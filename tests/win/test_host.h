// A test host for the component: the module loaded from the test program's
// directory, a fake connection object that offers or refuses each host
// interface, an in-memory profile that records every call, and a fake outer
// unknown for aggregation. The fakes belong to the test (Release never
// deletes them); their reference counts stay observable.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/win/com.h"
#include "core/win/handles.h"
#include "core/win/text.h"
#include "host/addin.h"
#include "host/page_site.h"

namespace quill::test {

// UTF-8 test texts to and from the host's UTF-16.
std::wstring Wide(const std::string& utf8);
std::string Utf8(const wchar_t* text, size_t length);
std::string Utf8(BSTR text);
win::unique_bstr Bstr(const std::string& utf8);

// The folder of the running test program, with its trailing separator.
std::wstring DirectoryOfThisProgram();

// What the fake host objects were asked, in order, as readable lines:
// "QueryInterface IErrorLog", "Read Port:0", "Write Speed 1",
// "Release IStatusLine", ...
struct HostLog {
    std::vector<std::string> events;
    void Add(std::string event) { events.push_back(std::move(event)); }
    // The events from `index` on.
    std::vector<std::string> Since(size_t index) const;
};

// Reference counting for a fake of one interface.
template <typename Interface>
class FakeObject : public Interface {
public:
    FakeObject(const char* name, HostLog& log) : name_(name), log_(log) {}
    virtual ~FakeObject() = default;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || Answers(iid)) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++references_); }
    STDMETHODIMP_(ULONG) Release() override {
        log_.Add(std::string("Release ") + name_);
        return static_cast<ULONG>(--references_);
    }

    // References held by others.
    LONG references() const { return references_; }
    // Calls of the interface's own methods.
    int calls() const { return calls_; }
    const char* name() const { return name_; }

protected:
    virtual bool Answers(REFIID iid) const { return iid == __uuidof(Interface); }
    void CountCall() { ++calls_; }
    HostLog& log() { return log_; }

private:
    const char* name_;
    HostLog& log_;
    LONG references_ = 0;
    int calls_ = 0;
};

// A frame's page site that records each status change the page reports.
class RecordingSite final : public PlainPageSite<FakeObject<IPropertyPageSite>> {
public:
    explicit RecordingSite(HostLog& log) : PlainPageSite("IPropertyPageSite", log) {}
    std::vector<DWORD> statuses;

    STDMETHODIMP OnStatusChange(DWORD flags) override {
        statuses.push_back(flags);
        return S_OK;
    }
};

class FakeErrorLog final : public FakeObject<IErrorLog> {
public:
    explicit FakeErrorLog(HostLog& log) : FakeObject("IErrorLog", log) {}
    STDMETHODIMP AddError(LPCOLESTR, EXCEPINFO*) override;
};

class FakeAsyncEvent final : public FakeObject<IAsyncEvent> {
public:
    explicit FakeAsyncEvent(HostLog& log) : FakeObject("IAsyncEvent", log) {}
    STDMETHODIMP SetEventBufferDepth(LONG) override;
    STDMETHODIMP GetEventBufferDepth(LONG*) override;
    STDMETHODIMP ExternalEvent(BSTR, BSTR, BSTR) override;
    STDMETHODIMP CleanBuffer() override;
};

class FakeStatusLine final : public FakeObject<IStatusLine> {
public:
    explicit FakeStatusLine(HostLog& log) : FakeObject("IStatusLine", log) {}
    STDMETHODIMP SetStatusLine(BSTR) override;
    STDMETHODIMP ResetStatusLine() override;
};

// The host's profile store in memory. A read of "Name:default" answers the
// value last written under "Name", or the default after the colon. Logs
// "RegisterProfileAs <name>", "Read <key>" and "Write <key> <value>"; a read
// asked with a type other than VT_I4 or with an error log is logged with
// that noted.
class MemoryProfile final : public FakeObject<IPropertyProfile> {
public:
    explicit MemoryProfile(HostLog& log) : FakeObject("IPropertyProfile", log) {}

    // Stores a value as if written earlier under `name`.
    void Store(const std::string& name, LONG value) { values_[name] = value; }
    // Makes every read of `key` answer `answer` (E_FAIL when not given).
    void RefuseRead(const std::string& key, HRESULT answer = E_FAIL) { refused_[key] = answer; }
    // Answers reads as text (VT_BSTR) instead of VT_I4.
    void AnswerAsText(bool asText) { answerAsText_ = asText; }
    // The value last written under `name`, or nullptr.
    const LONG* Written(const std::string& name) const;

    STDMETHODIMP Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog) override;
    STDMETHODIMP Write(LPCOLESTR pszPropName, VARIANT* pVar) override;
    STDMETHODIMP RegisterProfileAs(BSTR bstrProfileName) override;

protected:
    bool Answers(REFIID iid) const override {
        return iid == __uuidof(IPropertyProfile) || iid == __uuidof(IPropertyBag);
    }

private:
    std::map<std::string, LONG> values_;
    std::map<std::string, LONG> written_;
    std::map<std::string, HRESULT> refused_;
    bool answerAsText_ = false;
};

// Which host interfaces the connection object hands out.
struct Offer {
    bool errorLog = true;
    bool asyncEvent = true;
    bool statusLine = true;
    bool profile = true;
};

// The host's connection object (an IDispatch). Logs every QueryInterface
// for a host interface, answered or not, as "QueryInterface <name>".
class FakeConnection final : public FakeObject<IDispatch> {
public:
    explicit FakeConnection(Offer offer = Offer());

    HostLog log;
    FakeErrorLog errorLog{log};
    FakeAsyncEvent asyncEvent{log};
    FakeStatusLine statusLine{log};
    MemoryProfile profile{log};

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP GetTypeInfoCount(UINT*) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;

private:
    Offer offer_;
};

// An outer unknown that aggregates the component. It answers IUnknown and
// IDispatch itself; any other interface it passes to the inner unknown when
// told to delegate, and refuses otherwise.
class FakeOuter final : public FakeObject<IDispatch> {
public:
    explicit FakeOuter(HostLog& log) : FakeObject("outer", log) {}

    win::com_ptr<IUnknown> inner;  // the aggregated object's own IUnknown
    bool delegate = false;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP GetTypeInfoCount(UINT*) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;
};

// The module under test, loaded once from the test program's directory and
// kept for the program's life.
class Module {
public:
    static Module& Get();

    const std::wstring& path() const { return path_; }
    HMODULE handle() const { return handle_.get(); }
    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) const;
    HRESULT CanUnloadNow() const;

    // A new plain component object through the class factory.
    win::com_ptr<IInitDone> CreateComponent() const;

private:
    Module();

    std::wstring path_;
    win::unique_hmodule handle_;
    HRESULT(STDAPICALLTYPE* getClassObject_)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* canUnloadNow_)() = nullptr;
};

// A SAFEARRAY of VARIANTs, indexed from 0, owned by the test.
class VariantArray {
public:
    explicit VariantArray(ULONG count, VARTYPE elementType = VT_VARIANT);

    SAFEARRAY** put() { return array_.addressof(); }
    SAFEARRAY* get() const { return array_.get(); }
    // Puts a copy of `value` at `index`.
    void Set(LONG index, const VARIANT& value);
    // A copy of the element at `index`.
    win::unique_variant At(LONG index) const;

private:
    win::unique_safearray array_;
};

// Runs `work` on two threads of the multi-threaded apartment at once and
// returns when both have ended.
void OnTwoMtaThreads(const std::function<void()>& work);

// VARIANT values for tests.
win::unique_variant IntValue(LONG value);
win::unique_variant TextValue(const std::string& utf8);
win::unique_variant DoubleValue(double value);
win::unique_variant ShortValue(SHORT value);
win::unique_variant BoolValue(bool value);

}  // namespace quill::test
