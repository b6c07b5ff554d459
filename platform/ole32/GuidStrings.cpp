// GUIDs as text ("{00000000-0000-0000-C000-000000000046}"), ProgIDs and new GUIDs.
#include "objbase.h"
#include "winreg.h"

#include <cstring>
#include <mutex>
#include <random>
#include <string>

namespace {

constexpr int kGuidChars = CHARS_IN_GUID - 1;

// The registry's text values read here (a CLSID, a ProgID) fit in this many characters.
constexpr DWORD kMaxRegistryText = 256;

int HexDigit(OLECHAR c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// Reads `digits` hex digits at text[at].
bool ReadHex(LPCOLESTR text, int at, int digits, unsigned long long& value)
{
    value = 0;
    for (int i = 0; i < digits; ++i) {
        int digit = HexDigit(text[at + i]);
        if (digit < 0)
            return false;
        value = value << 4 | static_cast<unsigned>(digit);
    }
    return true;
}

// Parses exactly "{8-4-4-4-12}" with its braces.
bool ParseGuid(LPCOLESTR text, GUID& guid)
{
    for (int i = 0; i < kGuidChars; ++i) {
        if (!text[i])
            return false;
    }
    if (text[0] != u'{' || text[9] != u'-' || text[14] != u'-' || text[19] != u'-' || text[24] != u'-'
        || text[37] != u'}' || text[38] != 0)
        return false;
    unsigned long long value = 0;
    GUID parsed {};
    if (!ReadHex(text, 1, 8, value))
        return false;
    parsed.Data1 = static_cast<unsigned>(value);
    if (!ReadHex(text, 10, 4, value))
        return false;
    parsed.Data2 = static_cast<unsigned short>(value);
    if (!ReadHex(text, 15, 4, value))
        return false;
    parsed.Data3 = static_cast<unsigned short>(value);
    static constexpr int kByteAt[8] = { 20, 22, 25, 27, 29, 31, 33, 35 };
    for (int i = 0; i < 8; ++i) {
        if (!ReadHex(text, kByteAt[i], 2, value))
            return false;
        parsed.Data4[i] = static_cast<unsigned char>(value);
    }
    guid = parsed;
    return true;
}

HRESULT CopyToTaskMemory(const OLECHAR* text, LPOLESTR* out)
{
    size_t length = 0;
    while (text[length])
        ++length;
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((length + 1) * sizeof(OLECHAR)));
    if (!copy)
        return E_OUTOFMEMORY;
    std::memcpy(copy, text, (length + 1) * sizeof(OLECHAR));
    *out = copy;
    return S_OK;
}

bool ReadClassesRootText(const OLECHAR* subKey, OLECHAR (&buffer)[kMaxRegistryText])
{
    DWORD size = sizeof buffer;
    return RegGetValueW(HKEY_CLASSES_ROOT, subKey, nullptr, RRF_RT_REG_SZ, nullptr, buffer, &size) == ERROR_SUCCESS;
}

}

extern "C" {

int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax)
{
    if (!lpsz || cchMax < CHARS_IN_GUID)
        return 0;
    static constexpr char kHex[] = "0123456789ABCDEF";
    int at = 0;
    auto put = [&](unsigned long long value, int digits) {
        for (int i = digits - 1; i >= 0; --i)
            lpsz[at++] = static_cast<OLECHAR>(kHex[(value >> (4 * i)) & 0xf]);
    };
    lpsz[at++] = u'{';
    put(rguid.Data1, 8);
    lpsz[at++] = u'-';
    put(rguid.Data2, 4);
    lpsz[at++] = u'-';
    put(rguid.Data3, 4);
    lpsz[at++] = u'-';
    put(rguid.Data4[0], 2);
    put(rguid.Data4[1], 2);
    lpsz[at++] = u'-';
    for (int i = 2; i < 8; ++i)
        put(rguid.Data4[i], 2);
    lpsz[at++] = u'}';
    lpsz[at++] = 0;
    return at;
}

HRESULT WINAPI StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz)
{
    if (!lplpsz)
        return E_INVALIDARG;
    OLECHAR text[CHARS_IN_GUID];
    StringFromGUID2(rclsid, text, CHARS_IN_GUID);
    return CopyToTaskMemory(text, lplpsz);
}

HRESULT WINAPI StringFromIID(REFIID rclsid, LPOLESTR* lplpsz)
{
    return StringFromCLSID(rclsid, lplpsz);
}

HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid)
{
    if (!pclsid)
        return E_INVALIDARG;
    if (!lpsz) {
        *pclsid = CLSID_NULL;
        return S_OK;
    }
    if (ParseGuid(lpsz, *pclsid))
        return S_OK;
    // Text that is not a GUID may be a ProgID.
    if (lpsz[0] != u'{' && SUCCEEDED(CLSIDFromProgID(lpsz, pclsid)))
        return S_OK;
    *pclsid = CLSID_NULL;
    return CO_E_CLASSSTRING;
}

HRESULT WINAPI IIDFromString(LPCOLESTR lpsz, LPIID lpiid)
{
    if (!lpiid)
        return E_INVALIDARG;
    if (!lpsz) {
        *lpiid = IID_NULL;
        return S_OK;
    }
    if (ParseGuid(lpsz, *lpiid))
        return S_OK;
    *lpiid = IID_NULL;
    return E_INVALIDARG;
}

HRESULT WINAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid)
{
    if (!lpszProgID || !lpclsid)
        return E_INVALIDARG;
    *lpclsid = CLSID_NULL;
    // HKCR\<ProgID>\CLSID, or that of the current version HKCR\<ProgID>\CurVer names.
    std::u16string progId(lpszProgID);
    OLECHAR text[kMaxRegistryText];
    if (!ReadClassesRootText((progId + u"\\CLSID").c_str(), text)) {
        if (!ReadClassesRootText((progId + u"\\CurVer").c_str(), text)
            || !ReadClassesRootText((std::u16string(text) + u"\\CLSID").c_str(), text))
            return CO_E_CLASSSTRING;
    }
    return ParseGuid(text, *lpclsid) ? S_OK : CO_E_CLASSSTRING;
}

HRESULT WINAPI ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID)
{
    if (!lplpszProgID)
        return E_INVALIDARG;
    *lplpszProgID = nullptr;
    OLECHAR guid[CHARS_IN_GUID];
    StringFromGUID2(clsid, guid, CHARS_IN_GUID);
    OLECHAR text[kMaxRegistryText];
    if (!ReadClassesRootText((u"CLSID\\" + std::u16string(guid) + u"\\ProgID").c_str(), text))
        return REGDB_E_CLASSNOTREG;
    return CopyToTaskMemory(text, lplpszProgID);
}

HRESULT WINAPI CoCreateGuid(GUID* pguid)
{
    if (!pguid)
        return E_INVALIDARG;
    static std::mutex lock;
    static std::random_device device;
    unsigned char bytes[16];
    {
        std::lock_guard guard(lock);
        for (int i = 0; i < 16; i += 4) {
            unsigned int word = device();
            std::memcpy(bytes + i, &word, 4);
        }
    }
    std::memcpy(&pguid->Data1, bytes, 4);
    std::memcpy(&pguid->Data2, bytes + 4, 2);
    std::memcpy(&pguid->Data3, bytes + 6, 2);
    std::memcpy(pguid->Data4, bytes + 8, 8);
    pguid->Data3 = static_cast<unsigned short>((pguid->Data3 & 0x0fff) | 0x4000); // version 4: random
    pguid->Data4[0] = static_cast<unsigned char>((pguid->Data4[0] & 0x3f) | 0x80); // the standard variant
    return S_OK;
}
}
