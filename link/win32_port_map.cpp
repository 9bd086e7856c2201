#include "link/win32_port_map.h"

#include <windows.h>

#include "core/win/handles.h"
#include "core/win/text.h"

namespace quill {
namespace {

constexpr wchar_t kSerialPortMap[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
// A device name is a path of the kernel's ("\Device\Serial0"); a port name
// is a few characters. Longer values are not port names.
constexpr DWORD kLongestDeviceName = 512;
constexpr DWORD kLongestPortName = 32;
// More values than ports can have names.
constexpr DWORD kMostValues = 4096;

}  // namespace

std::vector<std::string> Win32PortMap::PortNames() const {
    std::vector<std::string> names;
    win::unique_hkey map;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialPortMap, 0, KEY_READ, map.put()) != ERROR_SUCCESS) return names;
    for (DWORD index = 0; index < kMostValues; ++index) {
        wchar_t device[kLongestDeviceName];
        DWORD deviceLength = kLongestDeviceName;
        wchar_t port[kLongestPortName + 1] = {};
        DWORD portBytes = kLongestPortName * sizeof(wchar_t);
        DWORD type = REG_NONE;
        const LONG read = ::RegEnumValueW(map.get(), index, device, &deviceLength, nullptr, &type,
                                          reinterpret_cast<BYTE*>(port), &portBytes);
        if (read == ERROR_MORE_DATA) continue;  // too long for a port name
        if (read != ERROR_SUCCESS) break;       // the end, or a map that cannot be read on
        if (type != REG_SZ) continue;
        // The data need not end in a NUL; the buffer has room for one.
        port[portBytes / sizeof(wchar_t)] = L'\0';
        names.push_back(win::Utf8FromWide(port));
    }
    return names;
}

}  // namespace quill
