#include "Greeter.h"
#include "TestRoot.h"

#include <gtest/gtest.h>

#include <string>

CAtlTestModule _AtlModule;

namespace {

const char16_t* kClassKey = u"CLSID\\{3D4E5F60-7A8B-4C9D-8E0F-1A2B3C4D5E03}";
const char16_t* kAppIdKey = u"AppID\\{3D4E5F60-7A8B-4C9D-8E0F-1A2B3C4D5E09}";
const char16_t* kTypeLibKey = u"TypeLib\\{3D4E5F60-7A8B-4C9D-8E0F-1A2B3C4D5E00}\\1.0";

std::u16string ServerPath()
{
    std::string path = testing_support::BinaryDirectory() + "/AtlTestServer.exe";
    return std::u16string(path.begin(), path.end());
}

// Runs the test server with the arguments and returns its exit code.
DWORD RunServer(const std::u16string& arguments)
{
    std::u16string commandLine = u"\"" + ServerPath() + u"\" " + arguments;
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 0xDEAD;
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0xDEAD;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return code;
}

bool KeyExists(HKEY root, const std::u16string& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::u16string ReadText(HKEY root, const std::u16string& key, const char16_t* name = nullptr)
{
    WCHAR buffer[512];
    DWORD size = sizeof buffer;
    if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return u"<missing>";
    return buffer;
}

enum class Where { Machine, User, Nowhere };

// Where the server's class, AppID and type library are registered; mixed answers fail the test.
Where Registration()
{
    std::u16string classKey = std::u16string(u"Software\\Classes\\") + kClassKey;
    bool machine = KeyExists(HKEY_LOCAL_MACHINE, classKey);
    bool user = KeyExists(HKEY_CURRENT_USER, classKey);
    bool typeLib = KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey);
    bool appId = KeyExists(HKEY_CLASSES_ROOT, kAppIdKey);
    EXPECT_EQ(typeLib, machine || user);
    EXPECT_EQ(appId, machine || user);
    EXPECT_FALSE(machine && user);
    return machine ? Where::Machine : user ? Where::User : Where::Nowhere;
}

}

TEST(ExeModule, RegistrationSwitchesRegisterAndExit)
{
    struct Step {
        const char16_t* arguments;
        DWORD exitCode;
        Where registered;
    };
    const Step steps[] = {
        { u"/RegServer", S_OK, Where::Machine },
        { u"/UnregServer", S_OK, Where::Nowhere },
        { u"-regserver", S_OK, Where::Machine },
        { u"-Embedding /UNREGSERVER", S_OK, Where::Nowhere },
        { u"/REGSERVER", S_OK, Where::Machine },
        { u"-unregserver", S_OK, Where::Nowhere },
        { u"/RegServerPerUser", S_OK, Where::User },
        { u"/UnregServerPerUser", S_OK, Where::Nowhere },
    };
    for (const Step& step : steps) {
        std::string name(step.arguments, step.arguments + std::char_traits<char16_t>::length(step.arguments));
        EXPECT_EQ(RunServer(step.arguments), step.exitCode) << name;
        EXPECT_EQ(Registration(), step.registered) << name;
        if (step.registered == Where::Machine) {
            EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, std::u16string(kClassKey) + u"\\LocalServer32"), ServerPath())
                << name;
            EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"AppID\\AtlTestServer.EXE", u"AppID"),
                u"{3D4E5F60-7A8B-4C9D-8E0F-1A2B3C4D5E09}")
                << name;
        }
    }
    // The AppID key itself is never removed.
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, u"AppID"));
}

TEST(ExeModule, ParsingFindsOnlyWholeSwitches)
{
    struct Case {
        const char16_t* commandLine;
        bool runs;
    };
    const Case cases[] = {
        { u"server.exe", true },
        { u"server.exe -Embedding", true },
        { u"server.exe /RegServerX", true },
        { u"server.exe RegServer", true },
        { u"server.exe /Reg", true },
    };
    for (const Case& c : cases) {
        std::string name(c.commandLine, c.commandLine + std::char_traits<char16_t>::length(c.commandLine));
        HRESULT hr = E_FAIL;
        EXPECT_EQ(_AtlModule.ParseCommandLine(c.commandLine, &hr), c.runs) << name;
        EXPECT_EQ(hr, S_OK) << name;
        EXPECT_EQ(Registration(), Where::Nowhere) << name;
    }
}

TEST(ExeModule, ServesItsClassesUntilTheLastLockGoes)
{
    _AtlModule.m_bDelayShutdown = false;
    // The dispatch part needs the registered type library.
    AtlSetPerUserRegistration(true);
    ASSERT_EQ(_AtlModule.RegisterServer(TRUE), S_OK);

    ASSERT_EQ(_AtlModule.PreMessageLoop(1), S_OK);
    EXPECT_EQ(_AtlModule.GetLockCount(), 0);
    CComPtr<IGreeter> greeter;
    ASSERT_EQ(CoCreateInstance(CLSID_Greeter, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&greeter)), S_OK);
    EXPECT_EQ(_AtlModule.GetLockCount(), 1);

    CComBSTR text;
    ASSERT_EQ(greeter->Greet(CComBSTR(u"World"), &text), S_OK);
    EXPECT_TRUE(text == u"Hello, World");
    UINT count = 0;
    EXPECT_EQ(greeter->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    LPOLESTR names[] = { const_cast<LPOLESTR>(u"Add") };
    DISPID id = 0;
    ASSERT_EQ(greeter->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    EXPECT_EQ(id, 2);
    CComVariant arguments[2] = { CComVariant(3), CComVariant(2) };
    DISPPARAMS params { arguments, nullptr, 2, 0 };
    CComVariant sum;
    ASSERT_EQ(greeter->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &sum, nullptr, nullptr), S_OK);
    EXPECT_EQ(sum.vt, VT_I4);
    EXPECT_EQ(sum.lVal, 5);
    EXPECT_EQ(greeter->Invoke(id, IID_IGreeter, 0, DISPATCH_METHOD, &params, &sum, nullptr, nullptr),
        DISP_E_UNKNOWNINTERFACE);

    // The last object's release tells the main thread to quit, at once.
    greeter.Release();
    EXPECT_EQ(_AtlModule.GetLockCount(), 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
    _AtlModule.RunMessageLoop();
    EXPECT_EQ(_AtlModule.PostMessageLoop(), S_OK);
    // Revoked: the class is no longer served in this process (a local server would be started).
    IClassFactory* factory = nullptr;
    EXPECT_EQ(CoGetClassObject(
                  CLSID_Greeter, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
        REGDB_E_CLASSNOTREG);

    ASSERT_EQ(_AtlModule.UnregisterServer(TRUE), S_OK);
    EXPECT_EQ(Registration(), Where::Nowhere);
    AtlSetPerUserRegistration(false);
}
