// The component object the host creates: IInitDone (life from Init to Done),
// ILanguageExtender (the script's properties and methods), the private
// IConnectionSettings, IExchangeSettings, IWireTrace and ITerminalSearch, and
// IPropertyPage (the settings page). One reference count for all of them; it
// can be aggregated. The class is registered for both apartment kinds, so threads of the multi-threaded
// apartment may call one object at once: the count is interlocked, and every
// call that reads or changes the object's state, its settings or the page's
// site and objects, or talks to the terminal, holds its call lock, so one
// such call at a time reaches the link. The search for the terminal holds
// it too, on a thread of its own, for as long as it searches. Nothing is
// called out of the object (the host's interfaces, the page's site and
// objects) while the lock is held, and no reference to them is let go then.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include "component/component_trace.h"
#include "component/method_calls.h"
#include "component/property_page.h"
#include "component/terminal_finder.h"
#include "core/component_state.h"
#include "core/win/com.h"
#include "core/win/handles.h"
#include "core/win/module_lock.h"
#include "host/addin.h"
#include "link/terminal_link.h"
#include "link/win32_port_map.h"
#include "link/win32_serial_line.h"
#include "ui/settings_profile.h"
#include "ui/progress_box.h"

namespace quill {

class AddInObject final : public IInitDone,
                          public ILanguageExtender,
                          public IConnectionSettings,
                          public IExchangeSettings,
                          public IWireTrace,
                          public ITerminalSearch,
                          public ISearchPorts,
                          public IPropertyPage {
public:
    // Makes a component object, plain when `outer` is null, otherwise
    // aggregated by it, and asks it for `iid`. The object is destroyed again
    // when it does not answer `iid`.
    static HRESULT Create(IUnknown* outer, REFIID iid, void** object) noexcept;

    AddInObject(const AddInObject&) = delete;
    AddInObject& operator=(const AddInObject&) = delete;

    // IUnknown of the interfaces: AddRef and Release go to the controlling
    // unknown (the outer one when aggregated); QueryInterface asks the outer
    // unknown first and falls back to our own interfaces.
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IInitDone
    STDMETHODIMP Init(IDispatch* pConnection) override;
    STDMETHODIMP Done() override;
    STDMETHODIMP GetInfo(SAFEARRAY** pInfo) override;

    // ILanguageExtender: extension name and properties (property_access.cpp)
    STDMETHODIMP RegisterExtensionAs(BSTR* bstrExtensionName) override;
    STDMETHODIMP GetNProps(LONG* plProps) override;
    STDMETHODIMP FindProp(BSTR bstrPropName, LONG* plPropNum) override;
    STDMETHODIMP GetPropName(LONG lPropNum, LONG lPropAlias, BSTR* pbstrPropName) override;
    STDMETHODIMP GetPropVal(LONG lPropNum, VARIANT* pvarPropVal) override;
    STDMETHODIMP SetPropVal(LONG lPropNum, VARIANT* varPropVal) override;
    STDMETHODIMP IsPropReadable(LONG lPropNum, LONG* pboolPropRead) override;
    STDMETHODIMP IsPropWritable(LONG lPropNum, LONG* pboolPropWrite) override;

    // ILanguageExtender: methods (method_dispatch.cpp)
    STDMETHODIMP GetNMethods(LONG* plMethods) override;
    STDMETHODIMP FindMethod(BSTR bstrMethodName, LONG* plMethodNum) override;
    STDMETHODIMP GetMethodName(LONG lMethodNum, LONG lMethodAlias, BSTR* pbstrMethodName) override;
    STDMETHODIMP GetNParams(LONG lMethodNum, LONG* plParams) override;
    STDMETHODIMP GetParamDefValue(LONG lMethodNum, LONG lParamNum, VARIANT* pvarParamDefValue) override;
    STDMETHODIMP HasRetVal(LONG lMethodNum, LONG* pboolRetValue) override;
    STDMETHODIMP CallAsProc(LONG lMethodNum, SAFEARRAY** paParams) override;
    STDMETHODIMP CallAsFunc(LONG lMethodNum, VARIANT* pvarRetValue, SAFEARRAY** paParams) override;

    // IConnectionSettings
    STDMETHODIMP GetSettings(LONG* plPort, LONG* plSpeed, LONG* plIsIrDA) override;
    STDMETHODIMP SetSettings(LONG lPort, LONG lSpeed, LONG lIsIrDA) override;

    // IExchangeSettings
    STDMETHODIMP GetFastExchange(LONG* plFastExchange) override;
    STDMETHODIMP SetFastExchange(LONG lFastExchange) override;

    // IWireTrace (trace_and_search.cpp)
    STDMETHODIMP GetTrace(LONG* plTrace) override;
    STDMETHODIMP SetTrace(LONG lTrace) override;
    STDMETHODIMP SetTraceFile(BSTR bstrPath) override;
    STDMETHODIMP GetTraceState(LONG* plState, BSTR* pbstrPath) override;

    // ITerminalSearch (trace_and_search.cpp)
    STDMETHODIMP StartSearch() override;
    STDMETHODIMP StopSearch() override;
    STDMETHODIMP GetSearchState(LONG* plState, LONG* plPort, LONG* plSpeed, LONG* plIsIrDA) override;

    // ISearchPorts (trace_and_search.cpp)
    STDMETHODIMP StartSearchOn(LONG lCount, LONG* plPorts) override;

    // IPropertyPage: the settings page (property_page.cpp)
    STDMETHODIMP SetPageSite(IPropertyPageSite* pPageSite) override;
    STDMETHODIMP Activate(HWND hWndParent, LPCRECT pRect, BOOL bModal) override;
    STDMETHODIMP Deactivate() override;
    STDMETHODIMP GetPageInfo(PROPPAGEINFO* pPageInfo) override;
    STDMETHODIMP SetObjects(ULONG cObjects, IUnknown** ppUnk) override;
    STDMETHODIMP Show(UINT nCmdShow) override;
    STDMETHODIMP Move(LPCRECT pRect) override;
    STDMETHODIMP IsPageDirty() override;
    STDMETHODIMP Apply() override;
    STDMETHODIMP Help(LPCOLESTR pszHelpDir) override;
    STDMETHODIMP TranslateAccelerator(MSG* pMsg) override;

private:
    // The object's own IUnknown: it counts the references and, when the
    // object is aggregated, is the one the outer unknown holds.
    class InnerUnknown final : public IUnknown {
    public:
        explicit InnerUnknown(AddInObject& owner) : owner_(owner) {}
        STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;

    private:
        AddInObject& owner_;
    };

    // Keeps the object while its page window's thread works with the page.
    class PageKeeper final : public PageOwner {
    public:
        explicit PageKeeper(AddInObject& owner) : owner_(owner) {}
        bool TryHold() override;
        void LetGo() override;

    private:
        AddInObject& owner_;
    };

    // The host's interfaces held from Init to Done; declared so that
    // destruction lets them go in the order Release does.
    struct HostInterfaces {
        win::com_ptr<IErrorLog> errorLog;
        win::com_ptr<IAsyncEvent> asyncEvent;
        win::com_ptr<IPropertyProfile> profile;
        win::com_ptr<IStatusLine> statusLine;
        // Lets them go in Done's order: status line, profile, asynchronous
        // events, error log.
        void Release();
    };

    explicit AddInObject(IUnknown* outer);
    ~AddInObject();

    // Answers from the interface table: IUnknown (as IInitDone), IInitDone,
    // ILanguageExtender, IConnectionSettings, IExchangeSettings, IWireTrace,
    // ITerminalSearch, ISearchPorts, IPropertyPage.
    HRESULT QueryOwnInterface(REFIID iid, void** object);
    IUnknown* ControllingUnknown();

    static HostInterfaces ObtainHostInterfaces(IDispatch* connection);
    static void RegisterProfile(IPropertyProfile& profile);

    // Runs a script's call under the call lock; once the lock is let go, the
    // page catches up with what the call kept it from showing.
    template <class Call>
    auto UnderCallLock(Call&& call) {
        auto outcome = [&] {
            const auto guard = callGuard_.lock();
            return call();
        }();
        page_.LockLetGo();
        return outcome;
    }

    // Property access (property_access.cpp).
    HRESULT ReadProperty(LONG number, VARIANT& value);
    HRESULT WriteProperty(LONG number, const VARIANT& value);
    void SetEnabled(int32_t value);

    win::module_lock moduleLock_;  // first: held for the object's whole life
    InnerUnknown inner_;
    IUnknown* const outer_;  // null unless aggregated
    volatile LONG references_ = 1;  // interlocked
    // Held by every call that touches the state, the settings, the page's
    // site and objects, the host's interfaces or the link.
    win::critical_section callGuard_;

    ComponentState state_;
    ConnectionSettings settings_;
    Win32SerialLine line_;
    Win32Clock clock_;
    Win32LocalTime localTime_;
    Win32PortMap portMap_;  // the ports Windows reports present, for the page and the search
    ComponentTrace trace_;
    TracedLine tracedLine_;  // the line as the link sees it: the trace hears of everything on it
    TerminalLink link_;
    TerminalFinder finder_;  // before the page, which starts and stops it
    PageKeeper pageKeeper_;
    PropertyPage page_;  // its window is the page window the painter paints into
    GdiProgressPainter painter_;
    MethodCalls calls_;

    // Held from Init to Done; destruction lets them go as Done does.
    HostInterfaces host_;
};

}  // namespace quill
