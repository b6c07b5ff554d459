// VARIANT: initialisation, clearing, copying and the type conversions the platform's callers use.
// Conversions go through one intermediate value (integer, real, boolean, text, interface), so each
// source type is read once and each target type written once.
#include "oleauto.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

namespace {

bool IsInterfaceType(VARTYPE vt)
{
    return vt == VT_DISPATCH || vt == VT_UNKNOWN;
}

// The base types whose values a VARIANT can hold here, by value or by reference.
bool IsKnownBaseType(VARTYPE vt)
{
    switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_BOOL:
    case VT_UNKNOWN:
    case VT_DECIMAL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
        return true;
    default:
        return false;
    }
}

bool IsValidType(VARTYPE vt)
{
    if (vt & VT_BYREF) {
        VARTYPE base = vt & ~VT_BYREF;
        return base == VT_VARIANT || (IsKnownBaseType(base) && base != VT_EMPTY && base != VT_NULL);
    }
    return IsKnownBaseType(vt);
}

// One value between a source and a target type.
struct Value {
    enum class Kind { Empty, Null, Integer, Unsigned, Real, Boolean, Text, Interface, Other } kind = Kind::Other;
    int64_t integer = 0;
    uint64_t unsignedInteger = 0;
    double real = 0;
    bool boolean = false;
    std::u16string text;
    IUnknown* object = nullptr; // not referenced: the source outlives the conversion
    VARTYPE objectType = VT_EMPTY;
};

// The variant a (possibly by-reference) variant stands for, with its value-type tag.
const VARIANT* Dereference(const VARIANT* v, VARIANT& scratch)
{
    if (!(v->vt & VT_BYREF))
        return v;
    VARTYPE base = v->vt & ~VT_BYREF;
    if (base == VT_VARIANT)
        return v->pvarVal;
    scratch.vt = base;
    switch (base) {
    case VT_I1:
        scratch.cVal = *v->pcVal;
        break;
    case VT_UI1:
        scratch.bVal = *v->pbVal;
        break;
    case VT_I2:
        scratch.iVal = *v->piVal;
        break;
    case VT_UI2:
        scratch.uiVal = *v->puiVal;
        break;
    case VT_I4:
        scratch.lVal = *v->plVal;
        break;
    case VT_UI4:
        scratch.ulVal = *v->pulVal;
        break;
    case VT_INT:
        scratch.intVal = *v->pintVal;
        break;
    case VT_UINT:
        scratch.uintVal = *v->puintVal;
        break;
    case VT_I8:
        scratch.llVal = *v->pllVal;
        break;
    case VT_UI8:
        scratch.ullVal = *v->pullVal;
        break;
    case VT_R4:
        scratch.fltVal = *v->pfltVal;
        break;
    case VT_R8:
        scratch.dblVal = *v->pdblVal;
        break;
    case VT_BOOL:
        scratch.boolVal = *v->pboolVal;
        break;
    case VT_ERROR:
        scratch.scode = *v->pscode;
        break;
    case VT_BSTR:
        scratch.bstrVal = *v->pbstrVal;
        break;
    case VT_DISPATCH:
        scratch.pdispVal = *v->ppdispVal;
        break;
    case VT_UNKNOWN:
        scratch.punkVal = *v->ppunkVal;
        break;
    default:
        scratch.vt = VT_ILLEGAL;
        break;
    }
    return &scratch;
}

