#include "core/port_map.h"

#include <algorithm>
#include <cctype>

#include "core/connection_settings.h"

namespace quill {
namespace {

constexpr std::string_view kPortPrefix = "COM";
constexpr size_t kMostPortDigits = 3;

bool IsPortPrefix(std::string_view name) {
    if (name.size() < kPortPrefix.size()) return false;
    for (size_t i = 0; i < kPortPrefix.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != kPortPrefix[i]) return false;
    return true;
}

}  // namespace

std::optional<int32_t> PortIndexNamed(std::string_view name) {
    if (!IsPortPrefix(name)) return std::nullopt;
    const std::string_view digits = name.substr(kPortPrefix.size());
    if (digits.empty() || digits.size() > kMostPortDigits || digits.front() == '0') return std::nullopt;
    int32_t number = 0;
    for (char digit : digits) {
        if (digit < '0' || digit > '9') return std::nullopt;
        number = number * 10 + (digit - '0');
    }
    const int32_t index = PortIndexOfNumber(number);
    if (index < 0) return std::nullopt;
    return index;
}

std::vector<int32_t> PresentPorts(const PortMap& map) {
    std::vector<int32_t> ports;
    for (const std::string& name : map.PortNames())
        if (const std::optional<int32_t> index = PortIndexNamed(name)) ports.push_back(*index);
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    return ports;
}

std::vector<int32_t> PresentPortsAboveListed(const PortMap& map) {
    std::vector<int32_t> ports = PresentPorts(map);
    ports.erase(ports.begin(), std::lower_bound(ports.begin(), ports.end(), kListedPortCount));
    return ports;
}

std::vector<int32_t> PortListPorts(const std::vector<int32_t>& presentAbove, int32_t stored) {
    std::vector<int32_t> ports;
    for (int32_t port = 0; port < kListedPortCount; ++port) ports.push_back(port);
    std::vector<int32_t> above = presentAbove;
    std::sort(above.begin(), above.end());
    for (int32_t port : above)
        if (port >= kListedPortCount && port < kPortIndexCount && PortListEntry(ports, port) < 0)
            ports.push_back(port);
    if (stored >= kListedPortCount && stored < kPortIndexCount && PortListEntry(ports, stored) < 0)
        ports.push_back(stored);
    return ports;
}

int32_t PortListEntry(const std::vector<int32_t>& ports, int32_t port) {
    const auto found = std::find(ports.begin(), ports.end(), port);
    return found == ports.end() ? -1 : static_cast<int32_t>(found - ports.begin());
}

}  // namespace quill
