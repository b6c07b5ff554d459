// Out-of-process COM from a client process: activation of the test local server through its own
// registration, calls that carry each kind of value, interface pointers both ways, remote
// QueryInterface, and what happens when a server or a client dies.
#include "Endpoint.h"
#include "RemoteCalls.h"
#include "TestRoot.h"
#include "WinRoot.h"

#include <gtest/gtest.h>
#include <processthreadsapi.h>
#include <synchapi.h>
#include <winreg.h>
#include <winuser.h>

#include <atomic>
#include <dirent.h>
#include <fstream>
#include <string>
#include <thread>

namespace {

DEFINE_GUID(CLSID_Silent, 0x6a1c2e40, 0x5b7d, 0x4e8f, 0x9a, 0x0b, 0x1c, 0x2d, 0x3e, 0x4f, 0x5a, 0x10);
DEFINE_GUID(IID_Unsupported, 0x6a1c2e40, 0x5b7d, 0x4e8f, 0x9a, 0x0b, 0x1c, 0x2d, 0x3e, 0x4f, 0x5a, 0x11);

constexpr DWORD kProcessEndWait = 20000;

class CTestModule : public CAtlModuleT<CTestModule> { };
CTestModule _AtlModule;

std::u16string Program(const char* name)
{
    const std::string path = testing_support::BinaryDirectory() + "/" + name;
    return std::u16string(path.begin(), path.end());
}

// Starts the command line and, unless told not to, waits for its exit code.
DWORD RunProcess(std::u16string commandLine, HANDLE* started = nullptr)
{
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 0xDEAD;
    CloseHandle(process.hThread);
    if (started) {
        *started = process.hProcess;
        return 0;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0xDEAD;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return code;
}

void SetClassServer(REFCLSID clsid, const std::u16string& commandLine)
{
    OLECHAR guid[CHARS_IN_GUID];
    StringFromGUID2(clsid, guid, CHARS_IN_GUID);
    const std::u16string key = u"CLSID\\" + std::u16string(guid) + u"\\LocalServer32";
    ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, commandLine.c_str(),
                  static_cast<DWORD>((commandLine.size() + 1) * sizeof(char16_t))),
        ERROR_SUCCESS);
}

// Reads a process id that another process writes into a file of the root.
DWORD WaitForPidFile(const std::string& path)
{
    for (int i = 0; i < 2000; ++i) {
        DWORD pid = 0;
        if (std::ifstream(path) >> pid)
            return pid;
        Sleep(10);
    }
    return 0;
}

// A VARIANT's value as text, to compare values of any type.
std::u16string Text(const VARIANT& value)
{
    CComVariant text;
    if (FAILED(VariantChangeType(&text, &value, 0, VT_BSTR)))
        return u"<no text>";
    return std::u16string(text.bstrVal, SysStringLen(text.bstrVal));
}

bool IsRpcFailure(HRESULT hr)
{
    return hr == RPC_E_DISCONNECTED || hr == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
}

class RemoteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(RunProcess(u"\"" + Program("ComTestServer.exe") + u"\" /RegServer"), 0u);
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
    }
    void TearDown() override
    {
        CoUninitialize();
    }

    CComPtr<IRemoteCalls> Activate()
    {
        CComPtr<IRemoteCalls> calls;
        EXPECT_EQ(CoCreateInstance(CLSID_RemoteCalls, nullptr, CLSCTX_LOCAL_SERVER, IID_IRemoteCalls,
                      reinterpret_cast<void**>(&calls)),
            S_OK);
        return calls;
    }

    // The server process of an object, opened to wait for its end.
    HANDLE ServerProcess(IRemoteCalls* calls)
    {
        LONG pid = 0;
        EXPECT_EQ(calls->ProcessId(&pid), S_OK);
        EXPECT_NE(static_cast<DWORD>(pid), GetCurrentProcessId());
        return OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid));
    }
};

