// The marshaler's serving side and its values: the objects this process exports to others (each
// with the remote references every client holds), the Com service that runs their calls through
// their function tables from the type information, and the watch on clients that die.
#include "Remoting.h"

#include "VtableCall.h"
#include "libloaderapi.h"
#include "oleauto.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace ole32 {

using namespace platform::ipc;

namespace {

struct ExportedInterface {
    IID iid;
    IUnknown* pointer; // one reference, held by the export
    std::shared_ptr<InterfaceInfo> info;
};

struct Export {
    std::uint64_t id = 0;
    IUnknown* identity = nullptr; // one reference, held by the export
    ApartmentId apartment = kMultithreadedApartment;
    // Guarded by g_exportLock.
    std::vector<ExportedInterface> interfaces;
    std::map<Slot, std::uint64_t> references; // remote references by client
};

// The tables outlive the process's static destructors: the endpoint's I/O thread and the client
// watch may still use them while the process exits.
std::mutex g_exportLock;
auto& g_exports = *new std::map<std::uint64_t, std::shared_ptr<Export>>;
auto& g_exportIds = *new std::map<IUnknown*, std::uint64_t>;
std::uint64_t g_nextExport = 1;

std::mutex g_peerLock;
auto& g_peerModules = *new std::map<Slot, std::u16string>;

constexpr auto kCallDeadline = std::chrono::hours(24);
constexpr auto kClientWatchPeriod = std::chrono::milliseconds(300);

std::u16string OwnModulePath()
{
    WCHAR path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::u16string(path, length) : std::u16string();
}

std::shared_ptr<Export> FindExport(std::uint64_t id)
{
    std::lock_guard lock(g_exportLock);
    auto found = g_exports.find(id);
    return found == g_exports.end() ? nullptr : found->second;
}

// Releases what the export holds; runs in the export's apartment, after it left the tables.
void Retire(const std::shared_ptr<Export>& object)
{
    std::vector<ExportedInterface> interfaces;
    {
        std::lock_guard lock(g_exportLock);
        interfaces.swap(object->interfaces);
    }
    for (ExportedInterface& entry : interfaces)
        entry.pointer->Release();
    object->identity->Release();
}

// Takes count references of the client from the export; the export leaves the tables, and is
// returned for retiring, when no client holds any.
std::shared_ptr<Export> DropReferences(std::uint64_t id, Slot client, std::uint64_t count)
{
    std::lock_guard lock(g_exportLock);
    auto found = g_exports.find(id);
    if (found == g_exports.end())
        return nullptr;
    std::shared_ptr<Export> object = found->second;
    auto held = object->references.find(client);
    if (held == object->references.end())
        return nullptr;
    held->second -= std::min(held->second, count);
    if (held->second == 0)
        object->references.erase(held);
    if (!object->references.empty())
        return nullptr;
    g_exportIds.erase(object->identity);
    g_exports.erase(found);
    return object;
}

void RetireInApartment(std::shared_ptr<Export> object)
{
    const ApartmentId apartment = object->apartment;
    RunInApartment(apartment, [object = std::move(object)] { Retire(object); });
}

// Releases the references of clients whose processes are gone.
void WatchClients()
{
    for (;;) {
        std::this_thread::sleep_for(kClientWatchPeriod);
        std::set<Slot> clients;
        {
            std::lock_guard lock(g_exportLock);
            for (const auto& [id, object] : g_exports)
                for (const auto& [client, count] : object->references)
                    clients.insert(client);
        }
        if (clients.empty())
            continue;
        const std::vector<Slot> live = LivePeers();
        for (const Slot client : clients) {
            if (std::find(live.begin(), live.end(), client) != live.end())
                continue;
            std::vector<std::uint64_t> ids;
            {
                std::lock_guard lock(g_exportLock);
                for (const auto& [id, object] : g_exports)
                    if (object->references.count(client))
                        ids.push_back(id);
            }
            for (const std::uint64_t id : ids)
                if (std::shared_ptr<Export> retired = DropReferences(id, client, UINT64_MAX))
                    RetireInApartment(std::move(retired));
        }
    }
}

void StartWatchingClients()
{
    static std::once_flag started;
    std::call_once(started, [] { std::thread(WatchClients).detach(); });
}

// The export of the object with identity, made on first need in the calling thread's apartment,
// with the interface iid ready; E_NOINTERFACE when the object lacks it or no type information
// describes it.
HRESULT ExportInterface(IUnknown* identity, REFIID iid, std::shared_ptr<Export>& result)
{
    std::shared_ptr<InterfaceInfo> info;
    IUnknown* pointer = nullptr;
    if (iid != IID_IUnknown) {
        HRESULT hr = identity->QueryInterface(iid, reinterpret_cast<void**>(&pointer));
        if (FAILED(hr))
            return hr;
        info = FindInterfaceInfo(iid, OwnModulePath(), identity);
        if (!info) {
            pointer->Release();
            return E_NOINTERFACE;
        }
    }
    std::lock_guard lock(g_exportLock);
    auto known = g_exportIds.find(identity);
    if (known != g_exportIds.end()) {
        result = g_exports[known->second];
    } else {
        result = std::make_shared<Export>();
        result->id = g_nextExport++;
        result->identity = identity;
        identity->AddRef();
        if (!CurrentApartment(result->apartment))
            result->apartment = kMultithreadedApartment;
        MakeApartmentReachable();
        g_exports[result->id] = result;
        g_exportIds[identity] = result->id;
    }
    if (pointer) {
        const bool present = std::any_of(result->interfaces.begin(), result->interfaces.end(),
            [&](const ExportedInterface& entry) { return entry.iid == iid; });
        if (present)
            pointer->Release();
        else
            result->interfaces.push_back(ExportedInterface { iid, pointer, std::move(info) });
    }
    return S_OK;
}

// The IID under which an IDispatch pointer travels: its dual interface when it has one, so that
// the receiver's proxy can answer both.
IID WireIid(IUnknown* pointer, REFIID iid)
{
    if (iid != IID_IDispatch)
        return iid;
    IDispatch* dispatch = nullptr;
    if (FAILED(pointer->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))))
        return iid;
    IID wire = iid;
    ITypeInfo* info = nullptr;
    if (SUCCEEDED(dispatch->GetTypeInfo(0, 0, &info))) {
        TYPEATTR* attr = nullptr;
        if (SUCCEEDED(info->GetTypeAttr(&attr))) {
            if (attr->wTypeFlags & TYPEFLAG_FDUAL)
                wire = attr->guid;
            info->ReleaseTypeAttr(attr);
        }
        info->Release();
    }
    dispatch->Release();
    return wire;
}

