// Proxies: objects of other processes as this process sees them, built at run time from the
// interfaces' type information.
//
// One proxy manager stands for one remote object (slot, object id) and keeps the remote
// references that the objrefs it came from handed over; its interface proxies share its reference
// count, and the last Release gives every remote reference back at once, without waiting.
//
// An interface proxy is a function table and a pointer to its manager. The table's IUnknown
// entries (and IDispatch's, answered here from the dispatch type info) are ordinary functions;
// every other slot is MethodThunk<slot>, a variadic function: on x86-64 System V a caller passes
// integer and pointer arguments in the same registers and stack words whether or not the callee
// is variadic, and a structure of the memory class (a VARIANT by value) on the stack, where
// va_arg finds it too; so the thunk reads the arguments in order with va_arg as the parameters'
// types say. Floating-point arguments by value would arrive in vector registers, which va_arg
// reads only when the caller said it used them; interfaces with such parameters get no proxy.
#include "Remoting.h"

#include "oleauto.h"

#include <array>
#include <atomic>
#include <map>
#include <mutex>

namespace ole32 {

using namespace platform::ipc;

namespace {

class ProxyManager;

struct InterfaceProxy {
    const void* const* table; // first, where a caller finds the function table
    ProxyManager* manager;
    std::shared_ptr<InterfaceInfo> info; // null for the manager's identity
};

std::mutex g_proxyLock; // guards the table and every transition of a manager's count from or to 0
// Outlives the static destructors, as the threads that use it may run while the process exits.
auto& g_proxies = *new std::map<std::pair<Slot, std::uint64_t>, ProxyManager*>;
std::mutex g_tableLock;

class ProxyManager {
public:
    ProxyManager(Slot slot, std::uint64_t object);

    ULONG AddRef()
    {
        return ++m_refs;
    }
    ULONG Release()
    {
        {
            std::lock_guard lock(g_proxyLock);
            const ULONG refs = --m_refs;
            if (refs != 0)
                return refs;
            g_proxies.erase({ m_slot, m_object });
        }
        GiveBackReferences();
        delete this;
        return 0;
    }
    // Called with g_proxyLock held, for an objref that hands over references.
    void AddRemoteReferences(std::uint32_t references)
    {
        std::lock_guard lock(m_lock);
        m_remoteRefs += references;
    }
    HRESULT QueryInterface(REFIID iid, void** pointer);
    // The interface proxy for iid, building it on first need; no remote call.
    HRESULT LocalInterface(REFIID iid, bool build, void** pointer);
    HRESULT Invoke(InterfaceProxy& proxy, std::size_t slot, va_list arguments);

    Slot m_slot;
    std::uint64_t m_object;

private:
    void GiveBackReferences();