TEST_F(RemoteTest, ActivatesServerThatIsNotRunningAndCarriesValues)
{
    CComPtr<IRemoteCalls> calls = Activate();
    ASSERT_TRUE(calls);

    CComBSTR text;
    ASSERT_EQ(calls->Greet(CComBSTR(u"World"), 2, &text), S_OK);
    EXPECT_EQ(std::u16string(text.m_str), u"Hello, World!Hello, World!");
    CComBSTR none;
    ASSERT_EQ(calls->Greet(nullptr, 1, &none), S_OK);
    EXPECT_EQ(std::u16string(none.m_str), u"Hello, !");

    VARIANT_BOOL negated = VARIANT_TRUE;
    ASSERT_EQ(calls->Negate(VARIANT_TRUE, &negated), S_OK);
    EXPECT_EQ(negated, VARIANT_FALSE);

    CComBSTR word(u"stressed");
    LONG length = 0;
    ASSERT_EQ(calls->Reverse(&word, &length), S_OK);
    EXPECT_EQ(std::u16string(word.m_str), u"desserts");
    EXPECT_EQ(length, 8);

    struct EchoCase {
        const char* name;
        CComVariant value;
    };
    const EchoCase cases[] = {
        { "empty", CComVariant() },
        { "long", CComVariant(-123456789) },
        { "bool", CComVariant(true) },
        { "string with a nul", CComVariant(CComBSTR(8, u"with\0nul")) },
        { "short", CComVariant(-7, VT_I2) },
    };
    for (const EchoCase& row : cases) {
        CComVariant echoed;
        ASSERT_EQ(calls->Echo(row.value, &echoed), S_OK) << row.name;
        EXPECT_EQ(echoed.vt, row.value.vt) << row.name;
        EXPECT_EQ(Text(echoed), Text(row.value)) << row.name;
    }

    // A class object of a local server creates through the same activation.
    CComPtr<IClassFactory> factory;
    ASSERT_EQ(
        CoGetClassObject(CLSID_RemoteCalls, CLSCTX_ALL, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
        S_OK);
    CComPtr<IRemoteCalls> second;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IRemoteCalls, reinterpret_cast<void**>(&second)), S_OK);
    LONG first = 0;
    LONG other = 0;
    ASSERT_EQ(calls->ProcessId(&first), S_OK);
    ASSERT_EQ(second->ProcessId(&other), S_OK);
    EXPECT_EQ(first, other);
}

TEST_F(RemoteTest, InterfacePointersTravelBothWays)
{
    CComPtr<IRemoteCalls> calls = Activate();
    ASSERT_TRUE(calls);
    CComPtr<IRemoteCalls> child;
    ASSERT_EQ(calls->CreateChild(CComBSTR(u"kid"), &child), S_OK);
    ASSERT_TRUE(child);
    CComBSTR name;
    ASSERT_EQ(child->GetName(&name), S_OK);
    EXPECT_EQ(std::u16string(name.m_str), u"kid");

    // A proxy handed back to its own server arrives there as the object itself.
    CComBSTR childName;
    ASSERT_EQ(calls->NameOf(child, &childName), S_OK);
    EXPECT_EQ(std::u16string(childName.m_str), u"kid");

    // An object of this process is called back on this thread while it waits for the answer.
    CComObject<CRemoteCalls>* local = nullptr;
    ASSERT_EQ(CComObject<CRemoteCalls>::CreateInstance(&local), S_OK);
    CComPtr<IRemoteCalls> localCalls(local);
    local->m_name = u"local";
    CComBSTR localName;
    ASSERT_EQ(calls->NameOf(localCalls, &localName), S_OK);
    EXPECT_EQ(std::u16string(localName.m_str), u"local");

    // Inside a VARIANT, there and back: the object comes home as itself.
    VARIANT holder;
    VariantInit(&holder);
    V_VT(&holder) = VT_DISPATCH;
    V_DISPATCH(&holder) = localCalls;
    CComVariant echoed;
    ASSERT_EQ(calls->Echo(holder, &echoed), S_OK);
    ASSERT_EQ(echoed.vt, VT_DISPATCH);
    CComPtr<IUnknown> echoedIdentity;
    CComPtr<IUnknown> localIdentity;
    ASSERT_EQ(echoed.pdispVal->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&echoedIdentity)), S_OK);
    ASSERT_EQ(localCalls->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&localIdentity)), S_OK);
    EXPECT_EQ(echoedIdentity.p, localIdentity.p);

    // The server keeps a reference to the local object; it holds while the server does.
    LONG kept = 0;
    ASSERT_EQ(calls->Keep(localCalls, &kept), S_OK);
    EXPECT_EQ(kept, 1);
    localCalls.p->AddRef();
    EXPECT_GT(localCalls.p->Release(), 1u);
    ASSERT_EQ(calls->Keep(nullptr, &kept), S_OK);
    EXPECT_EQ(kept, 0);
}

