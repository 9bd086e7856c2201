// The machine's presets of the connection settings, read from this
// module's own registry view.
#pragma once

#include "ui/machine_defaults.h"

namespace quill {

class RegistryMachineSettings final : public MachineSettings {
public:
    std::optional<std::string> ReadValue(const char* name) override;
};

}  // namespace quill
