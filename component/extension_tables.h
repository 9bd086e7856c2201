// The script object model: ten properties and seventeen methods, each with an
// English name (alias 0) and a Russian name (alias 1) kept as one text
// "English,Russian" under a string-resource id.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

constexpr int32_t kPropertyCount = 10;
constexpr int32_t kMethodCount = 17;

namespace prop {
constexpr int32_t kResult = 0, kResultDescription = 1, kData = 2, kEnabled = 3, kField1 = 4,
                  kField6 = 9;
}
namespace method {
constexpr int32_t kAttach = 0, kDeattach = 1, kPing = 2, kGetFreeMem = 3, kGetSN = 4,
                  kGetTime = 5, kUpdateTime = 6, kCurrentState = 7, kGetDataCount = 8,
                  kGetRecordsCount = 9, kClearDoc = 10, kClearDatabase = 11, kGetData = 12,
                  kGetRecord = 13, kPutRecord = 14, kFinish = 15, kShowProgress = 16;
}

struct PropertyEntry {
    int32_t stringId;
    const char* names;  // UTF-8 "English,Russian"
    bool writable;
};

struct MethodEntry {
    int32_t stringId;
    const char* names;  // UTF-8 "English,Russian"
    int32_t paramCount;
    bool returnsValue;
};

// nullptr when the number is out of range.
const PropertyEntry* FindPropertyEntry(int32_t number);
const MethodEntry* FindMethodEntry(int32_t number);

// The result codes a call of the method may leave in Result, in rising
// order; empty for a number out of range. The link fuzzer holds every
// operation to its method's codes, and the script writers' guide lists them.
const std::vector<int32_t>& MethodResultCodes(int32_t number);

// Alias name of a name-pair text (8-bit): alias 0 before the first comma,
// alias 1 after it, the whole text for every alias when there is no comma,
// empty for any other alias.
std::string AliasName(std::string_view namePair, int32_t alias);

// Name of a property or method in Windows-1251; nullopt when the number is out
// of range (the alias is not checked: an unknown alias gives the empty text).
std::optional<std::string> PropertyName(int32_t number, int32_t alias);
std::optional<std::string> MethodName(int32_t number, int32_t alias);

// Exact, case-sensitive lookup of a Windows-1251 name; -1 when not found.
int32_t FindProperty(std::string_view name1251);
int32_t FindMethod(std::string_view name1251);

}  // namespace quill