TEST_F(RemoteTest, QueryInterfaceIsAnsweredByTheServer)
{
    CComPtr<IRemoteCalls> calls = Activate();
    ASSERT_TRUE(calls);
    CComPtr<IUnknown> identity;
    CComPtr<IUnknown> again;
    ASSERT_EQ(calls->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    ASSERT_EQ(calls->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&again)), S_OK);
    EXPECT_EQ(identity.p, again.p);

    void* unsupported = reinterpret_cast<void*>(1);
    EXPECT_EQ(identity->QueryInterface(IID_Unsupported, &unsupported), E_NOINTERFACE);
    EXPECT_EQ(unsupported, nullptr);

    // IDispatch, late bound through the type information, reaches the same server.
    CComPtr<IDispatch> dispatch;
    ASSERT_EQ(identity->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    LPOLESTR method = const_cast<LPOLESTR>(u"Greet");
    DISPID id = 0;
    ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, &method, 1, 0, &id), S_OK);
    EXPECT_EQ(id, 1);
    CComVariant arguments[2] = { CComVariant(1), CComVariant(u"Dispatch") }; // last first
    DISPPARAMS params { arguments, nullptr, 2, 0 };
    CComVariant result;
    ASSERT_EQ(dispatch->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr), S_OK);
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(result.bstrVal), u"Hello, Dispatch!");
}

TEST_F(RemoteTest, SentMessagesAreHandledWhileWaitingForTheServer)
{
    CComPtr<IRemoteCalls> calls = Activate();
    ASSERT_TRUE(calls);
    static std::atomic<bool> inCall { false };
    static std::atomic<bool> handledInCall { false };
    WNDCLASSEXW windowClass {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpszClassName = u"RemoteTestWindow";
    windowClass.lpfnWndProc = [](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (message == WM_APP) {
            handledInCall = inCall.load();
            return 42;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    };
    ASSERT_NE(RegisterClassExW(&windowClass), 0);
    HWND window = CreateWindowExW(0, u"RemoteTestWindow", u"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(window);
    LRESULT answer = 0;
    std::thread sender([&] {
        while (!inCall)
            Sleep(1);
        answer = SendMessageW(window, WM_APP, 0, 0);
    });
    inCall = true;
    EXPECT_EQ(calls->Pause(1500), S_OK);
    inCall = false;
    sender.join();
    EXPECT_EQ(answer, 42);
    EXPECT_TRUE(handledInCall);
    DestroyWindow(window);
}

TEST_F(RemoteTest, ServerThatDiesDuringACallFailsItAtOnce)
{
    CComPtr<IRemoteCalls> calls = Activate();
    ASSERT_TRUE(calls);
    HANDLE server = ServerProcess(calls);
    ASSERT_TRUE(server);
    EXPECT_PRED1(IsRpcFailure, calls->Crash());
    LONG pid = 0;
    EXPECT_PRED1(IsRpcFailure, calls->ProcessId(&pid));
    EXPECT_EQ(WaitForSingleObject(server, kProcessEndWait), WAIT_OBJECT_0);
    CloseHandle(server);
    EXPECT_EQ(calls.Detach()->Release(), 0u);
}

TEST_F(RemoteTest, ActivationFailsForServersThatDoNotRegister)
{
    EXPECT_EQ(CoCreateInstance(CLSID_Silent, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, nullptr), E_POINTER);
    IUnknown* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_Silent, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&object)),
        REGDB_E_CLASSNOTREG);

    struct Case {
        const char* name;
        std::u16string server;
    };
    const Case cases[] = {
        { "exits at once", u"/bin/false" },
        { "runs without registering", Program("ComTestSilent.exe") },
    };
    for (const Case& row : cases) {
        SetClassServer(CLSID_Silent, row.server);
        EXPECT_EQ(CoCreateInstance(
                      CLSID_Silent, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object)),
            CO_E_SERVER_EXEC_FAILURE)
            << row.name;
        EXPECT_EQ(object, nullptr) << row.name;
    }
    const DWORD silent = WaitForPidFile(platform::RootPath("silent.pid"));
    ASSERT_NE(silent, 0u);
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, silent);
    ASSERT_TRUE(process);
    TerminateProcess(process, 1);
    WaitForSingleObject(process, kProcessEndWait);
    CloseHandle(process);
}

