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
    "Обмен с терминалом: команды по строкам, записи с контрольной суммой.";

bool IsList(int32_t controlId) { return controlId == IDC_PORT_LIST || controlId == IDC_SPEED_LIST; }

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

SettingsPage::SettingsPage(PageFrame& frame, ConnectionSettings& settings, TerminalLink& link)
    : frame_(frame), settings_(settings), link_(link) {}

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

    MarkDirty(false);
    frame_.OnStatusChange(0);  // the site hears of a clean page at every opening

    controls.SetNotes(Cp1251FromUtf8(kRevisionNotes));
}

void SettingsPage::Command(int32_t controlId, int32_t notification) {
    // Typing into a list's edit field (and any other notification) changes
    // nothing that Apply would store.
    if (notification == kNotifyClicked || (notification == kNotifySelectionChanged && IsList(controlId)))
        MarkDirty(true);
}

void SettingsPage::WindowClosing() {
    if (controls_ != nullptr && dirty_) keptChoice_ = ChoiceShown();
}

void SettingsPage::WindowClosed() { controls_ = nullptr; }

ConnectionSettings SettingsPage::ChoiceShown() const {
    return {controls_->SelectedEntry(PageList::Port), controls_->SelectedEntry(PageList::Speed),
            controls_->Ticked(PageBox::Adapter) ? 1 : 0, controls_->Ticked(PageBox::FastExchange) ? 1 : 0};
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
