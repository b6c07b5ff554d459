#include "Handles.h"

#include "errhandlingapi.h"

#include <algorithm>
#include <unordered_map>

namespace wininet {

namespace {

// Handle values start away from 0 and small integers, and step by 4 as Windows handles do.
constexpr std::uintptr_t kFirstHandle = 0x00CC0004;

// Never destroyed: handles that a program leaves open end with the process, as their connections
// must not be closed after the TLS library has been torn down at exit.
std::unordered_map<std::uintptr_t, std::shared_ptr<Object>>& Table()
{
    static auto* table = new std::unordered_map<std::uintptr_t, std::shared_ptr<Object>>;
    return *table;
}

std::uintptr_t g_nextHandle = kFirstHandle;

void MarkClosed(Object& object)
{
    object.closed = true;
    for (auto& child : object.children) {
        Table().erase(reinterpret_cast<std::uintptr_t>(child->handle));
        MarkClosed(*child);
    }
    object.children.clear();
}

}

std::mutex& TableLock()
{
    static std::mutex lock;
    return lock;
}

void Adopt(const std::shared_ptr<Object>& object, const std::shared_ptr<Object>& parent)
{
    if (!parent)
        return;
    object->timeouts = parent->timeouts;
    object->parent = parent;
    parent->children.push_back(object);
}

HINTERNET AddHandle(const std::shared_ptr<Object>& object, const std::shared_ptr<Object>& parent)
{
    std::lock_guard lock(TableLock());
    const std::uintptr_t value = g_nextHandle;
    g_nextHandle += 4;
    object->handle = reinterpret_cast<HINTERNET>(value);
    Table().emplace(value, object);
    Adopt(object, parent);
    return object->handle;
}

void AddHidden(const std::shared_ptr<Object>& object, const std::shared_ptr<Object>& parent)
{
    std::lock_guard lock(TableLock());
    Adopt(object, parent);
}

std::shared_ptr<Object> FindAnyHandle(HINTERNET handle)
{
    std::lock_guard lock(TableLock());
    const auto found = Table().find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == Table().end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return found->second;
}

template <typename T> std::shared_ptr<T> FindHandle(HINTERNET handle, HandleKind kind)
{
    auto object = FindAnyHandle(handle);
    if (object && object->kind != kind) {
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        return nullptr;
    }
    return std::static_pointer_cast<T>(object);
}

template std::shared_ptr<Session> FindHandle<Session>(HINTERNET, HandleKind);
template std::shared_ptr<Connection> FindHandle<Connection>(HINTERNET, HandleKind);
template std::shared_ptr<Request> FindHandle<Request>(HINTERNET, HandleKind);

bool CloseHandleTree(HINTERNET handle)
{
    std::lock_guard lock(TableLock());
    const auto found = Table().find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == Table().end())
        return false;
    std::shared_ptr<Object> object = found->second;
    Table().erase(found);
    // A request of InternetOpenUrlW takes its hidden connection with it.
    if (object->kind == HandleKind::Request) {
        auto parent = object->parent.lock();
        if (parent && static_cast<Connection&>(*parent).hidden)
            object = parent;
    }
    if (auto parent = object->parent.lock())
        std::erase(parent->children, object);
    MarkClosed(*object);
    if (object->kind == HandleKind::Session)
        static_cast<Session&>(*object).connections->Close(); // after its requests gave theirs back
    return true;
}

}
