#include "TypeLibFormat.h"

#include <cstring>

namespace platform {

namespace {

constexpr uint16_t VtPtr = 26;
constexpr uint16_t VtUserDefined = 29;
constexpr char Magic[4] = { 'R', 'S', 'T', 'L' };

class Writer {
public:
    void U16(uint16_t value)
    {
        m_bytes.push_back(static_cast<uint8_t>(value));
        m_bytes.push_back(static_cast<uint8_t>(value >> 8));
    }
    void U32(uint32_t value)
    {
        U16(static_cast<uint16_t>(value));
        U16(static_cast<uint16_t>(value >> 16));
    }
    void Guid(const TlbGuid& guid)
    {
        m_bytes.insert(m_bytes.end(), guid.begin(), guid.end());
    }
    void String(const std::u16string& text)
    {
        U32(static_cast<uint32_t>(text.size()));
        for (char16_t unit : text)
            U16(unit);
    }
    void Ref(const TlbRef& ref)
    {
        U32(static_cast<uint32_t>(ref.import));
        U32(ref.index);
        Guid(ref.guid);
    }
    void Type(const TlbType& type)
    {
        for (uint16_t vt : type.vts)
            U16(vt);
        if (!type.vts.empty() && type.vts.back() == VtUserDefined)
            Ref(type.ref);
    }
    std::vector<uint8_t>& Bytes()
    {
        return m_bytes;
    }

private:
    std::vector<uint8_t> m_bytes;
};

// Reads from a buffer that it never overruns; the first fault sticks and later reads give zeros.
class Reader {
public:
    Reader(const uint8_t* data, size_t size)
        : m_data(data)
        , m_size(size)
    {
    }

