#include "component/addin_object.h"

#include <new>
#include <optional>
#include <utility>

#include "component/result_messages.h"
#include "core/win/text.h"
#include "ui/win32_machine_settings.h"

namespace quill {
namespace {

// What GetInfo reports to the host: the AddIn interface version.
constexpr LONG kAddInInfoVersion = 1000;
constexpr LONG kAddInInfoIndex = 0;

constexpr const char* kProfileName = "Quillomat VDX AddIn Profile Name";

// The host's profile as the settings logic sees it.
class HostProfile final : public SettingsProfile {
public:
    explicit HostProfile(IPropertyProfile& profile) : profile_(profile) {}

    bool ReadInteger(const char* key, int32_t& value) override {
        const win::unique_bstr name = win::BstrFromText(key);
        if (!name) return false;
        win::unique_variant read = win::unique_variant::from_int(0);
        if (profile_.Read(name.get(), read.get(), nullptr) != S_OK) return false;
        // A store that answers in another type is asked to convert, so that
        // nothing but a 32-bit integer is ever taken as the value.
        if (read.type() != VT_I4 && FAILED(::VariantChangeType(read.get(), read.get(), 0, VT_I4)))
            return false;
        value = read->lVal;
        return true;
    }

    void WriteInteger(const char* key, int32_t value) override {
        const win::unique_bstr name = win::BstrFromText(key);
        if (!name) return;
        win::unique_variant written = win::unique_variant::from_int(value);
        profile_.Write(name.get(), written.get());
    }

private:
    IPropertyProfile& profile_;
};

// Asks `connection` for T; null when it refuses.
template <typename T>
win::com_ptr<T> ObtainInterface(IDispatch* connection) {
    win::com_ptr<T> slot;
    if (connection == nullptr) return slot;
    if (FAILED(connection->QueryInterface(__uuidof(T), slot.put_void())))
        (void)slot.detach();  // whatever a failing call left there is not ours to release
    return slot;
}

}  // namespace

// --- Construction and identity ---------------------------------------------

AddInObject::AddInObject(IUnknown* outer)
    : inner_(*this),
      outer_(outer),
      trace_(clock_, localTime_),
      tracedLine_(line_, trace_.wire()),
      link_(tracedLine_, clock_, localTime_, state_),
      // The search holds the object's own count, as the page window does:
      // the thread that lets it go never calls an outer object.
      finder_({callGuard_, link_, settings_, state_, trace_.wire(), localTime_, inner_,
               [this] { page_.LockLetGo(); }}),
      pageKeeper_(*this),
      page_(callGuard_, settings_, link_, pageKeeper_, static_cast<IConnectionSettings*>(this), finder_, trace_),
      painter_(page_.window()),
      calls_(link_, state_, settings_, painter_, &trace_.wire()) {}

AddInObject::~AddInObject() = default;

HRESULT AddInObject::Create(IUnknown* outer, REFIID iid, void** object) noexcept {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    AddInObject* created = nullptr;
    try {
        created = new (std::nothrow) AddInObject(outer);
    } catch (...) {
        created = nullptr;
    }
    if (created == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = created->inner_.QueryInterface(iid, object);
    created->inner_.Release();  // the creation reference; destroys the object when iid was refused
    return hr;
}

IUnknown* AddInObject::ControllingUnknown() { return outer_ != nullptr ? outer_ : &inner_; }

HRESULT AddInObject::QueryOwnInterface(REFIID iid, void** object) {
    if (iid == IID_IUnknown || iid == __uuidof(IInitDone))
        *object = static_cast<IInitDone*>(this);
    else if (iid == __uuidof(ILanguageExtender))
        *object = static_cast<ILanguageExtender*>(this);
    else if (iid == __uuidof(IConnectionSettings))
        *object = static_cast<IConnectionSettings*>(this);
    else if (iid == __uuidof(IExchangeSettings))
        *object = static_cast<IExchangeSettings*>(this);
    else if (iid == __uuidof(IWireTrace))
        *object = static_cast<IWireTrace*>(this);
    else if (iid == __uuidof(ITerminalSearch))
        *object = static_cast<ITerminalSearch*>(this);
    else if (iid == __uuidof(IPropertyPage))
        *object = static_cast<IPropertyPage*>(this);
    else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(*object)->AddRef();
    return S_OK;
}

STDMETHODIMP AddInObject::InnerUnknown::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (owner_.outer_ != nullptr && iid == IID_IUnknown) {
        *object = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    return owner_.QueryOwnInterface(iid, object);
}

STDMETHODIMP_(ULONG) AddInObject::InnerUnknown::AddRef() {
    return static_cast<ULONG>(::InterlockedIncrement(&owner_.references_));
}

STDMETHODIMP_(ULONG) AddInObject::InnerUnknown::Release() {
    const LONG remaining = ::InterlockedDecrement(&owner_.references_);
    if (remaining == 0) delete &owner_;
    return static_cast<ULONG>(remaining);
}

STDMETHODIMP AddInObject::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (outer_ != nullptr) {
        const HRESULT hr = outer_->QueryInterface(iid, object);
        if (SUCCEEDED(hr)) return hr;
        *object = nullptr;
    }
    return QueryOwnInterface(iid, object);
}

STDMETHODIMP_(ULONG) AddInObject::AddRef() { return ControllingUnknown()->AddRef(); }

STDMETHODIMP_(ULONG) AddInObject::Release() { return ControllingUnknown()->Release(); }

// The object's own count: the one that decides when it is destroyed, also
// when it is aggregated.
bool AddInObject::PageKeeper::TryHold() {
    LONG count = owner_.references_;
    while (count > 0) {
        const LONG seen = ::InterlockedCompareExchange(&owner_.references_, count + 1, count);
        if (seen == count) return true;
        count = seen;
    }
    return false;
}

void AddInObject::PageKeeper::LetGo() { owner_.inner_.Release(); }

// --- IInitDone -------------------------------------------------------------

// The host's interfaces are asked for and the profile read before the call
// lock is taken; the interfaces an earlier Init obtained are let go of after
// it.
STDMETHODIMP AddInObject::Init(IDispatch* pConnection) {
    return win::GuardedCall([&]() -> HRESULT {
        HostInterfaces host = ObtainHostInterfaces(pConnection);
        std::optional<ConnectionSettings> loaded;
        bool loadedAll = true;
        if (host.profile) {
            RegisterProfile(*host.profile.get());
            {
                const auto guard = callGuard_.lock();
                loaded = settings_;
            }
            HostProfile profile(*host.profile.get());
            // What the administrator preset for the computer is the default
            // the profile answers when it holds no value of its own.
            RegistryMachineSettings machine;
            // A failed read keeps what was read before it.
            loadedAll = LoadSettings(profile, *loaded, ReadSettingDefaults(machine));
        }
        const auto guard = callGuard_.lock();
        std::swap(host_, host);
        if (loaded) settings_ = *loaded;
        if (!loadedAll) return E_FAIL;
        trace_.Follow(settings_.Trace);
        // Only a repeated Init finds the port open; it is closed properly
        // rather than forgotten.
        if (link_.IsOpen()) link_.ClosePort();
        state_.result = code::kPortNotInitialised;
        state_.ClearTexts();
        return S_OK;
    });
}

AddInObject::HostInterfaces AddInObject::ObtainHostInterfaces(IDispatch* connection) {
    HostInterfaces host;
    host.errorLog = ObtainInterface<IErrorLog>(connection);
    host.asyncEvent = ObtainInterface<IAsyncEvent>(connection);
    host.statusLine = ObtainInterface<IStatusLine>(connection);
    host.profile = ObtainInterface<IPropertyProfile>(connection);
    return host;
}

void AddInObject::RegisterProfile(IPropertyProfile& profile) {
    const win::unique_bstr name = win::BstrFromText(kProfileName);
    if (name) profile.RegisterProfileAs(name.get());
}

// The port is closed under the call lock; the settings are written to the
// profile and the host's interfaces let go of after it.
STDMETHODIMP AddInObject::Done() {
    return win::GuardedCall([&]() -> HRESULT {
        // A search still running gives the port back first.
        finder_.EndBeforeOwnUse();
        HostInterfaces host;
        ConnectionSettings toSave;
        {
            const auto guard = callGuard_.lock();
            link_.ClosePort();
            // After the port's close, which it writes; its last lines are
            // written within a short time.
            trace_.End();
            toSave = settings_;
            std::swap(host_, host);
        }
        if (host.profile) {
            HostProfile profile(*host.profile.get());
            SaveSettings(profile, toSave);
        }
        host.Release();
        return S_OK;
    });
}

void AddInObject::HostInterfaces::Release() {
    statusLine.reset();
    profile.reset();
    asyncEvent.reset();
    errorLog.reset();
}

STDMETHODIMP AddInObject::GetInfo(SAFEARRAY** pInfo) {
    // The host learns the interface version; whether the array took it is
    // not reported.
    if (pInfo == nullptr) return S_OK;
    win::variant_array info(*pInfo);
    const win::unique_variant version = win::unique_variant::from_int(kAddInInfoVersion);
    info.put(kAddInInfoIndex, *version.get());
    return S_OK;
}

// --- IConnectionSettings ---------------------------------------------------

STDMETHODIMP AddInObject::GetSettings(LONG* plPort, LONG* plSpeed, LONG* plIsIrDA) {
    if (plPort == nullptr || plSpeed == nullptr || plIsIrDA == nullptr) return E_POINTER;
    const auto guard = callGuard_.lock();
    *plPort = settings_.Port;
    *plSpeed = settings_.Speed;
    *plIsIrDA = settings_.IsIrDA;
    return S_OK;
}

STDMETHODIMP AddInObject::SetSettings(LONG lPort, LONG lSpeed, LONG lIsIrDA) {
    const auto guard = callGuard_.lock();
    settings_.Port = lPort;
    settings_.Speed = lSpeed;
    settings_.IsIrDA = lIsIrDA;
    return S_OK;
}

// --- IExchangeSettings -----------------------------------------------------

STDMETHODIMP AddInObject::GetFastExchange(LONG* plFastExchange) {
    if (plFastExchange == nullptr) return E_POINTER;
    const auto guard = callGuard_.lock();
    *plFastExchange = settings_.FastExchange;
    return S_OK;
}

// Kept as 1 or 0, so that what the page reads back is what the profile gets.
STDMETHODIMP AddInObject::SetFastExchange(LONG lFastExchange) {
    const auto guard = callGuard_.lock();
    settings_.FastExchange = FastExchangeFlag(lFastExchange);
    return S_OK;
}

}  // namespace quill
