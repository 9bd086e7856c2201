// Self-registration of the module: its registration script run forwards or
// backwards with the module's own path, and its type library registered
// from the module itself.
#pragma once

#include <windows.h>

#include "server/registration_script.h"

namespace quill {

// Runs the registration script resource `scriptId` of `module` in
// `direction`, with the module's full path for "%MODULE%".
HRESULT RunModuleScript(HMODULE module, UINT scriptId, ScriptDirection direction) noexcept;

// Registers the type library that `module` carries (or the .tlb file
// beside it), with the module's folder as its help directory.
HRESULT RegisterModuleTypeLibrary(HMODULE module) noexcept;

}  // namespace quill
