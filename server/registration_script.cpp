#include "server/registration_script.h"

#include <cstddef>
#include <memory>
#include <optional>

namespace quill {
namespace {

using namespace script_result;

constexpr size_t kMaxTokenBytes = 4094;
constexpr size_t kMaxPercentNameLength = 31;
// Deeper than the registry itself lets keys nest; bounds the walk's stack.
constexpr int kMaxNesting = 512;

#define QUILL_RETURN_IF_SCRIPT_FAILED(expression)  \
    do {                                           \
        const int32_t quillResult_ = (expression); \
        if (quillResult_ != kOk) return quillResult_; \
    } while (false)

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// ---- Tokens.

struct Token {
    std::string text;
    bool quoted = false;
};

// A bare (unquoted) word: keywords, braces and "=" count only as such.
bool IsWord(const Token& token, std::string_view word) {
    return !token.quoted && EqualsIgnoringCase(token.text, word);
}

bool IsPunctuation(const Token& token) {
    return IsWord(token, "{") || IsWord(token, "}") || IsWord(token, "=");
}

enum class TokenRead { Token, End, Malformed };

class Tokenizer {
public:
    explicit Tokenizer(std::string_view text) : text_(text) {}

    TokenRead Take(Token& token) {
        token = Token();
        while (position_ < text_.size() && IsSpace(text_[position_])) ++position_;
        if (position_ == text_.size()) return TokenRead::End;
        if (text_[position_] == '\'') return TakeQuoted(token);
        while (position_ < text_.size() && !IsSpace(text_[position_])) {
            if (token.text.size() == kMaxTokenBytes) return TokenRead::Malformed;
            token.text += text_[position_++];
        }
        return TokenRead::Token;
    }

    size_t position() const { return position_; }
    void Rewind(size_t position) { position_ = position; }
    // Makes the text end at `position`.
    void EndAt(size_t position) { text_ = text_.substr(0, position); }

private:
    TokenRead TakeQuoted(Token& token) {
        token.quoted = true;
        ++position_;  // the opening quote
        for (;;) {
            if (position_ == text_.size()) return TokenRead::Malformed;  // never closed
            const char c = text_[position_++];
            if (c == '\'') {
                if (position_ == text_.size() || text_[position_] != '\'') return TokenRead::Token;
                ++position_;  // a doubled quote stands for one
            }
            if (token.text.size() == kMaxTokenBytes) return TokenRead::Malformed;
            token.text += c;
        }
    }

    std::string_view text_;
    size_t position_ = 0;
};

// ---- Values.

std::optional<RootKey> RootNamed(std::string_view name) {
    static const struct {
        const char* shortName;
        const char* longName;
        RootKey root;
    } kRoots[] = {
        {"HKCR", "HKEY_CLASSES_ROOT", RootKey::ClassesRoot},
        {"HKCU", "HKEY_CURRENT_USER", RootKey::CurrentUser},
        {"HKLM", "HKEY_LOCAL_MACHINE", RootKey::LocalMachine},
        {"HKU", "HKEY_USERS", RootKey::Users},
        {"HKPD", "HKEY_PERFORMANCE_DATA", RootKey::PerformanceData},
        {"HKDD", "HKEY_DYN_DATA", RootKey::DynData},
        {"HKCC", "HKEY_CURRENT_CONFIG", RootKey::CurrentConfig},
    };
    for (const auto& entry : kRoots)
        if (EqualsIgnoringCase(name, entry.shortName) || EqualsIgnoringCase(name, entry.longName))
            return entry.root;
    return std::nullopt;
}

// Keys that "ForceRemove" and "Delete" never take away with all they hold.
bool IsProtectedFromRemoval(std::string_view name) {
    return EqualsIgnoringCase(name, "CLSID") || EqualsIgnoringCase(name, "TYPELIB");
}

// A decimal number, spaces around it allowed.
int32_t ParseNumber(std::string_view text, uint32_t& number) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (text.empty()) return kNotANumber;
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return kNotANumber;
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > UINT32_MAX) return kNumberTooLarge;
    }
    number = static_cast<uint32_t>(value);
    return kOk;
}

uint8_t HexDigit(char c) {
    if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
    return 0;  // anything else counts as 0
}

