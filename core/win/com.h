// Owning wrappers for COM and OLE Automation values: interface pointers,
// BSTRs, VARIANTs, and element access of SAFEARRAYs of VARIANT. Nothing here
// throws; failures come back as HRESULTs or empty values.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

#include <cstdint>
#include <new>
#include <utility>

namespace quill::win {

// Returns from the enclosing function when `hr` is a failure.
#define QUILL_RETURN_IF_FAILED(expression)            \
    do {                                              \
        const HRESULT quillHr_ = (expression);        \
        if (FAILED(quillHr_)) return quillHr_;        \
    } while (false)

// Runs the body of an interface method and turns an escaping exception into
// an HRESULT, so nothing is thrown across the interface.
template <typename Body>
HRESULT GuardedCall(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// An owned reference to a COM interface.
template <typename T>
class com_ptr {
public:
    com_ptr() noexcept = default;
    com_ptr(std::nullptr_t) noexcept {}
    ~com_ptr() { reset(); }

    // Takes over a reference the caller already holds.
    static com_ptr attach(T* pointer) noexcept {
        com_ptr result;
        result.pointer_ = pointer;
        return result;
    }
    // Adds a reference of its own.
    static com_ptr copy_from(T* pointer) noexcept {
        if (pointer != nullptr) pointer->AddRef();
        return attach(pointer);
    }

    com_ptr(const com_ptr& other) noexcept : pointer_(other.pointer_) {
        if (pointer_ != nullptr) pointer_->AddRef();
    }
    com_ptr& operator=(const com_ptr& other) noexcept {
        if (this != &other) *this = copy_from(other.pointer_);
        return *this;
    }
    com_ptr(com_ptr&& other) noexcept : pointer_(other.detach()) {}
    com_ptr& operator=(com_ptr&& other) noexcept {
        if (this != &other) {
            reset();
            pointer_ = other.detach();
        }
        return *this;
    }

    T* get() const noexcept { return pointer_; }
    T* operator->() const noexcept { return pointer_; }
    explicit operator bool() const noexcept { return pointer_ != nullptr; }

    // Releases the held reference (if any); the pointer is null afterwards.
    void reset() noexcept {
        if (T* old = std::exchange(pointer_, nullptr)) old->Release();
    }
    // Gives up the reference without releasing it.
    [[nodiscard]] T* detach() noexcept { return std::exchange(pointer_, nullptr); }

    // Releases the held reference and hands the empty slot to an out-parameter.
    T** put() noexcept {
        reset();
        return &pointer_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    // Asks the held object for another interface; null when refused.
    template <typename U>
    com_ptr<U> query() const noexcept {
        com_ptr<U> result;
        if (pointer_ != nullptr) pointer_->QueryInterface(__uuidof(U), result.put_void());
        return result;
    }

private:
    T* pointer_ = nullptr;
};

// An owned BSTR (null is the empty value).
class unique_bstr {
public:
    unique_bstr() noexcept = default;
    explicit unique_bstr(BSTR value) noexcept : value_(value) {}
    ~unique_bstr() { reset(); }
    unique_bstr(const unique_bstr&) = delete;
    unique_bstr& operator=(const unique_bstr&) = delete;
    unique_bstr(unique_bstr&& other) noexcept : value_(other.release()) {}
    unique_bstr& operator=(unique_bstr&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    BSTR get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != nullptr; }
    UINT length() const noexcept { return ::SysStringLen(value_); }

    void reset(BSTR value = nullptr) noexcept {
        if (BSTR old = std::exchange(value_, value)) ::SysFreeString(old);
    }
    [[nodiscard]] BSTR release() noexcept { return std::exchange(value_, nullptr); }
    BSTR* put() noexcept {
        reset();
        return &value_;
    }

private:
    BSTR value_ = nullptr;
};

// An owned VARIANT: initialised empty, cleared when it goes.
class unique_variant {
public:
    unique_variant() noexcept { ::VariantInit(&value_); }
    ~unique_variant() { reset(); }
    unique_variant(const unique_variant&) = delete;
    unique_variant& operator=(const unique_variant&) = delete;

    static unique_variant from_int(int32_t value) noexcept {
        unique_variant result;
        result.value_.vt = VT_I4;
        result.value_.lVal = value;
        return result;
    }

    unique_variant(unique_variant&& other) noexcept : value_(other.release()) {}
    unique_variant& operator=(unique_variant&& other) noexcept {
        if (this != &other) {
            reset();
            value_ = other.release();
        }
        return *this;
    }

    VARIANT* get() noexcept { return &value_; }
    const VARIANT* get() const noexcept { return &value_; }
    VARIANT* operator->() noexcept { return &value_; }
    const VARIANT* operator->() const noexcept { return &value_; }
    VARTYPE type() const noexcept { return value_.vt; }

    // Clears the value; the VARIANT is VT_EMPTY afterwards.
    void reset() noexcept {
        ::VariantClear(&value_);
        ::VariantInit(&value_);
    }
    // Clears the value and hands the empty VARIANT to an out-parameter.
    VARIANT* put() noexcept {
        reset();
        return &value_;
    }
    // Gives the value away; this VARIANT is VT_EMPTY afterwards.
    [[nodiscard]] VARIANT release() noexcept {
        VARIANT result = value_;
        ::VariantInit(&value_);
        return result;
    }

private:
    VARIANT value_;
};

// An owned SAFEARRAY (null is the empty value), destroyed with its elements.
class unique_safearray {
public:
    unique_safearray() noexcept = default;
    explicit unique_safearray(SAFEARRAY* array) noexcept : array_(array) {}
    ~unique_safearray() { reset(); }
    unique_safearray(const unique_safearray&) = delete;
    unique_safearray& operator=(const unique_safearray&) = delete;
    unique_safearray(unique_safearray&& other) noexcept : array_(other.release()) {}
    unique_safearray& operator=(unique_safearray&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    // A one-dimensional array of `count` elements of `type`, indexed from 0;
    // empty when memory runs out.
    static unique_safearray create_vector(VARTYPE type, ULONG count) noexcept {
        return unique_safearray(::SafeArrayCreateVector(type, 0, count));
    }

    SAFEARRAY* get() const noexcept { return array_; }
    explicit operator bool() const noexcept { return array_ != nullptr; }

    void reset(SAFEARRAY* array = nullptr) noexcept {
        if (SAFEARRAY* old = std::exchange(array_, array)) ::SafeArrayDestroy(old);
    }
    [[nodiscard]] SAFEARRAY* release() noexcept { return std::exchange(array_, nullptr); }
    SAFEARRAY** put() noexcept {
        reset();
        return &array_;
    }
    // The address of the held array, for an in-out parameter: the array stays.
    SAFEARRAY** addressof() noexcept { return &array_; }

private:
    SAFEARRAY* array_ = nullptr;
};

// Element access of a one-dimensional SAFEARRAY of VARIANT. An array of any
// other shape or element type is treated as having no elements, so a host
// that hands in the wrong kind of array cannot make us read or write past
// its elements.
class variant_array {
public:
    explicit variant_array(SAFEARRAY* array) noexcept : array_(IsVariantVector(array) ? array : nullptr) {}

    bool usable() const noexcept { return array_ != nullptr; }

    // Copies element `index` into `element`; false when there is no such
    // element.
    bool get(LONG index, unique_variant& element) const noexcept {
        if (array_ == nullptr) return false;
        return SUCCEEDED(::SafeArrayGetElement(array_, &index, element.put()));
    }

    // Copies `value` into element `index`.
    HRESULT put(LONG index, const VARIANT& value) noexcept {
        if (array_ == nullptr) return E_INVALIDARG;
        return ::SafeArrayPutElement(array_, &index, const_cast<VARIANT*>(&value));
    }

private:
    static bool IsVariantVector(SAFEARRAY* array) noexcept {
        if (array == nullptr || ::SafeArrayGetDim(array) != 1) return false;
        if (::SafeArrayGetElemsize(array) != sizeof(VARIANT)) return false;
        VARTYPE type = VT_EMPTY;
        return SUCCEEDED(::SafeArrayGetVartype(array, &type)) && type == VT_VARIANT;
    }

    SAFEARRAY* array_;
};

}  // namespace quill::win
