// The script's methods: the method table and the calls, with the host's
// VARIANT parameters read for the portable method logic.
#include <optional>
#include <string>
#include <vector>

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
// read as some number: the call it was meant for may clear a store. Read
// when the call comes, before the call lock is taken: a copy of an element
// that holds an object is let go of again, which calls out of the component.
class VariantParameters final : public MethodParameters {
public:
    VariantParameters(LONG methodNumber, SAFEARRAY** parameters) {
        const MethodEntry* entry = FindMethodEntry(methodNumber);
        const win::variant_array array(parameters != nullptr ? *parameters : nullptr);
        const int32_t count = entry != nullptr ? entry->paramCount : 0;
        for (int32_t index = 0; index < count; ++index) values_.push_back(Read(array, index));
    }

    std::optional<int32_t> Integer(int32_t index) const override {
        if (index < 0 || static_cast<size_t>(index) >= values_.size()) return std::nullopt;
        return values_[static_cast<size_t>(index)];
    }

private:
    static std::optional<int32_t> Read(const win::variant_array& array, int32_t index) {
        win::unique_variant element;
        if (!array.get(index, element)) return std::nullopt;
        switch (element.type()) {
            case VT_I4: return element->lVal;
            case VT_BSTR: return WholeDecimal(win::TextFromBstr(element->bstrVal));
            default: return std::nullopt;
        }
    }

    std::vector<std::optional<int32_t>> values_;
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
    return win::GuardedCall([&]() -> HRESULT {
        const VariantParameters parameters(lMethodNum, paParams);
        const bool called = UnderCallLock([&] { return calls_.CallAsProc(lMethodNum, parameters); });
        return called ? S_OK : S_FALSE;
    });
}

STDMETHODIMP AddInObject::CallAsFunc(LONG lMethodNum, VARIANT* pvarRetValue, SAFEARRAY** paParams) {
    if (pvarRetValue == nullptr) return E_POINTER;
    return win::GuardedCall([&]() -> HRESULT {
        const VariantParameters parameters(lMethodNum, paParams);
        const std::optional<int32_t> value =
            UnderCallLock([&] { return calls_.CallAsFunc(lMethodNum, parameters); });
        if (!value) return S_FALSE;
        ::VariantInit(pvarRetValue);  // what the host left there is not ours to clear
        pvarRetValue->vt = VT_I4;
        pvarRetValue->lVal = *value;
        return S_OK;
    });
}

}  // namespace quill