std::size_t ScalarWidth(VARTYPE vt)
{
    switch (vt) {
    case VT_I1:
    case VT_UI1:
        return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
        return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
    case VT_R4:
        return 4;
    case VT_I8:
    case VT_UI8:
    case VT_CY:
    case VT_R8:
    case VT_DATE:
        return 8;
    default:
        return 0;
    }
}

bool IsInterface(VARTYPE vt)
{
    return vt == VT_UNKNOWN || vt == VT_DISPATCH;
}

// The type of a value that a VARIANT of type vt holds, or false when it cannot travel.
bool VariantContent(VARTYPE vt, ValueType& type)
{
    if (vt == VT_EMPTY || vt == VT_NULL || ScalarWidth(vt) || vt == VT_BSTR) {
        type.vt = vt;
        return true;
    }
    if (IsInterface(vt)) {
        type.vt = vt;
        type.iid = vt == VT_UNKNOWN ? IID_IUnknown : IID_IDispatch;
        return true;
    }
    return false;
}

void WriteReply(IncomingCall& call, WireWriter& out)
{
    call.Reply(out.Data());
}

void ReplyStatus(IncomingCall& call, HRESULT hr)
{
    WireWriter out;
    out.U32(static_cast<std::uint32_t>(hr));
    call.Reply(out.Data());
}

