// Installing the module as a person does: regsvr32 on the module, then a
// host that finds the component by its ProgID. The registry keys and values
// it writes, the type library, registering twice, regsvr32 /u, and a module
// whose path holds a quote and a space. Each test starts with none of the
// module's keys in the registry and leaves none behind. And the registration
// script on the Windows registry itself, under HKEY_CURRENT_USER.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/win/handles.h"
#include "server/registration_script.h"
#include "server/win32_registry.h"
#include "tests/win/test_host.h"

namespace quill::test {
namespace {

const wchar_t kClassId[] = L"{FD9A10C9-8828-4e0c-9B64-38F0900916FF}";
const wchar_t kClassKey[] = L"CLSID\\{FD9A10C9-8828-4e0c-9B64-38F0900916FF}";
const wchar_t kProgId[] = L"AddIn.AddInObject.1";
const wchar_t kVersionIndependentProgId[] = L"AddIn.AddInObject";
const wchar_t kLibraryKey[] = L"TypeLib\\{4F0D4571-0E7B-11D1-A486-004095E1DAEA}\\1.0";
const GUID kLibraryId = {0x4F0D4571, 0x0E7B, 0x11D1, {0xA4, 0x86, 0x00, 0x40, 0x95, 0xE1, 0xDA, 0xEA}};
constexpr UINT kScriptResource = 210;
constexpr DWORD kRegsvr32TimeLimitMs = 60000;

std::string Text(const std::wstring& text) { return Utf8(text.data(), text.size()); }

// ---- The registry, read with the registry API (under HKEY_CLASSES_ROOT
// unless a test says otherwise).

win::unique_hkey OpenKey(const std::wstring& path, HKEY root = HKEY_CLASSES_ROOT) {
    win::unique_hkey key;
    ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put());
    return key;
}

bool KeyExists(const std::wstring& path, HKEY root = HKEY_CLASSES_ROOT) { return OpenKey(path, root).is_valid(); }

// A value's type and bytes; REG_NONE when there is none.
struct RawValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
};

RawValue ReadValue(const std::wstring& path, const std::wstring& name, HKEY root = HKEY_CLASSES_ROOT) {
    RawValue value;
    const win::unique_hkey key = OpenKey(path, root);
    value.bytes.resize(4096);
    DWORD size = static_cast<DWORD>(value.bytes.size());
    if (!key || ::RegQueryValueExW(key.get(), name.c_str(), nullptr, &value.type, value.bytes.data(), &size) !=
                    ERROR_SUCCESS)
        return {};
    value.bytes.resize(size);
    return value;
}

// A string value ("" is the default value); "(missing)" when there is none.
std::wstring StringValue(const std::wstring& path, const std::wstring& name = L"", HKEY root = HKEY_CLASSES_ROOT) {
    const RawValue value = ReadValue(path, name, root);
    if (value.type == REG_NONE) return L"(missing)";
    if (value.type != REG_SZ || value.bytes.size() % sizeof(wchar_t) != 0) return L"(not a string)";
    std::wstring text(reinterpret_cast<const wchar_t*>(value.bytes.data()), value.bytes.size() / sizeof(wchar_t));
    if (text.empty() || text.back() != L'\0') return L"(not ended by NUL)";
    text.pop_back();
    return text;
}

