// midl: compiles an IDL file into a C++ header and a type library (see Output.h and
// platform/oleaut32/TypeLibFormat.h for the file it writes).
//
//   midl [-I directory]... [-h header.h] [-t library.tlb] [-d depfile] file.idl
//
// Imported type libraries are looked for beside the IDL file, in the -I directories, then beside
// midl itself. Exit status 0 on success; 1 with "file:line: error: ..." on standard error.
#include "Output.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

namespace {

void WriteFile(const std::string& path, const void* data, size_t size)
{
    const std::string temporary = path + ".part";
    {
        std::ofstream stream(temporary, std::ios::binary | std::ios::trunc);
        stream.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!stream.flush())
            throw midl::IdlError(path, 0, "cannot write the file");
    }
    std::filesystem::rename(temporary, path);
}

std::string DepfilePath(const std::string& path)
{
    std::string escaped;
    for (char c : path) {
        if (c == ' ' || c == '#' || c == '\\')
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

int Usage()
{
    std::cerr << "usage: midl [-I directory]... [-h header.h] [-t library.tlb] [-d depfile] file.idl\n";
    return 1;
}

}

int main(int argc, char** argv)
{
    std::vector<std::string> includes;
    std::string header, library, depfile, input;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if ((argument == "-I" || argument == "-h" || argument == "-t" || argument == "-d") && i + 1 < argc) {
            const std::string value = argv[++i];
            if (argument == "-I")
                includes.push_back(value);
            else
                (argument == "-h" ? header : argument == "-t" ? library : depfile) = value;
        } else if (!argument.empty() && argument[0] != '-' && input.empty()) {
            input = argument;
        } else {
            return Usage();
        }
    }
    if (input.empty() || (header.empty() && library.empty()))
        return Usage();
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error)
        includes.push_back(self.parent_path().string());
    try {
        const midl::File file = midl::ReadIdl(input);
        std::vector<std::string> inputs { input };
        if (!library.empty()) {
            const std::vector<uint8_t> bytes = platform::EncodeTypeLib(midl::BuildTypeLib(file, includes, inputs));
            WriteFile(library, bytes.data(), bytes.size());
        }
        if (!header.empty()) {
            const std::string text = midl::GenerateHeader(file);
            WriteFile(header, text.data(), text.size());
        }
        if (!depfile.empty()) {
            std::string text = DepfilePath(library.empty() ? header : library) + ":";
            for (const std::string& path : inputs)
                text += " " + DepfilePath(path);
            text += "\n";
            WriteFile(depfile, text.data(), text.size());
        }
    } catch (const std::exception& fault) {
        std::cerr << fault.what() << "\n";
        return 1;
    }
    return 0;
}
