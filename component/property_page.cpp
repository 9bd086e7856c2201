// IPropertyPage of the component: argument checks and the frame's side of
// the settings page (site, objects, page information); the page's logic is
// ui/settings_page, its window ui/win32_settings_page.
#include "component/property_page.h"

#include <string>
#include <utility>

#include "component/addin_object.h"
#include "ui/settings_page_ids.h"

namespace quill {
namespace {

// The page's strings: the title from the string table; it has no document
// string, no help file and no help context.
constexpr UINT kTitleStringId = IDS_PAGE_TITLE;
constexpr UINT kDocStringId = 0;
constexpr UINT kHelpFileStringId = 0;
constexpr DWORD kHelpContext = 0;

// Page information strings go to the frame in blocks of this size, which
// the frame frees.
constexpr size_t kStringBlockBytes = 520;

// The first and last keyboard and mouse messages the page's dialog
// handling may want to see.
constexpr UINT kFirstKeyMessage = WM_KEYFIRST;   // 0x100
constexpr UINT kLastKeyMessage = 0x108;
constexpr UINT kFirstMouseMessage = WM_MOUSEFIRST;  // 0x200
constexpr UINT kLastMouseMessage = 0x209;

// A string of the module's table in a block the frame frees; null when
// memory runs out.
LPOLESTR FrameString(UINT id) {
    auto* block = static_cast<LPOLESTR>(::CoTaskMemAlloc(kStringBlockBytes));
    if (block == nullptr) return nullptr;
    const std::wstring text = id != 0 ? ModuleString(id) : std::wstring();
    const size_t capacity = kStringBlockBytes / sizeof(OLECHAR) - 1;
    const size_t length = text.copy(block, capacity);
    block[length] = L'\0';
    return block;
}

bool ForPageDialog(UINT message) {
    return (message >= kFirstKeyMessage && message <= kLastKeyMessage) ||
           (message >= kFirstMouseMessage && message <= kLastMouseMessage);
}

// The frame's site, held by the page while it tells it something.
class HeldSite final : public PageSite {
public:
    explicit HeldSite(const win::com_ptr<IPropertyPageSite>& site) : site_(site) {}
    void OnStatusChange(uint32_t status) override { site_->OnStatusChange(status); }

private:
    win::com_ptr<IPropertyPageSite> site_;
};

// An object the frame handed over, held by the page while it asks it.
class HeldObject final : public PageObject {
public:
    HeldObject(const win::com_ptr<IUnknown>& object, IConnectionSettings* self) : object_(object), self_(self) {}

    bool ReadSettings(ConnectionSettings& settings) override {
        const auto source = object_.query<IConnectionSettings>();
        if (!source) return false;
        // This very component: `settings` is its record, just read.
        if (source.get() == self_) return true;
        LONG port = 0, speed = 0, adapter = 0;
        if (FAILED(source->GetSettings(&port, &speed, &adapter))) return false;
        settings.Port = static_cast<int32_t>(port);
        settings.Speed = static_cast<int32_t>(speed);
        settings.IsIrDA = static_cast<int32_t>(adapter);
        // The pace comes from an interface of its own, which an object made
        // before it may lack.
        const auto pace = object_.query<IExchangeSettings>();
        LONG fast = 0;
        if (pace && SUCCEEDED(pace->GetFastExchange(&fast))) settings.FastExchange = static_cast<int32_t>(fast);
        // So does the trace flag.
        const auto trace = object_.query<IWireTrace>();
        LONG traced = 0;
        if (trace && SUCCEEDED(trace->GetTrace(&traced))) settings.Trace = static_cast<int32_t>(traced);
        return true;
    }

