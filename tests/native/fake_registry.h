// The registry in memory, for the registration script's tests. Keys are
// named by paths such as "HKCR\\CLSID\\{...}" (roots HKCR, HKCU, HKLM, HKU,
// HKCC); names compare without regard to case and subkeys come in sorted
// order, as on Windows. A test can make the registry refuse single steps,
// and can see every key that is still open.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "server/registry.h"

namespace quill::fake {

struct CaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const;
};

class MemoryRegistry final : public Registry {
public:
    std::unique_ptr<RegistryKey> Root(RootKey root) override;

    // ---- Contents.
    // Adds the key and every missing key above it.
    void AddKey(const std::string& path);
    // Sets a value, adding the key where missing; "" is the default value.
    void SetValue(const std::string& path, const std::string& name, const RegistryValue& value);
    bool HasKey(const std::string& path) const;
    std::optional<RegistryValue> Value(const std::string& path, const std::string& name) const;
    // Every key and value below the roots, one line each, in order:
    //   HKCR\A                       a key without a default value
    //   HKCR\A = 'text'              a key and its default value
    //   HKCR\A : Name = d 12         a named value (s 'text', d number, b hex)
    std::vector<std::string> Dump() const;

    // ---- Refusals, each for the key at `path`.
    void RefuseOpen(const std::string& path) { refusedOpen_.insert(path); }  // for any access
    void RefuseFullAccess(const std::string& path) { refusedFullAccess_.insert(path); }  // and deletion
    void RefuseCreate(const std::string& path) { refusedCreate_.insert(path); }
    void RefuseClose(const std::string& path) { refusedClose_.insert(path); }
    void RefuseDelete(const std::string& path) { refusedDelete_.insert(path); }
    void RefuseWrites(const std::string& path) { refusedWrites_.insert(path); }  // values

    // Keys handed out and not yet closed, by path.
    std::vector<std::string> OpenKeys() const;

private:
    friend class MemoryKey;

    struct Node {
        std::map<std::string, Node, CaseInsensitiveLess> subkeys;
        std::map<std::string, RegistryValue, CaseInsensitiveLess> values;
    };

    Node* Find(const std::vector<std::string>& path);
    const Node* Find(const std::vector<std::string>& path) const;
    static std::vector<std::string> Split(const std::string& path);
    static std::string Join(const std::vector<std::string>& path);
    static bool Refused(const std::set<std::string, CaseInsensitiveLess>& refusals,
                        const std::vector<std::string>& path);
    void DumpNode(const Node& node, const std::string& path, std::vector<std::string>& lines) const;

    std::map<std::string, Node, CaseInsensitiveLess> roots_;
    std::set<std::string, CaseInsensitiveLess> refusedOpen_, refusedFullAccess_, refusedCreate_, refusedClose_,
        refusedDelete_, refusedWrites_;
    std::multiset<std::string> openKeys_;
};

}  // namespace quill::fake
