// The module's entry points: the class table with its cached class
// factories, class-object lookup, the unload rule, and self-registration.
#include <windows.h>
#include <objbase.h>
#include <olectl.h>

#include <array>

#include "component/addin_object.h"
#include "core/win/com.h"
#include "core/win/handles.h"
#include "core/win/module_lock.h"
#include "host/addin.h"
#include "server/class_factory.h"
#include "server/registration.h"
#include "server/script_resource.h"

namespace quill {
namespace {

struct ClassEntry {
    const CLSID& clsid;
    UINT registrationScript;  // the "REGISTRY" resource with its keys
    ClassFactory::InstanceCreator createInstance;
    win::com_ptr<IUnknown> cachedFactory;  // null until first asked for
};

std::array<ClassEntry, 1> classTable = {{
    {__uuidof(AddIn), IDR_REGISTRATION_SCRIPT, &AddInObject::Create, nullptr},
}};

// Guards filling the cached factories, so two threads never make two.
win::critical_section factoryCacheGuard;

ClassEntry* FindClass(REFCLSID clsid) {
    for (ClassEntry& entry : classTable)
        if (entry.clsid == clsid) return &entry;
    return nullptr;
}

HRESULT CachedFactory(ClassEntry& entry, IUnknown*& factory) {
    const auto guard = factoryCacheGuard.lock();
    if (!entry.cachedFactory)
        QUILL_RETURN_IF_FAILED(
            ClassFactory::Create(entry.createInstance, IID_IUnknown, entry.cachedFactory.put_void()));
    factory = entry.cachedFactory.get();
    return S_OK;
}

void ReleaseCachedFactories() {
    for (ClassEntry& entry : classTable) entry.cachedFactory.reset();
}

// The class keys forwards, stopping at the first failure; then the type
// library.
HRESULT RegisterModule() {
    for (const ClassEntry& entry : classTable)
        QUILL_RETURN_IF_FAILED(RunModuleScript(entry.registrationScript, ScriptDirection::Register));
    return RegisterModuleTypeLibrary();
}

// The class keys backwards, whatever happens; the type library stays
// registered.
HRESULT UnregisterModule() {
    for (const ClassEntry& entry : classTable)
        RunModuleScript(entry.registrationScript, ScriptDirection::Unregister);
    return S_OK;
}

}  // namespace
}  // namespace quill

// The class table, the lock count and the cache guard are static objects,
// ready before the first call; at unload the cached factories go.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_DETACH) quill::ReleaseCachedFactories();
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    quill::ClassEntry* entry = quill::FindClass(clsid);
    if (entry == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
    IUnknown* factory = nullptr;
    QUILL_RETURN_IF_FAILED(quill::CachedFactory(*entry, factory));
    return factory->QueryInterface(iid, object);
}

STDAPI DllCanUnloadNow() { return quill::win::ModuleIsLocked() ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() { return quill::RegisterModule(); }

STDAPI DllUnregisterServer() { return quill::UnregisterModule(); }