// Hex digit pairs, high digit first.
int32_t ParseBytes(std::string_view text, std::vector<uint8_t>& bytes) {
    if (text.size() % 2 != 0) return kFailed;
    bytes.clear();
    for (size_t i = 0; i < text.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(HexDigit(text[i]) << 4 | HexDigit(text[i + 1])));
    return kOk;
}

int32_t ParseValue(const Token& type, const Token& text, RegistryValue& value) {
    if (EqualsIgnoringCase(type.text, "S")) {
        value = RegistryValue::String(text.text);
        return kOk;
    }
    if (EqualsIgnoringCase(type.text, "D")) {
        value = RegistryValue::Number(0);
        return ParseNumber(text.text, value.number);
    }
    if (EqualsIgnoringCase(type.text, "B")) {
        value = RegistryValue::Bytes({});
        return ParseBytes(text.text, value.bytes);
    }
    return kBadScript;
}

// Removes the key `name` under `parent` with all its subkeys, deepest
// first; stops at the first failure, which the caller ignores.
bool RemoveTree(RegistryKey& parent, std::string_view name, int depth = 0) {
    if (depth > kMaxNesting) return false;
    {
        std::unique_ptr<RegistryKey> key = parent.Open(name, KeyAccess::Full);
        if (!key) return false;
        while (const std::optional<std::string> subkey = key->FirstSubkey())
            if (!RemoveTree(*key, *subkey, depth + 1)) return false;
        if (!key->Close()) return false;
    }
    return parent.DeleteSubkey(name);
}

// ---- The walk.

// What a block is walked for: forwards to write, backwards to remove, or
// read through without touching anything (the recovery of a key that is
// not there, or a block behind "Delete").
enum class Walk { Write, Remove, ReadThrough };

// An entry up to its name: flags, and whether it names a value.
struct EntryHead {
    bool forceRemove = false;
    bool deleteOnly = false;
    bool noRemove = false;
    bool isValue = false;
    std::string name;
};

class ScriptWalker {
public:
    ScriptWalker(std::string_view text, Registry& registry) : tokens_(text), registry_(registry) {}

    int32_t Run(ScriptDirection direction) {
        for (;;) {
            const size_t start = tokens_.position();
            Token root;
            const TokenRead read = tokens_.Take(root);
            if (read == TokenRead::End) return kOk;
            if (read == TokenRead::Malformed) return kBadScript;
            const Walk walk = direction == ScriptDirection::Register ? Walk::Write : Walk::Remove;
            failedEntry_.reset();
            const int32_t result = RootBlock(root, walk);
            if (result == kOk) continue;
            if (walk == Walk::Write) Undo(start);
            return result;
        }
    }

private:
    // Runs the failed root block that starts at `start` backwards, up to
    // the entry that failed: there every open block counts as closed, so
    // the keys around that entry go too. Nothing was written when no entry
    // failed.
    void Undo(size_t start) {
        if (!failedEntry_) return;
        tokens_.Rewind(start);
        tokens_.EndAt(*failedEntry_);
        undoing_ = true;
        Token root;
        if (tokens_.Take(root) == TokenRead::Token) RootBlock(root, Walk::Remove);
    }

    int32_t RootBlock(const Token& name, Walk walk) {
        const std::optional<RootKey> root = RootNamed(name.text);
        if (!root) return kBadScript;
        QUILL_RETURN_IF_SCRIPT_FAILED(ExpectWord("{"));
        std::unique_ptr<RegistryKey> key = registry_.Root(*root);
        if (!key) return kBadScript;
        return Block(key.get(), walk, 0);
    }

    // Entries up to the closing brace, under `parent` (null while reading
    // through).
    int32_t Block(RegistryKey* parent, Walk walk, int depth) {
        for (;;) {
            const size_t start = tokens_.position();
            bool closed = false;
            const int32_t result = Entry(parent, walk, depth, closed);
            if (result != kOk) return NoteFailure(start, result);
            if (closed) return kOk;
        }
    }

    // Remembers where the innermost failing entry starts.
    int32_t NoteFailure(size_t entryStart, int32_t result) {
        if (!failedEntry_) failedEntry_ = entryStart;
        return result;
    }

