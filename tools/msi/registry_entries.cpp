// The registry entries a module's registration script writes, as a list for
// the installer package: the script is run forwards by the module's own
// runner, with the module's path replaced by a text the package resolves at
// install time, on an empty registry that records what it is asked to write.
//
//   quill-registry-entries SCRIPT MODULE-PATH-TEXT
//
// One line per value written, in the script's order, fields separated by
// tabs:  ROOT  KEY  NAME  TYPE  VALUE
// ROOT is HKCR, HKCU, HKLM, HKU or HKCC; NAME is empty for a key's default
// value; TYPE is s (text), d (number, in decimal) or b (bytes, in hex). A key
// the script creates without any value gets a line of its own with TYPE "-".
// Exit status 1 when the script cannot be read or does not run.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/registration_script.h"

namespace quill {
namespace {

const char* RootName(RootKey root) {
    switch (root) {
        case RootKey::ClassesRoot: return "HKCR";
        case RootKey::CurrentUser: return "HKCU";
        case RootKey::LocalMachine: return "HKLM";
        case RootKey::Users: return "HKU";
        case RootKey::CurrentConfig: return "HKCC";
        default: return nullptr;
    }
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

// What a forward run leaves: the keys it made and the values it set, in
// order. Names compare without regard to case, as in the registry.
class RecordingRegistry final : public Registry {
public:
    struct Entry {
        std::string path;  // ROOT\KEY
        std::string name;
        std::optional<RegistryValue> value;  // none: the key alone
    };

    std::unique_ptr<RegistryKey> Root(RootKey root) override;

    std::vector<Entry> entries;

private:
    friend class RecordingKey;
    bool Exists(const std::string& path) const { return keys_.count(Lower(path)) != 0; }
    void AddKey(const std::string& path) {
        if (keys_.insert({Lower(path), path}).second) entries.push_back({path, {}, std::nullopt});
    }
    void SetValue(const std::string& path, std::string_view name, const RegistryValue& value) {
        for (Entry& entry : entries)
            if (Lower(entry.path) == Lower(path) && entry.value && Lower(entry.name) == Lower(name)) {
                entry.value = value;
                return;
            }
        entries.push_back({path, std::string(name), value});
    }

    std::map<std::string, std::string> keys_;
};

class RecordingKey final : public RegistryKey {
public:
    RecordingKey(RecordingRegistry& registry, std::string path) : registry_(registry), path_(std::move(path)) {}

    std::unique_ptr<RegistryKey> Open(std::string_view name, KeyAccess) override {
        const std::string path = Child(name);
        if (!registry_.Exists(path)) return nullptr;
        return std::make_unique<RecordingKey>(registry_, path);
    }
    std::unique_ptr<RegistryKey> Create(std::string_view name) override {
        const std::string path = Child(name);
        registry_.AddKey(path);
        return std::make_unique<RecordingKey>(registry_, path);
    }
    bool SetValue(std::string_view name, const RegistryValue& value) override {
        registry_.SetValue(path_, name, value);
        return true;
    }
    // The run starts on an empty registry and only writes: nothing it asks
    // to remove is there.
    bool DeleteValue(std::string_view) override { return false; }
    bool DeleteSubkey(std::string_view) override { return false; }
    std::optional<KeyContents> Contents() override { return KeyContents{}; }
    std::optional<std::string> FirstSubkey() override { return std::nullopt; }
    bool Close() override { return true; }

private:
    std::string Child(std::string_view name) const { return path_ + "\\" + std::string(name); }

    RecordingRegistry& registry_;
    std::string path_;
};

std::unique_ptr<RegistryKey> RecordingRegistry::Root(RootKey root) {
    const char* name = RootName(root);
    if (name == nullptr) return nullptr;
    keys_.insert({Lower(name), name});
    return std::make_unique<RecordingKey>(*this, name);
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

void Print(const RecordingRegistry::Entry& entry) {
    const size_t slash = entry.path.find('\\');
    if (slash == std::string::npos) return;  // a root alone
    const std::string root = entry.path.substr(0, slash), key = entry.path.substr(slash + 1);
    if (!entry.value) {
        std::printf("%s\t%s\t\t-\t\n", root.c_str(), key.c_str());
        return;
    }
    const RegistryValue& value = *entry.value;
    switch (value.type) {
        case RegistryValue::Type::String:
            std::printf("%s\t%s\t%s\ts\t%s\n", root.c_str(), key.c_str(), entry.name.c_str(),
                        value.text.c_str());
            break;
        case RegistryValue::Type::Number:
            std::printf("%s\t%s\t%s\td\t%u\n", root.c_str(), key.c_str(), entry.name.c_str(),
                        static_cast<unsigned>(value.number));
            break;
        case RegistryValue::Type::Bytes:
            std::printf("%s\t%s\t%s\tb\t%s\n", root.c_str(), key.c_str(), entry.name.c_str(),
                        Hex(value.bytes).c_str());
            break;
    }
}

}  // namespace
}  // namespace quill

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: quill-registry-entries SCRIPT MODULE-PATH-TEXT\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "quill-registry-entries: cannot read %s\n", argv[1]);
        return 1;
    }
    const std::string script((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    quill::RecordingRegistry registry;
    const int32_t result = quill::RunRegistrationScript(script, quill::ModuleReplacements(argv[2]),
                                                        quill::ScriptDirection::Register, registry);
    if (result != quill::script_result::kOk) {
        std::fprintf(stderr, "quill-registry-entries: %s does not run: 0x%08X\n", argv[1],
                     static_cast<unsigned>(result));
        return 1;
    }
    // A key that later got values needs no line of its own.
    for (const auto& entry : registry.entries) {
        if (!entry.value) {
            bool holdsValues = false;
            for (const auto& other : registry.entries)
                if (other.value && quill::Lower(other.path) == quill::Lower(entry.path)) holdsValues = true;
            if (holdsValues) continue;
        }
        quill::Print(entry);
    }
    return 0;
}
