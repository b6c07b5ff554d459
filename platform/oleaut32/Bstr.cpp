// BSTR: a 4-byte length in bytes, the text, and two null bytes; the BSTR points at the text.
#include "oleauto.h"

#include <cstdlib>
#include <cstring>

namespace {

// The longest text a BSTR may hold, in bytes: what a 32-bit length prefix can describe with
// room for the prefix and the terminator.
constexpr size_t kMaxBstrBytes = 0x7FFFFFF0u;

struct BstrHeader {
    UINT byteLength;
};

BSTR AllocateBytes(const void* bytes, size_t byteLength)
{
    if (byteLength > kMaxBstrBytes)
        return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(sizeof(BstrHeader) + byteLength + sizeof(OLECHAR)));
    if (!block)
        return nullptr;
    BstrHeader header { static_cast<UINT>(byteLength) };
    std::memcpy(block, &header, sizeof header);
    unsigned char* text = block + sizeof(BstrHeader);
    if (bytes)
        std::memcpy(text, bytes, byteLength);
    else
        std::memset(text, 0, byteLength);
    // Two null bytes: the terminator of a string of whole characters, and of an odd byte count.
    text[byteLength] = 0;
    text[byteLength + 1] = 0;
    return reinterpret_cast<BSTR>(text);
}

unsigned char* BlockOf(BSTR bstr)
{
    return reinterpret_cast<unsigned char*>(bstr) - sizeof(BstrHeader);
}

size_t TextLength(const OLECHAR* psz)
{
    size_t length = 0;
    while (psz[length])
        ++length;
    return length;
}

bool Replace(BSTR* pbstr, BSTR fresh)
{
    if (!fresh)
        return false;
    // The new string is made first: the source may lie inside the old one.
    SysFreeString(*pbstr);
    *pbstr = fresh;
    return true;
}

}

extern "C" {

BSTR WINAPI SysAllocString(const OLECHAR* psz)
{
    if (!psz)
        return nullptr;
    return SysAllocStringLen(psz, static_cast<UINT>(TextLength(psz)));
}

BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui)
{
    if (ui > kMaxBstrBytes / sizeof(OLECHAR))
        return nullptr;
    return AllocateBytes(strIn, size_t { ui } * sizeof(OLECHAR));
}

BSTR WINAPI SysAllocStringByteLen(LPCSTR psz, UINT len)
{
    return AllocateBytes(psz, len);
}

INT WINAPI SysReAllocString(BSTR* pbstr, const OLECHAR* psz)
{
    if (!pbstr)
        return FALSE;
    return Replace(pbstr, psz ? SysAllocString(psz) : SysAllocStringLen(nullptr, 0)) ? TRUE : FALSE;
}

INT WINAPI SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len)
{
    if (!pbstr)
        return FALSE;
    return Replace(pbstr, SysAllocStringLen(psz, len)) ? TRUE : FALSE;
}

void WINAPI SysFreeString(BSTR bstrString)
{
    if (bstrString)
        std::free(BlockOf(bstrString));
}

UINT WINAPI SysStringByteLen(BSTR bstr)
{
    if (!bstr)
        return 0;
    BstrHeader header;
    std::memcpy(&header, BlockOf(bstr), sizeof header);
    return header.byteLength;
}

UINT WINAPI SysStringLen(BSTR pbstr)
{
    return SysStringByteLen(pbstr) / sizeof(OLECHAR);
}
}