Value Read(const VARIANT& v)
{
    Value value;
    using Kind = Value::Kind;
    auto integer = [&](int64_t n) {
        value.kind = Kind::Integer;
        value.integer = n;
    };
    switch (v.vt) {
    case VT_EMPTY:
        value.kind = Kind::Empty;
        break;
    case VT_NULL:
        value.kind = Kind::Null;
        break;
    case VT_I1:
        integer(v.cVal);
        break;
    case VT_UI1:
        integer(v.bVal);
        break;
    case VT_I2:
        integer(v.iVal);
        break;
    case VT_UI2:
        integer(v.uiVal);
        break;
    case VT_I4:
        integer(v.lVal);
        break;
    case VT_UI4:
        integer(v.ulVal);
        break;
    case VT_INT:
        integer(v.intVal);
        break;
    case VT_UINT:
        integer(v.uintVal);
        break;
    case VT_I8:
        integer(v.llVal);
        break;
    case VT_UI8:
        value.kind = Kind::Unsigned;
        value.unsignedInteger = v.ullVal;
        break;
    case VT_R4:
        value.kind = Kind::Real;
        value.real = v.fltVal;
        break;
    case VT_R8:
        value.kind = Kind::Real;
        value.real = v.dblVal;
        break;
    case VT_BOOL:
        value.kind = Kind::Boolean;
        value.boolean = v.boolVal != VARIANT_FALSE;
        break;
    case VT_BSTR:
        value.kind = Kind::Text;
        if (v.bstrVal)
            value.text.assign(v.bstrVal, SysStringLen(v.bstrVal));
        break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
        value.kind = Kind::Interface;
        value.object = v.punkVal;
        value.objectType = v.vt;
        break;
    default:
        break;
    }
    return value;
}

std::u16string Widen(const std::string& narrow)
{
    return std::u16string(narrow.begin(), narrow.end());
}

// Parses decimal text ("  -12 ", "3.5", "1e3") as a number.
bool ParseNumber(const std::u16string& text, double& out)
{
    std::string narrow;
    for (char16_t c : text) {
        if (c > 0x7f)
            return false;
        narrow.push_back(static_cast<char>(c));
    }
    const char* begin = narrow.c_str();
    char* end = nullptr;
    out = std::strtod(begin, &end);
    if (end == begin)
        return false;
    while (*end == ' ' || *end == '\t')
        ++end;
    return *end == '\0' && std::isfinite(out);
}

bool EqualsIgnoringCase(const std::u16string& text, const char* word)
{
    size_t i = 0;
    for (; word[i]; ++i) {
        if (i >= text.size())
            return false;
        char16_t c = text[i];
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != static_cast<char16_t>(word[i]))
            return false;
    }
    return i == text.size();
}

// Rounds half to even, as Automation's conversions do.
double RoundToEven(double x)
{
    return std::nearbyint(x);
}

// The value as a whole number in [low, high], or the reason it is not one.
HRESULT ToInteger(const Value& value, long double low, long double high, int64_t& out, uint64_t& outUnsigned)
{
    using Kind = Value::Kind;
    long double number = 0;
    switch (value.kind) {
    case Kind::Empty:
        number = 0;
        break;
    case Kind::Integer:
        number = static_cast<long double>(value.integer);
        break;
    case Kind::Unsigned:
        number = static_cast<long double>(value.unsignedInteger);
        break;
    case Kind::Real:
        number = RoundToEven(value.real);
        break;
    case Kind::Boolean:
        number = value.boolean ? -1 : 0;
        break;
    case Kind::Text: {
        double parsed = 0;
        if (!ParseNumber(value.text, parsed))
            return DISP_E_TYPEMISMATCH;
        number = RoundToEven(parsed);
        break;
    }
    default:
        return DISP_E_TYPEMISMATCH;
    }
    if (number < low || number > high)
        return DISP_E_OVERFLOW;
    if (number < 0) {
        out = static_cast<int64_t>(number);
    } else {
        outUnsigned = static_cast<uint64_t>(number);
        out = static_cast<int64_t>(outUnsigned);
    }
    return S_OK;
}

