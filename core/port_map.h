// The serial ports Windows reports present, and what the settings page and
// the search make of them. Every serial driver writes its ports into one
// map of the registry (each value a device name, its data the port's name,
// "COM23"); the platform reads it, the logic here turns it into port indices.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

class PortMap {
public:
    virtual ~PortMap() = default;
    // The port names the map holds, as written there, in no particular
    // order; empty when there is no map or it cannot be read.
    virtual std::vector<std::string> PortNames() const = 0;
};

// The port index a name stands for: "COM1" ... "COM256" (in any case) give
// 0 ... 255; anything else (another device, "COM0", "COM257", "COM023") none.
std::optional<int32_t> PortIndexNamed(std::string_view name);

// The port indices of the map, in number order, each once.
std::vector<int32_t> PresentPorts(const PortMap& map);
// Those above the ports always listed (COM17 and up).
std::vector<int32_t> PresentPortsAboveListed(const PortMap& map);

// The ports of the settings page's list, entry by entry: COM1 to COM16 in
// their places, then `presentAbove` (ports above COM16 that are present, in
// number order), then `stored` when it names a port above COM16 that is not
// present, so that the list shows what is stored.
std::vector<int32_t> PortListPorts(const std::vector<int32_t>& presentAbove, int32_t stored);

// The entry of `ports` that names `port`; -1 when none does.
int32_t PortListEntry(const std::vector<int32_t>& ports, int32_t port);

}  // namespace quill