// Runs a call to an exported interface in its apartment and answers it.
void ServeCall(IncomingCall& call)
{
    WireReader in(call.Body());
    const Slot caller = in.U32();
    const std::uint64_t id = in.U64();
    const IID iid = ReadGuid(in);
    const std::uint32_t slot = in.U32();
    const std::shared_ptr<Export> object = FindExport(id);
    if (!object)
        return ReplyStatus(call, RPC_E_DISCONNECTED);
    IUnknown* pointer = nullptr;
    std::shared_ptr<InterfaceInfo> info;
    {
        std::lock_guard lock(g_exportLock);
        for (const ExportedInterface& entry : object->interfaces)
            if (entry.iid == iid) {
                pointer = entry.pointer;
                info = entry.info;
            }
        if (pointer)
            pointer->AddRef();
    }
    if (!pointer)
        return ReplyStatus(call, E_NOINTERFACE);
    if (slot >= info->methods.size() || !info->methods[slot].present) {
        pointer->Release();
        return ReplyStatus(call, RPC_E_INVALIDMETHOD);
    }
    const std::vector<ParamInfo>& params = info->methods[slot].params;
    std::vector<VARIANT> storage(params.size());
    for (VARIANT& value : storage)
        VariantInit(&value);
    platform::VtableCall arguments;
    arguments.AddWord(reinterpret_cast<platform::VtableCall::Word>(pointer));
    bool ok = true;
    std::size_t read = 0;
    for (; ok && read < params.size(); ++read) {
        const ParamInfo& param = params[read];
        void* data = DataOf(storage[read], param.type);
        if (param.in)
            ok = SUCCEEDED(ReadValue(in, param.type, data, caller));
        if (!ok)
            break;
        if (param.byRef)
            ok = arguments.AddWord(reinterpret_cast<platform::VtableCall::Word>(data));
        else if (param.type.vt == VT_VARIANT)
            ok = arguments.AddStack(data, sizeof(VARIANT) / sizeof(platform::VtableCall::Word));
        else
            ok = arguments.AddWord(*static_cast<const platform::VtableCall::Word*>(data));
    }
    ok = ok && in.Complete();
    WireWriter out;
    if (ok) {
        read = params.size();
        const HRESULT hr = arguments.Call(pointer, slot);
        out.U32(static_cast<std::uint32_t>(hr));
        for (std::size_t i = 0; i < params.size() && ok; ++i)
            if (params[i].out)
                ok = SUCCEEDED(WriteValue(out, params[i].type, DataOf(storage[i], params[i].type), caller));
        if (!ok) {
            out = WireWriter();
            out.U32(static_cast<std::uint32_t>(RPC_E_SERVERFAULT));
            ok = true;
        }
    }
    if (ok)
        WriteReply(call, out);
    else
        call.Fail();
    for (std::size_t i = 0; i < read && i < params.size(); ++i)
        ClearValue(params[i].type, DataOf(storage[i], params[i].type));
    pointer->Release();
}

void ServeQueryInterface(IncomingCall& call)
{
    WireReader in(call.Body());
    const Slot caller = in.U32();
    const std::uint64_t id = in.U64();
    const IID iid = ReadGuid(in);
    if (!in.Complete())
        return call.Fail();
    const std::shared_ptr<Export> object = FindExport(id);
    if (!object)
        return ReplyStatus(call, RPC_E_DISCONNECTED);
    IUnknown* pointer = nullptr;
    HRESULT hr = object->identity->QueryInterface(iid, reinterpret_cast<void**>(&pointer));
    WireWriter out;
    WireWriter reference;
    if (SUCCEEDED(hr)) {
        hr = WriteInterface(reference, pointer, iid, caller);
        pointer->Release();
    }
    out.U32(static_cast<std::uint32_t>(hr));
    if (SUCCEEDED(hr))
        out.Data().insert(out.Data().end(), reference.Data().begin(), reference.Data().end());
    WriteReply(call, out);
}

// The Com service's handler, on the endpoint's I/O thread: every request runs in the apartment of
// the object it is for.
void Serve(IncomingCall call)
{
    WireReader in(call.Body());
    const Slot caller = in.U32();
    const auto method = static_cast<ComMethod>(call.Method());
    if (method == ComMethod::Activate)
        return ServeActivation(std::move(call), caller, in);
    const std::uint64_t id = in.U64();
    const std::shared_ptr<Export> object = FindExport(id);
    if (method == ComMethod::Release) {
        const std::uint64_t count = in.U64();
        if (in.Complete())
            if (std::shared_ptr<Export> retired = DropReferences(id, caller, count))
                RetireInApartment(std::move(retired));
        call.Reply({});
        return;
    }
    if (method == ComMethod::AddRef) {
        if (!in.Complete())
            return call.Fail();
        bool added = false;
        {
            std::lock_guard lock(g_exportLock);
            auto found = g_exports.find(id);
            if (found != g_exports.end() && !found->second->references.empty()) {
                ++found->second->references[caller];
                added = true;
            }
        }
        if (added)
            StartWatchingClients();
        return ReplyStatus(call, added ? S_OK : RPC_E_DISCONNECTED);
    }
    if (method != ComMethod::Call && method != ComMethod::QueryInterface)
        return call.Fail();
    if (!object)
        return ReplyStatus(call, RPC_E_DISCONNECTED);
    auto shared = std::make_shared<IncomingCall>(std::move(call));
    RunInApartment(object->apartment, [shared, method] {
        if (method == ComMethod::Call)
            ServeCall(*shared);
        else
            ServeQueryInterface(*shared);
    });
}

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

