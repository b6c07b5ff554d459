// regsvr32: registers or unregisters a COM server library by calling its DllRegisterServer or
// DllUnregisterServer, with regsvr32's messages and exit codes.
//
//   regsvr32 [/u] [/s] LIBRARY
//
// There is no message box here: success is reported on standard output, failure on standard
// error, and /s silences both. Exit codes: 0 success, 1 bad arguments, 2 COM could not be
// initialised, 3 the library did not load, 4 it lacks the entry point, 5 the call failed.
#include "combaseapi.h"
#include "windows.h"

#include "Utf.h"

#include <cstdio>
#include <string>

namespace {

enum ExitCode { Success = 0, FailArgs = 1, FailOle = 2, FailLoad = 3, FailEntry = 4, FailRegister = 5 };

enum class Operation { Register, Unregister };

struct Options {
    Operation operation = Operation::Register;
    bool silent = false;
    std::string library;
};

constexpr const char* Usage = "Usage: regsvr32 [/u] [/s] dllname\n"
                              "/u - Unregister server\n"
                              "/s - Silent; display no message boxes\n";

bool Parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.size() == 2 && (argument[0] == '/' || argument[0] == '-')) {
            const char flag = static_cast<char>(argument[1] | 0x20);
            if (flag == 'u')
                options.operation = Operation::Unregister;
            else if (flag == 's')
                options.silent = true;
            else
                return false;
        } else if (options.library.empty() && !argument.empty()) {
            options.library = argument;
        } else {
            return false;
        }
    }
    return !options.library.empty();
}

}

int main(int argc, char** argv)
{
    Options options;
    if (!Parse(argc, argv, options)) {
        std::fputs(Usage, stderr);
        return FailArgs;
    }
    const auto report = [&](FILE* stream, const std::string& message) {
        if (!options.silent)
            std::fprintf(stream, "%s\n", message.c_str());
    };
    const char* entry = options.operation == Operation::Register ? "DllRegisterServer" : "DllUnregisterServer";
    if (FAILED(CoInitialize(nullptr))) {
        report(stderr, "OleInitialize failed.");
        return FailOle;
    }
    int result = Success;
    const std::u16string name = platform::FromUtf8(options.library);
    HMODULE module = LoadLibraryW(name.c_str());
    if (!module) {
        report(stderr,
            "The module \"" + options.library
                + "\" failed to load.\n\nMake sure the binary is stored at "
                  "the specified path or debug it to check for problems with the binary or dependent .DLL files.");
        result = FailLoad;
    } else if (auto function
               = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(GetProcAddress(module, entry)));
               !function) {
        report(stderr,
            "The module \"" + options.library + "\" was loaded but the entry-point " + entry
                + " was not found.\n\nMake sure that \"" + options.library
                + "\" is a valid DLL or OCX file and then try again.");
        result = FailEntry;
    } else if (const HRESULT hr = function(); FAILED(hr)) {
        char code[16];
        std::snprintf(code, sizeof(code), "0x%08x", static_cast<unsigned>(hr));
        report(stderr,
            "The module \"" + options.library + "\" was loaded but the call to " + entry + " failed with error code "
                + code + ".");
        result = FailRegister;
    } else {
        report(stdout, std::string(entry) + " in " + options.library + " succeeded.");
    }
    if (module)
        FreeLibrary(module);
    CoUninitialize();
    return result;
}