// The names a key lists, one `enumerate`(key, index, name, length) at a time.
template <typename Enumerate>
std::vector<std::wstring> NamesIn(const std::wstring& path, HKEY root, Enumerate enumerate) {
    std::vector<std::wstring> names;
    const win::unique_hkey key = OpenKey(path, root);
    for (DWORD index = 0; key; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        if (enumerate(key.get(), index, name, &length) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    return names;
}

std::vector<std::wstring> SubkeyNames(const std::wstring& path, HKEY root = HKEY_CLASSES_ROOT) {
    return NamesIn(path, root, [](HKEY key, DWORD index, wchar_t* name, DWORD* length) {
        return ::RegEnumKeyExW(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
    });
}

std::vector<std::wstring> ValueNames(const std::wstring& path) {
    return NamesIn(path, HKEY_CLASSES_ROOT, [](HKEY key, DWORD index, wchar_t* name, DWORD* length) {
        return ::RegEnumValueW(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
    });
}

void RemoveModuleKeys() {
    for (const wchar_t* key : {kProgId, kVersionIndependentProgId, kClassKey})
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, key);
}

// ---- regsvr32, run as a person runs it.

// regsvr32's exit code; -1 when it could not be started or did not end.
int Regsvr32(const std::wstring& options, const std::wstring& module) {
    std::wstring commandLine = L"regsvr32.exe " + options + L" \"" + module + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &started))
        return -1;
    const win::unique_handle process(started.hProcess), thread(started.hThread);
    if (::WaitForSingleObject(process.get(), kRegsvr32TimeLimitMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), 1);
        return -1;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    return static_cast<int>(code);
}

int Register(const std::wstring& module) { return Regsvr32(L"/s", module); }
int Unregister(const std::wstring& module) { return Regsvr32(L"/u /s", module); }

const std::wstring& ModulePath() { return Module::Get().path(); }

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\') + 1); }

// One row of what registration writes: a key, one of its values, and the
// text it holds.
struct Entry {
    std::wstring key;
    std::wstring value;
    std::wstring text;
};

std::vector<Entry> EntriesFor(const std::wstring& module) {
    const std::wstring classKey = kClassKey;
    return {
        {kProgId, L"", L"AddInObject Class"},
        {std::wstring(kProgId) + L"\\CLSID", L"", kClassId},
        {kVersionIndependentProgId, L"", L"AddInObject Class"},
        {std::wstring(kVersionIndependentProgId) + L"\\CLSID", L"", kClassId},
        {classKey, L"", L"AddInObject Class"},
        {classKey + L"\\ProgID", L"", kProgId},
        {classKey + L"\\VersionIndependentProgID", L"", kVersionIndependentProgId},
        {classKey + L"\\InprocServer32", L"", module},
        {classKey + L"\\InprocServer32", L"ThreadingModel", L"both"},
    };
}

// Every entry of the table is there, and nothing else under our keys.
void ExpectRegisteredAs(const std::wstring& module) {
    for (const Entry& entry : EntriesFor(module))
        EXPECT_EQ(Text(StringValue(entry.key, entry.value)), Text(entry.text))
            << Text(entry.key) << " value \"" << Text(entry.value) << "\"";
    using Names = std::vector<std::wstring>;
    const std::wstring classKey = kClassKey;
    EXPECT_EQ(SubkeyNames(kProgId), Names{L"CLSID"});
    EXPECT_EQ(SubkeyNames(kVersionIndependentProgId), Names{L"CLSID"});
    EXPECT_EQ(SubkeyNames(classKey), (Names{L"InprocServer32", L"ProgID", L"VersionIndependentProgID"}));
    EXPECT_EQ(ValueNames(classKey), Names{L""});
    EXPECT_EQ(ValueNames(classKey + L"\\InprocServer32"), (Names{L"", L"ThreadingModel"}));
}

void ExpectNotRegistered() {
    for (const wchar_t* key : {kProgId, kVersionIndependentProgId, kClassKey})
        EXPECT_FALSE(KeyExists(key)) << Text(key) << " is still there";
    EXPECT_TRUE(KeyExists(L"CLSID")) << "CLSID itself went";
}

// Creates the component the way a host does from a ProgID, and checks that
// it works: Init with a connection, its extension name, Done.
void ExpectCreatedByProgId(const wchar_t* progId) {
    CLSID classId = {};
    ASSERT_EQ(S_OK, ::CLSIDFromProgID(progId, &classId)) << Text(progId);
    EXPECT_TRUE(::IsEqualCLSID(classId, __uuidof(AddIn))) << Text(progId);
    win::com_ptr<IInitDone> component;
    ASSERT_EQ(S_OK, ::CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IInitDone),
                                       component.put_void()))
        << Text(progId);
    FakeConnection connection;
    ASSERT_EQ(S_OK, component->Init(&connection));
    const auto extender = component.query<ILanguageExtender>();
    ASSERT_TRUE(extender);
    win::unique_bstr name;
    EXPECT_EQ(S_OK, extender->RegisterExtensionAs(name.put()));
    EXPECT_EQ(Utf8(name.get()), "Quillomat");
    EXPECT_EQ(S_OK, component->Done());
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Module::Get().handle() != nullptr) << "no module beside the test program";
        ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        RemoveModuleKeys();
    }
    void TearDown() override {
        ::CoFreeUnusedLibraries();
        ::CoUninitialize();
        RemoveModuleKeys();
    }
};

