#include "KernelObject.h"

#include "ThreadObject.h"
#include "errhandlingapi.h"
#include "handleapi.h"
#include "processthreadsapi.h"

#include <unordered_map>

namespace platform {

namespace {

// Handles count up by 4 to this bound and then start again at 4, skipping handles still open.
constexpr std::uintptr_t FirstHandle = 4;
constexpr std::uintptr_t LastHandle = 0x3FFFFFFC;

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
    std::uintptr_t next = FirstHandle;
};

HandleTable& Table()
{
    // Never destroyed: threads may still close handles while the process exits.
    static HandleTable* table = new HandleTable;
    return *table;
}

bool IsPseudoHandle(HANDLE handle)
{
    return handle == GetCurrentProcess() || handle == GetCurrentThread();
}

}

HANDLE InsertHandle(std::shared_ptr<KernelObject> object)
{
    HandleTable& table = Table();
    SuspendSafeLock lock(table.mutex);
    while (table.objects.count(table.next))
        table.next = table.next >= LastHandle ? FirstHandle : table.next + 4;
    const std::uintptr_t value = table.next;
    table.next = table.next >= LastHandle ? FirstHandle : table.next + 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> ReferenceHandle(HANDLE handle)
{
    if (handle == GetCurrentThread())
        return CurrentThreadObject();
    if (handle == GetCurrentProcess())
        return CurrentProcessObject();
    HandleTable& table = Table();
    {
        SuspendSafeLock lock(table.mutex);
        auto found = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
        if (found != table.objects.end())
            return found->second;
    }
    SetLastErrorInvalidHandle();
    return nullptr;
}

void SetLastErrorInvalidHandle()
{
    SetLastError(ERROR_INVALID_HANDLE);
}

}

using namespace platform;

extern "C" BOOL WINAPI CloseHandle(HANDLE hObject)
{
    if (IsPseudoHandle(hObject))
        return TRUE;
    std::shared_ptr<KernelObject> released; // destroyed outside the table's lock
    HandleTable& table = Table();
    {
        SuspendSafeLock lock(table.mutex);
        auto found = table.objects.find(reinterpret_cast<std::uintptr_t>(hObject));
        if (found == table.objects.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        released = std::move(found->second);
        table.objects.erase(found);
    }
    return TRUE;
}

extern "C" BOOL WINAPI DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle, HANDLE hTargetProcessHandle,
    LPHANDLE lpTargetHandle, DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwOptions)
{
    const auto self = CurrentProcessObject();
    if (ReferenceHandle(hSourceProcessHandle) != self || ReferenceHandle(hTargetProcessHandle) != self) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::shared_ptr<KernelObject> object = ReferenceHandle(hSourceHandle);
    if (!object)
        return FALSE;
    if (dwOptions & DUPLICATE_CLOSE_SOURCE)
        CloseHandle(hSourceHandle);
    const HANDLE duplicate = InsertHandle(std::move(object));
    if (lpTargetHandle)
        *lpTargetHandle = duplicate;
    else
        CloseHandle(duplicate);
    return TRUE;
}
