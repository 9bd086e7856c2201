#include "server/win32_registry.h"

#include <windows.h>

#include "core/win/handles.h"
#include "core/win/text.h"

namespace quill {
namespace {

// Key names are at most 255 characters.
constexpr DWORD kLongestKeyName = 256;

HKEY PredefinedKey(RootKey root) {
    switch (root) {
        case RootKey::ClassesRoot: return HKEY_CLASSES_ROOT;
        case RootKey::CurrentUser: return HKEY_CURRENT_USER;
        case RootKey::LocalMachine: return HKEY_LOCAL_MACHINE;
        case RootKey::Users: return HKEY_USERS;
        case RootKey::PerformanceData: return HKEY_PERFORMANCE_DATA;
        case RootKey::DynData: return HKEY_DYN_DATA;
        case RootKey::CurrentConfig: return HKEY_CURRENT_CONFIG;
    }
    return nullptr;
}

class Win32Key final : public RegistryKey {
public:
    // A predefined root key, which is never closed.
    explicit Win32Key(HKEY root) : key_(root) {}
    // An opened key, closed at the end.
    explicit Win32Key(win::unique_hkey opened) : owned_(std::move(opened)), key_(owned_.get()) {}

    std::unique_ptr<RegistryKey> Open(std::string_view name, KeyAccess access) override {
        win::unique_hkey opened;
        const REGSAM rights = access == KeyAccess::Full ? KEY_ALL_ACCESS : KEY_READ;
        if (::RegOpenKeyExW(key_, win::WideFromUtf8(name).c_str(), 0, rights, opened.put()) != ERROR_SUCCESS)
            return nullptr;
        return std::make_unique<Win32Key>(std::move(opened));
    }

    std::unique_ptr<RegistryKey> Create(std::string_view name) override {
        win::unique_hkey created;
        if (::RegCreateKeyExW(key_, win::WideFromUtf8(name).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, created.put(), nullptr) != ERROR_SUCCESS)
            return nullptr;
        return std::make_unique<Win32Key>(std::move(created));
    }

    bool SetValue(std::string_view name, const RegistryValue& value) override {
        const std::wstring valueName = win::WideFromUtf8(name);
        switch (value.type) {
            case RegistryValue::Type::String: {
                const std::wstring text = win::WideFromUtf8(value.text);
                return Set(valueName, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
            }
            case RegistryValue::Type::Number: return Set(valueName, REG_DWORD, &value.number, sizeof value.number);
            case RegistryValue::Type::Bytes: {
                static const BYTE kNothing = 0;
                const BYTE* bytes = value.bytes.empty() ? &kNothing : value.bytes.data();
                return Set(valueName, REG_BINARY, bytes, value.bytes.size());
            }
        }
        return false;
    }

    bool DeleteValue(std::string_view name) override {
        return ::RegDeleteValueW(key_, win::WideFromUtf8(name).c_str()) == ERROR_SUCCESS;
    }

    bool DeleteSubkey(std::string_view name) override {
        return ::RegDeleteKeyW(key_, win::WideFromUtf8(name).c_str()) == ERROR_SUCCESS;
    }

    std::optional<KeyContents> Contents() override {
        DWORD subkeys = 0, values = 0;
        if (::RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                               nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return std::nullopt;
        KeyContents contents;
        contents.subkeys = subkeys;
        contents.values = values;
        contents.hasDefaultValue =
            ::RegQueryValueExW(key_, L"", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        return contents;
    }

    std::optional<std::string> FirstSubkey() override {
        wchar_t name[kLongestKeyName];
        DWORD length = kLongestKeyName;
        if (::RegEnumKeyExW(key_, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return std::nullopt;
        return win::Utf8FromWide(std::wstring_view(name, length));
    }

    bool Close() override {
        key_ = nullptr;
        if (!owned_) return true;  // a root key stays open
        return ::RegCloseKey(owned_.release()) == ERROR_SUCCESS;
    }

private:
    bool Set(const std::wstring& name, DWORD type, const void* data, size_t size) {
        return ::RegSetValueExW(key_, name.c_str(), 0, type, static_cast<const BYTE*>(data),
                                static_cast<DWORD>(size)) == ERROR_SUCCESS;
    }

    win::unique_hkey owned_;
    HKEY key_;
};

}  // namespace

std::unique_ptr<RegistryKey> Win32Registry::Root(RootKey root) {
    return std::make_unique<Win32Key>(PredefinedKey(root));
}

}  // namespace quill
