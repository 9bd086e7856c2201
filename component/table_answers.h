// How the name-table operations of ILanguageExtender answer the host: a
// number found or not, a name as a new BSTR, a yes or no.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "core/win/com.h"
#include "core/win/text.h"

namespace quill::answer {

constexpr LONG kNotFound = -1;
constexpr LONG kTrue = 1;
constexpr LONG kFalse = 0;

inline LONG Flag(bool value) { return value ? kTrue : kFalse; }

// Writes the number a lookup found (or -1) to `out`: S_OK when found, S_FALSE
// when not.
template <typename Lookup>
HRESULT FoundNumber(BSTR name, LONG* out, Lookup lookup) {
    if (out == nullptr) return E_POINTER;
    *out = kNotFound;
    return win::GuardedCall([&]() -> HRESULT {
        *out = lookup(win::TextFromBstr(name));
        return *out == kNotFound ? S_FALSE : S_OK;
    });
}

// Writes a new BSTR with the name, or an empty one when there is no entry:
// S_OK for an entry, S_FALSE for none. When memory runs out the host gets
// E_OUTOFMEMORY and a null BSTR, never what it left in `out`.
template <typename NameOf>
HRESULT Name(BSTR* out, NameOf nameOf) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    return win::GuardedCall([&]() -> HRESULT {
        const std::optional<std::string> name = nameOf();
        *out = win::BstrFromText(name.value_or(std::string())).release();
        if (*out == nullptr) return E_OUTOFMEMORY;
        return name ? S_OK : S_FALSE;
    });
}

}  // namespace quill::answer