TEST_F(Registration, TheModuleCarriesItsScriptByteForByte) {
    const win::unique_hmodule data(::LoadLibraryExW(ModulePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(data);
    const HRSRC found = ::FindResourceW(data.get(), MAKEINTRESOURCEW(kScriptResource), L"REGISTRY");
    ASSERT_TRUE(found != nullptr);
    const auto* bytes = static_cast<const char*>(::LockResource(::LoadResource(data.get(), found)));
    const std::string resource(bytes, ::SizeofResource(data.get(), found));

    std::ifstream file(QUILL_SOURCE_DIR "/resources/registration.rgs", std::ios::binary);
    ASSERT_TRUE(file) << "cannot read the script from the sources";
    const std::string script{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    EXPECT_EQ(resource, script);
    EXPECT_EQ(resource.find('\0'), std::string::npos);
}

TEST_F(Registration, Regsvr32WritesEveryKeyAndValueOfTheClass) {
    ASSERT_EQ(0, Register(ModulePath()));
    ExpectRegisteredAs(ModulePath());
}

// A 64-bit module registers in the registry view of 64-bit programs only, so
// that the 32-bit module's registration beside it (in the 32-bit view) is
// left alone, and the other way round.
TEST_F(Registration, TheSixtyFourBitModuleWritesOnlyTheSixtyFourBitView) {
    if (sizeof(void*) != 8) GTEST_SKIP() << "a 32-bit prefix has one registry view";
    ASSERT_EQ(0, Register(ModulePath()));
    const auto opened = [](const std::wstring& path, REGSAM view) {
        win::unique_hkey key;
        return ::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
    };
    for (const std::wstring& key : {std::wstring(kClassKey) + L"\\InprocServer32", std::wstring(kProgId)}) {
        EXPECT_TRUE(opened(key, KEY_WOW64_64KEY)) << Text(key);
        EXPECT_FALSE(opened(key, KEY_WOW64_32KEY)) << Text(key) << " in the 32-bit view";
    }
}

TEST_F(Registration, BothProgIdsCreateAWorkingComponentFromTheRegisteredFile) {
    ASSERT_EQ(0, Register(ModulePath()));
    ExpectCreatedByProgId(kProgId);
    ExpectCreatedByProgId(kVersionIndependentProgId);
}

TEST_F(Registration, RegistersTheTypeLibraryFromTheModuleWithItsFolderForHelp) {
    ASSERT_EQ(0, Register(ModulePath()));
    win::com_ptr<ITypeLib> library;
    EXPECT_EQ(S_OK, ::LoadRegTypeLib(kLibraryId, 1, 0, LOCALE_NEUTRAL, library.put()));
    // Under the module's own platform only: a 32-bit and a 64-bit module each
    // register in their own registry view.
    const bool wide = sizeof(void*) == 8;
    EXPECT_EQ(Text(StringValue(std::wstring(kLibraryKey) + (wide ? L"\\0\\win64" : L"\\0\\win32"))),
              Text(ModulePath()));
    EXPECT_FALSE(KeyExists(std::wstring(kLibraryKey) + (wide ? L"\\0\\win32" : L"\\0\\win64")));
    EXPECT_EQ(Text(StringValue(std::wstring(kLibraryKey) + L"\\HELPDIR")), Text(FolderOf(ModulePath())));
}

TEST_F(Registration, RegisteringTwiceLeavesOneSetAndReplacesTheClassKey) {
    ASSERT_EQ(0, Register(ModulePath()));
    const std::wstring stray = std::wstring(kClassKey) + L"\\Stray";
    win::unique_hkey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CLASSES_ROOT, stray.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                nullptr, key.put(), nullptr));
    key.reset();

    ASSERT_EQ(0, Register(ModulePath()));
    ExpectRegisteredAs(ModulePath());
}

TEST_F(Registration, Regsvr32UnregisterRemovesTheProgIdsAndTheClassKeyAndKeepsTheTypeLibrary) {
    ASSERT_EQ(0, Register(ModulePath()));
    EXPECT_EQ(0, Unregister(ModulePath()));
    ExpectNotRegistered();
    win::com_ptr<ITypeLib> library;
    EXPECT_EQ(S_OK, ::LoadRegTypeLib(kLibraryId, 1, 0, LOCALE_NEUTRAL, library.put()));
    CLSID classId = {};
    EXPECT_NE(S_OK, ::CLSIDFromProgID(kProgId, &classId));
}

TEST_F(Registration, UnregisteringWhenNothingIsRegisteredSucceeds) {
    EXPECT_EQ(0, Unregister(ModulePath()));
    ExpectNotRegistered();
}

// A copy of the module in a folder and under a name that hold a quote and a
// space: the script doubles the quote and reads it back as one.
TEST_F(Registration, AModulePathWithAQuoteAndASpaceRegistersAndCreates) {
    wchar_t temp[MAX_PATH] = {};
    ASSERT_NE(0u, ::GetTempPathW(MAX_PATH, temp));
    const std::wstring folder = std::wstring(temp) + L"quill o'test\\";
    const std::wstring copy = folder + L"Quill o'mat.dll";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(::CopyFileW(ModulePath().c_str(), copy.c_str(), FALSE)) << Text(copy);

    ASSERT_EQ(0, Register(copy));
    ExpectRegisteredAs(copy);
    ExpectCreatedByProgId(kProgId);
    EXPECT_TRUE(::GetModuleHandleW(copy.c_str()) != nullptr) << "the component did not come from the copy";
    EXPECT_EQ(0, Unregister(copy));
    ExpectNotRegistered();

    // The type library goes back to the module of the build.
    EXPECT_EQ(0, Register(ModulePath()));
    EXPECT_EQ(0, Unregister(ModulePath()));
    ::CoFreeUnusedLibrariesEx(0, 0);
    ::DeleteFileW(copy.c_str());
    ::RemoveDirectoryW(folder.c_str());
}

// ---- The script on the Windows registry, in a key of the test's own.

const wchar_t kTestKey[] = L"Software\\QuillomatRegistrationTest";

class ScriptOnWindowsRegistry : public ::testing::Test {
protected:
    void SetUp() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey); }
    void TearDown() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey); }

    static int32_t Run(const std::string& block, ScriptDirection direction) {
        Win32Registry registry;
        const std::string script = "HKCU { NoRemove Software { " + block + " } }";
        return RunRegistrationScript(script, ModuleReplacements("C:\\x.dll"), direction, registry);
    }
};

