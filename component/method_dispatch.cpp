// The script's methods: the method table and the calls, with the host's
// VARIANT parameters read for the portable method logic.
#include <optional>
#include <string>

#include "component/addin_object.h"
#include "component/extension_tables.h"
#include "component/parameters.h"
#include "component/table_answers.h"
#include "core/win/text.h"

namespace quill {
namespace {

constexpr LONG kNoParameters = 0;

// The parameters of one call: a VT_I4 gives its value, a VT_BSTR its text
// when that is a whole decimal number (white space around it allowed); any
// other text or type, a missing element or an array that is not a vector of
// VARIANTs gives nothing. A text such as "Документ 3" is refused rather than
// read as some number: the call it was meant for may clear a store.
class VariantParameters final : public MethodParameters {
public:
    explicit VariantParameters(SAFEARRAY** parameters)
        : parameters_(parameters != nullptr ? *parameters : nullptr) {}

    std::optional<int32_t> Integer(int32_t index) const override {
        win::unique_variant element;
        if (!parameters_.get(index, element)) return std::nullopt;
        switch (element.type()) {
            case VT_I4: return element->lVal;
            case VT_BSTR: return WholeDecimal(win::TextFromBstr(element->bstrVal));
            default: return std::nullopt;
        }
    }

private:
    win::variant_array parameters_;
};

}  // namespace

STDMETHODIMP AddInObject::GetNMethods(LONG* plMethods) {
    if (plMethods == nullptr) return E_POINTER;
    *plMethods = kMethodCount;
    return S_OK;
}

STDMETHODIMP AddInObject::FindMethod(BSTR bstrMethodName, LONG* plMethodNum) {
    return answer::FoundNumber(bstrMethodName, plMethodNum,
                               [](const std::string& name) { return quill::FindMethod(name); });
}

STDMETHODIMP AddInObject::GetMethodName(LONG lMethodNum, LONG lMethodAlias, BSTR* pbstrMethodName) {
    return answer::Name(pbstrMethodName, [&] { return MethodName(lMethodNum, lMethodAlias); });
}

STDMETHODIMP AddInObject::GetNParams(LONG lMethodNum, LONG* plParams) {
    if (plParams == nullptr) return E_POINTER;
    const MethodEntry* entry = FindMethodEntry(lMethodNum);
    *plParams = entry != nullptr ? entry->paramCount : kNoParameters;
    return entry != nullptr ? S_OK : S_FALSE;
}

STDMETHODIMP AddInObject::GetParamDefValue(LONG lMethodNum, LONG, VARIANT* pvarParamDefValue) {
    if (pvarParamDefValue == nullptr) return E_POINTER;
    ::VariantInit(pvarParamDefValue);  // no parameter has a default value
    return FindMethodEntry(lMethodNum) != nullptr ? S_OK : S_FALSE;
}

STDMETHODIMP AddInObject::HasRetVal(LONG lMethodNum, LONG* pboolRetValue) {
    if (pboolRetValue == nullptr) return E_POINTER;
    const MethodEntry* entry = FindMethodEntry(lMethodNum);
    if (entry == nullptr) return S_FALSE;
    *pboolRetValue = answer::Flag(entry->returnsValue);
    return S_OK;
}

STDMETHODIMP AddInObject::CallAsProc(LONG lMethodNum, SAFEARRAY** paParams) {
    const auto guard = callGuard_.lock();
    return win::GuardedCall([&]() -> HRESULT {
        const VariantParameters parameters(paParams);
        return calls_.CallAsProc(lMethodNum, parameters) ? S_OK : S_FALSE;
    });
}

STDMETHODIMP AddInObject::CallAsFunc(LONG lMethodNum, VARIANT* pvarRetValue, SAFEARRAY** paParams) {
    if (pvarRetValue == nullptr) return E_POINTER;
    const auto guard = callGuard_.lock();
    return win::GuardedCall([&]() -> HRESULT {
        const VariantParameters parameters(paParams);
        const std::optional<int32_t> value = calls_.CallAsFunc(lMethodNum, parameters);
        if (!value) return S_FALSE;
        ::VariantInit(pvarRetValue);  // what the host left there is not ours to clear
        pvarRetValue->vt = VT_I4;
        pvarRetValue->lVal = *value;
        return S_OK;
    });
}

}  // namespace quill
