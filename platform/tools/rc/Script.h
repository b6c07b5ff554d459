// A resource script, read into the resources it defines.
//
// The subset of the .rc syntax that this platform's modules use: STRINGTABLE; resources read
// from files (BITMAP, ICON, RCDATA, HTML, numbered and named types); LANGUAGE; the preprocessor's
// #include, #define, #undef, #ifdef, #ifndef, #if, #else, #endif (#pragma is ignored). Headers
// (.h) are read for their directives only; <...> includes, and the SDK's resource headers that
// the script's folders lack ("winres.h"), are skipped, with the SDK's RT_* and LANG_* names
// predefined. Scripts are UTF-8.
//
// Any fault throws ScriptError with the file and line where it lies.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace rc {

struct ScriptError : std::runtime_error {
    ScriptError(const std::string& file, int line, const std::string& message)
        : std::runtime_error(file + (line > 0 ? ":" + std::to_string(line) : "") + ": error: " + message)
    {
    }
};

// A resource type or name: a number, or an upper-case name.
struct Id {
    std::u16string name;
    uint16_t number = 0;

    bool operator<(const Id& other) const
    {
        return name != other.name ? name < other.name : number < other.number;
    }
    bool operator==(const Id& other) const = default;
};

struct Resource {
    Id type;
    Id name;
    uint16_t language = 0;
    std::vector<unsigned char> data;
};

struct Script {
    std::vector<Resource> resources;
    std::vector<std::string> inputs; // every file read, for the build's dependency tracking
};

Script ReadScript(const std::string& path, const std::vector<std::string>& includeDirectories);

}