    // One entry, or the closing brace of the block.
    int32_t Entry(RegistryKey* parent, Walk walk, int depth, bool& closed) {
        Token token;
        const TokenRead read = tokens_.Take(token);
        if (read == TokenRead::End && undoing_) closed = true;  // where the failed run stopped
        if (read != TokenRead::Token) return closed ? kOk : kBadScript;
        closed = IsWord(token, "}");
        if (closed) return kOk;
        EntryHead head;
        QUILL_RETURN_IF_SCRIPT_FAILED(ReadHead(token, head));
        if (head.isValue) return ValueEntry(parent, walk, head.name);
        std::optional<RegistryValue> defaultValue;
        QUILL_RETURN_IF_SCRIPT_FAILED(ReadOptionalAssignment(defaultValue));
        bool hasBlock = false;
        QUILL_RETURN_IF_SCRIPT_FAILED(TakeIfWord("{", hasBlock));
        if (hasBlock && depth + 1 > kMaxNesting) return kBadScript;
        const KeyEntry entry{head, defaultValue, hasBlock, depth + 1};
        switch (walk) {
            case Walk::Write: return WriteKey(*parent, entry);
            case Walk::Remove: return RemoveKey(*parent, entry);
            case Walk::ReadThrough: return ReadThroughBlock(entry);
        }
        return kBadScript;
    }

    struct KeyEntry {
        const EntryHead& head;
        const std::optional<RegistryValue>& defaultValue;
        bool hasBlock;
        int depth;  // of its nested block
    };

    int32_t ReadThroughBlock(const KeyEntry& entry) {
        return entry.hasBlock ? Block(nullptr, Walk::ReadThrough, entry.depth) : kOk;
    }

    // Forwards: removal first where asked, then the key opened (or
    // created), its default value written and its block entered.
    int32_t WriteKey(RegistryKey& parent, const KeyEntry& entry) {
        const EntryHead& head = entry.head;
        if ((head.forceRemove || head.deleteOnly) && !IsProtectedFromRemoval(head.name))
            RemoveTree(parent, head.name);
        if (head.deleteOnly) return ReadThroughBlock(entry);
        std::unique_ptr<RegistryKey> key = parent.Open(head.name, KeyAccess::Full);
        if (!key) key = parent.Open(head.name, KeyAccess::Read);
        if (!key) key = parent.Create(head.name);
        if (!key) return kBadScript;
        if (entry.defaultValue) key->SetValue("", *entry.defaultValue);  // a refusal is not reported
        if (entry.hasBlock) QUILL_RETURN_IF_SCRIPT_FAILED(Block(key.get(), Walk::Write, entry.depth));
        return key->Close() ? kOk : kBadScript;
    }

    // Backwards: a key that is not there is passed over with its block; a
    // key that holds more than a default value has its block removed
    // first; then the key goes, unless it still has subkeys or "NoRemove"
    // marks it.
    int32_t RemoveKey(RegistryKey& parent, const KeyEntry& entry) {
        std::unique_ptr<RegistryKey> key = parent.Open(entry.head.name, KeyAccess::Full);
        if (!key) key = parent.Open(entry.head.name, KeyAccess::Read);
        if (!key) return ReadThroughBlock(entry);
        if (entry.hasBlock) {
            const bool holdsMore = HoldsMoreThanDefaultValue(*key);
            QUILL_RETURN_IF_SCRIPT_FAILED(
                Block(holdsMore ? key.get() : nullptr, holdsMore ? Walk::Remove : Walk::ReadThrough, entry.depth));
        }
        const std::optional<KeyContents> left = key->Contents();
        const bool removable = left && left->subkeys == 0 && !entry.head.noRemove;
        if (!key->Close()) return kBadScript;
        if (removable) parent.DeleteSubkey(entry.head.name);  // a refusal leaves the key: no error
        return kOk;
    }

    static bool HoldsMoreThanDefaultValue(RegistryKey& key) {
        const std::optional<KeyContents> contents = key.Contents();
        if (!contents) return false;
        return contents->subkeys > 0 || contents->values > (contents->hasDefaultValue ? 1u : 0u);
    }

    // "Val" NAME = TYPE VALUE: written forwards, deleted backwards.
    int32_t ValueEntry(RegistryKey* parent, Walk walk, const std::string& name) {
        std::optional<RegistryValue> value;
        QUILL_RETURN_IF_SCRIPT_FAILED(ReadOptionalAssignment(value));
        if (!value) return kBadScript;  // "Val" without "="
        if (walk == Walk::Write) parent->SetValue(name, *value);  // a refusal is not reported
        if (walk == Walk::Remove) parent->DeleteValue(name);
        return kOk;
    }

