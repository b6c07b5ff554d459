// ReelscanModule.exe as a process: its registration switches write and remove exactly the
// server's entries and exit with their HRESULT; other command lines run the server, whose
// waveOutWrite is refused.
#include "ServerProcess.h"
#include "TestRoot.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

namespace {

const std::string kClsid = "{6F1B3C20-5A47-4E8B-9C31-2D7E8A4B1C03}";
const std::string kLibid = "{6F1B3C20-5A47-4E8B-9C31-2D7E8A4B1C00}";
const std::string kAppId = "{6F1B3C20-5A47-4E8B-9C31-2D7E8A4B1C04}";

std::string ServerPath()
{
    return BuildProgramPath("ReelscanModule.exe");
}

std::u16string Wide(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

std::string Narrow(const std::u16string& text)
{
    std::string narrow;
    for (char16_t c : text)
        narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return narrow;
}

DWORD RunServer(const std::string& arguments)
{
    return RunProgramToEnd("ReelscanModule.exe", arguments);
}

// Every key ("K path") and value ("V path|name=data") below key, paths relative to it; the type
// library's own entries (TypeLib, Interface) are left to the type-library tests.
void Dump(HKEY root, const std::u16string& path, const std::string& relative, std::set<std::string>& lines)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    if (!relative.empty())
        lines.insert("K " + relative);
    for (DWORD index = 0;; ++index) {
        WCHAR name[256];
        DWORD nameLength = 256;
        BYTE data[1024];
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &dataSize) != ERROR_SUCCESS)
            break;
        std::string value = type == REG_SZ ? Narrow(std::u16string(reinterpret_cast<const char16_t*>(data)))
                                           : "<type " + std::to_string(type) + ">";
        lines.insert("V " + relative + "|" + (nameLength ? Narrow(name) : "@") + "=" + value);
    }
    for (DWORD index = 0;; ++index) {
        WCHAR name[256];
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        const std::string child = relative.empty() ? Narrow(name) : relative + "\\" + Narrow(name);
        if (relative.empty() && (child == "TypeLib" || child == "Interface"))
            continue;
        Dump(root, path + u"\\" + name, child, lines);
    }
    RegCloseKey(key);
}

std::set<std::string> Classes(HKEY root)
{
    std::set<std::string> lines;
    Dump(root, u"Software\\Classes", "", lines);
    return lines;
}

