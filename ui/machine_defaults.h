// The connection settings an administrator presets for every user of the
// computer (the installer's PORT, SPEED and IRDA): what the host's profile
// answers when it holds no value of its own. They live in the machine's
// registry, key SOFTWARE\Quillomat of HKEY_LOCAL_MACHINE, each module
// reading its own registry view, as values a person can read:
//   Port    the COM number, 1 to 255 ("23" for COM23)
//   Speed   the baud rate: 115200, 57600, 38400, 19200, 9600, 4800 or 2400
//   IrDA    1: an infrared adapter sits in the cradle; 0: a cable
// A value that is missing or out of its range presets nothing (index 0, as
// without an installer).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quill {

// The indices the profile's read keys carry as their defaults.
struct SettingDefaults {
    int32_t Port = 0;
    int32_t Speed = 0;
    int32_t IsIrDA = 0;
};

// The machine-wide store of the presets.
class MachineSettings {
public:
    virtual ~MachineSettings() = default;
    // The value `name` as a decimal text (a number stored as such is given
    // in decimal); empty when it is missing or cannot be read.
    virtual std::optional<std::string> ReadValue(const char* name) = 0;
};

namespace machine_value {
inline constexpr const char* kPort = "Port";
inline constexpr const char* kSpeed = "Speed";
inline constexpr const char* kIrDA = "IrDA";
}  // namespace machine_value

SettingDefaults ReadSettingDefaults(MachineSettings& store);

}  // namespace quill
