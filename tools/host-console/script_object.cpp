#include "tools/host-console/script_object.h"

#include <cwchar>
#include <cwctype>
#include <utility>

namespace quill::console {
namespace {

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

win::unique_bstr Bstr(const std::wstring& text) {
    return win::unique_bstr(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
}

std::wstring FromBstr(BSTR value) { return std::wstring(value, ::SysStringLen(value)); }

// The file the class key of `classId` names as its in-process server.
std::wstring RegisteredModule(REFCLSID classId) {
    LPOLESTR text = nullptr;
    if (FAILED(::StringFromCLSID(classId, &text))) return {};
    const std::wstring key = L"CLSID\\" + std::wstring(text) + L"\\InprocServer32";
    ::CoTaskMemFree(text);
    wchar_t path[MAX_PATH * 4] = {};
    DWORD size = sizeof path;
    if (::RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, path, &size) !=
        ERROR_SUCCESS)
        return {};
    return path;
}

// A SAFEARRAY of VARIANT holding the arguments, destroyed with the call.
win::unique_safearray ArgumentArray(const std::vector<ScriptValue>& args) {
    auto array = win::unique_safearray::create_vector(VT_VARIANT, static_cast<ULONG>(args.size()));
    win::variant_array elements(array.get());
    for (size_t i = 0; i < args.size(); ++i) {
        win::unique_variant value;
        if (args[i].isText) {
            value->vt = VT_BSTR;
            value->bstrVal = Bstr(args[i].text).release();
        } else {
            value = win::unique_variant::from_int(args[i].number);
        }
        elements.put(static_cast<LONG>(i), *value.get());
    }
    return array;
}

}  // namespace

ScriptValue ScriptValue::Parse(const std::wstring& word) {
    if (!word.empty()) {
        wchar_t* end = nullptr;
        const long value = std::wcstol(word.c_str(), &end, 10);
        if (end != nullptr && *end == L'\0' && (std::iswdigit(word.back()) != 0)) return Number(value);
    }
    return Text(word);
}

std::wstring ScriptValue::Show() const {
    return isText ? L"\"" + text + L"\"" : std::to_wstring(number);
}

std::optional<ScriptObject> ScriptObject::Create(const std::wstring& modulePath, IDispatch* connection,
                                                 std::wstring& error) {
    ScriptObject object;
    object.module_.reset(::LoadLibraryW(modulePath.c_str()));
    if (!object.module_) {
        error = L"cannot load " + modulePath;
        return std::nullopt;
    }
    auto getClassObject = reinterpret_cast<GetClassObjectFunction>(
        reinterpret_cast<void*>(::GetProcAddress(object.module_.get(), "DllGetClassObject")));
    win::com_ptr<IClassFactory> factory;
    if (getClassObject == nullptr ||
        FAILED(getClassObject(CLSID_AddIn, IID_IClassFactory, factory.put_void())) ||
        FAILED(factory->CreateInstance(nullptr, IID_IInitDone, object.initDone_.put_void()))) {
        error = L"the module hands out no component";
        return std::nullopt;
    }
    return Initialise(std::move(object), connection, error);
}

std::optional<CLSID> ScriptObject::RegisteredClass(const std::wstring& progId) {
    CLSID classId = {};
    if (FAILED(::CLSIDFromProgID(progId.c_str(), &classId))) return std::nullopt;
    return classId;
}

std::optional<ScriptObject> ScriptObject::CreateRegistered(const std::wstring& progId, const CLSID& classId,
                                                           IDispatch* connection, std::wstring& modulePath,
                                                           std::wstring& error) {
    ScriptObject object;
    if (FAILED(::CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IInitDone,
                                  object.initDone_.put_void()))) {
        error = progId + L" is not registered, or its module hands out no component";
        return std::nullopt;
    }
    modulePath = RegisteredModule(classId);
    return Initialise(std::move(object), connection, error);
}

std::optional<ScriptObject> ScriptObject::Initialise(ScriptObject object, IDispatch* connection,
                                                     std::wstring& error) {
    object.extender_ = object.initDone_.query<ILanguageExtender>();
    if (!object.extender_ || FAILED(object.initDone_->Init(connection))) {
        error = L"the component refused Init";
        return std::nullopt;
    }
    return std::optional<ScriptObject>(std::move(object));
}

