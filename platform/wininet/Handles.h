// WinINet's handle objects and their table. A handle is a small number that names an object in the
// table, so a stale or foreign handle is refused (ERROR_INVALID_HANDLE) instead of followed.
// Objects are shared: a call holds its object while it runs, so InternetCloseHandle on another
// thread only marks it (and everything opened on it) closed, which makes that call give up.
#pragma once

#include "InternetSettings.h"
#include "Transfer.h"
#include "UrlCache.h"
#include "UrlParts.h"
#include "wininet.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace wininet {

// WinINet's defaults, in milliseconds, with the meanings Transfer.h gives them. The retry count is
// kept for InternetQueryOptionW only: a failed connection is not tried again.
struct Timeouts {
    DWORD connect = 60000;
    DWORD send = 30000;
    DWORD receive = 30000;
    DWORD retries = 5;
};

enum class HandleKind { Session, Connection, Request };

struct Object {
    explicit Object(HandleKind kind)
        : kind(kind)
    {
    }
    virtual ~Object() = default;

    const HandleKind kind;
    HINTERNET handle = nullptr;
    std::atomic<bool> closed = false;
    Timeouts timeouts; // guarded by the table's lock
    std::vector<std::shared_ptr<Object>> children; // guarded by the table's lock
    std::weak_ptr<Object> parent; // guarded by the table's lock
};

struct Session final : Object {
    Session()
        : Object(HandleKind::Session)
    {
    }
    std::string agent;
    platform::ProxySetting proxy; // fixed when the session is opened, as WinINet reads it then
    // Closed with the session's handle, so that closing the session closes its connections.
    const std::shared_ptr<ConnectionCache> connections = std::make_shared<ConnectionCache>();
};

struct Connection final : Object {
    Connection()
        : Object(HandleKind::Connection)
    {
    }
    std::shared_ptr<Session> session;
    std::string server;
    INTERNET_PORT port = 0;
    DWORD flags = 0;
    bool hidden = false; // opened by InternetOpenUrlW for its request, and closed with it
};

struct Request final : Object {
    Request()
        : Object(HandleKind::Request)
    {
    }
    std::shared_ptr<Connection> connection;
    std::string verb;
    std::string object;
    bool http10 = false;
    std::string referrer;
    std::vector<std::string> acceptTypes;
    DWORD flags = 0;

    std::mutex busy; // one call at a time drives the transfer
    std::unique_ptr<Transfer> transfer;
    std::unique_ptr<platform::CacheWriter> cache;
    bool bodyEnded = false;
};

// Enters object into the table as a child of parent (if given) and gives it its handle.
HINTERNET AddHandle(const std::shared_ptr<Object>& object, const std::shared_ptr<Object>& parent);
// Makes object a child of parent without a handle of its own.
void AddHidden(const std::shared_ptr<Object>& object, const std::shared_ptr<Object>& parent);

// The live object of kind for handle; nullptr (with the last error set) for anything else.
template <typename T> std::shared_ptr<T> FindHandle(HINTERNET handle, HandleKind kind);
std::shared_ptr<Object> FindAnyHandle(HINTERNET handle);

// Closes handle and every handle opened on it (a session's idle connections too); false for an
// unknown handle.
bool CloseHandleTree(HINTERNET handle);

std::mutex& TableLock();

}
