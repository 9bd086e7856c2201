#include "tools/host-console/console_host.h"

#include <new>

namespace quill::console {

win::com_ptr<ConsoleConnection> ConsoleConnection::Create(const Profile& seed, const ProfileStore& store,
                                                         bool readKept) {
    return win::com_ptr<ConsoleConnection>::attach(new (std::nothrow) ConsoleConnection(seed, store, readKept));
}

bool ConsoleConnection::KeepWritten() const {
    if (profileName_.empty() || written_.empty()) return true;
    return store_.Save(profileName_, written_);
}

HRESULT ConsoleConnection::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch)
        *object = static_cast<IDispatch*>(this);
    else if (iid == IID_IPropertyProfile || iid == IID_IPropertyBag)
        *object = static_cast<IPropertyProfile*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG ConsoleConnection::AddRef() { return static_cast<ULONG>(++references_); }

ULONG ConsoleConnection::Release() {
    const LONG left = --references_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

HRESULT ConsoleConnection::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
}
HRESULT ConsoleConnection::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info != nullptr) *info = nullptr;
    return E_NOTIMPL;
}
HRESULT ConsoleConnection::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
HRESULT ConsoleConnection::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return E_NOTIMPL;
}

// A key read as "Name:default" answers what was written under "Name", else
// what the session was started with, else what the store kept under "Name",
// else the default after the colon.
HRESULT ConsoleConnection::Read(LPCOLESTR name, VARIANT* value, IErrorLog*) {
    if (name == nullptr || value == nullptr) return E_POINTER;
    const std::wstring key(name);
    const size_t colon = key.find(L':');
    const std::wstring bare = key.substr(0, colon);
    LONG result = colon == std::wstring::npos ? 0 : _wtol(key.c_str() + colon + 1);
    if (auto stored = stored_.find(bare); stored != stored_.end()) result = stored->second;
    if (auto seeded = seed_.find(bare); seeded != seed_.end()) result = seeded->second;
    if (auto written = written_.find(bare); written != written_.end()) result = written->second;
    ::VariantClear(value);
    value->vt = VT_I4;
    value->lVal = result;
    return S_OK;
}

HRESULT ConsoleConnection::Write(LPCOLESTR name, VARIANT* value) {
    if (name == nullptr || value == nullptr) return E_POINTER;
    if (value->vt != VT_I4) return E_INVALIDARG;
    written_[name] = value->lVal;
    return S_OK;
}

// The component names its profile before it reads it: what the store keeps
// for that name is read now.
HRESULT ConsoleConnection::RegisterProfileAs(BSTR profileName) {
    profileName_.assign(profileName, ::SysStringLen(profileName));
    if (readKept_) stored_ = store_.Load(profileName_);
    return S_OK;
}

}  // namespace quill::console
