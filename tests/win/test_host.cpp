#include "tests/win/test_host.h"

#include <atomic>
#include <cwchar>
#include <thread>

namespace quill::test {
namespace {

constexpr const wchar_t* kModuleFileName = QUILL_MODULE_FILE_NAME;
constexpr wchar_t kDefaultSeparator = L':';

std::string TextOf(LPCOLESTR text) { return text != nullptr ? Utf8(text, std::wcslen(text)) : std::string(); }

// "Name:default" → the stored value of Name, or the default.
LONG ProfileValue(const std::map<std::string, LONG>& values, LPCOLESTR key) {
    const std::wstring wideKey = key != nullptr ? key : L"";
    const size_t separator = wideKey.find(kDefaultSeparator);
    const std::wstring name = wideKey.substr(0, separator);
    const auto stored = values.find(TextOf(name.c_str()));
    if (stored != values.end()) return stored->second;
    if (separator == std::wstring::npos) return 0;
    return std::wcstol(wideKey.c_str() + separator + 1, nullptr, 10);
}

}  // namespace

std::wstring DirectoryOfThisProgram() {
    std::wstring path(MAX_PATH, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

std::wstring Wide(const std::string& utf8) { return win::WideFromUtf8(utf8); }

std::string Utf8(const wchar_t* text, size_t length) {
    return text != nullptr ? win::Utf8FromWide(std::wstring_view(text, length)) : std::string();
}

std::string Utf8(BSTR text) { return Utf8(text, ::SysStringLen(text)); }

win::unique_bstr Bstr(const std::string& utf8) {
    const std::wstring wide = Wide(utf8);
    return win::unique_bstr(::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
}

void OnTwoMtaThreads(const std::function<void()>& work) {
    // Neither starts its work before the other is ready for it, so the two
    // really run at once.
    std::atomic<int> ready{0};
    const auto inTheMta = [&] {
        const HRESULT joined = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ++ready;
        while (ready.load() < 2) std::this_thread::yield();
        work();
        if (SUCCEEDED(joined)) ::CoUninitialize();
    };
    std::thread first(inTheMta);
    std::thread second(inTheMta);
    first.join();
    second.join();
}

std::vector<std::string> HostLog::Since(size_t index) const {
    if (index >= events.size()) return {};
    return std::vector<std::string>(events.begin() + static_cast<ptrdiff_t>(index), events.end());
}

// --- Host interfaces that the component must never call -------------------

STDMETHODIMP FakeErrorLog::AddError(LPCOLESTR, EXCEPINFO*) {
    CountCall();
    return S_OK;
}

STDMETHODIMP FakeAsyncEvent::SetEventBufferDepth(LONG) {
    CountCall();
    return S_OK;
}
STDMETHODIMP FakeAsyncEvent::GetEventBufferDepth(LONG*) {
    CountCall();
    return S_OK;
}
STDMETHODIMP FakeAsyncEvent::ExternalEvent(BSTR, BSTR, BSTR) {
    CountCall();
    return S_OK;
}
STDMETHODIMP FakeAsyncEvent::CleanBuffer() {
    CountCall();
    return S_OK;
}

STDMETHODIMP FakeStatusLine::SetStatusLine(BSTR) {
    CountCall();
    return S_OK;
}
STDMETHODIMP FakeStatusLine::ResetStatusLine() {
    CountCall();
    return S_OK;
}

// --- The profile ----------------------------------------------------------

const LONG* MemoryProfile::Written(const std::string& name) const {
    const auto found = written_.find(name);
    return found != written_.end() ? &found->second : nullptr;
}

STDMETHODIMP MemoryProfile::Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog) {
    CountCall();
    const std::string key = TextOf(pszPropName);
    std::string event = "Read " + key;
    if (pVar == nullptr || pVar->vt != VT_I4) event += " (not asked as VT_I4)";
    if (pErrorLog != nullptr) event += " (with an error log)";
    log().Add(event);

    const auto refusal = refused_.find(key);
    if (refusal != refused_.end()) return refusal->second;
    if (pVar == nullptr) return E_POINTER;

    const LONG value = ProfileValue(values_, pszPropName);
    ::VariantClear(pVar);
    if (answerAsText_) {
        pVar->vt = VT_BSTR;
        pVar->bstrVal = Bstr(std::to_string(value)).release();
    } else {
        pVar->vt = VT_I4;
        pVar->lVal = value;
    }
    return S_OK;
}

STDMETHODIMP MemoryProfile::Write(LPCOLESTR pszPropName, VARIANT* pVar) {
    CountCall();
    const std::string key = TextOf(pszPropName);
    if (pVar == nullptr || pVar->vt != VT_I4) {
        log().Add("Write " + key + " (not VT_I4)");
        return E_INVALIDARG;
    }
    log().Add("Write " + key + " " + std::to_string(pVar->lVal));
    written_[key] = pVar->lVal;
    values_[key] = pVar->lVal;
    return S_OK;
}

STDMETHODIMP MemoryProfile::RegisterProfileAs(BSTR bstrProfileName) {
    CountCall();
    log().Add("RegisterProfileAs " + Utf8(bstrProfileName));
    return S_OK;
}

// --- The connection object --------------------------------------------------

FakeConnection::FakeConnection(Offer offer) : FakeObject("connection", log), offer_(offer) {}

STDMETHODIMP FakeConnection::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    struct HostInterface {
        const IID& iid;
        const char* name;
        bool offered;
        IUnknown* fake;
    };
    const HostInterface hostInterfaces[] = {
        {__uuidof(IErrorLog), "IErrorLog", offer_.errorLog, &errorLog},
        {__uuidof(IAsyncEvent), "IAsyncEvent", offer_.asyncEvent, &asyncEvent},
        {__uuidof(IStatusLine), "IStatusLine", offer_.statusLine, &statusLine},
        {__uuidof(IPropertyProfile), "IPropertyProfile", offer_.profile, &profile},
    };
    for (const HostInterface& host : hostInterfaces) {
        if (iid != host.iid) continue;
        log.Add(std::string("QueryInterface ") + host.name);
        return host.offered ? host.fake->QueryInterface(iid, object) : E_NOINTERFACE;
    }
    return FakeObject::QueryInterface(iid, object);
}

STDMETHODIMP FakeConnection::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }
STDMETHODIMP FakeConnection::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
STDMETHODIMP FakeConnection::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
STDMETHODIMP FakeConnection::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return E_NOTIMPL;
}

