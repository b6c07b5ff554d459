// An IDL file, read into the interfaces, dispinterfaces, coclasses and library it defines.
//
// The subset of IDL that this platform's components use: `import` (read for nothing: the base
// interfaces come from the imported type libraries), `cpp_quote` (skipped), forward declarations,
// `interface` with methods, `dispinterface` with `properties:` and `methods:`, `coclass` with its
// members, and one `library` with `importlib`. Attributes are checked against the set each
// construct takes; types are kept as written and resolved when the type library is built.
//
// Any fault throws IdlError with the file and line where it lies.
#pragma once

#include "TypeLibFormat.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace midl {

struct IdlError : std::runtime_error {
    IdlError(const std::string& file, int line, const std::string& message)
        : std::runtime_error(file + (line > 0 ? ":" + std::to_string(line) : "") + ": error: " + message)
    {
    }
};

struct Type {
    std::string base; // as written, e.g. "BSTR", "unsigned long", "IDispatch"
    int pointers = 0;
    int line = 0;
};

struct Param {
    std::string name;
    Type type;
    uint16_t flags = 0; // PARAMFLAG_*
};

struct Method {
    std::string name;
    Type result;
    std::vector<Param> params;
    std::optional<int32_t> id;
    std::string helpString;
    uint32_t invokeKind = 1; // INVOKE_FUNC, INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT, ...
    uint16_t funcFlags = 0;
    int line = 0;
};

struct Property {
    std::string name;
    Type type;
    int32_t id = 0;
    std::string helpString;
    int line = 0;
};

struct CoClassMember {
    std::string name;
    uint32_t implFlags = 0; // IMPLTYPEFLAG_*
    int line = 0;
};

enum class Kind { Interface, DispInterface, CoClass };

struct Definition {
    Kind kind = Kind::Interface;
    std::string name;
    std::string base; // interfaces only
    platform::TlbGuid guid {};
    bool hasGuid = false;
    uint32_t typeFlags = 0; // TYPEFLAG_* from the attributes
    bool object = false;
    std::string helpString;
    uint16_t major = 0;
    uint16_t minor = 0;
    std::vector<Method> methods;
    std::vector<Property> properties;
    std::vector<CoClassMember> members;
    bool insideLibrary = false;
    int line = 0;
};

struct Library {
    std::string name;
    platform::TlbGuid guid {};
    uint16_t major = 0;
    uint16_t minor = 0;
    uint32_t lcid = 0;
    std::string helpString;
    uint16_t flags = 0; // LIBFLAG_*
    std::vector<std::string> importLibs; // as written, in order
    std::vector<std::string> members; // names of the definitions and references in its body, in order
    int line = 0;
};

struct File {
    std::string path;
    std::vector<std::string> imports; // the IDL files that `import` names, as written
    std::vector<Definition> definitions; // in the order written; forward declarations excluded
    std::optional<Library> library;
};

File ReadIdl(const std::string& path);

}
