// The component as a host script sees it: one object whose properties and
// methods are found by English or Russian name and reached through
// ILanguageExtender, the way the host application drives it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "core/win/com.h"
#include "core/win/handles.h"
#include "host/addin.h"

namespace quill::console {

// A script value: the host passes integers as VT_I4 and texts as VT_BSTR.
struct ScriptValue {
    bool isText = false;
    LONG number = 0;
    std::wstring text;

    static ScriptValue Number(LONG value) { return {false, value, {}}; }
    static ScriptValue Text(std::wstring value) { return {true, 0, std::move(value)}; }
    // "12" and "-3" are numbers, anything else is text.
    static ScriptValue Parse(const std::wstring& word);
    std::wstring Show() const;
};

struct Member {
    LONG number = -1;
    std::wstring english, russian;
};

class ScriptObject {
public:
    // Loads the module, creates the component through its class factory and
    // initialises it with `connection`. Empty `error` on success.
    static std::optional<ScriptObject> Create(const std::wstring& modulePath, IDispatch* connection,
                                              std::wstring& error);
    // The class registered under `progId`, if any.
    static std::optional<CLSID> RegisteredClass(const std::wstring& progId);
    // Creates the component of the class registered under `progId` as a host
    // does (CoCreateInstance of `classId`) and initialises it with
    // `connection`. `modulePath` tells which file the registration names.
    static std::optional<ScriptObject> CreateRegistered(const std::wstring& progId, const CLSID& classId,
                                                        IDispatch* connection, std::wstring& modulePath,
                                                        std::wstring& error);
    ScriptObject(ScriptObject&&) noexcept;
    ScriptObject& operator=(ScriptObject&&) = delete;
    ~ScriptObject();

    std::wstring ExtensionName() const;
    std::vector<Member> Properties() const;
    std::vector<Member> Methods() const;
    LONG ParameterCount(LONG method) const;
    bool ReturnsValue(LONG method) const;

    std::optional<Member> FindProperty(const std::wstring& name) const;
    std::optional<Member> FindMethod(const std::wstring& name) const;

    // Calls a method as the host does: CallAsFunc when it returns a value,
    // CallAsProc otherwise. The value is empty for a procedure; `hr` the call's HRESULT.
    std::optional<LONG> Call(LONG method, const std::vector<ScriptValue>& args, HRESULT& hr);
    ScriptValue Get(LONG property) const;
    HRESULT Set(LONG property, const ScriptValue& value);

    // Convenience for the common reads.
    LONG Result() const { return Get(0).number; }
    std::wstring Text(const wchar_t* englishName) const;

    // The component object itself, for what the host does beside scripts
    // (its settings page).
    IUnknown* Component() const { return initDone_.get(); }

    // Calls Done; the destructor does it when nobody did.
    void Done();

private:
    ScriptObject() = default;
    static std::optional<ScriptObject> Initialise(ScriptObject object, IDispatch* connection, std::wstring& error);
    Member Describe(LONG number, bool property) const;

    win::unique_hmodule module_;  // released last, after the component
    win::com_ptr<IInitDone> initDone_;
    win::com_ptr<ILanguageExtender> extender_;
    bool done_ = false;
};

}  // namespace quill::console