    // Flags and the name of an entry that starts with `token`.
    int32_t ReadHead(Token token, EntryHead& head) {
        if (IsWord(token, "ForceRemove") || IsWord(token, "Delete")) {
            (IsWord(token, "Delete") ? head.deleteOnly : head.forceRemove) = true;
            QUILL_RETURN_IF_SCRIPT_FAILED(Expect(token));
        }
        if (IsWord(token, "NoRemove")) {
            head.noRemove = true;
            QUILL_RETURN_IF_SCRIPT_FAILED(Expect(token));
        }
        if (IsWord(token, "Val")) {
            head.isValue = true;
            QUILL_RETURN_IF_SCRIPT_FAILED(Expect(token));
        }
        if (IsPunctuation(token)) return kBadScript;
        // A key is named one level at a time; the empty name would be the
        // parent itself.
        if (!head.isValue && (token.text.empty() || token.text.find('\\') != std::string::npos))
            return kBadScript;
        head.name = std::move(token.text);
        return kOk;
    }

    // An optional "=" TYPE VALUE.
    int32_t ReadOptionalAssignment(std::optional<RegistryValue>& value) {
        bool assigned = false;
        QUILL_RETURN_IF_SCRIPT_FAILED(TakeIfWord("=", assigned));
        if (!assigned) return kOk;
        Token type, text;
        QUILL_RETURN_IF_SCRIPT_FAILED(Expect(type));
        QUILL_RETURN_IF_SCRIPT_FAILED(Expect(text));
        value.emplace();
        return ParseValue(type, text, *value);
    }

    // The next token, which must be there.
    int32_t Expect(Token& token) { return tokens_.Take(token) == TokenRead::Token ? kOk : kBadScript; }

    int32_t ExpectWord(std::string_view word) {
        Token token;
        QUILL_RETURN_IF_SCRIPT_FAILED(Expect(token));
        return IsWord(token, word) ? kOk : kBadScript;
    }

    // Takes the next token when it is `word`; the end of the text or
    // anything else is left for the caller.
    int32_t TakeIfWord(std::string_view word, bool& taken) {
        const size_t start = tokens_.position();
        Token token;
        const TokenRead read = tokens_.Take(token);
        if (read == TokenRead::Malformed) return kBadScript;
        taken = read == TokenRead::Token && IsWord(token, word);
        if (!taken) tokens_.Rewind(start);
        return kOk;
    }

    Tokenizer tokens_;
    Registry& registry_;
    std::optional<size_t> failedEntry_;  // where the innermost failing entry starts
    bool undoing_ = false;
};

// Replaces the percent names of `script` into `expanded`.
int32_t ExpandPercentNames(std::string_view script, const std::vector<ScriptReplacement>& replacements,
                           std::string& expanded) {
    expanded.clear();
    size_t i = 0;
    while (i < script.size()) {
        if (script[i] != '%') {
            expanded += script[i++];
            continue;
        }
        const size_t close = script.find('%', i + 1);
        if (close == std::string_view::npos) return kBadScript;
        const std::string_view name = script.substr(i + 1, close - i - 1);
        i = close + 1;
        if (name.empty()) {
            expanded += '%';
            continue;
        }
        if (name.size() > kMaxPercentNameLength) return kFailed;
        const ScriptReplacement* found = nullptr;
        for (const auto& replacement : replacements)
            if (EqualsIgnoringCase(replacement.name, name)) found = &replacement;
        if (found == nullptr) return kBadScript;
        expanded += found->value;
    }
    return kOk;
}

}  // namespace

std::vector<ScriptReplacement> ModuleReplacements(std::string_view modulePath) {
    std::string doubled;
    for (const char c : modulePath) {
        doubled += c;
        if (c == '\'') doubled += c;
    }
    return {{"Module", std::move(doubled)}};
}

int32_t RunRegistrationScript(std::string_view script, const std::vector<ScriptReplacement>& replacements,
                              ScriptDirection direction, Registry& registry) {
    std::string expanded;
    QUILL_RETURN_IF_SCRIPT_FAILED(ExpandPercentNames(script, replacements, expanded));
    return ScriptWalker(expanded, registry).Run(direction);
}

}  // namespace quill
