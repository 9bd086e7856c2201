#include "tools/host-console/profile_store.h"

#include <shlobj.h>

#include <cwchar>
#include <vector>

namespace quill::console {
namespace {

constexpr const wchar_t* kFolderName = L"\\Quillomat";
constexpr const wchar_t* kFileName = L"\\quill-console.ini";
constexpr DWORD kSectionCapacity = 32 * 1024;

}  // namespace

ProfileStore ProfileStore::UserStore() {
    wchar_t appData[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, appData))) appData[0] = L'.';
    const std::wstring folder = std::wstring(appData) + kFolderName;
    ::CreateDirectoryW(folder.c_str(), nullptr);  // there already, or made now
    return ProfileStore(folder + kFileName);
}

ProfileStore::Values ProfileStore::Load(const std::wstring& profileName) const {
    std::vector<wchar_t> section(kSectionCapacity, L'\0');
    ::GetPrivateProfileSectionW(profileName.c_str(), section.data(), kSectionCapacity, path_.c_str());
    // "Key=value\0Key=value\0\0"
    Values values;
    for (const wchar_t* entry = section.data(); *entry != L'\0'; entry += std::wcslen(entry) + 1) {
        const wchar_t* equals = std::wcschr(entry, L'=');
        if (equals == nullptr) continue;
        values[std::wstring(entry, equals)] = std::wcstol(equals + 1, nullptr, 10);
    }
    return values;
}

bool ProfileStore::Save(const std::wstring& profileName, const Values& values) const {
    bool saved = true;
    for (const auto& [key, value] : values)
        saved = ::WritePrivateProfileStringW(profileName.c_str(), key.c_str(), std::to_wstring(value).c_str(),
                                             path_.c_str()) &&
                saved;
    return saved;
}

bool ProfileStore::Forget() const {
    return ::DeleteFileW(path_.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND ||
           ::GetLastError() == ERROR_PATH_NOT_FOUND;
}

}  // namespace quill::console
