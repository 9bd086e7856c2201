#include "server/class_factory.h"

#include <new>

#include "core/win/module_lock.h"

namespace quill {
namespace {

// The count at which the factory has one reference beyond the module's own.
constexpr LONG kFirstExtraReference = 2;

// Module locks taken with LockServer(TRUE) and not yet given back. An unlock
// without a lock before it gives nothing back, so it cannot release a lock
// that an object or a factory reference holds.
volatile LONG serverLocks = 0;

void TakeServerLock() {
    ::InterlockedIncrement(&serverLocks);
    win::LockModule();
}

void GiveBackServerLock() {
    for (;;) {
        const LONG held = ::InterlockedCompareExchange(&serverLocks, 0, 0);
        if (held <= 0) return;
        if (::InterlockedCompareExchange(&serverLocks, held - 1, held) == held) break;
    }
    win::UnlockModule();
}

}  // namespace

HRESULT ClassFactory::Create(InstanceCreator creator, REFIID iid, void** object) noexcept {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    ClassFactory* factory = new (std::nothrow) ClassFactory(creator);
    if (factory == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(iid, object);
    if (FAILED(hr)) delete factory;
    return hr;
}

STDMETHODIMP ClassFactory::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (iid != IID_IUnknown && iid != IID_IClassFactory) {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) ClassFactory::AddRef() {
    const auto guard = referenceGuard_.lock();
    const LONG count = ::InterlockedIncrement(&references_);
    if (count == kFirstExtraReference) win::LockModule();
    return static_cast<ULONG>(count);
}

STDMETHODIMP_(ULONG) ClassFactory::Release() {
    LONG count = 0;
    {
        const auto guard = referenceGuard_.lock();
        count = ::InterlockedDecrement(&references_);
        if (count == kFirstExtraReference - 1) win::UnlockModule();
    }
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr && iid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
    return creator_(outer, iid, object);
}

STDMETHODIMP ClassFactory::LockServer(BOOL lock) {
    if (lock)
        TakeServerLock();
    else
        GiveBackServerLock();
    return S_OK;
}

}  // namespace quill
