// GUIDs: the 128-bit identifiers of classes, interfaces and type libraries.
// DEFINE_GUID makes an inline constant, one object for the whole program, so its address can be
// a template argument (IDispatchImpl<T, &IID_IFoo, &LIBID_Foo>). Compare with IsEqualGUID or ==.
#pragma once

typedef struct _GUID {
    unsigned int Data1;
    unsigned short Data2;
    unsigned short Data3;
    unsigned char Data4[8];
} GUID;

typedef GUID IID;
typedef GUID CLSID;
typedef GUID FMTID;
typedef GUID* LPGUID;
typedef const GUID* LPCGUID;
typedef IID* LPIID;
typedef CLSID* LPCLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;
typedef const FMTID& REFFMTID;

#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)                                                   \
    inline constexpr GUID name = { l, w1, w2, { b1, b2, b3, b4, b5, b6, b7, b8 } }

DEFINE_GUID(GUID_NULL, 0x00000000, 0x0000, 0x0000, 0, 0, 0, 0, 0, 0, 0, 0);
#define IID_NULL GUID_NULL
#define CLSID_NULL GUID_NULL

constexpr bool IsEqualGUID(REFGUID a, REFGUID b)
{
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i])
            return false;
    }
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3;
}
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)
#define InlineIsEqualGUID(a, b) IsEqualGUID(a, b)

constexpr bool operator==(REFGUID a, REFGUID b)
{
    return IsEqualGUID(a, b);
}
