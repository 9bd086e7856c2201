// The script's properties: the extension name, the property table and the
// reads and writes of the ten properties.
#include <string>

#include "component/addin_object.h"
#include "component/extension_tables.h"
#include "component/result_messages.h"
#include "component/table_answers.h"
#include "core/win/text.h"

namespace quill {
namespace {

constexpr const char* kExtensionName = "Quillomat";


bool IsField(LONG number) { return number >= prop::kField1 && number <= prop::kField6; }

std::string& FieldText(ComponentState& state, LONG number) { return state.fields[number - prop::kField1]; }

void SetInteger(VARIANT& value, int32_t number) {
    value.vt = VT_I4;
    value.lVal = number;
}

HRESULT SetText(VARIANT& value, const std::string& text) {
    win::unique_bstr converted = win::BstrFromText(text);
    if (!converted) return E_OUTOFMEMORY;
    value.vt = VT_BSTR;
    value.bstrVal = converted.release();
    return S_OK;
}

}  // namespace

STDMETHODIMP AddInObject::RegisterExtensionAs(BSTR* bstrExtensionName) {
    if (bstrExtensionName == nullptr) return E_POINTER;
    *bstrExtensionName = win::BstrFromText(kExtensionName).release();
    return *bstrExtensionName != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP AddInObject::GetNProps(LONG* plProps) {
    if (plProps == nullptr) return E_POINTER;
    *plProps = kPropertyCount;
    return S_OK;
}

STDMETHODIMP AddInObject::FindProp(BSTR bstrPropName, LONG* plPropNum) {
    return answer::FoundNumber(bstrPropName, plPropNum,
                               [](const std::string& name) { return FindProperty(name); });
}

STDMETHODIMP AddInObject::GetPropName(LONG lPropNum, LONG lPropAlias, BSTR* pbstrPropName) {
    return answer::Name(pbstrPropName, [&] { return PropertyName(lPropNum, lPropAlias); });
}

STDMETHODIMP AddInObject::IsPropReadable(LONG lPropNum, LONG* pboolPropRead) {
    if (pboolPropRead == nullptr) return E_POINTER;
    if (FindPropertyEntry(lPropNum) == nullptr) return S_FALSE;
    *pboolPropRead = answer::kTrue;
    return S_OK;
}

STDMETHODIMP AddInObject::IsPropWritable(LONG lPropNum, LONG* pboolPropWrite) {
    if (pboolPropWrite == nullptr) return E_POINTER;
    const PropertyEntry* entry = FindPropertyEntry(lPropNum);
    if (entry == nullptr) return S_FALSE;
    *pboolPropWrite = answer::Flag(entry->writable);
    return S_OK;
}

STDMETHODIMP AddInObject::GetPropVal(LONG lPropNum, VARIANT* pvarPropVal) {
    if (pvarPropVal == nullptr) return E_POINTER;
    ::VariantInit(pvarPropVal);  // what the host left there is not ours to clear
    const auto guard = callGuard_.lock();
    return win::GuardedCall([&] { return ReadProperty(lPropNum, *pvarPropVal); });
}

// A write of Enabled opens the port, which may take the call lock for a
// while (the infrared adapter's set-up).
STDMETHODIMP AddInObject::SetPropVal(LONG lPropNum, VARIANT* varPropVal) {
    if (varPropVal == nullptr) return E_POINTER;
    return win::GuardedCall(
        [&] { return UnderCallLock([&] { return WriteProperty(lPropNum, *varPropVal); }); });
}

HRESULT AddInObject::ReadProperty(LONG number, VARIANT& value) {
    switch (number) {
        case prop::kResult:
            SetInteger(value, state_.result);
            return S_OK;
        case prop::kResultDescription:
            return SetText(value, DescribeResult(state_.result));
        case prop::kData:
            return SetText(value, state_.data);
        case prop::kEnabled:
            SetInteger(value, answer::Flag(link_.IsOpen()));
            return S_OK;
        default:
            if (IsField(number)) return SetText(value, FieldText(state_, number));
            return S_FALSE;
    }
}

HRESULT AddInObject::WriteProperty(LONG number, const VARIANT& value) {
    switch (number) {
        case prop::kResult:
            if (value.vt != VT_I4) return S_FALSE;
            state_.result = value.lVal;
            return S_OK;
        case prop::kData:
            if (value.vt != VT_BSTR) return S_FALSE;
            state_.data = win::TextFromBstr(value.bstrVal);
            return S_OK;
        case prop::kEnabled:
            if (value.vt != VT_I4) return S_FALSE;
            SetEnabled(value.lVal);
            return S_OK;
        default:
            if (!IsField(number)) return S_FALSE;  // ResultDescription and unknown numbers
            if (value.vt == VT_I4)
                FieldText(state_, number) = std::to_string(value.lVal);
            else if (value.vt == VT_BSTR)
                FieldText(state_, number) = win::TextFromBstr(value.bstrVal);
            else
                return S_FALSE;
            return S_OK;
    }
}

// A positive value opens the port, anything else closes it. A failed open
// reports only that the port is not initialised.
void AddInObject::SetEnabled(int32_t value) {
    if (value > 0) {
        const bool opened = link_.OpenPort(settings_) == 1;
        state_.result = opened ? code::kSuccess : code::kPortNotInitialised;
    } else {
        link_.ClosePort();
        state_.result = code::kSuccess;
    }
}

}  // namespace quill
