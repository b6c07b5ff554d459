// Activation in local servers: the root-wide table of running class objects, and starting a
// server that is not running.
//
// The table is a directory, WINROOT/run/com, with one empty file "{CLSID}.<slot>" for each class
// that the process at that endpoint slot serves to other processes now (registered for
// CLSCTX_LOCAL_SERVER, not suspended, not used up). A server that dies leaves its files behind;
// readers skip the files of slots whose process is not alive and remove them.
#include "ClassTable.h"
#include "Remoting.h"
#include "Utf.h"
#include "WinRoot.h"

#include "handleapi.h"
#include "libloaderapi.h"
#include "processthreadsapi.h"
#include "synchapi.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <mutex>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ole32 {

using namespace platform::ipc;

namespace {

// How long a started server has to register its class object.
constexpr auto kServerStartTimeout = std::chrono::seconds(10);
constexpr DWORD kRegistrationPollMilliseconds = 10;

std::mutex g_publishLock;
std::vector<CLSID> g_published;

std::string TableDirectory()
{
    return platform::RootPath("run/com");
}

std::string EntryPrefix(REFCLSID clsid)
{
    OLECHAR text[CHARS_IN_GUID];
    StringFromGUID2(clsid, text, CHARS_IN_GUID);
    return platform::ToUtf8(text) + ".";
}

// The slots of live processes that serve the class now, in slot order.
std::vector<Slot> RunningServers(REFCLSID clsid)
{
    const std::string prefix = EntryPrefix(clsid);
    std::vector<Slot> candidates;
    if (DIR* directory = opendir(TableDirectory().c_str())) {
        while (const dirent* entry = readdir(directory)) {
            const std::string_view name = entry->d_name;
            if (!name.starts_with(prefix))
                continue;
            Slot slot = 0;
            const char* digits = name.data() + prefix.size();
            const auto [end, error] = std::from_chars(digits, name.data() + name.size(), slot);
            if (error == std::errc() && end == name.data() + name.size() && slot > 0 && slot < kMaxSlots)
                candidates.push_back(slot);
        }
        closedir(directory);
    }
    if (candidates.empty())
        return candidates;
    const std::vector<Slot> live = LivePeers();
    std::vector<Slot> running;
    for (const Slot slot : candidates) {
        if (std::find(live.begin(), live.end(), slot) != live.end())
            running.push_back(slot);
        else if (slot != ComSlot())
            unlink((TableDirectory() + "/" + prefix + std::to_string(slot)).c_str());
    }
    std::sort(running.begin(), running.end());
    return running;
}

// Asks the server at slot for an object; CO_E_OBJNOTREG when it no longer serves the class.
HRESULT ActivateOn(Slot slot, REFCLSID clsid, REFIID iid, void** pointer)
{
    WireWriter out = RequestWriter();
    WriteGuid(out, clsid);
    WriteGuid(out, iid);
    const CallResult result = CallPeer(slot, ComMethod::Activate, std::move(out.Data()));
    if (result.status != CallStatus::Ok)
        return FailureOf(result.status);
    WireReader in(result.body);
    HRESULT hr = static_cast<HRESULT>(in.U32());
    if (FAILED(hr))
        return in.Complete() ? hr : RPC_E_INVALID_DATAPACKET;
    // The server's module first: its type library may be the one the proxy needs.
    SetPeerModule(slot, in.Text(kMaxModulePath));
    hr = ReadInterface(in, slot, pointer);
    if (SUCCEEDED(hr) && !in.Complete()) {
        if (*pointer)
            static_cast<IUnknown*>(*pointer)->Release();
        *pointer = nullptr;
        return RPC_E_INVALID_DATAPACKET;
    }
    return hr;
}

// True when the answer means "try another server".
bool ServerDeclined(HRESULT hr)
{
    return hr == CO_E_OBJNOTREG || hr == RPC_E_DISCONNECTED || hr == CO_E_SERVER_STOPPING;
}

HRESULT ActivateRunning(REFCLSID clsid, REFIID iid, void** pointer)
{
    HRESULT hr = CO_E_OBJNOTREG;
    for (const Slot slot : RunningServers(clsid)) {
        if (slot == ComSlot())
            continue;
        hr = ActivateOn(slot, clsid, iid, pointer);
        if (!ServerDeclined(hr))
            return hr;
    }
    return hr;
}

void ReplyStatus(IncomingCall& call, HRESULT hr)
{
    WireWriter out;
    out.U32(static_cast<std::uint32_t>(hr));
    call.Reply(out.Data());
}

std::u16string OwnModule()
{
    WCHAR path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::u16string(path, length) : std::u16string();
}

}

