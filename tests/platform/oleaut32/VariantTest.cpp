#include <gtest/gtest.h>
#include <oleauto.h>

#include <string>

namespace {

// An object that counts its references and answers IDispatch with a default property of 42.
struct CountedDispatch : IDispatch {
    ULONG refs = 1;
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override
    {
        return ++refs;
    }
    STDMETHODIMP_(ULONG) Release() override
    {
        return --refs;
    }
    STDMETHODIMP GetTypeInfoCount(UINT*) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override
    {
        if (id != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET) || !result)
            return DISP_E_MEMBERNOTFOUND;
        result->vt = VT_I4;
        result->lVal = 42;
        return S_OK;
    }
};

VARIANT MakeI4(LONG n)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = n;
    return v;
}

VARIANT MakeBstr(const char16_t* text)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(text);
    return v;
}

std::u16string TextOf(const VARIANT& v)
{
    return std::u16string(v.bstrVal, SysStringLen(v.bstrVal));
}

}

TEST(Variant, ClearFreesWhatItOwnsAndRejectsUnknownTypes)
{
    CountedDispatch object;
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_DISPATCH;
    v.pdispVal = &object;
    object.AddRef();
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
    EXPECT_EQ(object.refs, 1u);

    // A reference owns nothing: its target stays.
    LONG target = 5;
    v.vt = VT_I4 | VT_BYREF;
    v.plVal = &target;
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(target, 5);

    v.vt = 0x77;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
}

TEST(Variant, CopyDuplicatesStringsAndReferencesInterfaces)
{
    VARIANT source = MakeBstr(u"text");
    VARIANT copy = MakeI4(1);
    ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
    EXPECT_EQ(copy.vt, VT_BSTR);
    EXPECT_NE(copy.bstrVal, source.bstrVal);
    EXPECT_EQ(TextOf(copy), u"text");
    VariantClear(&source);
    VariantClear(&copy);

    CountedDispatch object;
    source.vt = VT_UNKNOWN;
    source.punkVal = &object;
    ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
    EXPECT_EQ(object.refs, 2u);
    VariantClear(&copy);
    EXPECT_EQ(object.refs, 1u);

    // Copying by indirection reads through a reference.
    BSTR referenced = SysAllocString(u"deep");
    source.vt = VT_BSTR | VT_BYREF;
    source.pbstrVal = &referenced;
    ASSERT_EQ(VariantCopyInd(&copy, &source), S_OK);
    EXPECT_EQ(copy.vt, VT_BSTR);
    EXPECT_EQ(TextOf(copy), u"deep");
    VariantClear(&copy);
    SysFreeString(referenced);
}

TEST(Variant, ChangeTypeConvertsTheTypesInUse)
{
    struct Case {
        const char* name;
        VARIANT source;
        VARTYPE target;
        USHORT flags;
        HRESULT expected;
        LONGLONG number; // the result read as an integer of the target type
        const char16_t* text; // the result for VT_BSTR
    };
    VARIANT boolTrue;
    VariantInit(&boolTrue);
    boolTrue.vt = VT_BOOL;
    boolTrue.boolVal = VARIANT_TRUE;
    VARIANT real;
    VariantInit(&real);
    real.vt = VT_R8;
    real.dblVal = 2.5;
    VARIANT null;
    VariantInit(&null);
    null.vt = VT_NULL;
    VARIANT empty;
    VariantInit(&empty);
    VARIANT i2;
    VariantInit(&i2);
    i2.vt = VT_I2;
    i2.iVal = -7;
    Case cases[] = {
        { "i4 to bstr", MakeI4(-123), VT_BSTR, 0, S_OK, 0, u"-123" },
        { "bstr to i4", MakeBstr(u" 456 "), VT_I4, 0, S_OK, 456, nullptr },
        { "bstr not a number", MakeBstr(u"12x"), VT_I4, 0, DISP_E_TYPEMISMATCH, 0, nullptr },
        { "bstr too big for i2", MakeBstr(u"40000"), VT_I2, 0, DISP_E_OVERFLOW, 0, nullptr },
        { "i4 too big for i2", MakeI4(70000), VT_I2, 0, DISP_E_OVERFLOW, 0, nullptr },
        { "negative i4 to ui4", MakeI4(-1), VT_UI4, 0, DISP_E_OVERFLOW, 0, nullptr },
        { "i4 to ui4", MakeI4(300), VT_UI4, 0, S_OK, 300, nullptr },
        { "i2 to i4", i2, VT_I4, 0, S_OK, -7, nullptr },
        { "i4 to bool", MakeI4(9), VT_BOOL, 0, S_OK, VARIANT_TRUE, nullptr },
        { "bool to i4", boolTrue, VT_I4, 0, S_OK, -1, nullptr },
        { "bool to bstr", boolTrue, VT_BSTR, 0, S_OK, 0, u"-1" },
        { "bool to alpha bstr", boolTrue, VT_BSTR, VARIANT_ALPHABOOL, S_OK, 0, u"True" },
        { "bstr false to bool", MakeBstr(u"False"), VT_BOOL, 0, S_OK, VARIANT_FALSE, nullptr },
        { "bstr word to bool", MakeBstr(u"maybe"), VT_BOOL, 0, DISP_E_TYPEMISMATCH, 0, nullptr },
        { "real rounds half to even", real, VT_I4, 0, S_OK, 2, nullptr },
        { "empty to i4", empty, VT_I4, 0, S_OK, 0, nullptr },
        { "empty to bstr", empty, VT_BSTR, 0, S_OK, 0, u"" },
        { "null to i4", null, VT_I4, 0, DISP_E_TYPEMISMATCH, 0, nullptr },
        { "null to null", null, VT_NULL, 0, S_OK, 0, nullptr },
        { "i4 to null", MakeI4(1), VT_NULL, 0, DISP_E_TYPEMISMATCH, 0, nullptr },
        { "i4 to unknown", MakeI4(1), VT_UNKNOWN, 0, DISP_E_TYPEMISMATCH, 0, nullptr },
        { "i4 to a bad type", MakeI4(1), 0x77, 0, DISP_E_BADVARTYPE, 0, nullptr },
        { "i4 to a reference", MakeI4(1), VT_I4 | VT_BYREF, 0, DISP_E_BADVARTYPE, 0, nullptr },
    };
    for (Case& c : cases) {
        VARIANT result;
        VariantInit(&result);
        EXPECT_EQ(VariantChangeType(&result, &c.source, c.flags, c.target), c.expected) << c.name;
        if (c.expected == S_OK) {
            EXPECT_EQ(result.vt, c.target) << c.name;
            if (c.target == VT_BSTR) {
                EXPECT_EQ(TextOf(result), c.text) << c.name;
            } else if (c.target == VT_I4) {
                EXPECT_EQ(result.lVal, c.number) << c.name;
            } else if (c.target == VT_UI4) {
                EXPECT_EQ(result.ulVal, static_cast<ULONG>(c.number)) << c.name;
            } else if (c.target == VT_BOOL) {
                EXPECT_EQ(result.boolVal, c.number) << c.name;
            }
        } else {
            EXPECT_EQ(result.vt, VT_EMPTY) << c.name;
        }
        VariantClear(&result);
        VariantClear(&c.source);
    }
}