TEST_F(RemoteTest, ServerEndsWhenTheLastClientReleases)
{
    CComPtr<IRemoteCalls> calls = Activate();
    ASSERT_TRUE(calls);
    CComPtr<IRemoteCalls> child;
    ASSERT_EQ(calls->CreateChild(CComBSTR(u"kid"), &child), S_OK);
    HANDLE server = ServerProcess(calls);
    ASSERT_TRUE(server);
    calls.Release();
    // The child is an object of the server too: it keeps the server running.
    EXPECT_EQ(WaitForSingleObject(server, 300), static_cast<DWORD>(WAIT_TIMEOUT));
    CComBSTR name;
    EXPECT_EQ(child->GetName(&name), S_OK);
    child.Release();
    EXPECT_EQ(WaitForSingleObject(server, kProcessEndWait), WAIT_OBJECT_0);
    CloseHandle(server);
}

TEST_F(RemoteTest, TwoClientsShareOneServerWhichOutlivesNeitherOfThem)
{
    CComPtr<IRemoteCalls> calls = Activate();
    ASSERT_TRUE(calls);
    HANDLE server = ServerProcess(calls);
    ASSERT_TRUE(server);
    LONG serverPid = 0;
    ASSERT_EQ(calls->ProcessId(&serverPid), S_OK);

    const std::string pidFile = platform::RootPath("client.pid");
    HANDLE client = nullptr;
    const std::u16string file(pidFile.begin(), pidFile.end());
    ASSERT_EQ(RunProcess(u"\"" + Program("ComTestClient.exe") + u"\" " + file, &client), 0u);
    EXPECT_EQ(WaitForPidFile(pidFile), static_cast<DWORD>(serverPid));

    // This client goes; the other's reference keeps the server.
    calls.Release();
    EXPECT_EQ(WaitForSingleObject(server, 500), static_cast<DWORD>(WAIT_TIMEOUT));

    // The other client is killed holding its reference: the server lets it go and ends.
    TerminateProcess(client, 9);
    EXPECT_EQ(WaitForSingleObject(client, kProcessEndWait), WAIT_OBJECT_0);
    CloseHandle(client);
    EXPECT_EQ(WaitForSingleObject(server, kProcessEndWait), WAIT_OBJECT_0);
    CloseHandle(server);
}

}

