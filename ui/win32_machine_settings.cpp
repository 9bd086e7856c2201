#include "ui/win32_machine_settings.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "core/win/handles.h"

namespace quill {
namespace {

const char kPresetsKey[] = "SOFTWARE\\Quillomat";
// A preset is a short number; anything longer is not one.
constexpr DWORD kLongestText = 32;

}  // namespace

std::optional<std::string> RegistryMachineSettings::ReadValue(const char* name) {
    win::unique_hkey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPresetsKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return std::nullopt;
    BYTE data[kLongestText + 1] = {};
    DWORD size = kLongestText;
    DWORD type = REG_NONE;
    if (::RegQueryValueExA(key.get(), name, nullptr, &type, data, &size) != ERROR_SUCCESS) return std::nullopt;
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD number = 0;
        ::memcpy(&number, data, sizeof number);
        return std::to_string(number);
    }
    if (type != REG_SZ) return std::nullopt;
    // Stored with or without its NUL; the buffer has room for one more.
    return std::string(reinterpret_cast<const char*>(data), ::strnlen(reinterpret_cast<const char*>(data), size));
}

}  // namespace quill
