#include "ui/machine_defaults.h"

#include "core/connection_settings.h"

namespace quill {
namespace {

// Windows names serial ports up to COM255.
constexpr int64_t kHighestPortNumber = 255;
constexpr int64_t kLargestNumber = 0xFFFFFFFFLL;

// A decimal number without sign, spaces or anything after it.
std::optional<int64_t> WholeNumber(const std::optional<std::string>& text) {
    if (!text || text->empty() || text->size() > 10) return std::nullopt;
    int64_t number = 0;
    for (char c : *text) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + (c - '0');
    }
    if (number > kLargestNumber) return std::nullopt;
    return number;
}

}  // namespace

SettingDefaults ReadSettingDefaults(MachineSettings& store) {
    SettingDefaults defaults;
    if (const auto port = WholeNumber(store.ReadValue(machine_value::kPort)); port && *port >= 1 &&
                                                                               *port <= kHighestPortNumber)
        defaults.Port = static_cast<int32_t>(*port - 1);
    if (const auto baud = WholeNumber(store.ReadValue(machine_value::kSpeed))) {
        const int32_t index = SpeedIndex(static_cast<uint32_t>(*baud));
        if (index >= 0) defaults.Speed = index;
    }
    if (const auto irda = WholeNumber(store.ReadValue(machine_value::kIrDA)); irda && *irda <= 1)
        defaults.IsIrDA = static_cast<int32_t>(*irda);
    return defaults;
}

}  // namespace quill
