// The class factory of the module: makes component objects, plain or
// aggregated, and locks the server on request. Its own reference count is
// guarded by a critical section; the module's cached reference does not lock
// the module, every further reference does.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "core/win/handles.h"

namespace quill {

class ClassFactory final : public IClassFactory {
public:
    // Makes a component object: plain when `outer` is null, otherwise
    // aggregated; then asks it for `iid`.
    using InstanceCreator = HRESULT (*)(IUnknown* outer, REFIID iid, void** object);

    // Makes a factory for the instances `creator` makes and asks it for `iid`.
    static HRESULT Create(InstanceCreator creator, REFIID iid, void** object) noexcept;

    ClassFactory(const ClassFactory&) = delete;
    ClassFactory& operator=(const ClassFactory&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    explicit ClassFactory(InstanceCreator creator) : creator_(creator) {}
    ~ClassFactory() = default;

    const InstanceCreator creator_;
    win::critical_section referenceGuard_;
    volatile LONG references_ = 0;
};

}  // namespace quill
