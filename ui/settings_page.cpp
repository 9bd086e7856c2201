#include "ui/settings_page.h"

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
    "«Найти терминал» перебирает порты COM1–COM16, скорости и ИК-адаптер, начиная с сохранённых, "
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

std::vector<std::string> PortListEntries() {
    std::vector<std::string> entries;
    for (int32_t index = 0; index < kPortCount; ++index) entries.push_back(PortName(index));
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

SettingsPage::SettingsPage(PageFrame& frame, ConnectionSettings& settings, TerminalLink& link,
                           SearchControl& search, const TraceReport& trace)
    : frame_(frame), settings_(settings), link_(link), search_(search), trace_(trace) {}

std::optional<size_t> SettingsPage::FirstObject() const {
    if (frame_.ObjectCount() == 0) return std::nullopt;
    return size_t{0};
}

void SettingsPage::WindowOpened(PageControls& controls) {
    controls_ = &controls;
    keptChoice_.reset();

    // Another component as the first object lends its settings to this one;
    // this component as the first object reads its own.
    if (const auto first = FirstObject()) {
        ConnectionSettings read = settings_;
        if (frame_.ReadSettings(*first, read)) settings_ = read;
    }

    controls.FillList(PageList::Port, PortListEntries());
    controls.SelectEntry(PageList::Port, settings_.Port);
    controls.FillList(PageList::Speed, SpeedListEntries());
    controls.SelectEntry(PageList::Speed, settings_.Speed);
    controls.SetTicked(PageBox::Adapter, settings_.IsIrDA != 0);
    controls.SetTicked(PageBox::FastExchange, settings_.FastExchange == kFastExchangeOn);
    controls.SetTicked(PageBox::Trace, settings_.Trace == kTraceOn);

    MarkDirty(false);
    frame_.OnStatusChange(0);  // the site hears of a clean page at every opening

    noticeShown_.reset();
    ShowNotes();
    // A search still running from an earlier window is shown and waited for.
    searchShown_.reset();
    const SearchStatus status = search_.Status();
    awaitingSearch_ = status.state == SearchState::Searching;
    ShowSearch(awaitingSearch_ ? status : SearchStatus{});
}

void SettingsPage::Command(int32_t controlId, int32_t notification) {
    // The find button changes nothing by itself; what the search finds does.
    if (controlId == IDC_FIND_TERMINAL) {
        if (notification == kNotifyClicked) PressFind();
        return;
    }
    // Typing into a list's edit field (and any other notification) changes
    // nothing that Apply would store.
    if (notification == kNotifyClicked || (notification == kNotifySelectionChanged && IsList(controlId)))
        MarkDirty(true);
}

// The button starts a search, or stops the one running.
void SettingsPage::PressFind() {
    if (search_.Status().state == SearchState::Searching) {
        search_.StopSearch();
        return;
    }
    if (!search_.StartSearch()) return;
    awaitingSearch_ = true;
    ShowSearch(search_.Status());
}

void SettingsPage::Poll() {
    if (controls_ == nullptr) return;
    ShowNotes();
    if (!awaitingSearch_) return;
    const SearchStatus status = search_.Status();
    ShowSearch(status);
    if (status.state == SearchState::Searching) return;
    awaitingSearch_ = false;
    if (status.state != SearchState::Found) return;
    controls_->SelectEntry(PageList::Port, status.settings.Port);
    controls_->SelectEntry(PageList::Speed, status.settings.Speed);
    controls_->SetTicked(PageBox::Adapter, status.settings.IsIrDA != 0);
    MarkDirty(true);
}

void SettingsPage::ShowSearch(const SearchStatus& status) {
    if (searchShown_ && searchShown_->state == status.state && searchShown_->settings == status.settings) return;
    searchShown_ = status;
    controls_->SetSearchButton(Cp1251FromUtf8(status.state == SearchState::Searching ? kStopText : kFindText));
    controls_->SetSearchStatus(Cp1251FromUtf8(SearchStatusText(status)));
}

// The trace's state, when it is on, stands first in the notes.
void SettingsPage::ShowNotes() {
    const TraceNotice notice = trace_.Notice();
    if (noticeShown_ && *noticeShown_ == notice) return;
    noticeShown_ = notice;
    const std::string said = TraceNoticeText(notice);
    controls_->SetNotes(Cp1251FromUtf8(said.empty() ? kRevisionNotes : said + "\r\n" + kRevisionNotes));
}

void SettingsPage::WindowClosing() {
    if (controls_ != nullptr && dirty_) keptChoice_ = ChoiceShown();
    // Nobody is left to show what it finds.
    if (awaitingSearch_) search_.StopSearch();
    awaitingSearch_ = false;
}

void SettingsPage::WindowClosed() { controls_ = nullptr; }

ConnectionSettings SettingsPage::ChoiceShown() const {
    return {controls_->SelectedEntry(PageList::Port), controls_->SelectedEntry(PageList::Speed),
            controls_->Ticked(PageBox::Adapter) ? 1 : 0, controls_->Ticked(PageBox::FastExchange) ? 1 : 0,
            controls_->Ticked(PageBox::Trace) ? 1 : 0};
}

void SettingsPage::Apply() {
    // Without a window there is nothing to read but a choice kept when a
    // dirty page was closed; without either the record stays as it is.
    std::optional<ConnectionSettings> choice = keptChoice_;
    if (controls_ != nullptr) choice = ChoiceShown();
    if (const auto first = FirstObject(); first && choice) frame_.WriteSettings(*first, *choice);
    keptChoice_.reset();

    MarkDirty(false);
    link_.OpenPort(settings_);
}

void SettingsPage::MarkDirty(bool dirty) {
    if (dirty == dirty_) return;
    dirty_ = dirty;
    frame_.OnStatusChange(dirty ? kPageStatusDirty | kPageStatusValidate : 0);
}

}  // namespace quill
