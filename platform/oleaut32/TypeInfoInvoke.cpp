// ITypeInfo::Invoke through an object's function table: the VARIANT arguments are converted to
// the parameter types the type library gives, and the function is called through VtableCall.
#include "TypeLib.h"

#include "VtableCall.h"

namespace platform {

namespace {

static_assert(sizeof(void*) == 8 && sizeof(VARIANT) % 8 == 0, "words of the x86-64 calling convention");

using Word = VtableCall::Word;

// The word that passes a converted by-value argument of type vt.
Word ValueWord(const VARIANT& value, VARTYPE vt)
{
    switch (vt) {
    case VT_I2:
        return static_cast<Word>(static_cast<uint16_t>(value.iVal));
    case VT_BOOL:
        return static_cast<Word>(static_cast<uint16_t>(value.boolVal));
    case VT_UI1:
        return value.bVal;
    case VT_UI2:
        return value.uiVal;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
        return static_cast<Word>(static_cast<uint32_t>(value.lVal));
    default:
        return reinterpret_cast<Word>(value.byref); // BSTR, IDispatch*, IUnknown*
    }
}

bool IsByValueType(VARTYPE vt)
{
    switch (vt) {
    case VT_I2:
    case VT_I4:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_BOOL:
    case VT_ERROR:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN:
        return true;
    default:
        return false;
    }
}

// The variants that the call's arguments hold, cleared when the call is over.
class Converted {
public:
    explicit Converted(size_t count)
        : m_values(count)
    {
        for (VARIANT& value : m_values)
            VariantInit(&value);
    }
    ~Converted()
    {
        for (VARIANT& value : m_values)
            VariantClear(&value);
    }
    Converted(const Converted&) = delete;
    Converted& operator=(const Converted&) = delete;
    VARIANT& operator[](size_t index)
    {
        return m_values[index];
    }

private:
    std::vector<VARIANT> m_values;
};

}

HRESULT InvokeThroughVtable(
    void* instance, const TlbFunc& func, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* argumentError)
{
    if (func.result.vts != std::vector<uint16_t> { VT_HRESULT })
        return DISP_E_BADCALLEE;
    const bool hasRetval = !func.params.empty() && (func.params.back().flags & PARAMFLAG_FRETVAL);
    const size_t inputs = func.params.size() - hasRetval;
    const bool propertyPut = func.invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF);
    if (params->cNamedArgs > 0
        && !(propertyPut && params->cNamedArgs == 1 && params->rgdispidNamedArgs
            && params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT))
        return DISP_E_NONAMEDARGS;
    if (params->cArgs != inputs)
        return params->cArgs < inputs ? DISP_E_PARAMNOTOPTIONAL : DISP_E_BADPARAMCOUNT;
    if (params->cArgs > 0 && !params->rgvarg)
        return E_INVALIDARG;

    VtableCall arguments;
    arguments.AddWord(reinterpret_cast<Word>(instance));
    Converted converted(func.params.size());
    for (size_t i = 0; i < inputs; ++i) {
        // Positional arguments come last first; the named DISPID_PROPERTYPUT value is rgvarg[0].
        const UINT position = propertyPut && i + 1 == inputs ? 0 : static_cast<UINT>(params->cArgs - 1 - i);
        VARIANT& argument = params->rgvarg[position];
        const std::vector<uint16_t>& vts = func.params[i].type.vts;
        bool passed = false;
        if (vts.size() == 1 && IsByValueType(vts[0])) {
            passed = SUCCEEDED(VariantChangeType(&converted[i], &argument, 0, vts[0]))
                && arguments.AddWord(ValueWord(converted[i], vts[0]));
        } else if (vts.size() == 1 && vts[0] == VT_VARIANT) {
            passed = SUCCEEDED(VariantCopyInd(&converted[i], &argument))
                && arguments.AddStack(&converted[i], sizeof(VARIANT) / sizeof(Word));
        } else if (vts.size() == 2 && vts[0] == VT_PTR) {
            // A pointer takes the caller's by-reference argument of the same type; VARIANT* also
            // takes the argument itself.
            if (V_VT(&argument) == (VT_BYREF | vts[1]))
                passed = arguments.AddWord(reinterpret_cast<Word>(argument.byref));
            else if (vts[1] == VT_VARIANT)
                passed = arguments.AddWord(reinterpret_cast<Word>(&argument));
        }
        if (!passed) {
            if (argumentError)
                *argumentError = position;
            return DISP_E_TYPEMISMATCH;
        }
    }
    VARIANT* retval = hasRetval ? &converted[inputs] : nullptr;
    if (retval) {
        const std::vector<uint16_t>& vts = func.params.back().type.vts;
        if (vts.size() != 2 || !(IsByValueType(vts[1]) || vts[1] == VT_VARIANT))
            return DISP_E_BADVARTYPE;
        // The function writes a VARIANT whole, any other type into the value of a VARIANT of it.
        if (vts[1] != VT_VARIANT)
            V_VT(retval) = vts[1];
        arguments.AddWord(
            vts[1] == VT_VARIANT ? reinterpret_cast<Word>(retval) : reinterpret_cast<Word>(&retval->byref));
    }
    const HRESULT hr = arguments.Call(instance, func.vtableSlot);
    if (FAILED(hr)) {
        // A failure of the function itself reaches the caller as an exception with its code.
        if (exception) {
            *exception = EXCEPINFO {};
            exception->scode = hr;
        }
        return DISP_E_EXCEPTION;
    }
    if (retval && result) {
        VariantClear(result);
        *result = *retval;
        VariantInit(retval);
    }
    return S_OK;
}

}
