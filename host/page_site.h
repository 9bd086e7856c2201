// What every frame of the host side answers alike when a settings page asks
// its site: the user's locale, no page container, no accelerators of its
// own. `Base` is IPropertyPageSite or a class built on it (a test's recording
// object); the frame itself says what a status change does and how it is
// counted.
#pragma once

#include <windows.h>

#include <ocidl.h>

namespace quill {

template <class Base = IPropertyPageSite>
class PlainPageSite : public Base {
public:
    using Base::Base;

    STDMETHODIMP GetLocaleID(LCID* locale) override {
        if (locale == nullptr) return E_POINTER;
        *locale = LOCALE_USER_DEFAULT;
        return S_OK;
    }
    STDMETHODIMP GetPageContainer(IUnknown** container) override {
        if (container != nullptr) *container = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP TranslateAccelerator(MSG*) override { return S_FALSE; }
};

}  // namespace quill