    bool Take(void* out, size_t count)
    {
        if (m_error != TlbDecodeError::None || m_size - m_offset < count) {
            Fail(TlbDecodeError::Truncated);
            std::memset(out, 0, count);
            return false;
        }
        std::memcpy(out, m_data + m_offset, count);
        m_offset += count;
        return true;
    }
    uint16_t U16()
    {
        uint8_t b[2];
        Take(b, 2);
        return static_cast<uint16_t>(b[0] | b[1] << 8);
    }
    uint32_t U32()
    {
        const uint32_t low = U16();
        return low | static_cast<uint32_t>(U16()) << 16;
    }
    TlbGuid Guid()
    {
        TlbGuid guid {};
        Take(guid.data(), guid.size());
        return guid;
    }
    // A count checked against its limit and against the bytes left, at minBytes per element.
    uint32_t Count(uint32_t limit, size_t minBytes)
    {
        const uint32_t count = U32();
        return CheckCount(count, limit, minBytes);
    }
    uint32_t CheckCount(uint32_t count, uint32_t limit, size_t minBytes)
    {
        if (count > limit || count * minBytes > m_size - m_offset) {
            Fail(TlbDecodeError::BadLength);
            return 0;
        }
        return count;
    }
    std::u16string String()
    {
        const uint32_t count = Count(MaxTypeLibString, 2);
        std::u16string text(count, u'\0');
        for (char16_t& unit : text)
            unit = U16();
        return text;
    }
    TlbRef Ref()
    {
        TlbRef ref;
        ref.import = static_cast<int32_t>(U32());
        ref.index = U32();
        ref.guid = Guid();
        return ref;
    }
    TlbType Type()
    {
        TlbType type;
        for (int depth = 0; m_error == TlbDecodeError::None; ++depth) {
            if (depth == MaxTypeDepth) {
                Fail(TlbDecodeError::BadLength);
                break;
            }
            const uint16_t vt = U16();
            type.vts.push_back(vt);
            if (vt == VtUserDefined)
                type.ref = Ref();
            if (vt != VtPtr)
                break;
        }
        return type;
    }
    void Fail(TlbDecodeError error)
    {
        if (m_error == TlbDecodeError::None)
            m_error = error;
    }
    TlbDecodeError Error() const
    {
        return m_error;
    }
    bool AtEnd() const
    {
        return m_offset == m_size;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_offset = 0;
    TlbDecodeError m_error = TlbDecodeError::None;
};

// The smallest encodings, for checking counts against the bytes left.
constexpr size_t MinImport = 16 + 4 + 4;
constexpr size_t MinType = 4 + 4 + 16 + 4 + 4 + 4 + 4 + 12;
constexpr size_t MinImplType = 24 + 4;
constexpr size_t MinFunc = 4 + 4 + 4 + 4 + 4 + 4 + 2 + 2;
constexpr size_t MinParam = 4 + 2 + 2;
constexpr size_t MinVar = 4 + 2 + 4 + 4 + 2;

bool RefValid(const TlbRef& ref, const TlbLibrary& library)
{
    if (ref.import < 0)
        return ref.import == -1 && ref.index < library.types.size();
    return static_cast<size_t>(ref.import) < library.imports.size();
}

bool TypeValid(const TlbType& type, const TlbLibrary& library)
{
    return type.vts.empty() || type.vts.back() != VtUserDefined || RefValid(type.ref, library);
}

bool ReferencesValid(const TlbLibrary& library)
{
    for (const TlbTypeInfo& info : library.types) {
        for (const TlbImplType& impl : info.implTypes) {
            if (!RefValid(impl.ref, library))
                return false;
        }
        for (const TlbFunc& func : info.funcs) {
            if (!TypeValid(func.result, library))
                return false;
            for (const TlbParam& param : func.params) {
                if (!TypeValid(param.type, library))
                    return false;
            }
        }
        for (const TlbVar& var : info.vars) {
            if (!TypeValid(var.type, library))
                return false;
        }
    }
    return true;
}

}

std::vector<uint8_t> EncodeTypeLib(const TlbLibrary& library)
{
    Writer out;
    for (char c : Magic)
        out.Bytes().push_back(static_cast<uint8_t>(c));
    out.U16(TypeLibFormatVersion);
    out.U16(0);
    out.Guid(library.guid);
    out.U32(library.lcid);
    out.U32(library.syskind);
    out.U16(library.major);
    out.U16(library.minor);
    out.U16(library.flags);
    out.String(library.name);
    out.String(library.doc);
    out.String(library.helpFile);
    out.U32(library.helpContext);
    out.U32(static_cast<uint32_t>(library.imports.size()));
    for (const TlbImport& import : library.imports) {
        out.Guid(import.guid);
        out.U16(import.major);
        out.U16(import.minor);
        out.String(import.file);
    }
    out.U32(static_cast<uint32_t>(library.types.size()));
    for (const TlbTypeInfo& info : library.types) {
        out.U32(info.kind);
        out.U32(info.flags);
        out.Guid(info.guid);
        out.U16(info.major);
        out.U16(info.minor);
        out.String(info.name);
        out.String(info.doc);
        out.U32(info.helpContext);
        out.U32(static_cast<uint32_t>(info.implTypes.size()));
        for (const TlbImplType& impl : info.implTypes) {
            out.Ref(impl.ref);
            out.U32(impl.flags);
        }
        out.U32(static_cast<uint32_t>(info.funcs.size()));
        for (const TlbFunc& func : info.funcs) {
            out.U32(static_cast<uint32_t>(func.memid));
            out.U32(func.invkind);
            out.U32(func.funckind);
            out.U16(func.vtableSlot);
            out.U16(func.flags);
            out.String(func.name);
            out.String(func.doc);
            out.Type(func.result);
            out.U16(static_cast<uint16_t>(func.params.size()));
            for (const TlbParam& param : func.params) {
                out.String(param.name);
                out.U16(param.flags);
                out.Type(param.type);
            }
        }
        out.U32(static_cast<uint32_t>(info.vars.size()));
        for (const TlbVar& var : info.vars) {
            out.U32(static_cast<uint32_t>(var.memid));
            out.U16(var.flags);
            out.String(var.name);
            out.String(var.doc);
            out.Type(var.type);
        }
    }
    return std::move(out.Bytes());
}

TlbDecodeResult DecodeTypeLib(const uint8_t* data, size_t size)
{
    TlbDecodeResult result;
    Reader in(data, size);
    char magic[4];
    if (!in.Take(magic, 4) || std::memcmp(magic, Magic, 4) != 0) {
        result.error = TlbDecodeError::BadMagic;
        return result;
    }
    if (in.U16() != TypeLibFormatVersion || in.U16() != 0) {
        result.error = in.Error() != TlbDecodeError::None ? in.Error() : TlbDecodeError::BadVersion;
        return result;
    }
    TlbLibrary& library = result.library;
    library.guid = in.Guid();
    library.lcid = in.U32();
    library.syskind = in.U32();
    library.major = in.U16();
    library.minor = in.U16();
    library.flags = in.U16();
    library.name = in.String();
    library.doc = in.String();
    library.helpFile = in.String();
    library.helpContext = in.U32();
    library.imports.resize(in.Count(MaxTypeLibMembers, MinImport));
    for (TlbImport& import : library.imports) {
        import.guid = in.Guid();
        import.major = in.U16();
        import.minor = in.U16();
        import.file = in.String();
    }
    library.types.resize(in.Count(MaxTypeLibTypes, MinType));
    for (TlbTypeInfo& info : library.types) {
        info.kind = in.U32();
        info.flags = in.U32();
        info.guid = in.Guid();
        info.major = in.U16();
        info.minor = in.U16();
        info.name = in.String();
        info.doc = in.String();
        info.helpContext = in.U32();
        info.implTypes.resize(in.Count(MaxTypeLibMembers, MinImplType));
        for (TlbImplType& impl : info.implTypes) {
            impl.ref = in.Ref();
            impl.flags = in.U32();
        }
        info.funcs.resize(in.Count(MaxTypeLibMembers, MinFunc));
        for (TlbFunc& func : info.funcs) {
            func.memid = static_cast<int32_t>(in.U32());
            func.invkind = in.U32();
            func.funckind = in.U32();
            func.vtableSlot = in.U16();
            func.flags = in.U16();
            func.name = in.String();
            func.doc = in.String();
            func.result = in.Type();
            func.params.resize(in.CheckCount(in.U16(), MaxTypeLibParams, MinParam));
            for (TlbParam& param : func.params) {
                param.name = in.String();
                param.flags = in.U16();
                param.type = in.Type();
            }
        }
        info.vars.resize(in.Count(MaxTypeLibMembers, MinVar));
        for (TlbVar& var : info.vars) {
            var.memid = static_cast<int32_t>(in.U32());
            var.flags = in.U16();
            var.name = in.String();
            var.doc = in.String();
            var.type = in.Type();
        }
    }
    if (in.Error() != TlbDecodeError::None)
        result.error = in.Error();
    else if (!in.AtEnd())
        result.error = TlbDecodeError::TrailingBytes;
    else if (!ReferencesValid(library))
        result.error = TlbDecodeError::BadReference;
    if (result.error != TlbDecodeError::None)
        result.library = {};
    return result;
}

}
