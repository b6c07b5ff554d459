#include "Output.h"

#include "Utf.h"
#include "oaidl.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

namespace midl {

namespace {

// The largest type library that may be imported.
constexpr std::uintmax_t MaxImportSize = 16 * 1024 * 1024;

// The first memid that a member without an id gets: 0x60000000, plus its interface's depth below
// IUnknown in bits 16 and up, plus its index.
constexpr int32_t AutomaticMemberIdBase = 0x60000000;

struct Builtin {
    uint16_t vt;
    bool impliedPointer; // REFIID is a pointer in the type library
};

const std::map<std::string, Builtin> Builtins = {
    { "BSTR", { VT_BSTR, false } },
    { "LONG", { VT_I4, false } },
    { "long", { VT_I4, false } },
    { "ULONG", { VT_UI4, false } },
    { "unsigned long", { VT_UI4, false } },
    { "DWORD", { VT_UI4, false } },
    { "SHORT", { VT_I2, false } },
    { "short", { VT_I2, false } },
    { "USHORT", { VT_UI2, false } },
    { "unsigned short", { VT_UI2, false } },
    { "WORD", { VT_UI2, false } },
    { "INT", { VT_INT, false } },
    { "int", { VT_INT, false } },
    { "UINT", { VT_UINT, false } },
    { "unsigned int", { VT_UINT, false } },
    { "BYTE", { VT_UI1, false } },
    { "unsigned char", { VT_UI1, false } },
    { "VARIANT_BOOL", { VT_BOOL, false } },
    { "VARIANT", { VT_VARIANT, false } },
    { "HRESULT", { VT_HRESULT, false } },
    { "SCODE", { VT_ERROR, false } },
    { "DOUBLE", { VT_R8, false } },
    { "double", { VT_R8, false } },
    { "FLOAT", { VT_R4, false } },
    { "float", { VT_R4, false } },
    { "DATE", { VT_DATE, false } },
    { "LCID", { VT_UI4, false } },
    { "DISPID", { VT_I4, false } },
    { "void", { VT_VOID, false } },
    { "REFIID", { VT_CLSID, true } },
    { "REFGUID", { VT_CLSID, true } },
};

struct Imported {
    std::string file;
    platform::TlbLibrary library;
};

class Builder {
public:
    Builder(const File& file, const std::vector<std::string>& searchDirectories, std::vector<std::string>& inputs)
        : m_file(file)
        , m_searchDirectories(searchDirectories)
        , m_inputs(inputs)
    {
    }

    platform::TlbLibrary Build()
    {
        if (!m_file.library)
            throw IdlError(m_file.path, 0, "there is no library to make a type library of");
        const Library& library = *m_file.library;
        for (size_t i = 0; i < m_file.definitions.size(); ++i)
            m_definitions[m_file.definitions[i].name] = i;
        for (const std::string& name : library.importLibs)
            Import(name, library.line);
        for (const std::string& name : library.members)
            Place(name, library.line);

        platform::TlbLibrary tlb;
        tlb.guid = library.guid;
        tlb.lcid = library.lcid;
        tlb.syskind = SYS_WIN32;
        tlb.major = library.major;
        tlb.minor = library.minor;
        tlb.flags = library.flags;
        tlb.name = platform::FromUtf8(library.name);
        tlb.doc = platform::FromUtf8(library.helpString);
        for (const Imported& imported : m_imports) {
            tlb.imports.push_back({ imported.library.guid, imported.library.major, imported.library.minor,
                platform::FromUtf8(imported.file) });
        }
        for (size_t index : m_order)
            tlb.types.push_back(BuildType(m_file.definitions[index]));
        return tlb;
    }

private:
    void Import(const std::string& name, int line)
    {
        std::vector<std::string> directories { std::filesystem::path(m_file.path).parent_path().string() };
        directories.insert(directories.end(), m_searchDirectories.begin(), m_searchDirectories.end());
        for (const std::string& directory : directories) {
            const std::filesystem::path path = std::filesystem::path(directory.empty() ? "." : directory) / name;
            std::error_code error;
            const std::uintmax_t size = std::filesystem::file_size(path, error);
            if (error)
                continue;
            if (size > MaxImportSize)
                throw IdlError(m_file.path, line, "imported type library " + path.string() + " is too large");
            std::ifstream stream(path, std::ios::binary);
            const std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(stream), {});
            platform::TlbDecodeResult decoded = platform::DecodeTypeLib(bytes.data(), bytes.size());
            if (decoded.error != platform::TlbDecodeError::None)
                throw IdlError(m_file.path, line, path.string() + " is not a valid type library");
            m_inputs.push_back(path.string());
            m_imports.push_back({ name, std::move(decoded.library) });
            return;
        }
        throw IdlError(m_file.path, line, "cannot find the type library '" + name + "' to import");
    }

