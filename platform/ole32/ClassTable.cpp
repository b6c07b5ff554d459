// The class table: class objects that the process's apartments have registered.
#include "ClassTable.h"

#include "Remoting.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

struct Registration {
    DWORD cookie;
    CLSID clsid;
    IUnknown* object;
    DWORD contexts;
    DWORD flags;
    ole32::ApartmentId apartment;
    bool suspended;
    bool used; // a single-use registration that has served its activation
};

std::mutex g_lock;
std::vector<Registration> g_registrations;
DWORD g_nextCookie = 1;
ULONG g_serverProcessRefs = 0;

constexpr DWORD kRegistrationContexts = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;

// Shows the classes that other processes may activate here now in the root-wide table.
void Publish()
{
    std::vector<CLSID> classes;
    {
        std::lock_guard lock(g_lock);
        for (const Registration& registration : g_registrations)
            if ((registration.contexts & CLSCTX_LOCAL_SERVER) && !registration.suspended && !registration.used
                && std::find(classes.begin(), classes.end(), registration.clsid) == classes.end())
                classes.push_back(registration.clsid);
    }
    ole32::PublishRunningClasses(classes);
}

// Removes the registrations that match; false when there were none. Their objects are released
// outside the lock: a release may call back into the table.
template <class Match> bool Revoke(Match match)
{
    std::vector<IUnknown*> released;
    {
        std::lock_guard lock(g_lock);
        std::erase_if(g_registrations, [&](const Registration& registration) {
            if (!match(registration))
                return false;
            released.push_back(registration.object);
            return true;
        });
    }
    if (!released.empty())
        Publish();
    for (IUnknown* object : released)
        object->Release();
    return !released.empty();
}

void SetSuspended(bool suspended)
{
    {
        std::lock_guard lock(g_lock);
        for (Registration& registration : g_registrations)
            registration.suspended = suspended;
    }
    Publish();
}

}

namespace ole32 {

IUnknown* FindRegisteredClassObject(REFCLSID clsid, DWORD contexts, ApartmentId* apartment)
{
    IUnknown* found = nullptr;
    bool usedUp = false;
    {
        std::lock_guard lock(g_lock);
        for (Registration& registration : g_registrations) {
            if (registration.suspended || registration.used || !(registration.contexts & contexts)
                || !IsEqualGUID(registration.clsid, clsid))
                continue;
            // A single-use class object serves one activation and is hidden from then on; it
            // stays registered until its server revokes it.
            if (registration.flags == REGCLS_SINGLEUSE)
                usedUp = registration.used = true;
            registration.object->AddRef();
            found = registration.object;
            if (apartment)
                *apartment = registration.apartment;
            break;
        }
    }
    if (usedUp)
        Publish();
    return found;
}

void RevokeApartmentClassObjects(ApartmentId apartment)
{
    Revoke([&](const Registration& registration) { return registration.apartment == apartment; });
}

}

extern "C" {

HRESULT WINAPI CoRegisterClassObject(
    REFCLSID rclsid, LPUNKNOWN pUnk, DWORD dwClsContext, DWORD flags, LPDWORD lpdwRegister)
{
    if (!pUnk || !lpdwRegister)
        return E_INVALIDARG;
    *lpdwRegister = 0;
    if (!(dwClsContext & kRegistrationContexts))
        return E_INVALIDARG;
    ole32::ApartmentId apartment;
    if (!ole32::CurrentApartment(apartment))
        return CO_E_NOTINITIALIZED;
    if (dwClsContext & CLSCTX_LOCAL_SERVER)
        ole32::MakeApartmentReachable();
    DWORD use = flags & (REGCLS_MULTIPLEUSE | REGCLS_MULTI_SEPARATE);
    // Multiple use in a local server also makes the object visible in process.
    if (use == REGCLS_MULTIPLEUSE && (dwClsContext & CLSCTX_LOCAL_SERVER))
        dwClsContext |= CLSCTX_INPROC_SERVER;
    pUnk->AddRef();
    {
        std::lock_guard lock(g_lock);
        DWORD cookie = g_nextCookie++;
        if (g_nextCookie == 0)
            g_nextCookie = 1;
        g_registrations.push_back(Registration {
            cookie, rclsid, pUnk, dwClsContext, use, apartment, (flags & REGCLS_SUSPENDED) != 0, false });
        *lpdwRegister = cookie;
    }
    Publish();
    return S_OK;
}

HRESULT WINAPI CoRevokeClassObject(DWORD dwRegister)
{
    bool revoked = Revoke([&](const Registration& registration) { return registration.cookie == dwRegister; });
    return revoked ? S_OK : CO_E_OBJNOTREG;
}

HRESULT WINAPI CoResumeClassObjects(void)
{
    SetSuspended(false);
    return S_OK;
}

HRESULT WINAPI CoSuspendClassObjects(void)
{
    SetSuspended(true);
    return S_OK;
}

ULONG WINAPI CoAddRefServerProcess(void)
{
    std::lock_guard lock(g_lock);
    return ++g_serverProcessRefs;
}

ULONG WINAPI CoReleaseServerProcess(void)
{
    ULONG refs = 0;
    {
        std::lock_guard lock(g_lock);
        if (g_serverProcessRefs == 0)
            return 0;
        refs = --g_serverProcessRefs;
    }
    // The server's last reference stops new activations, as a server about to exit needs.
    if (refs == 0)
        SetSuspended(true);
    return refs;
}
}