HRESULT ToReal(const Value& value, double& out)
{
    using Kind = Value::Kind;
    switch (value.kind) {
    case Kind::Empty:
        out = 0;
        return S_OK;
    case Kind::Integer:
        out = static_cast<double>(value.integer);
        return S_OK;
    case Kind::Unsigned:
        out = static_cast<double>(value.unsignedInteger);
        return S_OK;
    case Kind::Real:
        out = value.real;
        return S_OK;
    case Kind::Boolean:
        out = value.boolean ? -1 : 0;
        return S_OK;
    case Kind::Text:
        return ParseNumber(value.text, out) ? S_OK : DISP_E_TYPEMISMATCH;
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

HRESULT ToBoolean(const Value& value, bool& out)
{
    using Kind = Value::Kind;
    switch (value.kind) {
    case Kind::Empty:
        out = false;
        return S_OK;
    case Kind::Integer:
        out = value.integer != 0;
        return S_OK;
    case Kind::Unsigned:
        out = value.unsignedInteger != 0;
        return S_OK;
    case Kind::Real:
        out = value.real != 0;
        return S_OK;
    case Kind::Boolean:
        out = value.boolean;
        return S_OK;
    case Kind::Text: {
        if (EqualsIgnoringCase(value.text, "true") || EqualsIgnoringCase(value.text, "#true#")) {
            out = true;
            return S_OK;
        }
        if (EqualsIgnoringCase(value.text, "false") || EqualsIgnoringCase(value.text, "#false#")) {
            out = false;
            return S_OK;
        }
        double number = 0;
        if (!ParseNumber(value.text, number))
            return DISP_E_TYPEMISMATCH;
        out = number != 0;
        return S_OK;
    }
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

HRESULT ToText(const Value& value, USHORT flags, std::u16string& out)
{
    using Kind = Value::Kind;
    switch (value.kind) {
    case Kind::Empty:
        out.clear();
        return S_OK;
    case Kind::Integer:
        out = Widen(std::to_string(value.integer));
        return S_OK;
    case Kind::Unsigned:
        out = Widen(std::to_string(value.unsignedInteger));
        return S_OK;
    case Kind::Real: {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.15G", value.real);
        out = Widen(buffer);
        return S_OK;
    }
    case Kind::Boolean:
        if (flags & VARIANT_ALPHABOOL)
            out = value.boolean ? u"True" : u"False";
        else
            out = value.boolean ? u"-1" : u"0";
        return S_OK;
    case Kind::Text:
        out = value.text;
        return S_OK;
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

// Writes the value into `out` (already empty) as type vt.
HRESULT Write(const Value& value, VARTYPE vt, USHORT flags, VARIANT& out)
{
    using Kind = Value::Kind;
    if (value.kind == Kind::Null)
        return vt == VT_NULL ? (out.vt = VT_NULL, S_OK) : DISP_E_TYPEMISMATCH;
    int64_t n = 0;
    uint64_t u = 0;
    HRESULT hr = S_OK;
    auto integer = [&](long double low, long double high) { return hr = ToInteger(value, low, high, n, u); };
    switch (vt) {
    case VT_NULL:
        return DISP_E_TYPEMISMATCH;
    case VT_I1:
        if (FAILED(integer(-128, 127)))
            return hr;
        out.cVal = static_cast<CHAR>(n);
        break;
    case VT_UI1:
        if (FAILED(integer(value.kind == Kind::Boolean ? -1 : 0, 255)))
            return hr;
        out.bVal = static_cast<BYTE>(n);
        break;
    case VT_I2:
        if (FAILED(integer(-32768, 32767)))
            return hr;
        out.iVal = static_cast<SHORT>(n);
        break;
    case VT_UI2:
        if (FAILED(integer(value.kind == Kind::Boolean ? -1 : 0, 65535)))
            return hr;
        out.uiVal = static_cast<USHORT>(n);
        break;
    case VT_I4:
    case VT_INT:
        if (FAILED(integer(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max())))
            return hr;
        out.lVal = static_cast<LONG>(n);
        break;
    case VT_UI4:
    case VT_UINT:
        if (FAILED(integer(value.kind == Kind::Boolean ? -1 : 0, std::numeric_limits<uint32_t>::max())))
            return hr;
        out.ulVal = static_cast<ULONG>(n);
        break;
    case VT_I8:
        if (FAILED(integer(std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max())))
            return hr;
        out.llVal = n;
        break;
    case VT_UI8:
        if (FAILED(integer(value.kind == Kind::Boolean ? -1 : 0, std::numeric_limits<uint64_t>::max())))
            return hr;
        out.ullVal = n < 0 ? static_cast<uint64_t>(n) : u;
        break;
    case VT_R4:
    case VT_R8: {
        double real = 0;
        if (FAILED(hr = ToReal(value, real)))
            return hr;
        if (vt == VT_R4) {
            if (std::fabs(real) > std::numeric_limits<float>::max())
                return DISP_E_OVERFLOW;
            out.fltVal = static_cast<float>(real);
        } else {
            out.dblVal = real;
        }
        break;
    }
    case VT_BOOL: {
        bool boolean = false;
        if (FAILED(hr = ToBoolean(value, boolean)))
            return hr;
        out.boolVal = boolean ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    }
    case VT_BSTR: {
        std::u16string text;
        if (FAILED(hr = ToText(value, flags, text)))
            return hr;
        out.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (!out.bstrVal)
            return E_OUTOFMEMORY;
        break;
    }
    case VT_DISPATCH:
    case VT_UNKNOWN: {
        if (value.kind != Kind::Interface)
            return DISP_E_TYPEMISMATCH;
        void* object = nullptr;
        if (value.object) {
            hr = value.object->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &object);
            if (FAILED(hr))
                return hr;
        }
        out.punkVal = static_cast<IUnknown*>(object);
        break;
    }
    default:
        return DISP_E_TYPEMISMATCH;
    }
    out.vt = vt;
    return S_OK;
}

// The value of an object's default property (DISPID_VALUE), for converting an object to a
// plain type.
HRESULT DefaultValue(IDispatch* object, VARIANT& out)
{
    if (!object)
        return DISP_E_TYPEMISMATCH;
    DISPPARAMS none { nullptr, nullptr, 0, 0 };
    HRESULT hr = object->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &out, nullptr, nullptr);
    return FAILED(hr) ? DISP_E_TYPEMISMATCH : S_OK;
}

}

extern "C" {

void WINAPI VariantInit(VARIANTARG* pvarg)
{
    pvarg->vt = VT_EMPTY;
    pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
}

HRESULT WINAPI VariantClear(VARIANTARG* pvarg)
{
    if (!pvarg)
        return E_INVALIDARG;
    if (!IsValidType(pvarg->vt))
        return DISP_E_BADVARTYPE;
    if (pvarg->vt == VT_BSTR)
        SysFreeString(pvarg->bstrVal);
    else if (IsInterfaceType(pvarg->vt) && pvarg->punkVal)
        pvarg->punkVal->Release();
    pvarg->vt = VT_EMPTY;
    return S_OK;
}

HRESULT WINAPI VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc)
{
    if (!pvargDest || !pvargSrc)
        return E_INVALIDARG;
    if (pvargDest == pvargSrc)
        return S_OK;
    if (!IsValidType(pvargSrc->vt))
        return DISP_E_BADVARTYPE;
    HRESULT hr = VariantClear(pvargDest);
    if (FAILED(hr))
        return hr;
    *pvargDest = *pvargSrc;
    if (pvargSrc->vt == VT_BSTR && pvargSrc->bstrVal) {
        pvargDest->bstrVal
            = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(pvargSrc->bstrVal), SysStringByteLen(pvargSrc->bstrVal));
        if (!pvargDest->bstrVal) {
            pvargDest->vt = VT_EMPTY;
            return E_OUTOFMEMORY;
        }
    } else if (IsInterfaceType(pvargSrc->vt) && pvargSrc->punkVal) {
        pvargSrc->punkVal->AddRef();
    }
    return S_OK;
}

HRESULT WINAPI VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc)
{
    if (!pvarDest || !pvargSrc)
        return E_INVALIDARG;
    if (!IsValidType(pvargSrc->vt))
        return DISP_E_BADVARTYPE;
    VARIANT scratch;
    VariantInit(&scratch);
    const VARIANT* source = Dereference(pvargSrc, scratch);
    if (!source || !IsValidType(source->vt) || (source->vt & VT_BYREF))
        return E_INVALIDARG;
    // Copied through a temporary: the destination may be the source.
    VARIANT copy;
    VariantInit(&copy);
    HRESULT hr = VariantCopy(&copy, source);
    if (FAILED(hr))
        return hr;
    if (FAILED(hr = VariantClear(pvarDest))) {
        VariantClear(&copy);
        return hr;
    }
    *pvarDest = copy;
    return S_OK;
}

HRESULT WINAPI VariantChangeTypeEx(
    VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid, USHORT wFlags, VARTYPE vt)
{
    if (!pvargDest || !pvarSrc)
        return E_INVALIDARG;
    if (!IsValidType(pvarSrc->vt) || (vt & VT_BYREF) || !IsKnownBaseType(vt))
        return DISP_E_BADVARTYPE;
    VARIANT scratch;
    VariantInit(&scratch);
    const VARIANT* source = Dereference(pvarSrc, scratch);
    if (!source || !IsKnownBaseType(source->vt))
        return DISP_E_BADVARTYPE;

    VARIANT result;
    VariantInit(&result);
    HRESULT hr = S_OK;
    if (vt == VT_EMPTY) {
        hr = S_OK;
    } else if (source->vt == vt) {
        hr = VariantCopy(&result, source);
    } else if (source->vt == VT_DISPATCH && !IsInterfaceType(vt) && !(wFlags & VARIANT_NOVALUEPROP)) {
        VARIANT property;
        VariantInit(&property);
        hr = DefaultValue(source->pdispVal, property);
        if (SUCCEEDED(hr) && property.vt != VT_DISPATCH)
            hr = VariantChangeTypeEx(&result, &property, lcid, wFlags, vt);
        else if (SUCCEEDED(hr))
            hr = DISP_E_TYPEMISMATCH;
        VariantClear(&property);
    } else {
        hr = Write(Read(*source), vt, wFlags, result);
    }
    if (FAILED(hr))
        return hr;
    // The destination is cleared only now: it may be the source.
    if (FAILED(hr = VariantClear(pvargDest))) {
        VariantClear(&result);
        return hr;
    }
    *pvargDest = result;
    return S_OK;
}

HRESULT WINAPI VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt)
{
    return VariantChangeTypeEx(pvargDest, pvarSrc, 0, wFlags, vt);
}

HRESULT WINAPI DispGetParam(DISPPARAMS* pdispparams, UINT position, VARTYPE vtTarg, VARIANT* pvarResult, UINT* puArgErr)
{
    if (!pdispparams || !pvarResult)
        return E_INVALIDARG;
    UINT positional = pdispparams->cArgs - pdispparams->cNamedArgs;
    UINT index = 0;
    if (position < positional) {
        // Arguments are stored last first.
        index = pdispparams->cArgs - 1 - position;
    } else {
        UINT named = 0;
        while (
            named < pdispparams->cNamedArgs && pdispparams->rgdispidNamedArgs[named] != static_cast<DISPID>(position))
            ++named;
        if (named == pdispparams->cNamedArgs)
            return DISP_E_PARAMNOTFOUND;
        index = named;
    }
    VariantInit(pvarResult);
    HRESULT hr = VariantChangeType(pvarResult, &pdispparams->rgvarg[index], 0, vtTarg);
    if (FAILED(hr)) {
        if (puArgErr)
            *puArgErr = index;
        return hr == DISP_E_OVERFLOW ? hr : DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}
}
