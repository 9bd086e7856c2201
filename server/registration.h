// Self-registration of the module: its registration script run forwards or
// backwards with the module's own path, and its type library registered
// from the module itself.
#pragma once

#include <windows.h>

#include "server/registration_script.h"

namespace quill {

// Runs the module's registration script resource `scriptId` in
// `direction`, with the module's full path for "%MODULE%".
HRESULT RunModuleScript(UINT scriptId, ScriptDirection direction) noexcept;

// Registers the type library that the module carries (or the .tlb file
// beside it), with the module's folder as its help directory.
HRESULT RegisterModuleTypeLibrary() noexcept;

}  // namespace quill
