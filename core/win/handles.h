// Owning wrappers for Windows handles. Each wrapper type carries its close
// function and its empty value, so a handle whose empty value is NULL and one
// whose empty value is INVALID_HANDLE_VALUE are different types and cannot be
// mixed up. Shape as std::unique_ptr: get(), put(), reset(), release().
#pragma once

#include <windows.h>

#include <utility>

#include "core/lock.h"

namespace quill::win {

// Traits: `type` is the raw handle type, `Empty()` its empty value and
// `Close(h)` gives a non-empty handle back.
template <typename Traits>
class unique_any {
public:
    using pointer = typename Traits::type;

    unique_any() noexcept = default;
    explicit unique_any(pointer value) noexcept : value_(value) {}
    ~unique_any() { reset(); }

    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    pointer get() const noexcept { return value_; }
    bool is_valid() const noexcept { return value_ != Traits::Empty(); }
    explicit operator bool() const noexcept { return is_valid(); }

    // Closes the current handle and takes `value` in its place.
    void reset(pointer value = Traits::Empty()) noexcept {
        pointer old = std::exchange(value_, value);
        if (old != Traits::Empty()) Traits::Close(old);
    }

    // Gives up ownership without closing.
    [[nodiscard]] pointer release() noexcept { return std::exchange(value_, Traits::Empty()); }

    // Closes the current handle and hands the address of the empty slot to an
    // out-parameter.
    pointer* put() noexcept {
        reset();
        return &value_;
    }

    void swap(unique_any& other) noexcept { std::swap(value_, other.value_); }

private:
    pointer value_ = Traits::Empty();
};

namespace detail {

template <typename Handle, Handle (*EmptyValue)(), void (*CloseFunction)(Handle)>
struct handle_traits {
    using type = Handle;
    static type Empty() noexcept { return EmptyValue(); }
    static void Close(type value) noexcept { CloseFunction(value); }
};

inline HANDLE NullHandle() noexcept { return nullptr; }
inline HANDLE InvalidHandle() noexcept { return INVALID_HANDLE_VALUE; }
inline void CloseKernelHandle(HANDLE h) noexcept { ::CloseHandle(h); }

inline HMODULE NullModule() noexcept { return nullptr; }
inline void ReleaseModuleHandle(HMODULE h) noexcept { ::FreeLibrary(h); }

inline HGDIOBJ NullGdiObject() noexcept { return nullptr; }
inline void CloseGdiObject(HGDIOBJ h) noexcept { ::DeleteObject(h); }

inline HBRUSH NullBrush() noexcept { return nullptr; }
inline void CloseBrush(HBRUSH h) noexcept { ::DeleteObject(h); }

inline HDC NullDc() noexcept { return nullptr; }
inline void DeleteDeviceContext(HDC h) noexcept { ::DeleteDC(h); }

inline HWND NullWindow() noexcept { return nullptr; }
inline void DestroyOwnedWindow(HWND h) noexcept {
    if (::IsWindow(h)) ::DestroyWindow(h);  // its parent may have destroyed it already
}

inline HFONT NullFont() noexcept { return nullptr; }
inline void CloseFont(HFONT h) noexcept { ::DeleteObject(h); }

inline HKEY NullKey() noexcept { return nullptr; }
inline void CloseRegistryKey(HKEY h) noexcept { ::RegCloseKey(h); }

}  // namespace detail

// Kernel handles whose "no handle" value is NULL (events, threads, mutexes...).
using unique_handle =
    unique_any<detail::handle_traits<HANDLE, detail::NullHandle, detail::CloseKernelHandle>>;

// Handles from CreateFile, whose "no handle" value is INVALID_HANDLE_VALUE.
using unique_hfile =
    unique_any<detail::handle_traits<HANDLE, detail::InvalidHandle, detail::CloseKernelHandle>>;

using unique_hmodule =
    unique_any<detail::handle_traits<HMODULE, detail::NullModule, detail::ReleaseModuleHandle>>;

using unique_hgdiobj =
    unique_any<detail::handle_traits<HGDIOBJ, detail::NullGdiObject, detail::CloseGdiObject>>;
using unique_hbrush =
    unique_any<detail::handle_traits<HBRUSH, detail::NullBrush, detail::CloseBrush>>;
using unique_hfont =
    unique_any<detail::handle_traits<HFONT, detail::NullFont, detail::CloseFont>>;
// Windows owned by the code that made them, destroyed on the thread that
// made them.
using unique_hwnd = unique_any<detail::handle_traits<HWND, detail::NullWindow, detail::DestroyOwnedWindow>>;
// Device contexts made with CreateDC or CreateCompatibleDC, given back with
// DeleteDC (those from GetDC are unique_window_dc).
using unique_hdc = unique_any<detail::handle_traits<HDC, detail::NullDc, detail::DeleteDeviceContext>>;

// An opened registry key (never one of the predefined root keys).
using unique_hkey = unique_any<detail::handle_traits<HKEY, detail::NullKey, detail::CloseRegistryKey>>;

// An event object (NULL-empty) with its operations.
class unique_event {
public:
    enum class Reset { Manual, Automatic };