TEST_F(ScriptOnWindowsRegistry, WritesTextsNumbersAndBytesAndRemovesThemAgain) {
    const std::string block =
        "ForceRemove QuillomatRegistrationTest = s 'Ключ' "
        "{ val Number = d 4294967295 val Bytes = b 00fF10 val Text = s 'it''s' Sub }";
    ASSERT_EQ(script_result::kOk, Run(block, ScriptDirection::Register));
    EXPECT_EQ(Text(StringValue(kTestKey, L"", HKEY_CURRENT_USER)), "Ключ");
    EXPECT_EQ(Text(StringValue(kTestKey, L"Text", HKEY_CURRENT_USER)), "it's");
    const RawValue number = ReadValue(kTestKey, L"Number", HKEY_CURRENT_USER);
    EXPECT_EQ(number.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(number.bytes, (std::vector<BYTE>{0xFF, 0xFF, 0xFF, 0xFF}));
    const RawValue bytes = ReadValue(kTestKey, L"Bytes", HKEY_CURRENT_USER);
    EXPECT_EQ(bytes.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(bytes.bytes, (std::vector<BYTE>{0x00, 0xFF, 0x10}));
    EXPECT_TRUE(KeyExists(std::wstring(kTestKey) + L"\\Sub", HKEY_CURRENT_USER));

    EXPECT_EQ(script_result::kOk, Run(block, ScriptDirection::Unregister));
    EXPECT_FALSE(KeyExists(kTestKey, HKEY_CURRENT_USER));
    EXPECT_TRUE(KeyExists(L"Software", HKEY_CURRENT_USER));
}

TEST_F(ScriptOnWindowsRegistry, ForceRemoveTakesAwayAKeyWithAllItHolds) {
    win::unique_hkey deep;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kTestKey) + L"\\A\\B\\C").c_str(),
                                                0, nullptr, 0, KEY_ALL_ACCESS, nullptr, deep.put(), nullptr));
    deep.reset();
    ASSERT_EQ(script_result::kOk, Run("ForceRemove QuillomatRegistrationTest { New }", ScriptDirection::Register));
    EXPECT_EQ(SubkeyNames(kTestKey, HKEY_CURRENT_USER), std::vector<std::wstring>{L"New"});
}

TEST_F(ScriptOnWindowsRegistry, AFailedBlockIsUndone) {
    EXPECT_EQ(script_result::kFailed,
              Run("QuillomatRegistrationTest { A { val N = b 123 } }", ScriptDirection::Register));
    EXPECT_FALSE(KeyExists(kTestKey, HKEY_CURRENT_USER));
}

}  // namespace
}  // namespace quill::test
