#include "ui/settings_page.h"

#include <algorithm>

#include "core/cp1251.h"
#include "ui/settings_page_ids.h"

namespace quill {
namespace {

constexpr const char* kRevisionNotes =
    "Quillomat 4.0.9.1\r\n"
    "Порт, скорость и ИК-адаптер выбираются здесь; кнопка «Применить» "
    "сразу переоткрывает порт с новыми значениями.\r\n"
    "«Быстрый обмен» читает ответ терминала, как только пришёл его конец, "
    "без паузы перед чтением; терминалу, который не успевает, снимите флажок.\r\n"
    "Скорости 4800 и 2400 задаются только в профиле.\r\n"
    "«Найти терминал» перебирает порты COM1–COM16 и порты выше COM16, которые есть в системе, "
    "скорости и ИК-адаптер, начиная с сохранённых, "
    "и показывает, где терминал ответил; сохраняет найденное кнопка «Применить».\r\n"
    "«Журнал обмена» записывает каждый байт обмена с терминалом в файл "
    "%LOCALAPPDATA%\\Quillomat\\trace.log для службы поддержки.\r\n"
    "Обмен с терминалом: команды по строкам, записи с контрольной суммой.";

constexpr const char* kFindText = "Найти терминал";
constexpr const char* kStopText = "Остановить";

bool IsList(int32_t controlId) { return controlId == IDC_PORT_LIST || controlId == IDC_SPEED_LIST; }

std::string Where(const ConnectionSettings& settings) {
    std::string where = PortName(settings.Port) + ", ";
    if (settings.IsIrDA != 0) return where + "ИК-адаптер";
    return where + std::to_string(BaudRate(settings.Speed)) + " бод";
}

}  // namespace

std::vector<std::string> PortListEntries(const std::vector<int32_t>& ports) {
    std::vector<std::string> entries;
    for (int32_t port : ports) entries.push_back(PortName(port));
    return entries;
}

std::vector<std::string> SpeedListEntries() {
    std::vector<std::string> entries;
    for (int32_t index = 0; index < kListedSpeedCount; ++index) entries.push_back(std::to_string(BaudRate(index)));
    return entries;
}

std::string SearchStatusText(const SearchStatus& status) {
    switch (status.state) {
        case SearchState::Idle: return {};
        case SearchState::Searching: return "Поиск: " + Where(status.settings);
        case SearchState::Found: return "Найден: " + Where(status.settings);
        case SearchState::NothingAnswered: return "Терминал не найден";
        case SearchState::Stopped: return "Поиск остановлен";
    }
    return {};
}

SettingsPage::SettingsPage(PageFrame& frame, Lock& callLock, Lock& pageLock, ConnectionSettings& settings,
                           TerminalLink& link, SearchControl& search, const TraceReport& trace,
                           const PortMap& ports)
    : frame_(frame),
      callLock_(callLock),
      pageLock_(pageLock),
      settings_(settings),
      link_(link),
      search_(search),
      trace_(trace),
      portMap_(ports) {}

bool SettingsPage::WindowOpened(PageControls& controls) {
    {
        const LockHold page(pageLock_);
        controls_ = &controls;
        shown_ = false;
        keptChoice_.reset();
        noticeShown_.reset();
        searchShown_.reset();
    }
    const std::optional<ConnectionSettings> settings = TakeSettingsToShow();
    const std::vector<int32_t> presentAbove = PresentPortsAboveListed(portMap_);
    const std::vector<int32_t> ports = PortListPorts(presentAbove, settings ? settings->Port : -1);
    {
        const LockHold page(pageLock_);
        presentAbove_ = presentAbove;
        listedPorts_ = ports;
    }
    controls.FillList(PageList::Port, PortListEntries(ports));
    if (settings) controls.SelectEntry(PageList::Port, PortListEntry(ports, settings->Port));
    controls.FillList(PageList::Speed, SpeedListEntries());
    if (settings) {
        controls.SelectEntry(PageList::Speed, settings->Speed);
        controls.SetTicked(PageBox::Adapter, settings->IsIrDA != 0);
        controls.SetTicked(PageBox::FastExchange, settings->FastExchange == kFastExchangeOn);
        controls.SetTicked(PageBox::Trace, settings->Trace == kTraceOn);
    } else {
        // A call (or a search) holds the lock: nothing to choose from until
        // it has ended.
        controls.Enable(false);
    }

    MarkDirty(false, LockHold::Waiting::DontWait);
    {
        const LockHold page(pageLock_);
        Owe(0);  // the site hears of a clean page at every opening
        shown_ = settings.has_value();
    }
    const bool told = TellSite(LockHold::Waiting::DontWait);

    ShowNotes(controls);
    // A search still running from an earlier window is shown and waited for.
    const SearchStatus status = search_.Status();
    const bool running = status.state == SearchState::Searching;
    {
        const LockHold page(pageLock_);
        awaitingSearch_ = running;
    }
    ShowSearch(controls, running ? status : SearchStatus{});
    return settings && told;
}

bool SettingsPage::CatchUp() {
    PageControls* controls = nullptr;
    {
        const LockHold page(pageLock_);
        if (!shown_) controls = controls_;
    }
    if (controls != nullptr) {
        const std::optional<ConnectionSettings> settings = TakeSettingsToShow();
        if (!settings) return false;
        ShowSettings(*controls, *settings);
        controls->Enable(true);
        const LockHold page(pageLock_);
        shown_ = true;
    }
    return TellSite(LockHold::Waiting::DontWait);
}

// This component's record, and the first object's settings when another
// object offers them (which this component then takes as its own); nullopt
// while a call holds the lock.
std::optional<ConnectionSettings> SettingsPage::TakeSettingsToShow() {
    ConnectionSettings record;
    std::shared_ptr<PageObject> first;
    {
        const LockHold call(callLock_, LockHold::Waiting::DontWait);
        if (!call.held()) return std::nullopt;
        record = settings_;
        first = frame_.FirstObject();
    }
    if (!first) return record;
    ConnectionSettings lent = record;
    if (!first->ReadSettings(lent) || lent == record) return record;
    const LockHold call(callLock_, LockHold::Waiting::DontWait);
    if (!call.held()) return std::nullopt;
    settings_ = lent;
    return lent;
}

void SettingsPage::SelectPort(PageControls& controls, int32_t port) {
    std::vector<int32_t> ports;
    bool listed = true;
    {
        const LockHold page(pageLock_);
        if (PortListEntry(listedPorts_, port) < 0 && port >= kListedPortCount && port < kPortIndexCount) {
            listedPorts_ = PortListPorts(presentAbove_, port);
            listed = false;
        }
        ports = listedPorts_;
    }
    if (!listed) controls.FillList(PageList::Port, PortListEntries(ports));
    controls.SelectEntry(PageList::Port, PortListEntry(ports, port));
}

void SettingsPage::ShowSettings(PageControls& controls, const ConnectionSettings& settings) {
    SelectPort(controls, settings.Port);
    controls.SelectEntry(PageList::Speed, settings.Speed);
    controls.SetTicked(PageBox::Adapter, settings.IsIrDA != 0);
    controls.SetTicked(PageBox::FastExchange, settings.FastExchange == kFastExchangeOn);
    controls.SetTicked(PageBox::Trace, settings.Trace == kTraceOn);
}

bool SettingsPage::Command(int32_t controlId, int32_t notification) {
    // The find button changes nothing by itself; what the search finds does.
    if (controlId == IDC_FIND_TERMINAL) {
        if (notification == kNotifyClicked) PressFind();
        return true;
    }
    // Typing into a list's edit field (and any other notification) changes
    // nothing that Apply would store.
    if (notification == kNotifyClicked || (notification == kNotifySelectionChanged && IsList(controlId)))
        return MarkDirty(true, LockHold::Waiting::DontWait);
    return true;
}

// The button starts a search, or stops the one running. Neither waits for
// the call lock: a search that starts while a call holds it waits for it on
// its own thread.
void SettingsPage::PressFind() {
    if (search_.Status().state == SearchState::Searching) {
        search_.StopSearch();
        return;
    }
    if (!search_.StartSearch()) return;
    PageControls* controls = nullptr;
    {
        const LockHold page(pageLock_);
        awaitingSearch_ = true;
        controls = controls_;
    }
    if (controls != nullptr) ShowSearch(*controls, search_.Status());
}

bool SettingsPage::Poll() {
    PageControls* controls = nullptr;
    bool awaiting = false;
    {
        const LockHold page(pageLock_);
        controls = controls_;
        awaiting = awaitingSearch_;
    }
    if (controls == nullptr) return true;
    ShowNotes(*controls);
    if (!awaiting) return true;
    const SearchStatus status = search_.Status();
    ShowSearch(*controls, status);
    if (status.state == SearchState::Searching) return true;
    {
        const LockHold page(pageLock_);
        // What was found goes over the settings the controls show: while a
        // call keeps them from being shown, it waits for CatchUp.
        if (status.state == SearchState::Found && !shown_) return false;
        awaitingSearch_ = false;
    }
    if (status.state != SearchState::Found) return true;
    SelectPort(*controls, status.settings.Port);
    controls->SelectEntry(PageList::Speed, status.settings.Speed);
    controls->SetTicked(PageBox::Adapter, status.settings.IsIrDA != 0);
    return MarkDirty(true, LockHold::Waiting::DontWait);
}

void SettingsPage::ShowSearch(PageControls& controls, const SearchStatus& status) {
    {
        const LockHold page(pageLock_);
        if (searchShown_ && searchShown_->state == status.state && searchShown_->settings == status.settings) return;
        searchShown_ = status;
    }
    controls.SetSearchButton(Cp1251FromUtf8(status.state == SearchState::Searching ? kStopText : kFindText));
    controls.SetSearchStatus(Cp1251FromUtf8(SearchStatusText(status)));
}

// The trace's state, when it is on, stands first in the notes.
void SettingsPage::ShowNotes(PageControls& controls) {
    const TraceNotice notice = trace_.Notice();
    {
        const LockHold page(pageLock_);
        if (noticeShown_ && *noticeShown_ == notice) return;
        noticeShown_ = notice;
    }
    const std::string said = TraceNoticeText(notice);
    controls.SetNotes(Cp1251FromUtf8(said.empty() ? kRevisionNotes : said + "\r\n" + kRevisionNotes));
}

void SettingsPage::WindowClosing() {
    PageControls* controls = nullptr;
    bool searchAwaited = false;
    {
        const LockHold page(pageLock_);
        if (dirty_ && shown_) controls = controls_;
        searchAwaited = awaitingSearch_;
        awaitingSearch_ = false;
    }
    // Nobody is left to show what it finds.
    if (searchAwaited) search_.StopSearch();
    if (controls == nullptr) return;
    const std::optional<ConnectionSettings> choice = ChoiceShown(*controls);
    const LockHold page(pageLock_);
    if (choice) keptChoice_ = choice;
}

void SettingsPage::WindowClosed() {
    const LockHold page(pageLock_);
    controls_ = nullptr;
    shown_ = false;
}

bool SettingsPage::Behind() const {
    const LockHold page(pageLock_);
    return controls_ != nullptr && (!shown_ || owedCount_ > 0);
}

bool SettingsPage::IsDirty() const {
    const LockHold page(pageLock_);
    return dirty_;
}

// What the controls show; nullopt as soon as one of them cannot be read.
std::optional<ConnectionSettings> SettingsPage::ChoiceShown(const PageControls& controls) const {
    const std::optional<int32_t> entry = controls.SelectedEntry(PageList::Port);
    if (!entry) return std::nullopt;
    // The port the entry names; only a list left with no selection stores -1.
    int32_t port = -1;
    {
        const LockHold page(pageLock_);
        if (*entry >= 0 && static_cast<size_t>(*entry) < listedPorts_.size()) port = listedPorts_[*entry];
    }
    const std::optional<int32_t> speed = controls.SelectedEntry(PageList::Speed);
    if (!speed) return std::nullopt;
    const std::optional<bool> adapter = controls.Ticked(PageBox::Adapter);
    if (!adapter) return std::nullopt;
    const std::optional<bool> fast = controls.Ticked(PageBox::FastExchange);
    if (!fast) return std::nullopt;
    const std::optional<bool> trace = controls.Ticked(PageBox::Trace);
    if (!trace) return std::nullopt;
    return ConnectionSettings{port, *speed, *adapter ? 1 : 0, *fast ? 1 : 0, *trace ? 1 : 0};
}

void SettingsPage::Apply() {
    // Without a window showing the settings there is nothing to read but a
    // choice kept when a dirty page was closed; without either the record
    // stays as it is.
    PageControls* controls = nullptr;
    std::optional<ConnectionSettings> choice;
    {
        const LockHold page(pageLock_);
        if (shown_) controls = controls_;
        choice = keptChoice_;
        keptChoice_.reset();
    }
    if (controls != nullptr) {
        if (const std::optional<ConnectionSettings> shown = ChoiceShown(*controls)) choice = shown;
    }
    if (choice) StoreChoice(*choice);

    MarkDirty(false, LockHold::Waiting::Wait);
    const LockHold call(callLock_);
    link_.OpenPort(settings_);
}

void SettingsPage::StoreChoice(const ConnectionSettings& choice) {
    std::shared_ptr<PageObject> first;
    {
        const LockHold call(callLock_);
        first = frame_.FirstObject();
    }
    if (first) first->WriteSettings(choice);
}

// Marks the page and tells the site of a change, with whatever it is still
// owed.
bool SettingsPage::MarkDirty(bool dirty, LockHold::Waiting waiting) {
    {
        const LockHold page(pageLock_);
        if (dirty != dirty_) Owe(dirty ? kPageStatusDirty | kPageStatusValidate : 0);
        dirty_ = dirty;
    }
    return TellSite(waiting);
}

void SettingsPage::Owe(uint32_t status) {
    if (owedCount_ == kMostStatusesOwed) {
        std::copy(owed_ + 1, owed_ + owedCount_, owed_);
        --owedCount_;
    }
    owed_[owedCount_++] = status;
}

bool SettingsPage::TellSite(LockHold::Waiting waiting) {
    {
        const LockHold page(pageLock_);
        if (owedCount_ == 0) return true;
    }
    std::shared_ptr<PageSite> site;
    {
        const LockHold call(callLock_, waiting);
        if (!call.held()) return false;
        site = frame_.Site();
    }
    {
        const LockHold page(pageLock_);
        if (telling_) return true;  // the thread telling now tells these too
        telling_ = true;
    }
    for (;;) {
        uint32_t status = 0;
        {
            const LockHold page(pageLock_);
            if (owedCount_ == 0) {
                telling_ = false;
                return true;
            }
            status = owed_[0];
            std::copy(owed_ + 1, owed_ + owedCount_, owed_);
            --owedCount_;
        }
        if (site) site->OnStatusChange(status);
    }
}

}  // namespace quill