TEST(Variant, ChangeTypeInPlaceAndThroughReferencesAndObjects)
{
    VARIANT v = MakeBstr(u"77");
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 77);

    LONG target = 12;
    VARIANT byRef;
    VariantInit(&byRef);
    byRef.vt = VT_I4 | VT_BYREF;
    byRef.plVal = &target;
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(VariantChangeType(&result, &byRef, 0, VT_BSTR), S_OK);
    EXPECT_EQ(TextOf(result), u"12");
    VariantClear(&result);

    // An object converts through its default property unless that is turned off.
    CountedDispatch object;
    VARIANT dispatch;
    VariantInit(&dispatch);
    dispatch.vt = VT_DISPATCH;
    dispatch.pdispVal = &object;
    ASSERT_EQ(VariantChangeType(&result, &dispatch, 0, VT_I4), S_OK);
    EXPECT_EQ(result.lVal, 42);
    EXPECT_EQ(VariantChangeType(&result, &dispatch, VARIANT_NOVALUEPROP, VT_I4), DISP_E_TYPEMISMATCH);
    ASSERT_EQ(VariantChangeType(&result, &dispatch, 0, VT_UNKNOWN), S_OK);
    EXPECT_EQ(object.refs, 2u);
    VariantClear(&result);
    EXPECT_EQ(object.refs, 1u);
}

TEST(Variant, DispGetParamReadsPositionalArgumentsLastFirstAndNamedOnes)
{
    // Invoke(first, second) with a named argument 7: rgvarg holds [named, second, first].
    VARIANT args[3] = { MakeI4(700), MakeBstr(u"2"), MakeBstr(u"one") };
    DISPID names[] = { 7 };
    DISPPARAMS params { args, names, 3, 1 };
    VARIANT result;
    UINT argErr = 99;
    ASSERT_EQ(DispGetParam(&params, 0, VT_BSTR, &result, &argErr), S_OK);
    EXPECT_EQ(TextOf(result), u"one");
    VariantClear(&result);
    ASSERT_EQ(DispGetParam(&params, 1, VT_I4, &result, &argErr), S_OK);
    EXPECT_EQ(result.lVal, 2);
    ASSERT_EQ(DispGetParam(&params, 7, VT_I4, &result, &argErr), S_OK);
    EXPECT_EQ(result.lVal, 700);
    EXPECT_EQ(DispGetParam(&params, 3, VT_I4, &result, &argErr), DISP_E_PARAMNOTFOUND);
    EXPECT_EQ(DispGetParam(&params, 0, VT_I4, &result, &argErr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 2u);
    for (VARIANT& arg : args)
        VariantClear(&arg);
}