namespace {

using namespace platform::ipc;

// The endpoint slot of the process that serves the class, from the root's table of running
// classes.
Slot ServerSlot()
{
    const std::string prefix = "{6A1C2E40-5B7D-4E8F-9A0B-1C2D3E4F5A02}.";
    Slot slot = 0;
    if (DIR* directory = opendir(platform::RootPath("run/com").c_str())) {
        while (const dirent* entry = readdir(directory))
            if (std::string_view(entry->d_name).starts_with(prefix))
                slot = static_cast<Slot>(std::stoul(entry->d_name + prefix.size()));
        closedir(directory);
    }
    return slot;
}

void WriteGuid(WireWriter& out, REFGUID guid)
{
    out.U32(guid.Data1);
    out.U32(static_cast<std::uint32_t>(guid.Data2) | static_cast<std::uint32_t>(guid.Data3) << 16);
    std::uint64_t tail = 0;
    for (int i = 0; i < 8; ++i)
        tail |= static_cast<std::uint64_t>(guid.Data4[i]) << (8 * i);
    out.U64(tail);
}

// A Call request's head: the caller, the server's first object (the activated one), IRemoteCalls
// and the function-table slot.
WireWriter CallHead(std::uint32_t slot)
{
    WireWriter out;
    out.U32(OwnSlot());
    out.U64(1);
    WriteGuid(out, IID_IRemoteCalls);
    out.U32(slot);
    return out;
}

constexpr std::uint32_t kActivate = 1;
constexpr std::uint32_t kCall = 2;
constexpr std::uint32_t kRelease = 4;
constexpr std::uint32_t kGreetSlot = 7;
constexpr std::uint32_t kNameOfSlot = 12;

}

TEST_F(RemoteTest, RequestsThatBreakTheRulesAreRefusedAndTheServerCarriesOn)
{
    CComPtr<IRemoteCalls> calls = Activate();
    ASSERT_TRUE(calls);
    LONG pid = 0;
    ASSERT_EQ(calls->ProcessId(&pid), S_OK);
    const Slot server = ServerSlot();
    ASSERT_NE(server, 0u);

    struct Case {
        const char* name;
        std::uint32_t method;
        WireWriter body;
        CallStatus status;
        HRESULT hr; // the answer's status, when there is one
    };
    std::vector<Case> cases;
    {
        WireWriter body;
        body.U32(OwnSlot());
        cases.push_back({ "unknown method", 99, body, CallStatus::Refused, S_OK });
    }
    {
        WireWriter body;
        body.U32(OwnSlot());
        body.U64(999);
        body.U64(1);
        cases.push_back({ "release of an unknown object", kRelease, body, CallStatus::Ok, S_OK });
    }
    {
        WireWriter body;
        body.U32(OwnSlot());
        body.U64(999);
        WriteGuid(body, IID_IRemoteCalls);
        body.U32(kGreetSlot);
        cases.push_back({ "call to an unknown object", kCall, body, CallStatus::Ok, RPC_E_DISCONNECTED });
    }
    {
        WireWriter body = CallHead(kGreetSlot);
        body.U32(1); // a string follows
        body.U32(0x7FFFFFFF); // of more units than any BSTR may carry
        cases.push_back({ "string over its limit", kCall, body, CallStatus::Refused, S_OK });
    }
    cases.push_back({ "arguments missing", kCall, CallHead(kGreetSlot), CallStatus::Refused, S_OK });
    cases.push_back({ "slot beyond the interface", kCall, CallHead(300), CallStatus::Ok, RPC_E_INVALIDMETHOD });
    {
        WireWriter body = CallHead(kNameOfSlot);
        body.U32(OwnSlot());
        body.U64(1);
        WriteGuid(body, IID_IRemoteCalls);
        body.U32(7); // an object reference hands over at most one reference
        cases.push_back({ "reference handing over many", kCall, body, CallStatus::Refused, S_OK });
    }
    {
        WireWriter body;
        body.U32(OwnSlot());
        WriteGuid(body, CLSID_RemoteCalls);
        WriteGuid(body, IID_IRemoteCalls);
        body.U32(0); // trailing
        cases.push_back({ "activation with trailing bytes", kActivate, body, CallStatus::Refused, S_OK });
    }
    for (Case& row : cases) {
        const CallResult result
            = platform::ipc::Call(server, Service::Com, row.method, row.body.Data(), std::chrono::seconds(10), "test");
        EXPECT_EQ(result.status, row.status) << row.name;
        if (result.status == CallStatus::Ok && !result.body.empty()) {
            WireReader in(result.body);
            EXPECT_EQ(static_cast<HRESULT>(in.U32()), row.hr) << row.name;
        }
    }

    LONG again = 0;
    EXPECT_EQ(calls->ProcessId(&again), S_OK);
    EXPECT_EQ(again, pid);
}
