#include "tests/native/fake_registry.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace quill::fake {

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}

namespace {

std::string Show(const RegistryValue& value) {
    switch (value.type) {
        case RegistryValue::Type::String: return "'" + value.text + "'";
        case RegistryValue::Type::Number: return "d " + std::to_string(value.number);
        case RegistryValue::Type::Bytes: {
            std::string hex = "b ";
            char pair[3];
            for (const uint8_t byte : value.bytes) {
                std::snprintf(pair, sizeof pair, "%02X", byte);
                hex += pair;
            }
            return hex;
        }
    }
    return {};
}

}  // namespace

// An open key: its path, looked up anew at every step, so a key deleted
// behind its back fails as on Windows.
class MemoryKey final : public RegistryKey {
public:
    MemoryKey(MemoryRegistry& registry, std::vector<std::string> path, KeyAccess access)
        : registry_(registry), path_(std::move(path)), access_(access) {
        registry_.openKeys_.insert(MemoryRegistry::Join(path_));
    }
    ~MemoryKey() override { Forget(); }

    std::unique_ptr<RegistryKey> Open(std::string_view name, KeyAccess access) override {
        const auto path = Child(name);
        if (registry_.Find(path) == nullptr || MemoryRegistry::Refused(registry_.refusedOpen_, path))
            return nullptr;
        if (access == KeyAccess::Full && MemoryRegistry::Refused(registry_.refusedFullAccess_, path))
            return nullptr;
        return std::make_unique<MemoryKey>(registry_, path, access);
    }

    std::unique_ptr<RegistryKey> Create(std::string_view name) override {
        const auto path = Child(name);
        MemoryRegistry::Node* node = Node();
        if (node == nullptr || access_ != KeyAccess::Full) return nullptr;
        if (registry_.Find(path) == nullptr) {
            if (MemoryRegistry::Refused(registry_.refusedCreate_, path)) return nullptr;
            node->subkeys[std::string(name)];
        }
        if (MemoryRegistry::Refused(registry_.refusedFullAccess_, path)) return nullptr;
        return std::make_unique<MemoryKey>(registry_, path, KeyAccess::Full);
    }

    bool SetValue(std::string_view name, const RegistryValue& value) override {
        MemoryRegistry::Node* node = WritableNode();
        if (node == nullptr || MemoryRegistry::Refused(registry_.refusedWrites_, path_)) return false;
        node->values[std::string(name)] = value;
        return true;
    }

    bool DeleteValue(std::string_view name) override {
        MemoryRegistry::Node* node = WritableNode();
        return node != nullptr && node->values.erase(std::string(name)) == 1;
    }

    bool DeleteSubkey(std::string_view name) override {
        MemoryRegistry::Node* node = WritableNode();
        // Deleting needs the access to the key that writing does.
        const auto path = Child(name);
        if (node == nullptr || MemoryRegistry::Refused(registry_.refusedDelete_, path) ||
            MemoryRegistry::Refused(registry_.refusedFullAccess_, path))
            return false;
        const auto found = node->subkeys.find(std::string(name));
        if (found == node->subkeys.end() || !found->second.subkeys.empty()) return false;
        node->subkeys.erase(found);
        return true;
    }

    std::optional<KeyContents> Contents() override {
        const MemoryRegistry::Node* node = Node();
        if (node == nullptr) return std::nullopt;
        KeyContents contents;
        contents.subkeys = static_cast<uint32_t>(node->subkeys.size());
        contents.values = static_cast<uint32_t>(node->values.size());
        contents.hasDefaultValue = node->values.count("") != 0;
        return contents;
    }

    std::optional<std::string> FirstSubkey() override {
        const MemoryRegistry::Node* node = Node();
        if (node == nullptr || node->subkeys.empty()) return std::nullopt;
        return node->subkeys.begin()->first;
    }

