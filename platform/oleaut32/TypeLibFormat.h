// The type library file: what midl writes and LoadTypeLib reads, in a binary format of our own.
//
// A file is the four bytes "RSTL", a 16-bit format version (TypeLibFormatVersion), 16 zero bits,
// then the library record. Every number is little-endian; a GUID is its 16 bytes in memory order
// (Data1, Data2 and Data3 little-endian, then Data4). Records, in order:
//
//   string    u32 count of UTF-16 units (at most MaxTypeLibString), then the units, u16 each
//   library   guid, u32 lcid, u32 syskind, u16 major, u16 minor, u16 flags, string name,
//             string doc, string helpfile, u32 helpcontext, u32 n + n imports, u32 n + n types
//   import    guid, u16 major, u16 minor, string file name
//   type      u32 typekind, u32 typeflags, guid, u16 major, u16 minor, string name, string doc,
//             u32 helpcontext, u32 n + n impltypes, u32 n + n funcs, u32 n + n vars
//   impltype  ref, u32 impltypeflags
//   ref       i32 import (-1: a type of this library), u32 type index (local), guid (imported)
//   func      i32 memid, u32 invkind, u32 funckind, u16 vtable slot, u16 funcflags, string name,
//             string doc, typedesc result, u16 n + n params
//   param     string name, u16 paramflags, typedesc
//   var       i32 memid, u16 varflags, string name, string doc, typedesc
//   typedesc  u16 vt; VT_PTR is followed by the typedesc it points to (at most MaxTypeDepth
//             deep), VT_USERDEFINED by a ref; any other vt ends it
//
// A dual interface is stored once, as TKIND_INTERFACE with TYPEFLAG_FDUAL and its functions in
// their vtable form; the loader derives its dispatch view. Vtable slots count entries, not bytes,
// so that one file serves any pointer size.
//
// DecodeTypeLib checks every count against its limit and against the bytes left, every index
// against what it indexes, and never reads past the end; it fails with a reason, never throws.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

constexpr uint16_t TypeLibFormatVersion = 1;
constexpr uint32_t MaxTypeLibString = 4096;
constexpr uint32_t MaxTypeLibTypes = 4096;
constexpr uint32_t MaxTypeLibMembers = 1024; // functions, variables, impltypes or imports
constexpr uint16_t MaxTypeLibParams = 64;
constexpr int MaxTypeDepth = 8;

using TlbGuid = std::array<uint8_t, 16>;

struct TlbRef {
    int32_t import = -1; // index into TlbLibrary::imports, or -1 for a type of this library
    uint32_t index = 0; // the type's index in this library
    TlbGuid guid {}; // the imported type's GUID
};

// A type is a chain: vts[0] is the outermost; every VT_PTR but the last element points to the
// next. The last element is a base type, or VT_USERDEFINED naming ref.
struct TlbType {
    std::vector<uint16_t> vts;
    TlbRef ref;
};

struct TlbParam {
    std::u16string name;
    uint16_t flags = 0;
    TlbType type;
};

struct TlbFunc {
    int32_t memid = 0;
    uint32_t invkind = 1;
    uint32_t funckind = 1;
    uint16_t vtableSlot = 0;
    uint16_t flags = 0;
    std::u16string name;
    std::u16string doc;
    TlbType result;
    std::vector<TlbParam> params;
};

struct TlbVar {
    int32_t memid = 0;
    uint16_t flags = 0;
    std::u16string name;
    std::u16string doc;
    TlbType type;
};

struct TlbImplType {
    TlbRef ref;
    uint32_t flags = 0;
};

struct TlbTypeInfo {
    uint32_t kind = 0;
    uint32_t flags = 0;
    TlbGuid guid {};
    uint16_t major = 0;
    uint16_t minor = 0;
    std::u16string name;
    std::u16string doc;
    uint32_t helpContext = 0;
    std::vector<TlbImplType> implTypes;
    std::vector<TlbFunc> funcs;
    std::vector<TlbVar> vars;
};

struct TlbImport {
    TlbGuid guid {};
    uint16_t major = 0;
    uint16_t minor = 0;
    std::u16string file;
};

struct TlbLibrary {
    TlbGuid guid {};
    uint32_t lcid = 0;
    uint32_t syskind = 1; // SYS_WIN32
    uint16_t major = 0;
    uint16_t minor = 0;
    uint16_t flags = 0;
    std::u16string name;
    std::u16string doc;
    std::u16string helpFile;
    uint32_t helpContext = 0;
    std::vector<TlbImport> imports;
    std::vector<TlbTypeInfo> types;
};

std::vector<uint8_t> EncodeTypeLib(const TlbLibrary& library);

enum class TlbDecodeError { None, BadMagic, BadVersion, Truncated, BadLength, BadReference, TrailingBytes };

struct TlbDecodeResult {
    TlbDecodeError error = TlbDecodeError::None;
    TlbLibrary library;
};

TlbDecodeResult DecodeTypeLib(const uint8_t* data, size_t size);

}
