// The module that this code is linked into: the DLL for the component's
// code, the program for a program's.
#pragma once

#include <windows.h>

extern "C" IMAGE_DOS_HEADER __ImageBase;  // placed by the linker at the module's load address

namespace quill::win {

inline HMODULE ThisModule() noexcept { return reinterpret_cast<HMODULE>(&__ImageBase); }

}  // namespace quill::win