    bool Close() override {
        if (!open_) return false;
        Forget();
        return !MemoryRegistry::Refused(registry_.refusedClose_, path_);
    }

private:
    std::vector<std::string> Child(std::string_view name) const {
        auto path = path_;
        path.emplace_back(name);
        return path;
    }
    MemoryRegistry::Node* Node() { return open_ ? registry_.Find(path_) : nullptr; }
    MemoryRegistry::Node* WritableNode() { return access_ == KeyAccess::Full ? Node() : nullptr; }
    void Forget() {
        if (!open_) return;
        open_ = false;
        registry_.openKeys_.erase(registry_.openKeys_.find(MemoryRegistry::Join(path_)));
    }

    MemoryRegistry& registry_;
    const std::vector<std::string> path_;
    const KeyAccess access_;
    bool open_ = true;
};

std::unique_ptr<RegistryKey> MemoryRegistry::Root(RootKey root) {
    const char* name = RootKeyName(root);
    if (name == nullptr) return nullptr;
    roots_[name];
    return std::make_unique<MemoryKey>(*this, std::vector<std::string>{name}, KeyAccess::Full);
}

void MemoryRegistry::AddKey(const std::string& path) {
    const auto names = Split(path);
    Node* node = &roots_[names.at(0)];
    for (size_t i = 1; i < names.size(); ++i) node = &node->subkeys[names[i]];
}

void MemoryRegistry::SetValue(const std::string& path, const std::string& name, const RegistryValue& value) {
    AddKey(path);
    Find(Split(path))->values[name] = value;
}

bool MemoryRegistry::HasKey(const std::string& path) const { return Find(Split(path)) != nullptr; }

std::optional<RegistryValue> MemoryRegistry::Value(const std::string& path, const std::string& name) const {
    const Node* node = Find(Split(path));
    if (node == nullptr) return std::nullopt;
    const auto found = node->values.find(name);
    if (found == node->values.end()) return std::nullopt;
    return found->second;
}

std::vector<std::string> MemoryRegistry::Dump() const {
    std::vector<std::string> lines;
    for (const auto& [name, node] : roots_) {
        for (const auto& [subkey, child] : node.subkeys) DumpNode(child, name + "\\" + subkey, lines);
    }
    return lines;
}

void MemoryRegistry::DumpNode(const Node& node, const std::string& path, std::vector<std::string>& lines) const {
    const auto defaultValue = node.values.find("");
    lines.push_back(defaultValue == node.values.end() ? path : path + " = " + Show(defaultValue->second));
    for (const auto& [name, value] : node.values)
        if (!name.empty()) lines.push_back(path + " : " + name + " = " + Show(value));
    for (const auto& [name, child] : node.subkeys) DumpNode(child, path + "\\" + name, lines);
}

std::vector<std::string> MemoryRegistry::OpenKeys() const { return {openKeys_.begin(), openKeys_.end()}; }

MemoryRegistry::Node* MemoryRegistry::Find(const std::vector<std::string>& path) {
    return const_cast<Node*>(static_cast<const MemoryRegistry&>(*this).Find(path));
}

const MemoryRegistry::Node* MemoryRegistry::Find(const std::vector<std::string>& path) const {
    const auto root = roots_.find(path.at(0));
    if (root == roots_.end()) return nullptr;
    const Node* node = &root->second;
    for (size_t i = 1; i < path.size(); ++i) {
        const auto found = node->subkeys.find(path[i]);
        if (found == node->subkeys.end()) return nullptr;
        node = &found->second;
    }
    return node;
}

std::vector<std::string> MemoryRegistry::Split(const std::string& path) {
    std::vector<std::string> names;
    size_t start = 0;
    for (;;) {
        const size_t end = path.find('\\', start);
        names.push_back(path.substr(start, end - start));
        if (end == std::string::npos) return names;
        start = end + 1;
    }
}

std::string MemoryRegistry::Join(const std::vector<std::string>& path) {
    std::string joined;
    for (const auto& name : path) joined += (joined.empty() ? "" : "\\") + name;
    return joined;
}

bool MemoryRegistry::Refused(const std::set<std::string, CaseInsensitiveLess>& refusals,
                             const std::vector<std::string>& path) {
    return refusals.count(Join(path)) != 0;
}

}  // namespace quill::fake