    // Puts a definition into the library, then what it refers to from outside.
    void Place(const std::string& name, int line)
    {
        const auto found = m_definitions.find(name);
        if (found == m_definitions.end()) {
            if (FindImported(name))
                return;
            throw IdlError(m_file.path, line, "'" + name + "' is not defined");
        }
        if (m_placed.count(found->second))
            return;
        m_placed[found->second] = m_order.size();
        m_order.push_back(found->second);
        const Definition& definition = m_file.definitions[found->second];
        if (!definition.base.empty())
            Place(definition.base, definition.line);
        for (const CoClassMember& member : definition.members)
            Place(member.name, member.line);
        for (const Method& method : definition.methods) {
            PlaceType(method.result);
            for (const Param& param : method.params)
                PlaceType(param.type);
        }
        for (const Property& property : definition.properties)
            PlaceType(property.type);
    }

    void PlaceType(const Type& type)
    {
        if (m_definitions.count(type.base) && type.base != "IUnknown" && type.base != "IDispatch")
            Place(type.base, type.line);
    }

    struct ImportedType {
        int32_t import;
        const platform::TlbTypeInfo* info;
    };

    std::optional<ImportedType> FindImported(const std::string& name) const
    {
        const std::u16string wide = platform::FromUtf8(name);
        for (size_t i = 0; i < m_imports.size(); ++i) {
            for (const platform::TlbTypeInfo& info : m_imports[i].library.types) {
                if (info.name == wide)
                    return ImportedType { static_cast<int32_t>(i), &info };
            }
        }
        return std::nullopt;
    }

    platform::TlbRef RefTo(const std::string& name, int line) const
    {
        platform::TlbRef ref;
        const auto found = m_definitions.find(name);
        if (found != m_definitions.end()) {
            ref.index = static_cast<uint32_t>(m_placed.at(found->second));
            return ref;
        }
        if (const auto imported = FindImported(name)) {
            ref.import = imported->import;
            ref.guid = imported->info->guid;
            return ref;
        }
        throw IdlError(m_file.path, line, "'" + name + "' is not defined");
    }

    platform::TlbType ResolveType(const Type& type) const
    {
        platform::TlbType resolved;
        int pointers = type.pointers;
        uint16_t base = 0;
        if ((type.base == "IDispatch" || type.base == "IUnknown") && pointers > 0) {
            base = type.base == "IDispatch" ? VT_DISPATCH : VT_UNKNOWN;
            --pointers;
        } else if (const auto builtin = Builtins.find(type.base); builtin != Builtins.end()) {
            base = builtin->second.vt;
            pointers += builtin->second.impliedPointer;
        } else {
            const auto found = m_definitions.find(type.base);
            if (found == m_definitions.end() && !FindImported(type.base))
                throw IdlError(m_file.path, type.line, "'" + type.base + "' is not defined");
            if (found != m_definitions.end() && m_file.definitions[found->second].kind == Kind::CoClass)
                throw IdlError(m_file.path, type.line, "coclass '" + type.base + "' is not a type");
            if (pointers == 0)
                throw IdlError(m_file.path, type.line, "interface '" + type.base + "' is passed by pointer only");
            base = VT_USERDEFINED;
            resolved.ref = RefTo(type.base, type.line);
        }
        if (pointers + 1 > platform::MaxTypeDepth)
            throw IdlError(m_file.path, type.line, "too many levels of pointers");
        resolved.vts.assign(pointers, VT_PTR);
        resolved.vts.push_back(base);
        return resolved;
    }

    // The number of vtable slots of an interface, and its depth below IUnknown.
    struct Shape {
        uint16_t slots = 0;
        int depth = 0;
        bool dispatch = false;
    };

    Shape ShapeOf(const std::string& name, int line, int guard = 0) const
    {
        if (guard > 64)
            throw IdlError(m_file.path, line, "interface '" + name + "' derives from itself");
        const auto found = m_definitions.find(name);
        if (found != m_definitions.end()) {
            const Definition& definition = m_file.definitions[found->second];
            if (definition.kind != Kind::Interface)
                throw IdlError(m_file.path, line, "'" + name + "' is not an interface to derive from");
            Shape shape;
            if (!definition.base.empty()) {
                shape = ShapeOf(definition.base, definition.line, guard + 1);
                ++shape.depth;
            }
            shape.slots = static_cast<uint16_t>(shape.slots + definition.methods.size());
            shape.dispatch = shape.dispatch || name == "IDispatch";
            return shape;
        }
        const auto imported = FindImported(name);
        if (!imported || imported->info->kind != TKIND_INTERFACE)
            throw IdlError(m_file.path, line, "'" + name + "' is not an interface to derive from");
        return ImportedShape(*imported, guard);
    }