GUID ReadGuid(WireReader& in)
{
    GUID guid {};
    guid.Data1 = in.U32();
    const std::uint32_t middle = in.U32();
    guid.Data2 = static_cast<unsigned short>(middle);
    guid.Data3 = static_cast<unsigned short>(middle >> 16);
    const std::uint64_t tail = in.U64();
    for (int i = 0; i < 8; ++i)
        guid.Data4[i] = static_cast<unsigned char>(tail >> (8 * i));
    return guid;
}

void* DataOf(VARIANT& room, const ValueType& type)
{
    return type.vt == VT_VARIANT ? static_cast<void*>(&room) : static_cast<void*>(&room.llVal);
}

std::size_t ValueSize(const ValueType& type)
{
    if (const std::size_t width = ScalarWidth(type.vt))
        return width;
    return type.vt == VT_VARIANT ? sizeof(VARIANT) : sizeof(void*);
}

Slot ComSlot()
{
    static const Slot slot = [] {
        SetHandler(Service::Com, Serve);
        return OwnSlot();
    }();
    return slot;
}

std::u16string PeerModule(Slot slot)
{
    std::lock_guard lock(g_peerLock);
    auto found = g_peerModules.find(slot);
    return found == g_peerModules.end() ? std::u16string() : found->second;
}

void SetPeerModule(Slot slot, const std::u16string& path)
{
    std::lock_guard lock(g_peerLock);
    g_peerModules[slot] = path;
}

WireWriter RequestWriter()
{
    WireWriter out;
    out.U32(ComSlot());
    return out;
}

CallResult CallPeer(Slot peer, ComMethod method, std::vector<std::uint8_t> body)
{
    auto waiter = std::make_shared<CallWaiter>();
    StartCall(peer, Service::Com, static_cast<std::uint32_t>(method), std::move(body),
        std::chrono::steady_clock::now() + kCallDeadline, "COM call",
        [waiter](CallResult result) { waiter->Complete(std::move(result)); });
    return waiter->Wait();
}

HRESULT FailureOf(CallStatus status)
{
    switch (status) {
    case CallStatus::Ok:
        return S_OK;
    case CallStatus::TimedOut:
        return RPC_E_TIMEOUT;
    case CallStatus::Refused:
        return RPC_E_INVALID_DATAPACKET;
    case CallStatus::PeerGone:
    default:
        return RPC_E_DISCONNECTED;
    }
}

HRESULT WriteInterface(WireWriter& out, IUnknown* pointer, REFIID iid, Slot destination)
{
    if (!pointer) {
        out.U32(0);
        out.U64(0);
        WriteGuid(out, iid);
        out.U32(0);
        return S_OK;
    }
    Slot owner = 0;
    std::uint64_t object = 0;
    if (ProxyReference(pointer, owner, object)) {
        // A proxy goes back to its own object's process only; handing it to a third is not done.
        if (owner != destination)
            return CO_E_NOT_SUPPORTED;
        WireWriter request = RequestWriter();
        request.U64(object);
        const CallResult added = CallPeer(owner, ComMethod::AddRef, std::move(request.Data()));
        if (added.status != CallStatus::Ok)
            return FailureOf(added.status);
        WireReader answer(added.body);
        const HRESULT hr = static_cast<HRESULT>(answer.U32());
        if (!answer.Complete())
            return RPC_E_INVALID_DATAPACKET;
        if (FAILED(hr))
            return hr;
        out.U32(owner);
        out.U64(object);
        WriteGuid(out, WireIid(pointer, iid));
        out.U32(1);
        return S_OK;
    }
    const Slot own = ComSlot();
    if (own == 0)
        return RPC_E_DISCONNECTED;
    IUnknown* identity = nullptr;
    HRESULT hr = pointer->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    if (FAILED(hr))
        return hr;
    const IID wire = WireIid(identity, iid);
    std::shared_ptr<Export> exported;
    hr = ExportInterface(identity, wire, exported);
    identity->Release();
    if (FAILED(hr))
        return hr;
    {
        std::lock_guard lock(g_exportLock);
        ++exported->references[destination];
    }
    StartWatchingClients();
    out.U32(own);
    out.U64(exported->id);
    WriteGuid(out, wire);
    out.U32(1);
    return S_OK;
}

