// The registration script on an in-memory registry: the module's own script
// forwards and backwards, the grammar, the percent names and the tokens, the
// errors, and scripts cut short anywhere.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "fake_registry.h"
#include "server/registration_script.h"

namespace quill {
namespace {

using namespace script_result;
using fake::MemoryRegistry;
using Lines = std::vector<std::string>;

constexpr ScriptDirection kRegister = ScriptDirection::Register;
constexpr ScriptDirection kUnregister = ScriptDirection::Unregister;

const char kModulePath[] = "C:\\Shop\\AddIns\\Quillomat.dll";

std::string ModuleScript() {
    std::ifstream file(QUILL_SOURCE_DIR "/resources/registration.rgs", std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Runs `script` with the module's replacement table; every key it opened is
// closed again by the time it returns.
int32_t RunScript(MemoryRegistry& registry, std::string_view script, ScriptDirection direction,
            const std::string& modulePath = kModulePath) {
    const int32_t result = RunRegistrationScript(script, ModuleReplacements(modulePath), direction, registry);
    EXPECT_EQ(registry.OpenKeys(), Lines{}) << "keys left open";
    return result;
}

// A registry as a Windows machine has it before the module comes: CLSID
// holds other classes.
MemoryRegistry MachineRegistry() {
    MemoryRegistry registry;
    registry.SetValue("HKCR\\CLSID\\{00000000-1111-2222-3333-444444444444}", "", RegistryValue::String("Other"));
    return registry;
}

const Lines kMachineBefore = {
    "HKCR\\CLSID",
    "HKCR\\CLSID\\{00000000-1111-2222-3333-444444444444} = 'Other'",
};

Lines RegisteredFor(const std::string& path) {
    return {
        "HKCR\\AddIn.AddInObject = 'AddInObject Class'",
        "HKCR\\AddIn.AddInObject\\CLSID = '{FD9A10C9-8828-4e0c-9B64-38F0900916FF}'",
        "HKCR\\AddIn.AddInObject.1 = 'AddInObject Class'",
        "HKCR\\AddIn.AddInObject.1\\CLSID = '{FD9A10C9-8828-4e0c-9B64-38F0900916FF}'",
        "HKCR\\CLSID",
        "HKCR\\CLSID\\{00000000-1111-2222-3333-444444444444} = 'Other'",
        "HKCR\\CLSID\\{FD9A10C9-8828-4e0c-9B64-38F0900916FF} = 'AddInObject Class'",
        "HKCR\\CLSID\\{FD9A10C9-8828-4e0c-9B64-38F0900916FF}\\InprocServer32 = '" + path + "'",
        "HKCR\\CLSID\\{FD9A10C9-8828-4e0c-9B64-38F0900916FF}\\InprocServer32 : ThreadingModel = 'both'",
        "HKCR\\CLSID\\{FD9A10C9-8828-4e0c-9B64-38F0900916FF}\\ProgID = 'AddIn.AddInObject.1'",
        "HKCR\\CLSID\\{FD9A10C9-8828-4e0c-9B64-38F0900916FF}\\VersionIndependentProgID = 'AddIn.AddInObject'",
    };
}

const char kClassKey[] = "HKCR\\CLSID\\{FD9A10C9-8828-4e0c-9B64-38F0900916FF}";

// ---- The module's own script.

TEST(ModuleScript, IsTabIndentedCrLfTextWithoutNul) {
    const std::string expected =
        "HKCR\r\n"
        "{\r\n"
        "\tAddIn.AddInObject.1 = s 'AddInObject Class'\r\n"
        "\t{\r\n"
        "\t\tCLSID = s '{FD9A10C9-8828-4e0c-9B64-38F0900916FF}'\r\n"
        "\t}\r\n"
        "\tAddIn.AddInObject = s 'AddInObject Class'\r\n"
        "\t{\r\n"
        "\t\tCLSID = s '{FD9A10C9-8828-4e0c-9B64-38F0900916FF}'\r\n"
        "\t}\r\n"
        "\tNoRemove CLSID\r\n"
        "\t{\r\n"
        "\t\tForceRemove {FD9A10C9-8828-4e0c-9B64-38F0900916FF} = s 'AddInObject Class'\r\n"
        "\t\t{\r\n"
        "\t\t\tProgID = s 'AddIn.AddInObject.1'\r\n"
        "\t\t\tVersionIndependentProgID = s 'AddIn.AddInObject'\r\n"
        "\t\t\tInprocServer32 = s '%MODULE%'\r\n"
        "\t\t\t{\r\n"
        "\t\t\t\tval ThreadingModel = s 'both'\r\n"
        "\t\t\t}\r\n"
        "\t\t}\r\n"
        "\t}\r\n"
        "}\r\n";
    EXPECT_EQ(ModuleScript(), expected);
}

TEST(ModuleScript, RegisteringWritesTheProgIdsAndTheClassKey) {
    MemoryRegistry registry = MachineRegistry();
    EXPECT_EQ(kOk, RunScript(registry, ModuleScript(), kRegister));
    EXPECT_EQ(registry.Dump(), RegisteredFor(kModulePath));
}

TEST(ModuleScript, RegisteringTwiceLeavesOneSetAndReplacesTheClassKey) {
    MemoryRegistry registry = MachineRegistry();
    ASSERT_EQ(kOk, RunScript(registry, ModuleScript(), kRegister, "C:\\Old\\Quillomat.dll"));
    registry.AddKey(std::string(kClassKey) + "\\Stray\\Deeper");
    registry.SetValue(kClassKey, "Stray", RegistryValue::Number(1));

    EXPECT_EQ(kOk, RunScript(registry, ModuleScript(), kRegister));
    EXPECT_EQ(registry.Dump(), RegisteredFor(kModulePath));
}

TEST(ModuleScript, UnregisteringRemovesTheProgIdsAndTheClassKeyButKeepsClsid) {
    MemoryRegistry registry = MachineRegistry();
    ASSERT_EQ(kOk, RunScript(registry, ModuleScript(), kRegister));
    EXPECT_EQ(kOk, RunScript(registry, ModuleScript(), kUnregister));
    EXPECT_EQ(registry.Dump(), kMachineBefore);
}

TEST(ModuleScript, UnregisteringKeepsClsidEvenWhenItIsLeftEmpty) {
    MemoryRegistry registry;
    ASSERT_EQ(kOk, RunScript(registry, ModuleScript(), kRegister));
    EXPECT_EQ(kOk, RunScript(registry, ModuleScript(), kUnregister));
    EXPECT_EQ(registry.Dump(), Lines{"HKCR\\CLSID"});
}

TEST(ModuleScript, UnregisteringWhenNothingIsRegisteredSucceedsAndRemovesNothing) {
    MemoryRegistry registry = MachineRegistry();
    EXPECT_EQ(kOk, RunScript(registry, ModuleScript(), kUnregister));
    EXPECT_EQ(registry.Dump(), kMachineBefore);
}

TEST(ModuleScript, UnregisteringEntriesChangedByHandStillLeavesNothingOfOurs) {
    // Registered, then ThreadingModel, ProgID and the default values of
    // some keys removed by hand.
    MemoryRegistry edited = MachineRegistry();
    for (const char* key : {"HKCR\\AddIn.AddInObject.1\\CLSID", "HKCR\\AddIn.AddInObject\\CLSID"})
        edited.AddKey(key);
    edited.SetValue(std::string(kClassKey) + "\\InprocServer32", "", RegistryValue::String(kModulePath));
    edited.AddKey(std::string(kClassKey) + "\\VersionIndependentProgID");

    EXPECT_EQ(kOk, RunScript(edited, ModuleScript(), kUnregister));
    EXPECT_EQ(edited.Dump(), kMachineBefore);
}

// Another component registered after this one under the same ProgIDs (they
// now lead to its class): unregistering this module removes both ProgIDs
// all the same, whatever class they name, and this module's class key; the
// other component's class key stays, without a ProgID that leads to it.
TEST(ModuleScript, UnregisteringRemovesTheProgIdsEvenWhenAnotherComponentTookThem) {
    const std::string otherClass = "HKCR\\CLSID\\{0F0F0F0F-1111-2222-3333-444444444444}";
    MemoryRegistry registry = MachineRegistry();
    ASSERT_EQ(kOk, RunScript(registry, ModuleScript(), kRegister));
    for (const char* progId : {"HKCR\\AddIn.AddInObject", "HKCR\\AddIn.AddInObject.1"}) {
        registry.SetValue(progId, "", RegistryValue::String("Other AddIn"));
        registry.SetValue(std::string(progId) + "\\CLSID", "",
                          RegistryValue::String("{0F0F0F0F-1111-2222-3333-444444444444}"));
    }
    registry.SetValue(otherClass + "\\InprocServer32", "", RegistryValue::String("C:\\Other\\OtherAddIn.dll"));

    EXPECT_EQ(kOk, RunScript(registry, ModuleScript(), kUnregister));
    EXPECT_EQ(registry.Dump(), (Lines{
                                   "HKCR\\CLSID",
                                   "HKCR\\CLSID\\{00000000-1111-2222-3333-444444444444} = 'Other'",
                                   "HKCR\\CLSID\\{0F0F0F0F-1111-2222-3333-444444444444}",
                                   "HKCR\\CLSID\\{0F0F0F0F-1111-2222-3333-444444444444}\\InprocServer32 = "
                                   "'C:\\Other\\OtherAddIn.dll'",
                               }));
}

struct PathCase {
    const char* sentence;
    const char* path;
};

TEST(ModuleScript, TheModulePathIsWrittenExactlyAsTheLoaderReportsIt) {
    const PathCase cases[] = {
        {"a quote in the path is written once", "C:\\Shop's AddIns\\Quill o'mat.dll"},
        {"two quotes in a row stay two", "C:\\a''b\\Quillomat.dll"},
        {"a percent sign in the path is not taken for a name", "C:\\100%\\%MODULE%\\Quillomat.dll"},
        {"Cyrillic letters pass through as UTF-8", "C:\\Магазин\\Quillomat.dll"},
        {"a long path is not shortened", "C:\\Program Files (x86)\\A Very Long Folder Name\\"
                                         "Another Very Long Folder Name\\Quillomat.dll"},
    };
    for (const auto& c : cases) {
        MemoryRegistry registry;
        EXPECT_EQ(kOk, RunScript(registry, ModuleScript(), kRegister, c.path)) << c.sentence;
        EXPECT_EQ(registry.Value(std::string(kClassKey) + "\\InprocServer32", ""), RegistryValue::String(c.path))
            << c.sentence;
    }
}

// Every cut of the module's script short of its last brace is refused, and
// whatever a cut-short registration wrote is taken away again, except a key
// that "NoRemove" marks (a cut of the word CLSID). The text is copied into
// a buffer of exactly its length, so a read beyond it would show under a
// memory checker.
TEST(ModuleScript, EveryTruncationIsRefusedAndLeavesTheRegistryAsItWas) {
    const std::string script = ModuleScript();
    const size_t complete = script.rfind('}') + 1;
    const size_t kept = script.find("NoRemove CLSID") + std::string("NoRemove ").size();
    for (size_t length = 0; length < complete; ++length) {
        const std::vector<char> cut(script.begin(), script.begin() + static_cast<long>(length));
        const std::string_view text(cut.data(), cut.size());
        const int32_t expected = text.find_first_not_of(" \t\r\n") == std::string_view::npos ? kOk : kBadScript;
        Lines after = kMachineBefore;
        if (length > kept && length < kept + 5) after.insert(after.begin(), "HKCR\\" + script.substr(kept, length - kept));

        MemoryRegistry fresh = MachineRegistry();
        EXPECT_EQ(expected, RunScript(fresh, text, kRegister)) << "registering the first " << length << " bytes";
        EXPECT_EQ(fresh.Dump(), after) << "registering the first " << length << " bytes";

        MemoryRegistry registered = MachineRegistry();
        ASSERT_EQ(kOk, RunScript(registered, script, kRegister));
        EXPECT_EQ(expected, RunScript(registered, text, kUnregister)) << "unregistering the first " << length << " bytes";
    }
}

// ---- The grammar, forwards.

struct ScriptCase {
    const char* sentence;
    Lines existing;  // keys there before the run
    const char* script;
    int32_t result;
    Lines after;
};

void RunCases(const std::vector<ScriptCase>& cases, ScriptDirection direction) {
    for (const auto& c : cases) {
        MemoryRegistry registry;
        for (const auto& key : c.existing) registry.AddKey(key);
        EXPECT_EQ(c.result, RunScript(registry, c.script, direction)) << c.sentence;
        EXPECT_EQ(registry.Dump(), c.after) << c.sentence;
    }
}

TEST(RegistrationScript, WritesKeysValuesAndNestedBlocks) {
    RunCases(
        {
            {"a key gets its default value and a nested key", {}, "HKCR { A = s 'x' { B } }", kOk,
             {"HKCR\\A = 'x'", "HKCR\\A\\B"}},
            {"root names, keywords and types compare without regard to case", {},
             "hkey_classes_root { noremove A { VAL N = S 'v' } } hkcu { B = D 7 }", kOk,
             {"HKCR\\A", "HKCR\\A : N = 'v'", "HKCU\\B = d 7"}},
            {"a quoted name may hold spaces, braces and doubled quotes", {}, "HKCR { 'My {Key}' = s 'it''s' }",
             kOk, {"HKCR\\My {Key} = 'it's'"}},
            {"a quoted text may run over lines", {}, "HKCR { A = s 'one\r\ntwo' }", kOk,
             {"HKCR\\A = 'one\r\ntwo'"}},
            {"an empty quoted text is an empty value", {}, "HKCR { A = s '' }", kOk, {"HKCR\\A = ''"}},
            {"a brace stuck to a word is part of the word", {}, "HKCR { A{ }", kOk, {"HKCR\\A{"}},
            {"a quoted keyword is a name", {}, "HKCR { 'NoRemove' 'Val' }", kOk,
             {"HKCR\\NoRemove", "HKCR\\Val"}},
            {"a value name may hold a backslash", {}, "HKCR { A { val 'x\\y' = s z } }", kOk,
             {"HKCR\\A", "HKCR\\A : x\\y = 'z'"}},
            {"numbers are decimal, quoted or not, up to 4294967295", {},
             "HKCR { A { val M = d 0 val N = d ' 12 ' val O = d 4294967295 } }", kOk,
             {"HKCR\\A", "HKCR\\A : M = d 0", "HKCR\\A : N = d 12", "HKCR\\A : O = d 4294967295"}},
            {"bytes are hex pairs, high digit first; other characters count as 0", {},
             "HKCR { A { val B = b 0aFF7z val E = b '' } }", kOk, {"HKCR\\A", "HKCR\\A : B = b 0AFF70", "HKCR\\A : E = b "}},
            {"an existing key is opened and keeps what it holds", {"HKCR\\A\\Old"}, "HKCR { A { New } }", kOk,
             {"HKCR\\A", "HKCR\\A\\New", "HKCR\\A\\Old"}},
            {"ForceRemove takes the key with all it holds away first", {"HKCR\\A\\Old\\Older"},
             "HKCR { ForceRemove A { New } }", kOk, {"HKCR\\A", "HKCR\\A\\New"}},
            {"Delete takes the key away and skips its value and block", {"HKCR\\A\\Old", "HKCR\\B"},
             "HKCR { Delete A = s 'x' { New } B }", kOk, {"HKCR\\B"}},
            {"Delete of a key that is not there is no error", {}, "HKCR { Delete A }", kOk, {}},
            {"ForceRemove and Delete never take CLSID or TypeLib away", {"HKCR\\CLSID\\X", "HKCR\\TypeLib\\Y"},
             "HKCR { ForceRemove clsid Delete TYPELIB }", kOk, {"HKCR\\CLSID", "HKCR\\CLSID\\X", "HKCR\\TypeLib",
                                                                 "HKCR\\TypeLib\\Y"}},
            {"root blocks run one after another", {}, "HKCR { A } HKLM { B } HKU { C } HKCC { D }", kOk,
             {"HKCC\\D", "HKCR\\A", "HKLM\\B", "HKU\\C"}},
            {"an empty script does nothing", {}, "", kOk, {}},
            {"white space alone does nothing", {}, " \t\r\n", kOk, {}},
            {"an empty root block does nothing", {}, "HKCR { }", kOk, {}},
        },
        kRegister);
}

TEST(RegistrationScript, PercentNames) {
    RunCases(
        {
            {"two percent signs in a row are one", {}, "HKCR { A = s '100%%' }", kOk, {"HKCR\\A = '100%'"}},
            {"the module's name compares without regard to case", {}, "HKCR { A = s '%module%' B = s '%MoDuLe%' }",
             kOk, {"HKCR\\A = 'C:\\Shop\\AddIns\\Quillomat.dll'", "HKCR\\B = 'C:\\Shop\\AddIns\\Quillomat.dll'"}},
            {"an unknown name stops the run before anything is written", {}, "HKCR { A } HKCR { B = s '%Path%' }",
             kBadScript, {}},
            {"a percent sign without its pair stops the run", {}, "HKCR { A = s '50%' }", kBadScript, {}},
            {"a name of 31 characters is only unknown", {}, "HKCR { A = s '%ABCDEFGHIJKLMNOPQRSTUVWXYZ12345%' }",
             kBadScript, {}},
            {"a name of 32 characters is too long", {}, "HKCR { A = s '%ABCDEFGHIJKLMNOPQRSTUVWXYZ123456%' }",
             kFailed, {}},
        },
        kRegister);
}

TEST(RegistrationScript, RefusesMalformedScriptsAndUndoesTheFailedRootBlock) {
    RunCases(
        {
            {"an unknown root", {}, "HKXX { A }", kBadScript, {}},
            {"a root the platform lacks", {}, "HKDD { A }", kBadScript, {}},
            {"a root without its brace", {}, "HKCR A }", kBadScript, {}},
            {"a root with a quoted brace", {}, "HKCR '{' A }", kBadScript, {}},
            {"a root name and nothing after it", {}, "HKCR", kBadScript, {}},
            {"a block that is never closed", {}, "HKCR { A { B }", kBadScript, {}},
            {"a key name with a backslash", {}, "HKCR { A { B\\C } }", kBadScript, {}},
            {"an empty key name", {}, "HKCR { A { '' } }", kBadScript, {}},
            {"an equals sign for a key name", {}, "HKCR { A { = s x } }", kBadScript, {}},
            {"Val without an equals sign", {}, "HKCR { A { val N s 'x' } }", kBadScript, {}},
            {"Val at the end of the text", {}, "HKCR { A { val", kBadScript, {}},
            {"an equals sign at the end of the text", {}, "HKCR { A =", kBadScript, {}},
            {"a type without a value", {}, "HKCR { A = s", kBadScript, {}},
            {"an unknown type", {}, "HKCR { A { B = x 'y' } }", kBadScript, {}},
            {"a quote that is never closed", {}, "HKCR { A = s 'x }", kBadScript, {}},
            {"ForceRemove and nothing after it", {}, "HKCR { ForceRemove", kBadScript, {}},
            {"an odd count of hex digits", {}, "HKCR { A { val B = b ABC } }", kFailed, {}},
            {"a number with a letter", {}, "HKCR { A { val N = d 12x } }", kNotANumber, {}},
            {"a negative number", {}, "HKCR { A { val N = d -1 } }", kNotANumber, {}},
            {"an empty number", {}, "HKCR { A { val N = d '' } }", kNotANumber, {}},
            {"a number above 32 bits", {}, "HKCR { A { val N = d 4294967296 } }", kNumberTooLarge, {}},
            {"a failed second root block leaves the first", {}, "HKCR { A } HKCR { B { C } D", kBadScript,
             {"HKCR\\A"}},
            {"undoing takes away keys of the block that were there before", {"HKCR\\B"}, "HKCR { B C", kBadScript,
             {}},
        },
        kRegister);
}

TEST(RegistrationScript, QuotedTextsHoldAtMost4094Bytes) {
    const std::string longest(4094, 'x');
    MemoryRegistry registry;
    EXPECT_EQ(kOk, RunScript(registry, "HKCR { A = s '" + longest + "' }", kRegister));
    EXPECT_EQ(registry.Value("HKCR\\A", ""), RegistryValue::String(longest));

    const std::string quotes(2 * 4094, '\'');  // 4094 doubled quotes
    EXPECT_EQ(kOk, RunScript(registry, "HKCR { A = s '" + quotes + "' }", kRegister));
    EXPECT_EQ(registry.Value("HKCR\\A", ""), RegistryValue::String(std::string(4094, '\'')));

    for (const std::string& tooLong : {"'" + longest + "x'", longest + "x"}) {
        MemoryRegistry untouched;
        EXPECT_EQ(kBadScript, RunScript(untouched, "HKCR { A = s " + tooLong + " }", kRegister));
        EXPECT_EQ(untouched.Dump(), Lines{});
    }
}

TEST(RegistrationScript, RefusesBlocksNestedDeeperThanTheRegistryAllows) {
    std::string deep = "HKCR { ";
    for (int i = 0; i < 600; ++i) deep += "K { ";
    for (int i = 0; i < 600; ++i) deep += "} ";
    deep += "}";
    MemoryRegistry registry;
    EXPECT_EQ(kBadScript, RunScript(registry, deep, kRegister));
    EXPECT_EQ(registry.Dump(), Lines{});
}

// ---- What the platform refuses.

struct RefusalCase {
    const char* sentence;
    std::function<void(MemoryRegistry&)> arrange;  // keys there before, and what is refused
    const char* script;
    ScriptDirection direction;
    int32_t result;
    Lines after;
};

TEST(RegistrationScript, WhatThePlatformRefuses) {
    const RefusalCase cases[] = {
        {"a key that cannot be created fails the run, which is undone",
         [](MemoryRegistry& r) { r.RefuseCreate("HKCR\\A\\B"); }, "HKCR { A { B } }", kRegister, kBadScript, {}},
        {"a value that cannot be written is not reported",
         [](MemoryRegistry& r) {
             r.AddKey("HKCR\\A");
             r.RefuseWrites("HKCR\\A");
         },
         "HKCR { A = s 'x' { val N = d 1 } }", kRegister, kOk, {"HKCR\\A"}},
        {"a key open only for reading is still entered",
         [](MemoryRegistry& r) {
             r.AddKey("HKCR\\A\\B");
             r.RefuseFullAccess("HKCR\\A");
         },
         "HKCR { A { B = s 'x' } }", kRegister, kOk, {"HKCR\\A", "HKCR\\A\\B = 'x'"}},
        {"a key open only for reading takes no new keys",
         [](MemoryRegistry& r) {
             r.AddKey("HKCR\\A");
             r.RefuseFullAccess("HKCR\\A");
         },
         "HKCR { A { C } }", kRegister, kBadScript, {"HKCR\\A"}},
        {"a key that cannot be closed fails a registration",
         [](MemoryRegistry& r) {
             r.AddKey("HKCR\\A");
             r.RefuseClose("HKCR\\A");
         },
         "HKCR { A }", kRegister, kBadScript, {"HKCR\\A"}},
        {"a key that cannot be closed fails an unregistration",
         [](MemoryRegistry& r) {
             r.AddKey("HKCR\\A");
             r.RefuseClose("HKCR\\A");
         },
         "HKCR { A }", kUnregister, kBadScript, {"HKCR\\A"}},
        {"a key that cannot be deleted stays without an error",
         [](MemoryRegistry& r) {
             r.AddKey("HKCR\\A");
             r.AddKey("HKCR\\B");
             r.RefuseDelete("HKCR\\A");
         },
         "HKCR { A B }", kUnregister, kOk, {"HKCR\\A"}},
        {"a key that cannot be opened is passed over with its block",
         [](MemoryRegistry& r) {
             r.SetValue("HKCR\\A", "N", RegistryValue::String("v"));
             r.AddKey("HKCR\\B");
             r.RefuseOpen("HKCR\\A");
         },
         "HKCR { A { val N = s 'v' } B }", kUnregister, kOk, {"HKCR\\A", "HKCR\\A : N = 'v'"}},
    };
    for (const auto& c : cases) {
        MemoryRegistry registry;
        c.arrange(registry);
        EXPECT_EQ(c.result, RunScript(registry, c.script, c.direction)) << c.sentence;
        EXPECT_EQ(registry.Dump(), c.after) << c.sentence;
    }
}

// ---- Backwards.

TEST(RegistrationScript, RemovesWhatItNames) {
    RunCases(
        {
            {"a key and its nested keys go", {"HKCR\\A\\B\\C"}, "HKCR { A { B { C } } }", kOk, {}},
            {"a key that is not there is passed over with its block", {"HKCR\\B"},
             "HKCR { Missing { val N = s 'x' Sub { Deeper } } B }", kOk, {}},
            {"a key that still has subkeys stays", {"HKCR\\A\\Mine", "HKCR\\A\\Theirs"}, "HKCR { A { Mine } }", kOk,
             {"HKCR\\A", "HKCR\\A\\Theirs"}},
            {"a key without subkeys goes even when its block names none", {"HKCR\\A"}, "HKCR { A { B } }", kOk, {}},
            {"NoRemove keeps the key it marks", {"HKCR\\A\\B", "HKCR\\C"}, "HKCR { NoRemove A { B } }", kOk,
             {"HKCR\\A", "HKCR\\C"}},
            {"NoRemove keeps only the key it marks", {"HKCR\\A", "HKCR\\B", "HKCR\\C"}, "HKCR { A NoRemove B C }",
             kOk, {"HKCR\\B"}},
            {"ForceRemove and Delete are read and ignored", {"HKCR\\A", "HKCR\\B"},
             "HKCR { ForceRemove A = s 'x' Delete B }", kOk, {}},
            {"keys of other roots are not touched", {"HKCU\\A"}, "HKCR { A }", kOk, {"HKCU\\A"}},
            {"a malformed entry stops the run", {"HKCR\\A", "HKCR\\B"}, "HKCR { A B\\C }", kBadScript, {"HKCR\\B"}},
        },
        kUnregister);
}

TEST(RegistrationScript, RemovesNamedValuesButNotTheKeysOfOthers) {
    MemoryRegistry registry;
    registry.SetValue("HKCR\\A", "", RegistryValue::String("x"));
    registry.SetValue("HKCR\\A", "Ours", RegistryValue::String("y"));
    registry.SetValue("HKCR\\A", "Theirs", RegistryValue::Number(1));
    registry.AddKey("HKCR\\A\\Sub");
    EXPECT_EQ(kOk, RunScript(registry, "HKCR { A = s 'x' { val Ours = s 'y' } }", kUnregister));
    EXPECT_EQ(registry.Dump(), (Lines{"HKCR\\A = 'x'", "HKCR\\A : Theirs = d 1", "HKCR\\A\\Sub"}));
}

TEST(RegistrationScript, AKeyWithALoneNamedValueHasItsBlockRun) {
    MemoryRegistry registry;
    registry.SetValue("HKCR\\A", "N", RegistryValue::String("v"));
    EXPECT_EQ(kOk, RunScript(registry, "HKCR { A { val N = s 'v' } }", kUnregister));
    EXPECT_EQ(registry.Dump(), Lines{});
}

}  // namespace
}  // namespace quill
