// The registry as the registration script sees it: keys under a few
// predefined roots, opened one level at a time, holding string, number and
// byte values. Names and texts are UTF-8. The Windows file makes the
// advapi32 calls; the tests use an in-memory registry.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

enum class RootKey { ClassesRoot, CurrentUser, LocalMachine, Users, PerformanceData, DynData, CurrentConfig };

// A root's short name ("HKCR", "HKLM" ...); null for the roots today's
// Windows no longer has.
inline const char* RootKeyName(RootKey root) {
    switch (root) {
        case RootKey::ClassesRoot: return "HKCR";
        case RootKey::CurrentUser: return "HKCU";
        case RootKey::LocalMachine: return "HKLM";
        case RootKey::Users: return "HKU";
        case RootKey::CurrentConfig: return "HKCC";
        case RootKey::PerformanceData:
        case RootKey::DynData: return nullptr;
    }
    return nullptr;
}

enum class KeyAccess { Full, Read };

struct RegistryValue {
    enum class Type { String, Number, Bytes };

    Type type = Type::String;
    std::string text;            // String: stored with its terminating NUL
    uint32_t number = 0;         // Number
    std::vector<uint8_t> bytes;  // Bytes

    static RegistryValue String(std::string text) { return {Type::String, std::move(text), 0, {}}; }
    static RegistryValue Number(uint32_t number) { return {Type::Number, {}, number, {}}; }
    static RegistryValue Bytes(std::vector<uint8_t> bytes) { return {Type::Bytes, {}, 0, std::move(bytes)}; }

    friend bool operator==(const RegistryValue& a, const RegistryValue& b) {
        return a.type == b.type && a.text == b.text && a.number == b.number && a.bytes == b.bytes;
    }
};

// What a key holds right now.
struct KeyContents {
    uint32_t subkeys = 0;
    uint32_t values = 0;  // the default value counts when it is set
    bool hasDefaultValue = false;
};

// An open key. The destructor closes a key that is still open.
class RegistryKey {
public:
    virtual ~RegistryKey() = default;

    // The subkey `name`, opened with `access`; null when it is missing or
    // the access is refused.
    virtual std::unique_ptr<RegistryKey> Open(std::string_view name, KeyAccess access) = 0;
    // The subkey `name`, created when missing, opened for full access; null
    // when refused.
    virtual std::unique_ptr<RegistryKey> Create(std::string_view name) = 0;

    // Sets a value; the empty name is the key's default value. False when
    // refused.
    virtual bool SetValue(std::string_view name, const RegistryValue& value) = 0;
    virtual bool DeleteValue(std::string_view name) = 0;
    // Deletes the subkey `name`, which must have no subkeys of its own.
    virtual bool DeleteSubkey(std::string_view name) = 0;

    // Empty when the key cannot be read.
    virtual std::optional<KeyContents> Contents() = 0;
    // The name of the first subkey; empty when there is none or it cannot
    // be read.
    virtual std::optional<std::string> FirstSubkey() = 0;

    // Closes the key; false when the platform refuses. The key is of no
    // further use either way.
    virtual bool Close() = 0;
};

class Registry {
public:
    virtual ~Registry() = default;
    // A predefined root key; null when the platform has no such root.
    virtual std::unique_ptr<RegistryKey> Root(RootKey root) = 0;
};

}  // namespace quill
