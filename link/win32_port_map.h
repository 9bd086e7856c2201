// The map of present serial ports as Windows keeps it: the values under
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, which every serial driver writes (the
// value's name the device, its data the port's name).
#pragma once

#include "core/port_map.h"

namespace quill {

class Win32PortMap final : public PortMap {
public:
    // Read anew at each call: a USB adapter comes and goes.
    std::vector<std::string> PortNames() const override;
};

}  // namespace quill