HRESULT ActivateLocalServer(REFCLSID clsid, REFIID iid, void** pointer)
{
    *pointer = nullptr;
    if (ComSlot() == 0)
        return CO_E_SERVER_EXEC_FAILURE;
    HRESULT hr = ActivateRunning(clsid, iid, pointer);
    if (!ServerDeclined(hr))
        return hr;
    std::u16string path;
    if (!ReadServerPath(clsid, u"LocalServer32", path))
        return REGDB_E_CLASSNOTREG;
    std::u16string commandLine = path + u" -Embedding";
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return CO_E_SERVER_EXEC_FAILURE;
    CloseHandle(process.hThread);
    const auto deadline = std::chrono::steady_clock::now() + kServerStartTimeout;
    hr = CO_E_SERVER_EXEC_FAILURE;
    for (;;) {
        // Whether it had ended is taken before looking, so that a registration made just before
        // it ended is still tried.
        const bool ended = WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0;
        hr = ActivateRunning(clsid, iid, pointer);
        if (!ServerDeclined(hr) || ended || std::chrono::steady_clock::now() >= deadline)
            break;
        WaitForSingleObject(process.hProcess, kRegistrationPollMilliseconds);
    }
    CloseHandle(process.hProcess);
    return ServerDeclined(hr) ? CO_E_SERVER_EXEC_FAILURE : hr;
}

bool LocalServerKnown(REFCLSID clsid)
{
    std::u16string path;
    return ReadServerPath(clsid, u"LocalServer32", path) || !RunningServers(clsid).empty();
}

void ServeActivation(IncomingCall call, Slot caller, WireReader& in)
{
    const CLSID clsid = ReadGuid(in);
    const IID iid = ReadGuid(in);
    if (!in.Complete())
        return call.Fail();
    ApartmentId apartment = kMultithreadedApartment;
    IUnknown* classObject = FindRegisteredClassObject(clsid, CLSCTX_LOCAL_SERVER, &apartment);
    if (!classObject)
        return ReplyStatus(call, CO_E_OBJNOTREG);
    auto shared = std::make_shared<IncomingCall>(std::move(call));
    const bool queued = RunInApartment(apartment, [shared, classObject, clsid, iid, caller] {
        IClassFactory* factory = nullptr;
        HRESULT hr = classObject->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&factory));
        classObject->Release();
        IUnknown* object = nullptr;
        if (SUCCEEDED(hr)) {
            hr = factory->CreateInstance(nullptr, iid, reinterpret_cast<void**>(&object));
            factory->Release();
        }
        WireWriter reference;
        if (SUCCEEDED(hr)) {
            hr = WriteInterface(reference, object, iid, caller);
            object->Release();
        }
        WireWriter out;
        out.U32(static_cast<std::uint32_t>(hr));
        if (SUCCEEDED(hr)) {
            out.Text(OwnModule());
            out.Data().insert(out.Data().end(), reference.Data().begin(), reference.Data().end());
        }
        shared->Reply(out.Data());
    });
    if (!queued) {
        classObject->Release();
        ReplyStatus(*shared, CO_E_SERVER_STOPPING);
    }
}

void PublishRunningClasses(const std::vector<CLSID>& classes)
{
    std::lock_guard lock(g_publishLock);
    const Slot slot = classes.empty() && g_published.empty() ? 0 : ComSlot();
    if (slot == 0)
        return;
    mkdir(TableDirectory().c_str(), 0700);
    const auto entry
        = [&](REFCLSID clsid) { return TableDirectory() + "/" + EntryPrefix(clsid) + std::to_string(slot); };
    for (const CLSID& clsid : g_published)
        if (std::find(classes.begin(), classes.end(), clsid) == classes.end())
            unlink(entry(clsid).c_str());
    for (const CLSID& clsid : classes)
        if (std::find(g_published.begin(), g_published.end(), clsid) == g_published.end())
            close(open(entry(clsid).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    g_published = classes;
}

}
