#include "component/extension_tables.h"

#include <array>

#include "core/cp1251.h"

namespace quill {
namespace {

constexpr std::array<PropertyEntry, kPropertyCount> kProperties = {{
#define QUILL_PROPERTY(number, stringId, names, writable) {stringId, names, writable != 0},
#define QUILL_METHOD(number, stringId, names, params, returnsValue)
#include "component/extension_names.inc"
#undef QUILL_PROPERTY
#undef QUILL_METHOD
}};

constexpr std::array<MethodEntry, kMethodCount> kMethods = {{
#define QUILL_PROPERTY(number, stringId, names, writable)
#define QUILL_METHOD(number, stringId, names, params, returnsValue) \
    {stringId, names, params, returnsValue != 0},
#include "component/extension_names.inc"
#undef QUILL_PROPERTY
#undef QUILL_METHOD
}};

// The name pairs in Windows-1251, converted once.
template <typename Table>
std::array<std::string, std::tuple_size<Table>::value> NamePairs(const Table& table) {
    std::array<std::string, std::tuple_size<Table>::value> pairs;
    for (size_t i = 0; i < table.size(); ++i) pairs[i] = Cp1251FromUtf8(table[i].names);
    return pairs;
}

const auto& PropertyNamePairs() {
    static const auto pairs = NamePairs(kProperties);
    return pairs;
}

const auto& MethodNamePairs() {
    static const auto pairs = NamePairs(kMethods);
    return pairs;
}

// Every entry's two names are compared; the last match would win, and as the
// names within a table are distinct at most one matches.
template <typename Pairs>
int32_t FindByName(const Pairs& pairs, std::string_view name) {
    int32_t found = -1;
    for (size_t number = 0; number < pairs.size(); ++number)
        for (int32_t alias = 0; alias < 2; ++alias)
            if (AliasName(pairs[number], alias) == name) found = static_cast<int32_t>(number);
    return found;
}

template <typename Pairs>
std::optional<std::string> NameOf(const Pairs& pairs, int32_t number, int32_t alias) {
    if (number < 0 || static_cast<size_t>(number) >= pairs.size()) return std::nullopt;
    return AliasName(pairs[number], alias);
}

}  // namespace

const PropertyEntry* FindPropertyEntry(int32_t number) {
    return number >= 0 && number < kPropertyCount ? &kProperties[number] : nullptr;
}

const MethodEntry* FindMethodEntry(int32_t number) {
    return number >= 0 && number < kMethodCount ? &kMethods[number] : nullptr;
}

std::string AliasName(std::string_view namePair, int32_t alias) {
    const size_t comma = namePair.find(',');
    if (comma == std::string_view::npos) return std::string(namePair);
    if (alias == 0) return std::string(namePair.substr(0, comma));
    if (alias == 1) return std::string(namePair.substr(comma + 1));
    return {};
}

std::optional<std::string> PropertyName(int32_t number, int32_t alias) {
    return NameOf(PropertyNamePairs(), number, alias);
}

std::optional<std::string> MethodName(int32_t number, int32_t alias) {
    return NameOf(MethodNamePairs(), number, alias);
}

int32_t FindProperty(std::string_view name1251) { return FindByName(PropertyNamePairs(), name1251); }

int32_t FindMethod(std::string_view name1251) { return FindByName(MethodNamePairs(), name1251); }

}  // namespace quill