HRESULT ReadInterface(WireReader& in, Slot source, void** pointer)
{
    *pointer = nullptr;
    const Slot slot = in.U32();
    const std::uint64_t object = in.U64();
    const IID iid = ReadGuid(in);
    const std::uint32_t references = in.U32();
    if (references > 1 || slot >= kMaxSlots)
        return RPC_E_INVALID_DATAPACKET;
    if (slot == 0)
        return S_OK;
    if (slot == ComSlot()) {
        // One of this process's objects, back home: the reference it came with is given back.
        const std::shared_ptr<Export> own = FindExport(object);
        if (!own)
            return RPC_E_DISCONNECTED;
        const HRESULT hr = own->identity->QueryInterface(iid, pointer);
        if (references > 0)
            if (std::shared_ptr<Export> retired = DropReferences(object, source, references))
                RetireInApartment(std::move(retired));
        return hr;
    }
    return ProxyFor(slot, object, iid, references, pointer);
}

HRESULT WriteValue(WireWriter& out, const ValueType& type, const void* data, Slot destination)
{
    if (const std::size_t width = ScalarWidth(type.vt)) {
        std::uint64_t value = 0;
        std::memcpy(&value, data, width);
        out.U64(value);
        return S_OK;
    }
    switch (type.vt) {
    case VT_EMPTY:
    case VT_NULL:
        return S_OK;
    case VT_BSTR: {
        const BSTR text = *static_cast<const BSTR*>(data);
        out.U32(text ? 1 : 0);
        if (text)
            out.Text(std::u16string_view(text, SysStringLen(text)));
        return S_OK;
    }
    case VT_VARIANT: {
        const VARIANT& value = *static_cast<const VARIANT*>(data);
        ValueType content;
        if (!VariantContent(V_VT(&value), content))
            return DISP_E_BADVARTYPE;
        out.U32(V_VT(&value));
        return WriteValue(out, content, &value.llVal, destination);
    }
    case VT_UNKNOWN:
    case VT_DISPATCH:
        return WriteInterface(out, *static_cast<IUnknown* const*>(data), type.iid, destination);
    default:
        return DISP_E_BADVARTYPE;
    }
}

HRESULT ReadValue(WireReader& in, const ValueType& type, void* data, Slot source)
{
    if (const std::size_t width = ScalarWidth(type.vt)) {
        const std::uint64_t value = in.U64();
        std::memcpy(data, &value, width);
        return S_OK;
    }
    switch (type.vt) {
    case VT_EMPTY:
    case VT_NULL:
        return S_OK;
    case VT_BSTR: {
        BSTR& text = *static_cast<BSTR*>(data);
        text = nullptr;
        if (in.U32() == 0)
            return S_OK;
        const std::u16string units = in.Text(kMaxBstrUnits);
        text = SysAllocStringLen(units.data(), static_cast<UINT>(units.size()));
        return text ? S_OK : E_OUTOFMEMORY;
    }
    case VT_VARIANT: {
        VARIANT& value = *static_cast<VARIANT*>(data);
        VariantInit(&value);
        const std::uint32_t vt = in.U32();
        ValueType content;
        if (vt > 0xFFFF || !VariantContent(static_cast<VARTYPE>(vt), content))
            return RPC_E_INVALID_DATAPACKET;
        const HRESULT hr = ReadValue(in, content, &value.llVal, source);
        if (SUCCEEDED(hr))
            V_VT(&value) = static_cast<VARTYPE>(vt);
        return hr;
    }
    case VT_UNKNOWN:
    case VT_DISPATCH:
        return ReadInterface(in, source, static_cast<void**>(data));
    default:
        return RPC_E_INVALID_DATAPACKET;
    }
}

void ClearValue(const ValueType& type, void* data)
{
    switch (type.vt) {
    case VT_BSTR:
        SysFreeString(*static_cast<BSTR*>(data));
        *static_cast<BSTR*>(data) = nullptr;
        break;
    case VT_VARIANT:
        VariantClear(static_cast<VARIANT*>(data));
        break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
        if (IUnknown*& pointer = *static_cast<IUnknown**>(data)) {
            pointer->Release();
            pointer = nullptr;
        }
        break;
    default:
        break;
    }
}

}
