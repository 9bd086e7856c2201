// What Quillomat.dll carries besides its code: the type library (resource
// 1), the string table of script names and page title, and the version
// information.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "component/extension_tables.h"
#include "tests/win/test_host.h"

namespace quill::test {
namespace {

GUID Guid(const wchar_t* text) {
    GUID guid{};
    EXPECT_EQ(S_OK, ::CLSIDFromString(const_cast<LPOLESTR>(text), &guid)) << Utf8(text, wcslen(text));
    return guid;
}

const wchar_t* const kLibraryId = L"{4F0D4571-0E7B-11D1-A486-004095E1DAEA}";
const wchar_t* const kAddInClass = L"{FD9A10C9-8828-4E0C-9B64-38F0900916FF}";
const wchar_t* const kAddInConnectionClass = L"{912B7391-250D-11D1-A4C8-004095E1DAEA}";
const wchar_t* const kConnectionSettings = L"{52512A61-2A9D-11D1-A4D6-004095E1DAEA}";

std::string Name(ITypeInfo& info, MEMBERID member = MEMBERID_NIL) {
    BSTR name = nullptr;
    info.GetDocumentation(member, &name, nullptr, nullptr, nullptr);
    const win::unique_bstr owned(name);
    return Utf8(name);
}

std::string DocString(ITypeInfo& info) {
    BSTR doc = nullptr;
    info.GetDocumentation(MEMBERID_NIL, nullptr, &doc, nullptr, nullptr);
    const win::unique_bstr owned(doc);
    return Utf8(doc);
}

class TypeLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, ::LoadTypeLibEx(Module::Get().path().c_str(), REGKIND_NONE, library.put()))
            << "no type library in the module";
    }

    win::com_ptr<ITypeInfo> InfoOf(const wchar_t* guid) {
        win::com_ptr<ITypeInfo> info;
        EXPECT_EQ(S_OK, library->GetTypeInfoOfGuid(Guid(guid), info.put())) << Utf8(guid, wcslen(guid));
        return info;
    }

    struct Attributes {
        TYPEKIND kind = TKIND_MAX;
        WORD functions = 0;
        WORD implemented = 0;
    };
    static Attributes AttributesOf(ITypeInfo& info) {
        TYPEATTR* attributes = nullptr;
        Attributes result;
        if (FAILED(info.GetTypeAttr(&attributes))) return result;
        result = {attributes->typekind, attributes->cFuncs, attributes->cImplTypes};
        info.ReleaseTypeAttr(attributes);
        return result;
    }

    static std::vector<std::string> FunctionNames(ITypeInfo& info) {
        std::vector<std::string> names;
        for (UINT index = 0; index < AttributesOf(info).functions; ++index) {
            FUNCDESC* function = nullptr;
            if (FAILED(info.GetFuncDesc(index, &function))) break;
            names.push_back(Name(info, function->memid));
            info.ReleaseFuncDesc(function);
        }
        return names;
    }

    // The interfaces a class or an interface refers to: name and flags.
    static std::vector<std::pair<std::string, INT>> Implemented(ITypeInfo& info) {
        std::vector<std::pair<std::string, INT>> result;
        for (UINT index = 0; index < AttributesOf(info).implemented; ++index) {
            HREFTYPE reference = 0;
            win::com_ptr<ITypeInfo> implemented;
            INT flags = 0;
            if (FAILED(info.GetRefTypeOfImplType(index, &reference)) ||
                FAILED(info.GetRefTypeInfo(reference, implemented.put())))
                break;
            info.GetImplTypeFlags(index, &flags);
            result.emplace_back(Name(*implemented.get()), flags);
        }
        return result;
    }

    win::com_ptr<ITypeLib> library;
};

