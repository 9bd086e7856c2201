// The module lock count of the in-process server: live component objects,
// extra class-factory references and LockServer calls each hold one lock;
// the module may be unloaded only while the count is 0. Changed only with
// interlocked operations.
#pragma once

#include <windows.h>

namespace quill::win {

inline volatile LONG moduleLockCount = 0;

inline void LockModule() noexcept { ::InterlockedIncrement(&moduleLockCount); }
inline void UnlockModule() noexcept { ::InterlockedDecrement(&moduleLockCount); }
inline bool ModuleIsLocked() noexcept {
    return ::InterlockedCompareExchange(&moduleLockCount, 0, 0) != 0;
}

// Holds one module lock for its own lifetime.
class module_lock {
public:
    module_lock() noexcept { LockModule(); }
    ~module_lock() { UnlockModule(); }
    module_lock(const module_lock&) = delete;
    module_lock& operator=(const module_lock&) = delete;
};

}  // namespace quill::win
