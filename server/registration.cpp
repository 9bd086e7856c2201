#include "server/registration.h"

#include <oleauto.h>

#include <cstring>
#include <string>

#include "core/win/com.h"
#include "core/win/text.h"
#include "core/win/this_module.h"
#include "server/win32_registry.h"

namespace quill {
namespace {

static_assert(script_result::kFailed == E_FAIL);
static_assert(script_result::kBadScript == DISP_E_EXCEPTION);
static_assert(script_result::kNotANumber == DISP_E_TYPEMISMATCH);
static_assert(script_result::kNumberTooLarge == DISP_E_OVERFLOW);

const wchar_t kScriptResourceType[] = L"REGISTRY";
const wchar_t kTypeLibraryExtension[] = L".tlb";
// Longest path Windows hands out (\\?\ paths included).
constexpr size_t kLongestPath = 32768;

HRESULT LastError() {
    const DWORD error = ::GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

// The module's full path as the loader has it, however long.
HRESULT ModulePath(std::wstring& path) {
    for (size_t capacity = MAX_PATH; capacity <= kLongestPath; capacity *= 2) {
        path.assign(capacity, L'\0');
        const DWORD length = ::GetModuleFileNameW(win::ThisModule(), path.data(), static_cast<DWORD>(capacity));
        if (length == 0) return LastError();
        if (length < capacity) {
            path.resize(length);
            return S_OK;
        }
    }
    return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
}

// The text of the script resource: its bytes, up to a NUL if one comes.
HRESULT LoadScript(UINT scriptId, std::string& script) {
    const auto bytes = win::ThisModuleResource(scriptId, kScriptResourceType);
    if (!bytes) return LastError();
    script.assign(bytes->data(), ::strnlen(bytes->data(), bytes->size()));
    return S_OK;
}

// The path with its file's extension replaced by (or extended with) ".tlb".
std::wstring TypeLibraryBeside(const std::wstring& path) {
    const size_t name = path.find_last_of(L"\\/:") + 1;  // 0 when there is no folder
    const size_t dot = path.rfind(L'.');
    const bool hasExtension = dot != std::wstring::npos && dot >= name;
    return (hasExtension ? path.substr(0, dot) : path) + kTypeLibraryExtension;
}

// The folder of `path`, with its last separator.
std::wstring FolderOf(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/:");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
}

}  // namespace

HRESULT RunModuleScript(UINT scriptId, ScriptDirection direction) noexcept {
    return win::GuardedCall([&]() -> HRESULT {
        std::wstring path;
        QUILL_RETURN_IF_FAILED(ModulePath(path));
        std::string script;
        QUILL_RETURN_IF_FAILED(LoadScript(scriptId, script));
        Win32Registry registry;
        return RunRegistrationScript(script, ModuleReplacements(win::Utf8FromWide(path)), direction, registry);
    });
}

HRESULT RegisterModuleTypeLibrary() noexcept {
    return win::GuardedCall([&]() -> HRESULT {
        std::wstring path;
        QUILL_RETURN_IF_FAILED(ModulePath(path));
        win::com_ptr<ITypeLib> library;
        if (FAILED(::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put()))) {
            path = TypeLibraryBeside(path);
            QUILL_RETURN_IF_FAILED(::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put()));
        }
        std::wstring helpFolder = FolderOf(path);
        return ::RegisterTypeLib(library.get(), path.data(), helpFolder.data());
    });
}

}  // namespace quill