TEST_F(TypeLibraryTest, LibraryIdentityVersionPlatformAndTitle) {
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, library->GetLibAttr(&attributes));
    EXPECT_TRUE(IsEqualGUID(Guid(kLibraryId), attributes->guid));
    EXPECT_EQ(1, attributes->wMajorVerNum);
    EXPECT_EQ(0, attributes->wMinorVerNum);
    EXPECT_EQ(sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, attributes->syskind)
        << "the library is marked for the module's own platform";
    library->ReleaseTLibAttr(attributes);

    BSTR name = nullptr, doc = nullptr;
    ASSERT_EQ(S_OK, library->GetDocumentation(-1, &name, &doc, nullptr, nullptr));
    const win::unique_bstr ownedName(name), ownedDoc(doc);
    EXPECT_EQ("AddInLib", Utf8(name));
    EXPECT_EQ("V7 AddIn 1.0 Type Library", Utf8(doc));
}

TEST_F(TypeLibraryTest, TheHostInterfacesWithTheirIdentifiersAndMethods) {
    struct InterfaceCase {
        const char* name;
        const wchar_t* iid;
        std::vector<std::string> methods;
    };
    const InterfaceCase cases[] = {
        {"IInitDone", L"{AB634001-F13D-11D0-A459-004095E1DAEA}", {"Init", "Done", "GetInfo"}},
        {"ILanguageExtender",
         L"{AB634003-F13D-11D0-A459-004095E1DAEA}",
         {"RegisterExtensionAs", "GetNProps", "FindProp", "GetPropName", "GetPropVal", "SetPropVal", "IsPropReadable",
          "IsPropWritable", "GetNMethods", "FindMethod", "GetMethodName", "GetNParams", "GetParamDefValue",
          "HasRetVal", "CallAsProc", "CallAsFunc"}},
        {"IAsyncEvent",
         L"{AB634004-F13D-11D0-A459-004095E1DAEA}",
         {"SetEventBufferDepth", "GetEventBufferDepth", "ExternalEvent", "CleanBuffer"}},
        {"IStatusLine", L"{AB634005-F13D-11D0-A459-004095E1DAEA}", {"SetStatusLine", "ResetStatusLine"}},
        {"IPropertyProfile", L"{AB634002-F13D-11D0-A459-004095E1DAEA}", {"RegisterProfileAs"}},
    };
    for (const InterfaceCase& row : cases) {
        SCOPED_TRACE(row.name);
        win::com_ptr<ITypeInfo> info = InfoOf(row.iid);
        ASSERT_TRUE(info);
        EXPECT_EQ(row.name, Name(*info.get()));
        EXPECT_EQ(TKIND_INTERFACE, AttributesOf(*info.get()).kind);
        EXPECT_EQ(row.methods, FunctionNames(*info.get()));
    }
}

TEST_F(TypeLibraryTest, TheProfileExtendsThePropertyBag) {
    win::com_ptr<ITypeInfo> profile = InfoOf(L"{AB634002-F13D-11D0-A459-004095E1DAEA}");
    ASSERT_TRUE(profile);
    const std::vector<std::pair<std::string, INT>> expected = {{"IPropertyBag", 0}};
    EXPECT_EQ(expected, Implemented(*profile.get()));
}

TEST_F(TypeLibraryTest, TheClassesWithTheirIdentifiersAndInterfaces) {
    struct ClassCase {
        const char* name;
        const wchar_t* clsid;
        const char* title;
        std::vector<std::pair<std::string, INT>> interfaces;
    };
    const ClassCase cases[] = {
        {"AddIn",
         kAddInClass,
         "AddIn Class",
         {{"IInitDone", IMPLTYPEFLAG_FDEFAULT}, {"ILanguageExtender", 0}, {"IPropertyPage", 0}}},
        {"AddInConnection",
         kAddInConnectionClass,
         "AddInConnection Class",
         {{"IPropertyProfile", IMPLTYPEFLAG_FDEFAULT}, {"IAsyncEvent", 0}, {"IStatusLine", 0}}},
    };
    for (const ClassCase& row : cases) {
        SCOPED_TRACE(row.name);
        win::com_ptr<ITypeInfo> info = InfoOf(row.clsid);
        ASSERT_TRUE(info);
        EXPECT_EQ(row.name, Name(*info.get()));
        EXPECT_EQ(row.title, DocString(*info.get()));
        EXPECT_EQ(TKIND_COCLASS, AttributesOf(*info.get()).kind);
        EXPECT_EQ(row.interfaces, Implemented(*info.get()));
    }
}

