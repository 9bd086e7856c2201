#include "ui/connection_settings.h"

#include <array>

namespace quill {
namespace {

constexpr int32_t kPortCount = 16;
constexpr const char* kFallbackPort = "COM1";
constexpr std::array<uint32_t, 7> kBaudRates = {115200, 57600, 38400, 19200, 9600, 4800, 2400};
constexpr uint32_t kFallbackBaudRate = 9600;

struct ProfileKey {
    const char* read;
    const char* written;
};
constexpr ProfileKey kPortKey{"Port:0", "Port"};
constexpr ProfileKey kSpeedKey{"Speed:0", "Speed"};
constexpr ProfileKey kIrDAKey{"IsIrDA:0", "IsIrDA"};

int32_t AsFlag(int32_t value) { return value != 0 ? 1 : 0; }

}  // namespace

std::string PortName(int32_t portIndex) {
    if (portIndex < 0 || portIndex >= kPortCount) return kFallbackPort;
    return "COM" + std::to_string(portIndex + 1);
}

uint32_t BaudRate(int32_t speedIndex) {
    if (speedIndex < 0 || static_cast<size_t>(speedIndex) >= kBaudRates.size()) return kFallbackBaudRate;
    return kBaudRates[speedIndex];
}

bool LoadSettings(SettingsProfile& profile, ConnectionSettings& settings) {
    int32_t value = 0;
    if (!profile.ReadInteger(kPortKey.read, value)) return false;
    settings.Port = value;
    if (!profile.ReadInteger(kSpeedKey.read, value)) return false;
    settings.Speed = value;
    if (!profile.ReadInteger(kIrDAKey.read, value)) return false;
    settings.IsIrDA = AsFlag(value);
    return true;
}

void SaveSettings(SettingsProfile& profile, const ConnectionSettings& settings) {
    profile.WriteInteger(kPortKey.written, settings.Port);
    profile.WriteInteger(kSpeedKey.written, settings.Speed);
    profile.WriteInteger(kIrDAKey.written, AsFlag(settings.IsIrDA));
}

}  // namespace quill
