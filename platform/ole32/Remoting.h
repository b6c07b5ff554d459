// Out-of-process COM inside ole32: object references on the wire, exported objects (stubs),
// proxies built at run time from type information, and calls between apartments.
//
// The wire: every COM frame travels on the process endpoint's Com service. A request body starts
// with the caller's slot (so that the callee knows whom references are handed to). Methods:
//   Activate        clsid, iid            -> hr, objref, server module path
//   Call            object, iid, vtable slot, [in] values -> hr, [out] values
//   QueryInterface  object, iid           -> hr, objref
//   Release         object, count         -> (empty)
//   AddRef          object                -> hr  (one more reference for the caller)
// An object reference (objref) is (slot, object id, iid, references): slot 0 is a null pointer;
// references (0 or 1) is the count of remote references that the reference hands to its receiver,
// which it gives back with Release when its proxy's last local reference goes. A proxy handed back
// to its own object's process first asks that process for a reference (AddRef) and hands it over,
// so that the object lives until its owner has read the reference, whatever else arrives first.
//
// Values: integers in their width, BSTR as a null flag and its units, VARIANT as its type and the
// value of that type, interface pointers as objrefs (marshaled recursively). Every count is checked
// against a named limit before anything is allocated; a body that breaks the rules is refused.
//
// Proxies: a proxy's function table is built from the interface's type information; its method
// entries are variadic thunks that read their arguments with va_arg, which on x86-64 System V
// matches how any caller passes integers, pointers and VARIANTs by value (floating-point values by
// value are refused: they travel in vector registers). Stubs call the real object's function
// table through platform::VtableCall (VtableCall.h). Details in Proxy.cpp.
//
// Threads: calls to an object run in the apartment that exported it: a single-threaded one's
// thread through its hidden window, the multithreaded one's on a thread of their own. A thread
// waiting for an answer in a single-threaded apartment handles its sent messages and the calls
// into its own apartment meanwhile. Client death: a process holding references is watched; when it
// goes, its references are released as if it had released them.
#pragma once

#include "Apartment.h"
#include "Endpoint.h"
#include "oaidl.h"
#include "objbase.h"

#include <cstring>

#include <cstdarg>
#include <memory>
#include <string>
#include <vector>

namespace ole32 {

using platform::ipc::Slot;

// An order on GUIDs, for maps keyed by them.
struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const
    {
        return std::memcmp(&a, &b, sizeof(GUID)) < 0;
    }
};

enum class ComMethod : std::uint32_t { Activate = 1, Call = 2, QueryInterface = 3, Release = 4, AddRef = 5 };

inline constexpr std::size_t kMaxModulePath = 4096;
inline constexpr std::size_t kMaxBstrUnits = 4 * 1024 * 1024;
inline constexpr std::size_t kMaxProxySlots = 512; // function-table entries a proxy can answer

// --- Type information of interfaces (InterfaceInfo.cpp) -----------------------------------------

// How one value travels: its base type, and the interface's IID for interface pointers
// (VT_UNKNOWN, VT_DISPATCH, or VT_UNKNOWN standing for a custom interface with that IID).
struct ValueType {
    VARTYPE vt = VT_EMPTY;
    IID iid {};
};
struct ParamInfo {
    ValueType type;
    bool byRef = false; // passed as a pointer to the value
    bool in = true;
    bool out = false;
};
struct MethodInfo {
    bool present = false;
    std::vector<ParamInfo> params;
};
// One interface as the marshaler sees it: the function-table slots from firstSlot on, with their
// parameters. Slots below firstSlot are IUnknown's, and IDispatch's when dispatchInfo is set.
struct InterfaceInfo {
    IID iid {};
    std::size_t firstSlot = 3;
    std::vector<MethodInfo> methods; // indexed by slot
    ITypeInfo* dispatchInfo = nullptr; // held for the life of the process, with the info
    std::vector<const void*> proxyTable; // filled by the proxy side on first need
};

// The interface's description from the type library registered for it (Interface\{IID}\TypeLib),
// else from the module at libraryPath (for a program: the .tlb of its name beside it), else from
// object's own IDispatch type info.
// Null when none is found or the interface uses a type the marshaler cannot carry.
std::shared_ptr<InterfaceInfo> FindInterfaceInfo(REFIID iid, const std::u16string& libraryPath, IUnknown* object);

// --- Exported objects and values (Marshal.cpp) --------------------------------------------------

// This process's slot with the Com service installed; 0 when the endpoint cannot start.
Slot ComSlot();
// The module path that a peer's references should find their type library beside ("" unknown).
std::u16string PeerModule(Slot slot);
void SetPeerModule(Slot slot, const std::u16string& path);

// Writes a reference to the interface for the process at destination.
HRESULT WriteInterface(platform::ipc::WireWriter& out, IUnknown* pointer, REFIID iid, Slot destination);
// Reads a reference sent by the process at source into *pointer (null for a null reference).
HRESULT ReadInterface(platform::ipc::WireReader& in, Slot source, void** pointer);

void WriteGuid(platform::ipc::WireWriter& out, REFGUID guid);
GUID ReadGuid(platform::ipc::WireReader& in);
// The bytes a value of the type occupies where it is passed by reference.
std::size_t ValueSize(const ValueType& type);
HRESULT WriteValue(platform::ipc::WireWriter& out, const ValueType& type, const void* data, Slot destination);
HRESULT ReadValue(platform::ipc::WireReader& in, const ValueType& type, void* data, Slot source);
void ClearValue(const ValueType& type, void* data);
// Where a value of the type lives inside a VARIANT used as room for it.
void* DataOf(VARIANT& room, const ValueType& type);

// A call to a peer's Com service, waited for as the calling thread's apartment must wait. The
// status tells a dead peer; the body is the reply.
platform::ipc::CallResult CallPeer(Slot peer, ComMethod method, std::vector<std::uint8_t> body);
// The HRESULT for a call that did not get an answer.
HRESULT FailureOf(platform::ipc::CallStatus status);
// A request body with the caller's slot already written.
platform::ipc::WireWriter RequestWriter();

// --- Proxies (Proxy.cpp) ------------------------------------------------------------------------

// The proxy for (slot, object), created on first need, with one added reference on the interface
// iid; references is what the objref hands over. Fails with E_NOINTERFACE when no type
// information describes iid.
HRESULT ProxyFor(Slot slot, std::uint64_t object, REFIID iid, std::uint32_t references, void** pointer);
// True, with the reference, when pointer is an interface of a proxy of this process.
bool ProxyReference(IUnknown* pointer, Slot& slot, std::uint64_t& object);

// --- Activation of local servers (LocalServer.cpp) ----------------------------------------------

// The text of HKCR\CLSID\{clsid}\<server key>, or false when the class has no such server.
bool ReadServerPath(REFCLSID clsid, const char16_t* serverKey, std::u16string& path);
// Creates an object of the class in a local server (running, or started and waited for).
HRESULT ActivateLocalServer(REFCLSID clsid, REFIID iid, void** pointer);
// True when a server for the class is registered in this process or in a live one of the root, or
// the class names a LocalServer32.
bool LocalServerKnown(REFCLSID clsid);
// Serves another process's activation request (on the I/O thread; answers later).
void ServeActivation(platform::ipc::IncomingCall call, Slot caller, platform::ipc::WireReader& in);
// Makes the root-wide table of running classes show what this process now serves locally.
void PublishRunningClasses(const std::vector<CLSID>& classes);

}
