// The host side of a console session: the connection object the component
// receives at Init, with a profile seeded from the command line and kept
// between runs in the console's profile store. Besides IDispatch it offers IPropertyProfile only; the
// component works on without the host's error log, event queue and status
// line.
#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "core/win/com.h"
#include "host/addin.h"
#include "tools/host-console/profile_store.h"

namespace quill::console {

class ConsoleConnection final : public IDispatch, public IPropertyProfile {
public:
    using Profile = std::map<std::wstring, LONG>;

    // `seed` holds what the profile answers, keyed by the bare name of the
    // key the component reads ("Port" for "Port:0", "Port:22" or any other
    // default); a key not seeded reads as the store keeps it under its bare
    // name for the profile the component registers, else as the default
    // after the colon. Without `readKept`, what the
    // store keeps is not read: the defaults stand in for it.
    static win::com_ptr<ConsoleConnection> Create(const Profile& seed, const ProfileStore& store,
                                                  bool readKept = true);

    // Keeps what the component wrote in the store, for the next run; false
    // when the store cannot be written.
    bool KeepWritten() const;
    IDispatch* AsDispatch() { return static_cast<IDispatch*>(this); }

    // IUnknown (shared by both bases)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IDispatch: the connection has no dispatch members of its own.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override;
    // IPropertyBag
    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog* log) override;
    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override;
    // IPropertyProfile
    HRESULT STDMETHODCALLTYPE RegisterProfileAs(BSTR profileName) override;

private:
    ConsoleConnection(const Profile& seed, const ProfileStore& store, bool readKept)
        : seed_(seed), store_(store), readKept_(readKept) {}
    ~ConsoleConnection() = default;

    LONG references_ = 1;
    Profile seed_;
    ProfileStore store_;
    bool readKept_;
    std::wstring profileName_;  // as the component registered it
    Profile stored_;
    Profile written_;
};

}  // namespace quill::console