    std::atomic<ULONG> m_refs { 0 };
    InterfaceProxy m_identity;
    std::mutex m_lock;
    std::uint64_t m_remoteRefs = 0;
    std::vector<std::unique_ptr<InterfaceProxy>> m_interfaces;
};

HRESULT STDMETHODCALLTYPE ProxyQueryInterface(InterfaceProxy* self, REFIID iid, void** pointer)
{
    if (!pointer)
        return E_POINTER;
    *pointer = nullptr;
    return self->manager->QueryInterface(iid, pointer);
}

ULONG STDMETHODCALLTYPE ProxyAddRef(InterfaceProxy* self)
{
    return self->manager->AddRef();
}

ULONG STDMETHODCALLTYPE ProxyRelease(InterfaceProxy* self)
{
    return self->manager->Release();
}

HRESULT STDMETHODCALLTYPE ProxyGetTypeInfoCount(InterfaceProxy*, UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ProxyGetTypeInfo(InterfaceProxy* self, UINT index, LCID, ITypeInfo** info)
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    if (index != 0)
        return DISP_E_BADINDEX;
    self->info->dispatchInfo->AddRef();
    *info = self->info->dispatchInfo;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ProxyGetIDsOfNames(
    InterfaceProxy* self, REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    return self->info->dispatchInfo->GetIDsOfNames(names, count, ids);
}

// IDispatch::Invoke through the dispatch type info on the proxy itself: the type info calls the
// function-table entries, which make the remote calls.
HRESULT STDMETHODCALLTYPE ProxyInvoke(InterfaceProxy* self, DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params,
    VARIANT* result, EXCEPINFO* exception, UINT* argumentError)
{
    return self->info->dispatchInfo->Invoke(self, member, flags, params, result, exception, argumentError);
}

template <std::size_t Slot> HRESULT STDMETHODCALLTYPE MethodThunk(InterfaceProxy* self, ...)
{
    va_list arguments;
    va_start(arguments, self);
    const HRESULT hr = self->manager->Invoke(*self, Slot, arguments);
    va_end(arguments);
    return hr;
}

template <std::size_t... I> std::array<const void*, sizeof...(I)> MakeThunks(std::index_sequence<I...>)
{
    return { reinterpret_cast<const void*>(&MethodThunk<I>)... };
}

const std::array<const void*, kMaxProxySlots>& Thunks()
{
    static const std::array<const void*, kMaxProxySlots> thunks
        = MakeThunks(std::make_index_sequence<kMaxProxySlots> {});
    return thunks;
}

const void* const* UnknownTable()
{
    static const void* const table[] = { reinterpret_cast<const void*>(&ProxyQueryInterface),
        reinterpret_cast<const void*>(&ProxyAddRef), reinterpret_cast<const void*>(&ProxyRelease) };
    return table;
}

const void* const* ProxyTable(InterfaceInfo& info)
{
    std::lock_guard lock(g_tableLock);
    if (info.proxyTable.empty()) {
        std::vector<const void*> table(std::max(info.methods.size(), info.firstSlot));
        for (std::size_t slot = 0; slot < table.size(); ++slot)
            table[slot] = Thunks()[slot];
        for (std::size_t slot = 0; slot < 3; ++slot)
            table[slot] = UnknownTable()[slot];
        if (info.firstSlot == 7) {
            table[3] = reinterpret_cast<const void*>(&ProxyGetTypeInfoCount);
            table[4] = reinterpret_cast<const void*>(&ProxyGetTypeInfo);
            table[5] = reinterpret_cast<const void*>(&ProxyGetIDsOfNames);
            table[6] = reinterpret_cast<const void*>(&ProxyInvoke);
        }
        info.proxyTable = std::move(table);
    }
    return info.proxyTable.data();
}

ProxyManager::ProxyManager(Slot slot, std::uint64_t object)
    : m_slot(slot)
    , m_object(object)
    , m_identity { UnknownTable(), this, nullptr }
{
}

void ProxyManager::GiveBackReferences()
{
    if (m_remoteRefs == 0)
        return;
    WireWriter out = RequestWriter();
    out.U64(m_object);
    out.U64(m_remoteRefs);
    // Nobody waits for the answer: a dead server makes it fail at once, and a live one has
    // nothing to say.
    StartCall(m_slot, Service::Com, static_cast<std::uint32_t>(ComMethod::Release), std::move(out.Data()),
        std::chrono::steady_clock::now() + std::chrono::seconds(30), "COM release", [](CallResult) {});
}

HRESULT ProxyManager::LocalInterface(REFIID iid, bool build, void** pointer)
{
    if (iid == IID_IUnknown) {
        AddRef();
        *pointer = &m_identity;
        return S_OK;
    }
    std::lock_guard lock(m_lock);
    for (const std::unique_ptr<InterfaceProxy>& proxy : m_interfaces) {
        // A dual interface's proxy is its IDispatch too.
        if (proxy->info->iid == iid || (iid == IID_IDispatch && proxy->info->dispatchInfo)) {
            AddRef();
            *pointer = proxy.get();
            return S_OK;
        }
    }
    if (!build)
        return E_NOINTERFACE;
    std::shared_ptr<InterfaceInfo> info = FindInterfaceInfo(iid, PeerModule(m_slot), nullptr);
    if (!info)
        return E_NOINTERFACE;
    auto proxy = std::make_unique<InterfaceProxy>(InterfaceProxy { ProxyTable(*info), this, info });
    AddRef();
    *pointer = proxy.get();
    m_interfaces.push_back(std::move(proxy));
    return S_OK;
}

HRESULT ProxyManager::QueryInterface(REFIID iid, void** pointer)
{
    if (SUCCEEDED(LocalInterface(iid, false, pointer)))
        return S_OK;
    WireWriter out = RequestWriter();
    out.U64(m_object);
    WriteGuid(out, iid);
    const CallResult result = CallPeer(m_slot, ComMethod::QueryInterface, std::move(out.Data()));
    if (result.status != CallStatus::Ok)
        return FailureOf(result.status);
    WireReader in(result.body);
    const HRESULT hr = static_cast<HRESULT>(in.U32());
    if (FAILED(hr))
        return in.Complete() ? hr : RPC_E_INVALID_DATAPACKET;
    void* answer = nullptr;
    const HRESULT read = ReadInterface(in, m_slot, &answer);
    if (FAILED(read) || !in.Complete() || !answer) {
        if (answer)
            static_cast<IUnknown*>(answer)->Release();
        return FAILED(read) ? read : RPC_E_INVALID_DATAPACKET;
    }
    // The server may answer IDispatch with the dual interface behind it: the same table.
    *pointer = answer;
    return S_OK;
}

HRESULT ProxyManager::Invoke(InterfaceProxy& proxy, std::size_t slot, va_list arguments)
{
    const InterfaceInfo& info = *proxy.info;
    if (slot >= info.methods.size() || !info.methods[slot].present)
        return RPC_E_INVALIDMETHOD;
    const std::vector<ParamInfo>& params = info.methods[slot].params;
    std::vector<void*> data(params.size());
    std::vector<VARIANT> values(params.size());
    for (std::size_t i = 0; i < params.size(); ++i) {
        const ParamInfo& param = params[i];
        if (param.byRef) {
            data[i] = va_arg(arguments, void*);
        } else if (param.type.vt == VT_VARIANT) {
            values[i] = va_arg(arguments, VARIANT);
            data[i] = &values[i];
        } else {
            values[i].llVal = static_cast<LONGLONG>(va_arg(arguments, std::uint64_t));
            data[i] = &values[i].llVal;
        }
    }
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (!data[i])
            return E_POINTER;
        if (params[i].out && !params[i].in)
            std::memset(data[i], 0, ValueSize(params[i].type));
    }
    WireWriter out = RequestWriter();
    out.U64(m_object);
    WriteGuid(out, info.iid);
    out.U32(static_cast<std::uint32_t>(slot));
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (!params[i].in)
            continue;
        const HRESULT hr = WriteValue(out, params[i].type, data[i], m_slot);
        if (FAILED(hr))
            return hr;
    }
    const CallResult result = CallPeer(m_slot, ComMethod::Call, std::move(out.Data()));
    if (result.status != CallStatus::Ok)
        return FailureOf(result.status);
    WireReader in(result.body);
    const HRESULT hr = static_cast<HRESULT>(in.U32());
    bool ok = true;
    std::vector<std::size_t> written;
    for (std::size_t i = 0; ok && i < params.size(); ++i) {
        if (!params[i].out)
            continue;
        // The callee of an [in, out] value replaces it: the caller's old one is freed here.
        VARIANT incoming;
        VariantInit(&incoming);
        void* fresh = DataOf(incoming, params[i].type);
        ok = SUCCEEDED(ReadValue(in, params[i].type, fresh, m_slot));
        if (!ok)
            ClearValue(params[i].type, fresh);
        if (ok) {
            if (params[i].in)
                ClearValue(params[i].type, data[i]);
            std::memcpy(data[i], fresh, ValueSize(params[i].type));
            written.push_back(i);
        }
    }
    if (ok && in.Complete())
        return hr;
    // A reply that breaks the rules: what it gave is taken back.
    for (const std::size_t i : written) {
        ClearValue(params[i].type, data[i]);
        std::memset(data[i], 0, ValueSize(params[i].type));
    }
    return RPC_E_INVALID_DATAPACKET;
}

}

HRESULT ProxyFor(Slot slot, std::uint64_t object, REFIID iid, std::uint32_t references, void** pointer)
{
    ProxyManager* manager = nullptr;
    {
        std::lock_guard lock(g_proxyLock);
        ProxyManager*& entry = g_proxies[{ slot, object }];
        if (!entry)
            entry = new ProxyManager(slot, object);
        manager = entry;
        manager->AddRef(); // held while the interface is found
        manager->AddRemoteReferences(references);
    }
    const HRESULT hr = manager->LocalInterface(iid, true, pointer);
    manager->Release();
    return hr;
}

bool ProxyReference(IUnknown* pointer, Slot& slot, std::uint64_t& object)
{
    const void* const* table = *reinterpret_cast<const void* const* const*>(pointer);
    if (table[0] != reinterpret_cast<const void*>(&ProxyQueryInterface))
        return false;
    const ProxyManager* manager = reinterpret_cast<const InterfaceProxy*>(pointer)->manager;
    slot = manager->m_slot;
    object = manager->m_object;
    return true;
}

}