    Shape ImportedShape(const ImportedType& type, int guard) const
    {
        if (guard > 64)
            throw IdlError(m_file.path, 0, "an imported interface derives from itself");
        Shape shape;
        const platform::TlbLibrary& library = m_imports[type.import].library;
        if (!type.info->implTypes.empty()) {
            const platform::TlbRef& base = type.info->implTypes[0].ref;
            if (base.import == -1) {
                shape = ImportedShape({ type.import, &library.types[base.index] }, guard + 1);
                ++shape.depth;
            }
        }
        shape.slots = static_cast<uint16_t>(shape.slots + type.info->funcs.size());
        shape.dispatch = shape.dispatch || type.info->name == u"IDispatch";
        return shape;
    }

    platform::TlbFunc BuildFunc(const Definition& definition, const Method& method, size_t index, const Shape& base)
    {
        platform::TlbFunc func;
        func.name = platform::FromUtf8(method.name);
        func.doc = platform::FromUtf8(method.helpString);
        func.invkind = method.invokeKind;
        func.flags = method.funcFlags;
        func.result = ResolveType(method.result);
        for (const Param& param : method.params)
            func.params.push_back({ platform::FromUtf8(param.name), param.flags, ResolveType(param.type) });
        if (definition.kind == Kind::DispInterface) {
            func.funckind = FUNC_DISPATCH;
            func.memid = *method.id;
        } else {
            func.funckind = FUNC_PUREVIRTUAL;
            func.vtableSlot = static_cast<uint16_t>(base.slots + index);
            func.memid = method.id ? *method.id
                                   : AutomaticMemberIdBase + ((base.depth + (definition.base.empty() ? 0 : 1)) << 16)
                    + static_cast<int32_t>(index);
            if ((definition.typeFlags & TYPEFLAG_FOLEAUTOMATION) && method.result.base != "HRESULT")
                throw IdlError(m_file.path, method.line,
                    "method '" + method.name + "' of an automation interface must return HRESULT");
        }
        return func;
    }

    platform::TlbTypeInfo BuildType(const Definition& definition)
    {
        platform::TlbTypeInfo info;
        info.guid = definition.guid;
        info.flags = definition.typeFlags;
        info.major = definition.major;
        info.minor = definition.minor;
        info.name = platform::FromUtf8(definition.name);
        info.doc = platform::FromUtf8(definition.helpString);
        Shape base;
        switch (definition.kind) {
        case Kind::Interface:
            info.kind = TKIND_INTERFACE;
            if (!definition.base.empty()) {
                base = ShapeOf(definition.base, definition.line);
                info.implTypes.push_back({ RefTo(definition.base, definition.line), 0 });
            }
            if ((definition.typeFlags & TYPEFLAG_FDUAL) && !base.dispatch)
                throw IdlError(m_file.path, definition.line,
                    "dual interface '" + definition.name + "' must derive from IDispatch");
            if (base.dispatch)
                info.flags |= TYPEFLAG_FDISPATCHABLE;
            break;
        case Kind::DispInterface:
            info.kind = TKIND_DISPATCH;
            info.flags |= TYPEFLAG_FDISPATCHABLE;
            info.implTypes.push_back({ RefTo("IDispatch", definition.line), 0 });
            for (const Property& property : definition.properties) {
                info.vars.push_back({ property.id, 0, platform::FromUtf8(property.name),
                    platform::FromUtf8(property.helpString), ResolveType(property.type) });
            }
            break;
        case Kind::CoClass:
            info.kind = TKIND_COCLASS;
            for (const CoClassMember& member : definition.members)
                info.implTypes.push_back({ RefTo(member.name, member.line), member.implFlags });
            break;
        }
        for (size_t i = 0; i < definition.methods.size(); ++i)
            info.funcs.push_back(BuildFunc(definition, definition.methods[i], i, base));
        if (info.funcs.size() > platform::MaxTypeLibMembers || info.vars.size() > platform::MaxTypeLibMembers)
            throw IdlError(m_file.path, definition.line, "'" + definition.name + "' has too many members");
        return info;
    }

    const File& m_file;
    const std::vector<std::string>& m_searchDirectories;
    std::vector<std::string>& m_inputs;
    std::map<std::string, size_t> m_definitions; // name to index in m_file.definitions
    std::map<size_t, size_t> m_placed; // definition index to type index in the library
    std::vector<size_t> m_order;
    std::vector<Imported> m_imports;
};

}

platform::TlbLibrary BuildTypeLib(
    const File& file, const std::vector<std::string>& searchDirectories, std::vector<std::string>& inputs)
{
    return Builder(file, searchDirectories, inputs).Build();
}

}
