// The console's keeping of the host profile between runs: an INI file under
// the user's application data, one section per profile name that a
// component registers, one integer per key.
#pragma once

#include <windows.h>

#include <map>
#include <string>

namespace quill::console {

class ProfileStore {
public:
    using Values = std::map<std::wstring, LONG>;

    // The store in %APPDATA%\Quillomat\quill-console.ini.
    static ProfileStore UserStore();
    explicit ProfileStore(std::wstring path) : path_(std::move(path)) {}

    const std::wstring& path() const { return path_; }
    // Every key of the profile's section; empty when there is none.
    Values Load(const std::wstring& profileName) const;
    // Writes the keys into the profile's section, beside the others there;
    // false when the file cannot be written.
    bool Save(const std::wstring& profileName, const Values& values) const;
    // Removes the file with every profile in it; true when it is gone.
    bool Forget() const;

private:
    std::wstring path_;
};

}  // namespace quill::console