    bool WriteSettings(const ConnectionSettings& settings) override {
        const auto target = object_.query<IConnectionSettings>();
        if (!target) return false;
        if (FAILED(target->SetSettings(settings.Port, settings.Speed, settings.IsIrDA))) return false;
        if (const auto pace = object_.query<IExchangeSettings>()) pace->SetFastExchange(settings.FastExchange);
        if (const auto trace = object_.query<IWireTrace>()) trace->SetTrace(settings.Trace);
        return true;
    }

private:
    win::com_ptr<IUnknown> object_;
    IConnectionSettings* const self_;
};

}  // namespace

PropertyPage::PropertyPage(Lock& callLock, ConnectionSettings& settings, TerminalLink& link, PageOwner& owner,
                           IConnectionSettings* self, SearchControl& search, const TraceReport& trace,
                           const PortMap& ports)
    : callLock_(callLock),
      self_(self),
      logic_(*this, callLock, pageGuard_, settings, link, search, trace, ports),
      window_(logic_, owner) {}

HRESULT PropertyPage::SetPageSite(IPropertyPageSite* site) {
    std::optional<win::com_ptr<IPropertyPageSite>> given(win::com_ptr<IPropertyPageSite>::copy_from(site));
    {
        const LockHold page(pageGuard_);
        if (site != nullptr && siteGiven_) return E_UNEXPECTED;  // `given` let go of after the lock
        siteGiven_ = site != nullptr;
        std::swap(newSite_, given);  // one handed over before and not yet taken in goes with `given`
    }
    TakeInWhenFree();
    return S_OK;
}

// The page's window does not wait for a call in progress: it shows the
// settings and tells the site as soon as the call has ended.
HRESULT PropertyPage::Activate(HWND parent, LPCRECT rect) {
    if (rect == nullptr) return E_POINTER;
    if (window_.Create(parent)) window_.Move(*rect);
    return S_OK;
}

HRESULT PropertyPage::Deactivate() {
    window_.Destroy();
    return S_OK;
}

HRESULT PropertyPage::GetPageInfo(PROPPAGEINFO* info) {
    if (info == nullptr) return E_POINTER;
    const std::optional<PixelSize> size = PageTemplateSize();
    if (!size) return E_UNEXPECTED;
    info->cb = sizeof(PROPPAGEINFO);
    info->pszTitle = FrameString(kTitleStringId);
    info->size = SIZE{size->width, size->height};
    info->pszDocString = FrameString(kDocStringId);
    info->pszHelpFile = FrameString(kHelpFileStringId);
    info->dwHelpContext = kHelpContext;
    return S_OK;
}

HRESULT PropertyPage::SetObjects(ULONG count, IUnknown** objects) {
    // A frame that lets go of its objects may pass no array with them.
    if (objects == nullptr && count != 0) return E_POINTER;
    std::optional<std::vector<win::com_ptr<IUnknown>>> given(std::in_place);
    given->reserve(count);  // out of memory: the caller's guard answers E_OUTOFMEMORY, the objects kept
    for (ULONG index = 0; index < count; ++index)
        given->push_back(win::com_ptr<IUnknown>::copy_from(objects[index]));
    {
        const LockHold page(pageGuard_);
        std::swap(newObjects_, given);
    }
    TakeInWhenFree();
    return S_OK;
}

HRESULT PropertyPage::Show(UINT command) {
    if (!window_.exists()) return E_UNEXPECTED;
    window_.Show(static_cast<int>(command));
    return S_OK;
}

HRESULT PropertyPage::Move(LPCRECT rect) {
    if (!window_.exists()) return E_UNEXPECTED;
    if (rect == nullptr) return E_POINTER;
    window_.Move(*rect);
    return S_OK;
}

HRESULT PropertyPage::IsPageDirty() { return logic_.IsDirty() ? S_OK : S_FALSE; }

HRESULT PropertyPage::Apply() {
    logic_.Apply();
    LetGoOfReplaced();
    return S_OK;
}

HRESULT PropertyPage::TranslateAccelerator(MSG* message) {
    if (message == nullptr) return E_POINTER;
    if (!window_.exists() || !ForPageDialog(message->message)) return S_FALSE;
    return window_.TakeDialogMessage(*message) ? S_OK : S_FALSE;
}

void PropertyPage::LockLetGo() {
    TakeInWhenFree();
    if (logic_.Behind()) window_.Nudge();
}

void PropertyPage::TakeInWhenFree() {
    bool handedOver = false;
    {
        const LockHold page(pageGuard_);
        handedOver = newSite_ || newObjects_;
    }
    if (handedOver) {
        const LockHold call(callLock_, LockHold::Waiting::DontWait);
        if (call.held()) TakeIn();
    }
    LetGoOfReplaced();
}

void PropertyPage::TakeIn() {
    const LockHold page(pageGuard_);
    if (newSite_) {
        replacedSites_.push_back(std::move(site_));
        site_ = std::move(*newSite_);
        newSite_.reset();  // empty already: nothing let go of here
    }
    if (newObjects_) {
        replacedObjects_.push_back(std::move(objects_));
        objects_ = std::move(*newObjects_);
        newObjects_.reset();
    }
}

void PropertyPage::LetGoOfReplaced() {
    std::vector<win::com_ptr<IPropertyPageSite>> sites;
    std::vector<std::vector<win::com_ptr<IUnknown>>> objects;
    const LockHold page(pageGuard_);
    sites.swap(replacedSites_);
    objects.swap(replacedObjects_);
    // `sites` and `objects` let go after the lock, in reverse order of
    // declaration: the page lock first.
}

std::shared_ptr<PageSite> PropertyPage::Site() {
    TakeIn();
    if (!site_) return nullptr;
    return std::make_shared<HeldSite>(site_);
}

std::shared_ptr<PageObject> PropertyPage::FirstObject() {
    TakeIn();
    if (objects_.empty() || !objects_.front()) return nullptr;
    return std::make_shared<HeldObject>(objects_.front(), self_);
}

// --- IPropertyPage of the component object -------------------------------------

STDMETHODIMP AddInObject::SetPageSite(IPropertyPageSite* pPageSite) {
    return win::GuardedCall([&] { return page_.SetPageSite(pPageSite); });
}

STDMETHODIMP AddInObject::Activate(HWND hWndParent, LPCRECT pRect, BOOL) {
    return win::GuardedCall([&] { return page_.Activate(hWndParent, pRect); });
}

STDMETHODIMP AddInObject::Deactivate() {
    return win::GuardedCall([&] { return page_.Deactivate(); });
}

STDMETHODIMP AddInObject::GetPageInfo(PROPPAGEINFO* pPageInfo) {
    return win::GuardedCall([&] { return page_.GetPageInfo(pPageInfo); });
}

STDMETHODIMP AddInObject::SetObjects(ULONG cObjects, IUnknown** ppUnk) {
    return win::GuardedCall([&] { return page_.SetObjects(cObjects, ppUnk); });
}

STDMETHODIMP AddInObject::Show(UINT nCmdShow) {
    return win::GuardedCall([&] { return page_.Show(nCmdShow); });
}

STDMETHODIMP AddInObject::Move(LPCRECT pRect) {
    return win::GuardedCall([&] { return page_.Move(pRect); });
}

STDMETHODIMP AddInObject::IsPageDirty() {
    return win::GuardedCall([&] { return page_.IsPageDirty(); });
}

// Apply takes the call lock itself, for the steps that need it.
STDMETHODIMP AddInObject::Apply() {
    return win::GuardedCall([&] {
        // A search still running gives the port back first.
        finder_.EndBeforeOwnUse();
        return page_.Apply();
    });
}

// The page has no help file, so there is no help to show.
STDMETHODIMP AddInObject::Help(LPCOLESTR) { return S_OK; }

STDMETHODIMP AddInObject::TranslateAccelerator(MSG* pMsg) {
    return win::GuardedCall([&] { return page_.TranslateAccelerator(pMsg); });
}

}  // namespace quill
