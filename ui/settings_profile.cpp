#include "ui/settings_profile.h"

#include <string>

namespace quill {
namespace {

struct ProfileKey {
    const char* read;
    const char* written;
};
constexpr ProfileKey kPortKey{"Port:0", "Port"};
constexpr ProfileKey kSpeedKey{"Speed:0", "Speed"};
constexpr ProfileKey kIrDAKey{"IsIrDA:0", "IsIrDA"};

// The read key with the default after its colon: "Port:0" becomes
// "Port:22" for a preset COM23.
std::string ReadKey(const ProfileKey& key, int32_t fallback) {
    return key.written + (":" + std::to_string(fallback));
}
constexpr ProfileKey kFastExchangeKey{"FastExchange:0", "FastExchange"};
constexpr ProfileKey kTraceKey{"Trace:0", "Trace"};

int32_t AsFlag(int32_t value) { return value != 0 ? 1 : 0; }

}  // namespace

bool LoadSettings(SettingsProfile& profile, ConnectionSettings& settings, const SettingDefaults& defaults) {
    int32_t value = 0;
    if (!profile.ReadInteger(ReadKey(kPortKey, defaults.Port).c_str(), value)) return false;
    settings.Port = value;
    if (!profile.ReadInteger(ReadKey(kSpeedKey, defaults.Speed).c_str(), value)) return false;
    settings.Speed = value;
    if (!profile.ReadInteger(ReadKey(kIrDAKey, defaults.IsIrDA).c_str(), value)) return false;
    settings.IsIrDA = AsFlag(value);
    // Optional: a profile from before the flag existed may not answer it.
    if (profile.ReadInteger(kFastExchangeKey.read, value)) settings.FastExchange = FastExchangeFlag(value);
    if (profile.ReadInteger(kTraceKey.read, value)) settings.Trace = TraceFlag(value);
    return true;
}

void SaveSettings(SettingsProfile& profile, const ConnectionSettings& settings) {
    profile.WriteInteger(kPortKey.written, settings.Port);
    profile.WriteInteger(kSpeedKey.written, settings.Speed);
    profile.WriteInteger(kIrDAKey.written, AsFlag(settings.IsIrDA));
    profile.WriteInteger(kFastExchangeKey.written, FastExchangeFlag(settings.FastExchange));
    profile.WriteInteger(kTraceKey.written, TraceFlag(settings.Trace));
}

}  // namespace quill
