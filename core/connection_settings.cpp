#include "core/connection_settings.h"

#include <array>

namespace quill {
namespace {

constexpr const char* kFallbackPort = "COM1";
constexpr std::array<uint32_t, 7> kBaudRates = {115200, 57600, 38400, 19200, 9600, 4800, 2400};
constexpr uint32_t kFallbackBaudRate = 9600;

}  // namespace

std::string PortName(int32_t portIndex) {
    if (portIndex < 0 || portIndex >= kPortCount) return kFallbackPort;
    return "COM" + std::to_string(portIndex + 1);
}

uint32_t BaudRate(int32_t speedIndex) {
    if (speedIndex < 0 || static_cast<size_t>(speedIndex) >= kBaudRates.size()) return kFallbackBaudRate;
    return kBaudRates[speedIndex];
}

int32_t ListedSpeedIndex(uint32_t baudRate) {
    for (int32_t index = 0; index < kListedSpeedCount; ++index)
        if (kBaudRates[index] == baudRate) return index;
    return -1;
}

int32_t SpeedIndex(uint32_t baudRate) {
    for (size_t index = 0; index < kBaudRates.size(); ++index)
        if (kBaudRates[index] == baudRate) return static_cast<int32_t>(index);
    return -1;
}

}  // namespace quill
