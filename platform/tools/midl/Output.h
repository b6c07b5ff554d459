// What midl makes of an IDL file: the type library and the C++ header.
//
// BuildTypeLib resolves every type name against the automation types, the file's own
// definitions and the type libraries that the library imports (found beside the IDL file, then in
// the search directories); it throws IdlError for what it cannot resolve or what automation does
// not allow. The library holds its body's definitions in the order written, each followed by the
// definitions from outside the library that it refers to.
#pragma once

#include "Idl.h"

#include <string>
#include <vector>

namespace midl {

platform::TlbLibrary BuildTypeLib(
    const File& file, const std::vector<std::string>& searchDirectories, std::vector<std::string>& inputs);

// The header: interfaces as abstract classes in their exact table order, and the GUID constants
// IID_, DIID_, CLSID_ and LIBID_ as inline constants.
std::string GenerateHeader(const File& file);

}
