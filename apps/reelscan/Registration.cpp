#include "Registration.h"

#include "Host.h"
#include "objbase.h"
#include "windows.h"

#include <cstdio>

namespace {

constexpr char16_t kProgId[] = u"ReelscanModule.ReqService";
constexpr char kServerFile[] = "ReelscanModule.exe";

// The ProgID names a class, and that class has a local server COM could start.
bool ServerRegistered()
{
    CLSID clsid {};
    if (FAILED(CLSIDFromProgID(kProgId, &clsid)))
        return false;
    WCHAR text[40] = {};
    if (StringFromGUID2(clsid, text, 40) == 0)
        return false;
    const std::u16string key = u"CLSID\\" + std::u16string(text) + u"\\LocalServer32";
    HKEY server = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &server) != ERROR_SUCCESS)
        return false;
    RegCloseKey(server);
    return true;
}

std::string Hex(DWORD value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

}

RegistrationOutcome EnsureServerRegistered(const std::filesystem::path& programDirectory)
{
    if (ServerRegistered())
        return { Registration::AlreadyThere, {} };
    const std::filesystem::path server = programDirectory / kServerFile;
    const std::string run = server.string() + " /RegServerPerUser";
    std::error_code error;
    if (!std::filesystem::is_regular_file(server, error))
        return { Registration::Failed,
            "the request service is not registered and " + server.string()
                + " is missing; it must lie beside reelscan" };

    // The program's own name leads its command line without a path, so that no '/' of a
    // directory reads as a switch.
    const std::u16string application = Wide(server.string());
    std::u16string commandLine = Wide(std::string(kServerFile) + " /RegServerPerUser");
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process {};
    if (!CreateProcessW(
            application.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return { Registration::Failed, "cannot start " + run + " (error " + std::to_string(GetLastError()) + ")" };
    CloseHandle(process.hThread);
    const DWORD patience
        = static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(kRegistrationPatience).count());
    DWORD exitCode = 0;
    const bool ended = WaitForSingleObject(process.hProcess, patience) == WAIT_OBJECT_0;
    if (!ended)
        TerminateProcess(process.hProcess, 1);
    const bool haveCode = ended && GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    if (!ended)
        return { Registration::Failed,
            run + " did not finish within " + std::to_string(kRegistrationPatience.count()) + " s; ended it" };
    if (!haveCode || exitCode != 0)
        return { Registration::Failed, run + " failed with " + Hex(exitCode) };
    if (!ServerRegistered())
        return { Registration::Failed,
            run + " succeeded but left no ReelscanModule.ReqService class with a local server" };
    return { Registration::RegisteredNow, "registered the request service for this user: " + run };
}
