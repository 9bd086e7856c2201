// The script object model as the host learns it: counts, names by alias,
// exact lookups, parameter counts and return kinds.
#include <gtest/gtest.h>

#include "component/extension_tables.h"
#include "core/cp1251.h"

namespace quill {
namespace {

std::string W(const char* utf8) { return Cp1251FromUtf8(utf8); }

struct LookupCase {
    const char* sentence;
    const char* name;  // UTF-8
    int32_t property;
    int32_t method;
};

const LookupCase kLookups[] = {
    {"the English name of a property finds it", "Result", 0, -1},
    {"the Russian name of a property finds it", "Результат", 0, -1},
    {"a name in small letters is not found", "result", -1, -1},
    {"a name in capital letters is not found", "RESULT", -1, -1},
    {"a name with a trailing blank is not found", "Result ", -1, -1},
    {"a name with a leading blank is not found", " Result", -1, -1},
    {"an empty name is not found", "", -1, -1},
    {"the English name of the progress method finds method 16 only", "ShowProgress", -1, 16},
    {"the Russian name of the progress method finds method 16 only", "ПоказатьПрогресс", -1, 16},
    {"Deattach is spelled so", "Deattach", -1, 1},
    {"the usual spelling Detach is not a method", "Detach", -1, -1},
    {"the Russian name of Enabled finds property 3", "УстройствоВключено", 3, -1},
    {"Field6 is the last property", "Field6", 9, -1},
    {"Finish is method 15", "ЗавершитьЗагрузку", -1, 15},
    {"a name pair as a whole is no name", "Result,Результат", -1, -1},
};

TEST(ExtensionTables, LookupsAreExactAndCaseSensitive) {
    for (const auto& c : kLookups) {
        EXPECT_EQ(FindProperty(W(c.name)), c.property) << c.sentence;
        EXPECT_EQ(FindMethod(W(c.name)), c.method) << c.sentence;
    }
}

TEST(ExtensionTables, EveryEntryIsFoundByBothOfItsNames) {
    for (int32_t n = 0; n < kPropertyCount; ++n) {
        EXPECT_EQ(FindProperty(*PropertyName(n, 0)), n);
        EXPECT_EQ(FindProperty(*PropertyName(n, 1)), n);
    }
    for (int32_t n = 0; n < kMethodCount; ++n) {
        EXPECT_EQ(FindMethod(*MethodName(n, 0)), n);
        EXPECT_EQ(FindMethod(*MethodName(n, 1)), n);
    }
}

TEST(ExtensionTables, NamesByAlias) {
    EXPECT_EQ(PropertyName(3, 0), "Enabled");
    EXPECT_EQ(PropertyName(3, 1), W("УстройствоВключено"));
    EXPECT_EQ(PropertyName(3, 2), "") << "an unknown alias gives the empty name";
    EXPECT_EQ(PropertyName(3, -1), "");
    EXPECT_EQ(PropertyName(10, 0), std::nullopt);
    EXPECT_EQ(PropertyName(-1, 0), std::nullopt);
    EXPECT_EQ(MethodName(16, 1), W("ПоказатьПрогресс"));
    EXPECT_EQ(MethodName(1, 0), "Deattach");
    EXPECT_EQ(MethodName(17, 0), std::nullopt);
}

TEST(ExtensionTables, AliasSplitAtTheFirstComma) {
    EXPECT_EQ(AliasName("A,B,C", 0), "A");
    EXPECT_EQ(AliasName("A,B,C", 1), "B,C");
    EXPECT_EQ(AliasName("Single", 0), "Single") << "without a comma the text names every alias";
    EXPECT_EQ(AliasName("Single", 1), "Single");
    EXPECT_EQ(AliasName("Single", 5), "Single");
    EXPECT_EQ(AliasName("A,B", 2), "");
}

TEST(ExtensionTables, CountsParametersAndReturnKinds) {
    struct Row {
        int32_t method, params;
        bool returns;
    };
    const Row rows[] = {{0, 0, true},  {1, 0, false}, {2, 0, true},  {7, 0, true},
                        {8, 1, true},  {11, 1, true}, {12, 1, true}, {14, 1, true},
                        {15, 0, true}, {16, 2, false}};
    for (const auto& r : rows) {
        const MethodEntry* entry = FindMethodEntry(r.method);
        ASSERT_NE(entry, nullptr) << r.method;
        EXPECT_EQ(entry->paramCount, r.params) << "method " << r.method;
        EXPECT_EQ(entry->returnsValue, r.returns) << "method " << r.method;
    }
    EXPECT_EQ(FindMethodEntry(17), nullptr);
    EXPECT_EQ(FindMethodEntry(-1), nullptr);
    EXPECT_EQ(FindPropertyEntry(10), nullptr);
}

TEST(ExtensionTables, OnlyResultAndItsDescriptionAreReadOnly) {
    for (int32_t n = 0; n < kPropertyCount; ++n)
        EXPECT_EQ(FindPropertyEntry(n)->writable, n >= 2) << "property " << n;
}

TEST(ExtensionTables, ShowProgressKeepsItsStringIdAmongTheProperties) {
    EXPECT_EQ(FindMethodEntry(16)->stringId, 114);
    EXPECT_EQ(FindPropertyEntry(4)->stringId, 115);
    EXPECT_EQ(FindMethodEntry(0)->stringId, 140);
    EXPECT_EQ(FindMethodEntry(15)->stringId, 155);
}

}  // namespace
}  // namespace quill
