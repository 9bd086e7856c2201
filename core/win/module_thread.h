// A thread of this module that keeps the module loaded while it runs: it
// holds a reference to the module from its start, and gives it back as it
// ends (FreeLibraryAndExitThread), so that the host may unload the module
// whenever it likes without pulling the code from under the thread.
#pragma once

#include <windows.h>

#include <new>

#include "core/win/handles.h"
#include "core/win/this_module.h"

namespace quill::win {

namespace detail {

struct ModuleThreadStart {
    DWORD (*body)(void*);
    void* parameter;
    HMODULE module;
};

inline DWORD WINAPI RunModuleThread(void* start) {
    const ModuleThreadStart begun = *static_cast<ModuleThreadStart*>(start);
    delete static_cast<ModuleThreadStart*>(start);
    const DWORD code = begun.body(begun.parameter);
    ::FreeLibraryAndExitThread(begun.module, code);
}

}  // namespace detail

// Starts `body(parameter)` on a new thread; the thread's handle in `thread`.
// False, with nothing started, when the system refuses.
inline bool StartModuleThread(DWORD (*body)(void*), void* parameter, unique_handle& thread) noexcept {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(ThisModule()),
                              &module))
        return false;
    auto* start = new (std::nothrow) detail::ModuleThreadStart{body, parameter, module};
    if (start != nullptr) thread.reset(::CreateThread(nullptr, 0, &detail::RunModuleThread, start, 0, nullptr));
    if (thread) return true;
    delete start;
    ::FreeLibrary(module);
    return false;
}

}  // namespace quill::win
