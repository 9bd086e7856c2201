// The module that this code is linked into: the DLL for the component's
// code, the program for a program's.
#pragma once

#include <windows.h>

#include <optional>
#include <string_view>

extern "C" IMAGE_DOS_HEADER __ImageBase;  // placed by the linker at the module's load address

namespace quill::win {

inline HMODULE ThisModule() noexcept { return reinterpret_cast<HMODULE>(&__ImageBase); }

// The bytes of this module's resource `id` of `type`; nothing when it is
// missing or cannot be loaded (the thread's last error says why).
inline std::optional<std::string_view> ThisModuleResource(UINT id, LPCWSTR type) noexcept {
    const HMODULE module = ThisModule();
    const HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (found == nullptr) return std::nullopt;
    const HGLOBAL loaded = ::LoadResource(module, found);
    if (loaded == nullptr) return std::nullopt;
    const auto* bytes = static_cast<const char*>(::LockResource(loaded));
    if (bytes == nullptr) return std::nullopt;
    return std::string_view(bytes, ::SizeofResource(module, found));
}

}  // namespace quill::win