    unique_event() noexcept = default;
    explicit unique_event(HANDLE value) noexcept : handle_(value) {}

    // Creates an unnamed, non-signalled event; false when the system refuses.
    bool create(Reset kind = Reset::Automatic) noexcept {
        handle_.reset(::CreateEventW(nullptr, kind == Reset::Manual ? TRUE : FALSE, FALSE, nullptr));
        return handle_.is_valid();
    }

    HANDLE get() const noexcept { return handle_.get(); }
    bool is_valid() const noexcept { return handle_.is_valid(); }
    explicit operator bool() const noexcept { return is_valid(); }
    void reset(HANDLE value = nullptr) noexcept { handle_.reset(value); }
    [[nodiscard]] HANDLE release() noexcept { return handle_.release(); }
    HANDLE* put() noexcept { return handle_.put(); }

    void SetEvent() const noexcept { ::SetEvent(handle_.get()); }
    void ResetEvent() const noexcept { ::ResetEvent(handle_.get()); }

    // True when the event is signalled within `milliseconds` (no wait of the
    // module is without a limit).
    bool wait(DWORD milliseconds) const noexcept {
        return ::WaitForSingleObject(handle_.get(), milliseconds) == WAIT_OBJECT_0;
    }

private:
    unique_handle handle_;
};

// A device context obtained with GetDC, given back with ReleaseDC to the same
// window (a null window means the screen).
class unique_window_dc {
public:
    unique_window_dc() noexcept = default;
    explicit unique_window_dc(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
    ~unique_window_dc() { reset(); }
    unique_window_dc(const unique_window_dc&) = delete;
    unique_window_dc& operator=(const unique_window_dc&) = delete;
    unique_window_dc(unique_window_dc&& other) noexcept
        : window_(other.window_), dc_(std::exchange(other.dc_, nullptr)) {}
    unique_window_dc& operator=(unique_window_dc&& other) noexcept {
        if (this != &other) {
            reset();
            window_ = other.window_;
            dc_ = std::exchange(other.dc_, nullptr);
        }
        return *this;
    }

    HDC get() const noexcept { return dc_; }
    explicit operator bool() const noexcept { return dc_ != nullptr; }
    void reset() noexcept {
        if (dc_ != nullptr) ::ReleaseDC(window_, std::exchange(dc_, nullptr));
    }

private:
    HWND window_ = nullptr;
    HDC dc_ = nullptr;
};

// Puts a GDI object into a device context and puts the previous one back.
class select_object_scope {
public:
    select_object_scope(HDC dc, HGDIOBJ object) noexcept
        : dc_(dc), previous_(::SelectObject(dc, object)) {}
    ~select_object_scope() {
        if (previous_ != nullptr && previous_ != HGDI_ERROR) ::SelectObject(dc_, previous_);
    }
    select_object_scope(const select_object_scope&) = delete;
    select_object_scope& operator=(const select_object_scope&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// A critical section; lock() holds it for the life of the scope. As a Lock
// it can be handed to portable logic.
class critical_section final : public quill::Lock {
public:
    critical_section() noexcept { ::InitializeCriticalSection(&section_); }
    ~critical_section() override { ::DeleteCriticalSection(&section_); }
    critical_section(const critical_section&) = delete;
    critical_section& operator=(const critical_section&) = delete;

    class lock_guard {
    public:
        explicit lock_guard(critical_section& owner) noexcept : owner_(owner) { owner_.Acquire(); }
        ~lock_guard() { owner_.Release(); }
        lock_guard(const lock_guard&) = delete;
        lock_guard& operator=(const lock_guard&) = delete;

    private:
        critical_section& owner_;
    };

    [[nodiscard]] lock_guard lock() noexcept { return lock_guard(*this); }

    // quill::Lock
    bool TryAcquire() noexcept override { return ::TryEnterCriticalSection(&section_) != FALSE; }
    void Acquire() noexcept override { ::EnterCriticalSection(&section_); }
    void Release() noexcept override { ::LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

}  // namespace quill::win