TEST_F(TypeLibraryTest, ThePrivateSettingsInterfaceIsNotInTheLibrary) {
    win::com_ptr<ITypeInfo> info;
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, library->GetTypeInfoOfGuid(Guid(kConnectionSettings), info.put()));
    EXPECT_FALSE(info);
}

// --- String table -------------------------------------------------------------------

std::wstring LoadModuleString(UINT id) {
    wchar_t buffer[256] = {};
    const int length = ::LoadStringW(Module::Get().handle(), id, buffer, 256);
    return std::wstring(buffer, length > 0 ? static_cast<size_t>(length) : 0);
}

TEST(StringTable, ThePageTitle) { EXPECT_EQ(Wide("Терминал Сбора Данных"), LoadModuleString(102)); }

TEST(StringTable, EveryPropertyAndMethodNamePair) {
    for (int32_t number = 0; number < kPropertyCount; ++number) {
        const PropertyEntry* entry = FindPropertyEntry(number);
        SCOPED_TRACE(entry->names);
        EXPECT_EQ(Wide(entry->names), LoadModuleString(static_cast<UINT>(entry->stringId)));
    }
    for (int32_t number = 0; number < kMethodCount; ++number) {
        const MethodEntry* entry = FindMethodEntry(number);
        SCOPED_TRACE(entry->names);
        EXPECT_EQ(Wide(entry->names), LoadModuleString(static_cast<UINT>(entry->stringId)));
    }
    EXPECT_EQ(Wide("ShowProgress,ПоказатьПрогресс"), LoadModuleString(114));
    EXPECT_EQ(Wide("Enabled,УстройствоВключено"), LoadModuleString(113));
}

// --- Version information -------------------------------------------------------------

class VersionInformation : public ::testing::Test {
protected:
    void SetUp() override {
        const std::wstring& path = Module::Get().path();
        DWORD ignored = 0;
        const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
        ASSERT_NE(0u, size) << "no version information";
        block.resize(size);
        ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
    }

    template <typename T>
    const T* Query(const std::wstring& path) {
        void* value = nullptr;
        UINT length = 0;
        if (!::VerQueryValueW(block.data(), path.c_str(), &value, &length) || length == 0) return nullptr;
        return static_cast<const T*>(value);
    }

    std::string Text(const char* name) {
        const auto* translation = Query<WORD>(L"\\VarFileInfo\\Translation");
        if (translation == nullptr) return "(no translation)";
        wchar_t path[64];
        swprintf(path, 64, L"\\StringFileInfo\\%04x%04x\\%hs", translation[0], translation[1], name);
        const wchar_t* text = Query<wchar_t>(path);
        return text != nullptr ? Utf8(text, wcslen(text)) : "(missing)";
    }

    std::vector<BYTE> block;
};

TEST_F(VersionInformation, NumbersAre4_0_9_1) {
    const auto* fixed = Query<VS_FIXEDFILEINFO>(L"\\");
    ASSERT_NE(nullptr, fixed);
    EXPECT_EQ(MAKELONG(0, 4), fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(1, 9), fixed->dwFileVersionLS);
    EXPECT_EQ(MAKELONG(0, 4), fixed->dwProductVersionMS);
    EXPECT_EQ(MAKELONG(1, 9), fixed->dwProductVersionLS);
}

TEST_F(VersionInformation, Texts) {
    struct TextCase {
        const char* name;
        const char* text;
    };
    for (const TextCase& row : {TextCase{"FileVersion", "4.0.9.1"}, TextCase{"ProductVersion", "4.0.9.1"},
                                TextCase{"FileDescription", "AddIn Module"}, TextCase{"ProductName", "AddIn Module"},
                                TextCase{"InternalName", "AddIn"}}) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.text, Text(row.name));
    }
}

}  // namespace
}  // namespace quill::test
