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

// Every exchange may leave 0, 1 (port closed), 2 (port gone: a cable
// pulled out), 5 (port failed), 8 (no answer) and 9 (an answer too long, or
// garbled); the rest comes from how each operation judges its reply, and 28
// from a parameter refused.
const std::vector<int32_t>& MethodResultCodes(int32_t number) {
    static const std::array<std::vector<int32_t>, kMethodCount> kCodes = {{
        {0, 2, 3, 4},                                   // Attach
        {0},                                            // Deattach
        {0, 1, 2, 5, 8, 9, 16},                         // Ping
        {0, 1, 2, 5, 8, 9, 11, 12, 13, 14, 15},         // GetFreeMem
        {0, 1, 2, 5, 8, 9, 11, 12, 13, 14, 15},         // GetSN
        {0, 1, 2, 5, 8, 9, 11, 12, 13, 14, 15, 16},     // GetTime
        {0, 1, 2, 5, 8, 9, 11, 12, 13, 15, 16},         // UpdateTime
        {0, 1, 2, 5, 8, 9, 11, 12, 13, 14, 15},         // CurrentState
        {0, 1, 2, 5, 8, 9, 10, 11, 12, 13, 14, 15, 28}, // GetDataCount
        {0, 1, 2, 5, 8, 9, 10, 11, 12, 13, 14, 15, 28}, // GetRecordsCount
        {0, 1, 2, 5, 8, 9, 11, 12, 13, 15, 16, 28},     // ClearDoc
        {0, 1, 2, 5, 8, 9, 11, 12, 13, 16, 28, 29},     // ClearDatabase
        {0, 1, 2, 5, 8, 9, 28},                         // GetData
        {0, 1, 2, 5, 8, 9, 28},                         // GetRecord
        {0, 1, 2, 5, 7, 8, 9, 19, 26, 27, 28},          // PutRecord
        {0, 1, 2, 5, 8, 9, 12, 13, 14, 15, 16},         // Finish
        {0, 28},                                        // ShowProgress
    }};
    static const std::vector<int32_t> kNone;
    return number >= 0 && number < kMethodCount ? kCodes[number] : kNone;
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