// --- The outer unknown --------------------------------------------------------

STDMETHODIMP FakeOuter::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch) return FakeObject::QueryInterface(iid, object);
    *object = nullptr;
    if (delegate && inner) return inner->QueryInterface(iid, object);
    return E_NOINTERFACE;
}

STDMETHODIMP FakeOuter::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }
STDMETHODIMP FakeOuter::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
STDMETHODIMP FakeOuter::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
STDMETHODIMP FakeOuter::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return E_NOTIMPL;
}

// --- The module -----------------------------------------------------------------

Module& Module::Get() {
    static Module module;
    return module;
}

Module::Module() : path_(DirectoryOfThisProgram() + kModuleFileName) {
    handle_.reset(::LoadLibraryW(path_.c_str()));
    if (!handle_) return;
    getClassObject_ = reinterpret_cast<decltype(getClassObject_)>(
        reinterpret_cast<void*>(::GetProcAddress(handle_.get(), "DllGetClassObject")));
    canUnloadNow_ = reinterpret_cast<decltype(canUnloadNow_)>(
        reinterpret_cast<void*>(::GetProcAddress(handle_.get(), "DllCanUnloadNow")));
}

HRESULT Module::GetClassObject(REFCLSID clsid, REFIID iid, void** object) const {
    return getClassObject_ != nullptr ? getClassObject_(clsid, iid, object) : E_UNEXPECTED;
}

HRESULT Module::CanUnloadNow() const { return canUnloadNow_ != nullptr ? canUnloadNow_() : E_UNEXPECTED; }

win::com_ptr<IInitDone> Module::CreateComponent() const {
    win::com_ptr<IClassFactory> factory;
    if (FAILED(GetClassObject(__uuidof(AddIn), IID_IClassFactory, factory.put_void()))) return {};
    win::com_ptr<IInitDone> component;
    factory->CreateInstance(nullptr, __uuidof(IInitDone), component.put_void());
    return component;
}

// --- Arrays and values -------------------------------------------------------------

VariantArray::VariantArray(ULONG count, VARTYPE elementType)
    : array_(win::unique_safearray::create_vector(elementType, count)) {}

void VariantArray::Set(LONG index, const VARIANT& value) {
    ::SafeArrayPutElement(array_.get(), &index, const_cast<VARIANT*>(&value));
}

win::unique_variant VariantArray::At(LONG index) const {
    win::unique_variant element;
    ::SafeArrayGetElement(array_.get(), &index, element.put());
    return element;
}

win::unique_variant IntValue(LONG value) { return win::unique_variant::from_int(value); }

win::unique_variant TextValue(const std::string& utf8) {
    win::unique_variant value;
    value->vt = VT_BSTR;
    value->bstrVal = Bstr(utf8).release();
    return value;
}

win::unique_variant DoubleValue(double number) {
    win::unique_variant value;
    value->vt = VT_R8;
    value->dblVal = number;
    return value;
}

win::unique_variant ShortValue(SHORT number) {
    win::unique_variant value;
    value->vt = VT_I2;
    value->iVal = number;
    return value;
}

win::unique_variant BoolValue(bool flag) {
    win::unique_variant value;
    value->vt = VT_BOOL;
    value->boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE;
    return value;
}

}  // namespace quill::test