ScriptObject::ScriptObject(ScriptObject&& other) noexcept
    : module_(std::move(other.module_)),
      initDone_(std::move(other.initDone_)),
      extender_(std::move(other.extender_)),
      done_(std::exchange(other.done_, true)) {}

ScriptObject::~ScriptObject() {
    Done();
    extender_.reset();
    initDone_.reset();
}

void ScriptObject::Done() {
    if (done_ || !initDone_) return;
    done_ = true;
    initDone_->Done();
}

std::wstring ScriptObject::ExtensionName() const {
    win::unique_bstr name;
    extender_->RegisterExtensionAs(name.put());
    return FromBstr(name.get());
}

Member ScriptObject::Describe(LONG number, bool property) const {
    Member member;
    member.number = number;
    win::unique_bstr english, russian;
    if (property) {
        extender_->GetPropName(number, 0, english.put());
        extender_->GetPropName(number, 1, russian.put());
    } else {
        extender_->GetMethodName(number, 0, english.put());
        extender_->GetMethodName(number, 1, russian.put());
    }
    member.english = FromBstr(english.get());
    member.russian = FromBstr(russian.get());
    return member;
}

std::vector<Member> ScriptObject::Properties() const {
    LONG count = 0;
    extender_->GetNProps(&count);
    std::vector<Member> members;
    for (LONG n = 0; n < count; ++n) members.push_back(Describe(n, true));
    return members;
}

std::vector<Member> ScriptObject::Methods() const {
    LONG count = 0;
    extender_->GetNMethods(&count);
    std::vector<Member> members;
    for (LONG n = 0; n < count; ++n) members.push_back(Describe(n, false));
    return members;
}

LONG ScriptObject::ParameterCount(LONG method) const {
    LONG count = 0;
    extender_->GetNParams(method, &count);
    return count;
}

bool ScriptObject::ReturnsValue(LONG method) const {
    LONG returns = 0;
    extender_->HasRetVal(method, &returns);
    return returns != 0;
}

std::optional<Member> ScriptObject::FindProperty(const std::wstring& name) const {
    LONG number = -1;
    if (extender_->FindProp(Bstr(name).get(), &number) != S_OK) return std::nullopt;
    return Describe(number, true);
}

std::optional<Member> ScriptObject::FindMethod(const std::wstring& name) const {
    LONG number = -1;
    if (extender_->FindMethod(Bstr(name).get(), &number) != S_OK) return std::nullopt;
    return Describe(number, false);
}

std::optional<LONG> ScriptObject::Call(LONG method, const std::vector<ScriptValue>& args, HRESULT& hr) {
    auto params = ArgumentArray(args);
    if (!ReturnsValue(method)) {
        hr = extender_->CallAsProc(method, params.addressof());
        return std::nullopt;
    }
    win::unique_variant value;
    hr = extender_->CallAsFunc(method, value.get(), params.addressof());
    if (hr != S_OK || value.type() != VT_I4) return std::nullopt;
    return value->lVal;
}

ScriptValue ScriptObject::Get(LONG property) const {
    win::unique_variant value;
    extender_->GetPropVal(property, value.get());
    if (value.type() == VT_BSTR) return ScriptValue::Text(FromBstr(value->bstrVal));
    if (value.type() == VT_I4) return ScriptValue::Number(value->lVal);
    return {};
}

HRESULT ScriptObject::Set(LONG property, const ScriptValue& value) {
    win::unique_variant variant;
    if (value.isText) {
        variant->vt = VT_BSTR;
        variant->bstrVal = Bstr(value.text).release();
    } else {
        variant = win::unique_variant::from_int(value.number);
    }
    return extender_->SetPropVal(property, variant.get());
}

std::wstring ScriptObject::Text(const wchar_t* englishName) const {
    const auto property = FindProperty(englishName);
    return property ? Get(property->number).text : std::wstring();
}

}  // namespace quill::console