bool KeyExists(HKEY root, const std::string& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, Wide(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::set<std::string> ServerEntries()
{
    const std::string c = "CLSID\\" + kClsid;
    return {
        "K AppID",
        "K AppID\\" + kAppId,
        "V AppID\\" + kAppId + "|@=ReelscanModule",
        "K AppID\\ReelscanModule.EXE",
        "V AppID\\ReelscanModule.EXE|AppID=" + kAppId,
        "K ReelscanModule.ReqService.1",
        "V ReelscanModule.ReqService.1|@=ReqService Class",
        "K ReelscanModule.ReqService.1\\CLSID",
        "V ReelscanModule.ReqService.1\\CLSID|@=" + kClsid,
        "K ReelscanModule.ReqService",
        "V ReelscanModule.ReqService|@=ReqService Class",
        "K ReelscanModule.ReqService\\CLSID",
        "V ReelscanModule.ReqService\\CLSID|@=" + kClsid,
        "K ReelscanModule.ReqService\\CurVer",
        "V ReelscanModule.ReqService\\CurVer|@=ReelscanModule.ReqService.1",
        "K CLSID",
        "K " + c,
        "V " + c + "|@=ReqService Class",
        "K " + c + "\\ProgID",
        "V " + c + "\\ProgID|@=ReelscanModule.ReqService.1",
        "K " + c + "\\VersionIndependentProgID",
        "V " + c + "\\VersionIndependentProgID|@=ReelscanModule.ReqService",
        "K " + c + "\\Programmable",
        "K " + c + "\\LocalServer32",
        "V " + c + "\\LocalServer32|@=" + ServerPath(),
        "K " + c + "\\TypeLib",
        "V " + c + "\\TypeLib|@=" + kLibid,
    };
}

std::set<std::string> Union(std::set<std::string> a, const std::set<std::string>& b)
{
    a.insert(b.begin(), b.end());
    return a;
}

enum class Where { Machine, User, Nowhere };

std::string Describe(const std::set<std::string>& lines)
{
    std::ostringstream text;
    for (const std::string& line : lines)
        text << "  " << line << "\n";
    return text.str();
}

}

TEST(ReelscanModule, RegistrationSwitchesWriteAndRemoveExactlyTheServersEntries)
{
    const std::set<std::string> machineBefore = Classes(HKEY_LOCAL_MACHINE);
    const std::set<std::string> userBefore = Classes(HKEY_CURRENT_USER);
    // What stays after unregistering: the AppID and CLSID keys themselves.
    const std::set<std::string> kept = { "K AppID", "K CLSID" };
    struct Step {
        const char* arguments;
        Where registered;
    };
    const Step steps[] = {
        { "/RegServer", Where::Machine },
        { "/UnregServer", Where::Nowhere },
        { "-regserver", Where::Machine },
        { "-Embedding /UNREGSERVER", Where::Nowhere },
        { "/REGSERVER", Where::Machine },
        { "-unregserver", Where::Nowhere },
        { "/RegServerPerUser", Where::User },
        { "/UnregServerPerUser", Where::Nowhere },
        { "-regserverperuser", Where::User },
        { "-UNREGSERVERPERUSER", Where::Nowhere },
    };
    bool machineTouched = false;
    bool userTouched = false;
    for (const Step& step : steps) {
        EXPECT_EQ(RunServer(step.arguments), static_cast<DWORD>(S_OK)) << step.arguments;
        machineTouched |= step.registered == Where::Machine;
        userTouched |= step.registered == Where::User;
        const std::set<std::string> machineRest = machineTouched ? Union(machineBefore, kept) : machineBefore;
        const std::set<std::string> userRest = userTouched ? Union(userBefore, kept) : userBefore;
        const std::set<std::string> machine = Classes(HKEY_LOCAL_MACHINE);
        const std::set<std::string> user = Classes(HKEY_CURRENT_USER);
        const std::set<std::string> machineExpected
            = step.registered == Where::Machine ? Union(machineRest, ServerEntries()) : machineRest;
        const std::set<std::string> userExpected
            = step.registered == Where::User ? Union(userRest, ServerEntries()) : userRest;
        EXPECT_EQ(machine, machineExpected) << step.arguments << ": machine classes are\n" << Describe(machine);
        EXPECT_EQ(user, userExpected) << step.arguments << ": user classes are\n" << Describe(user);
        const std::string typeLib = "Software\\Classes\\TypeLib\\" + kLibid + "\\1.0";
        EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, typeLib), step.registered == Where::Machine) << step.arguments;
        EXPECT_EQ(KeyExists(HKEY_CURRENT_USER, typeLib), step.registered == Where::User) << step.arguments;
    }
}

TEST(ReelscanModule, WaveOutWriteInsideTheRunningServerIsRefused)
{
    const std::string outcome = testing_support::TestRoot() + "/mute-probe.txt";
    const std::string probe = testing_support::BinaryDirectory() + "/libservice_mute_probe.so";
    setenv("REELSCAN_MUTE_PROBE", outcome.c_str(), 1);
    setenv("LD_PRELOAD", probe.c_str(), 1);
    StartedProgram server = StartProgram("ReelscanModule.exe", "-Embedding");
    unsetenv("LD_PRELOAD");
    unsetenv("REELSCAN_MUTE_PROBE");
    ASSERT_TRUE(server.process);

    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (bool running = true; text.empty() && running && std::chrono::steady_clock::now() < deadline;) {
        running = WaitForSingleObject(server.process, 50) == WAIT_TIMEOUT;
        std::ifstream file(outcome);
        std::getline(file, text);
    }
    EndProgram(server);
    // WAVERR_UNPREPARED, and the device was given nothing to play.
    EXPECT_EQ(text, "write=34 played=0");
}
