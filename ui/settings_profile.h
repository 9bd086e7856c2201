// The connection settings' place in the host's profile.
#pragma once

#include <cstdint>

#include "core/connection_settings.h"
#include "ui/machine_defaults.h"

namespace quill {

// The host profile as the settings logic needs it.
class SettingsProfile {
public:
    virtual ~SettingsProfile() = default;
    // Reads a VT_I4 value; false unless the store answered exactly S_OK.
    virtual bool ReadInteger(const char* key, int32_t& value) = 0;
    // Writes a VT_I4 value; a failure is not reported.
    virtual void WriteInteger(const char* key, int32_t value) = 0;
};

// Reads "Port:0", "Speed:0", "IsIrDA:0" in that order; stops at the first
// failed read (fields read so far keep their new values) and returns false.
// After them "FastExchange:0" and "Trace:0", which older profiles lack: a
// failed read of either keeps its flag as it was and still returns true.
// The number after the colon is the default the profile answers when it
// holds no value of its own: `defaults` (the machine's presets) for the
// first three, 0 when none is preset.
bool LoadSettings(SettingsProfile& profile, ConnectionSettings& settings, const SettingDefaults& defaults = {});
// Writes "Port", "Speed", "IsIrDA", "FastExchange", "Trace" (the flags as 0
// or 1); every write is made.
void SaveSettings(SettingsProfile& profile, const ConnectionSettings& settings);

}  // namespace quill
