#include "Endpoint.h"

#include "WinRoot.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

namespace platform::ipc {

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;
constexpr std::size_t kJoinedFrameBody = 64 * 1024;
constexpr int kListenBacklog = 64;
constexpr std::size_t kMaxLabel = 64;

void PutLe(std::uint8_t* out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t GetLe(const std::uint8_t* in, int bytes)
{
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= static_cast<std::uint64_t>(in[i]) << (8 * i);
    return value;
}

std::string RunPath(std::string_view name)
{
    return RootPath("run/" + std::string(name));
}

std::string LockPath(Slot slot)
{
    return RunPath(std::to_string(slot) + ".lock");
}

// Holds the root-wide lock under which slots are taken and the files of dead ones removed.
class RunDirectoryLock {
public:
    RunDirectoryLock()
        : m_fd(open(RunPath("slots.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600))
    {
        if (m_fd >= 0)
            while (flock(m_fd, LOCK_EX) != 0 && errno == EINTR) { }
    }
    ~RunDirectoryLock()
    {
        if (m_fd >= 0)
            close(m_fd); // closing releases the lock
    }
    RunDirectoryLock(const RunDirectoryLock&) = delete;
    RunDirectoryLock& operator=(const RunDirectoryLock&) = delete;
    bool Held() const
    {
        return m_fd >= 0;
    }

private:
    int m_fd;
};

bool FillAddress(Slot slot, sockaddr_un& address)
{
    const std::string path = SocketPath(slot);
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool SameUser(int fd)
{
    ucred credentials {};
    socklen_t length = sizeof(credentials);
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 && credentials.uid == getuid();
}

// Removes the files of a slot whose owner is gone; a live owner holds the slot's lock.
void RemoveIfDead(Slot slot)
{
    RunDirectoryLock runLock;
    if (!runLock.Held())
        return;
    const std::string lockPath = LockPath(slot);
    const int fd = open(lockPath.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        unlink(SocketPath(slot).c_str());
        return;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        unlink(SocketPath(slot).c_str());
        unlink(lockPath.c_str());
    }
    close(fd);
}

}

void EncodeHeader(const FrameHeader& header, std::uint8_t* out)
{
    PutLe(out, header.bodyLength, 4);
    PutLe(out + 4, header.service, 2);
    out[6] = header.type;
    out[7] = header.reserved;
    PutLe(out + 8, header.method, 4);
    PutLe(out + 12, header.callId, 8);
}

bool DecodeHeader(const std::uint8_t* in, FrameHeader& header)
{
    header.bodyLength = static_cast<std::uint32_t>(GetLe(in, 4));
    header.service = static_cast<std::uint16_t>(GetLe(in + 4, 2));
    header.type = in[6];
    header.reserved = in[7];
    header.method = static_cast<std::uint32_t>(GetLe(in + 8, 4));
    header.callId = GetLe(in + 12, 8);
    return header.bodyLength <= kMaxFrameBody && header.reserved == 0
        && header.type >= static_cast<std::uint8_t>(FrameType::Request)
        && header.type <= static_cast<std::uint8_t>(FrameType::Failure);
}

void WireWriter::U32(std::uint32_t value)
{
    const std::size_t at = m_data.size();
    m_data.resize(at + 4);
    PutLe(m_data.data() + at, value, 4);
}

void WireWriter::U64(std::uint64_t value)
{
    const std::size_t at = m_data.size();
    m_data.resize(at + 8);
    PutLe(m_data.data() + at, value, 8);
}

void WireWriter::Text(std::u16string_view text)
{
    U32(static_cast<std::uint32_t>(text.size()));
    for (const char16_t unit : text) {
        m_data.push_back(static_cast<std::uint8_t>(unit));
        m_data.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
}

void WireWriter::Bytes(std::span<const std::uint8_t> bytes)
{
    U32(static_cast<std::uint32_t>(bytes.size()));
    m_data.insert(m_data.end(), bytes.begin(), bytes.end());
}

bool WireReader::Take(std::size_t count)
{
    if (!m_ok || m_data.size() - m_offset < count) {
        m_ok = false;
        return false;
    }
    m_offset += count;
    return true;
}

std::uint32_t WireReader::U32()
{
    return Take(4) ? static_cast<std::uint32_t>(GetLe(m_data.data() + m_offset - 4, 4)) : 0;
}

std::uint64_t WireReader::U64()
{
    return Take(8) ? GetLe(m_data.data() + m_offset - 8, 8) : 0;
}

std::u16string WireReader::Text(std::size_t maxUnits)
{
    const std::uint32_t units = U32();
    if (units > maxUnits || !Take(std::size_t(units) * 2)) {
        m_ok = false;
        return {};
    }
    std::u16string text(units, u'\0');
    const std::uint8_t* at = m_data.data() + m_offset - std::size_t(units) * 2;
    for (std::uint32_t i = 0; i < units; ++i)
        text[i] = static_cast<char16_t>(at[2 * i] | (at[2 * i + 1] << 8));
    return text;
}

std::vector<std::uint8_t> WireReader::Bytes(std::size_t maxBytes)
{
    const std::uint32_t count = U32();
    if (count > maxBytes || !Take(count)) {
        m_ok = false;
        return {};
    }
    const std::uint8_t* at = m_data.data() + m_offset - count;
    return std::vector<std::uint8_t>(at, at + count);
}

// One socket to a peer, either accepted or connected. The I/O thread alone reads it; writers
// take m_writeMutex so that frames never interleave. The descriptor lives as long as the object,
// so that a writer never writes to a descriptor number that was reused.
class Connection {
public:
    explicit Connection(int fd)
        : m_fd(fd)
    {
    }
    ~Connection()
    {
        close(m_fd);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    int Fd() const
    {
        return m_fd;
    }

    // False when the frame cannot be written; the connection is then shut down, and the I/O thread
    // fails what is pending on it.
    bool Send(
        FrameType type, Service service, std::uint32_t method, std::uint64_t callId, std::span<const std::uint8_t> body)
    {
        if (body.size() > kMaxFrameBody)
            return false;
        // A small frame goes out in one write, so that the peer wakes once for it.
        const bool joined = body.size() <= kJoinedFrameBody;
        std::vector<std::uint8_t> frame(kFrameHeaderBytes + (joined ? body.size() : 0));
        EncodeHeader({ static_cast<std::uint32_t>(body.size()), static_cast<std::uint16_t>(service),
                         static_cast<std::uint8_t>(type), 0, method, callId },
            frame.data());
        if (joined)
            std::copy(body.begin(), body.end(), frame.begin() + kFrameHeaderBytes);
        std::lock_guard lock(m_writeMutex);
        if (!WriteAll(frame.data(), frame.size()) || (!joined && !WriteAll(body.data(), body.size()))) {
            shutdown(m_fd, SHUT_RDWR);
            return false;
        }
        return true;
    }

    std::vector<std::uint8_t> m_input; // I/O thread only

private:
    bool WriteAll(const std::uint8_t* data, std::size_t size)
    {
        while (size > 0) {
            const ssize_t written = send(m_fd, data, size, MSG_NOSIGNAL);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return false;
            data += written;
            size -= static_cast<std::size_t>(written);
        }
        return true;
    }

    const int m_fd;
    std::mutex m_writeMutex;
};

namespace {

struct PendingCall {
    std::shared_ptr<Connection> connection;
    std::string label;
    Deadline deadline;
    Completion completion;
};

class Endpoint {
public:
    static Endpoint& Instance()
    {
        // Never destroyed: the I/O thread and other threads may still use it while the process exits.
        static Endpoint* const endpoint = new Endpoint();
        return *endpoint;
    }

    Slot OwnSlot() const
    {
        return m_slot;
    }

    void SetHandler(Service service, Handler handler)
    {
        std::lock_guard lock(m_mutex);
        m_handlers[static_cast<std::uint16_t>(service)] = std::move(handler);
    }

    std::uint64_t StartCall(Slot peer, Service service, std::uint32_t method, std::vector<std::uint8_t> body,
        Deadline deadline, std::string_view label, Completion completion)
    {
        std::shared_ptr<Connection> connection = m_slot ? ConnectionTo(peer) : nullptr;
        if (!connection) {
            completion({ CallStatus::PeerGone, {} });
            return 0;
        }
        std::uint64_t callId = 0;
        {
            std::lock_guard lock(m_mutex);
            if (m_connections.contains(connection.get())) { // else dropped since it was looked up
                callId = ++m_lastCallId;
                m_pending.emplace(callId,
                    PendingCall {
                        connection, std::string(label.substr(0, kMaxLabel)), deadline, std::move(completion) });
            }
        }
        if (callId == 0) {
            completion({ CallStatus::PeerGone, {} });
            return 0;
        }
        Wake(); // the I/O thread may need to watch an earlier deadline
        if (!connection->Send(FrameType::Request, service, method, callId, body))
            Finish(callId, { CallStatus::PeerGone, {} });
        return callId;
    }

    void CancelCall(std::uint64_t callId)
    {
        std::lock_guard lock(m_mutex);
        m_pending.erase(callId);
    }

    // True when the slot's process is alive, as far as a connection to it can tell.
    bool Reachable(Slot peer)
    {
        return peer != m_slot && ConnectionTo(peer) != nullptr;
    }

private:
    Endpoint()
    {
        m_epoll = epoll_create1(EPOLL_CLOEXEC);
        m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_epoll < 0 || m_wake < 0 || !TakeSlot())
            return;
        Watch(m_listen, &m_listen);
        Watch(m_wake, &m_wake);
        std::thread([this] { Run(); }).detach();
        std::atexit([] { Instance().ReleaseSlot(); });
    }

    bool TakeSlot()
    {
        RunDirectoryLock runLock;
        if (!runLock.Held())
            return false;
        const std::string counterPath = RunPath("next-slot");
        Slot start = 1;
        if (FILE* counter = std::fopen(counterPath.c_str(), "re")) {
            unsigned value = 0;
            if (std::fscanf(counter, "%u", &value) == 1 && value > 0 && value < kMaxSlots)
                start = value;
            std::fclose(counter);
        }
        for (Slot i = 0; i < kMaxSlots - 1; ++i) {
            const Slot candidate = (start - 1 + i) % (kMaxSlots - 1) + 1;
            const int lockFd = open(LockPath(candidate).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            if (lockFd < 0)
                return false;
            if (flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
                close(lockFd);
                continue;
            }
            sockaddr_un address;
            const int listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (listenFd < 0 || !FillAddress(candidate, address)) {
                close(lockFd);
                if (listenFd >= 0)
                    close(listenFd);
                return false;
            }
            unlink(address.sun_path); // left by a process that died holding this slot
            if (bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0
                || listen(listenFd, kListenBacklog) != 0) {
                close(lockFd);
                close(listenFd);
                return false;
            }
            m_lockFd = lockFd;
            m_owner = getpid();
            m_listen = listenFd;
            m_slot = candidate;
            if (FILE* counter = std::fopen(counterPath.c_str(), "we")) {
                std::fprintf(counter, "%u\n", candidate % (kMaxSlots - 1) + 1);
                std::fclose(counter);
            }
            return true;
        }
        return false;
    }

    void ReleaseSlot()
    {
        if (getpid() != m_owner)
            return; // a forked child that exits leaves its parent's endpoint alone
        RunDirectoryLock runLock;
        unlink(SocketPath(m_slot).c_str());
        unlink(LockPath(m_slot).c_str());
    }

    void Watch(int fd, void* tag)
    {
        epoll_event event {};
        event.events = EPOLLIN;
        event.data.ptr = tag;
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event);
    }

    void Wake()
    {
        const std::uint64_t one = 1;
        // A failed write means the counter is already nonzero: the I/O thread wakes anyway.
        [[maybe_unused]] const ssize_t ignored = write(m_wake, &one, sizeof(one));
    }

    std::shared_ptr<Connection> ConnectionTo(Slot peer)
    {
        if (peer == 0 || peer >= kMaxSlots || peer == m_slot)
            return nullptr;
        std::lock_guard connectLock(m_connectMutex);
        {
            std::lock_guard lock(m_mutex);
            if (const auto found = m_peers.find(peer); found != m_peers.end())
                return found->second;
        }
        sockaddr_un address;
        if (!FillAddress(peer, address))
            return nullptr;
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return nullptr;
        int result;
        do
            result = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        while (result != 0 && errno == EINTR);
        if (result != 0 || !SameUser(fd)) {
            const bool dead = result != 0 && (errno == ECONNREFUSED || errno == ENOENT);
            close(fd);
            if (dead)
                RemoveIfDead(peer);
            return nullptr;
        }
        auto connection = std::make_shared<Connection>(fd);
        {
            std::lock_guard lock(m_mutex);
            m_connections.emplace(connection.get(), connection);
            m_peers.emplace(peer, connection);
        }
        Watch(fd, connection.get());
        return connection;
    }

    void Finish(std::uint64_t callId, CallResult result)
    {
        Completion completion;
        {
            std::lock_guard lock(m_mutex);
            const auto found = m_pending.find(callId);
            if (found == m_pending.end())
                return;
            completion = std::move(found->second.completion);
            m_pending.erase(found);
        }
        completion(std::move(result));
    }

    void Run()
    {
        epoll_event events[32];
        for (;;) {
            const int count = epoll_wait(m_epoll, events, 32, MillisecondsToNextDeadline());
            for (int i = 0; i < count; ++i) {
                void* tag = events[i].data.ptr;
                if (tag == &m_listen)
                    Accept();
                else if (tag == &m_wake) {
                    std::uint64_t value;
                    [[maybe_unused]] const ssize_t ignored = read(m_wake, &value, sizeof(value));
                } else
                    Readable(static_cast<Connection*>(tag));
            }
            ExpireDeadlines();
        }
    }

    int MillisecondsToNextDeadline()
    {
        std::lock_guard lock(m_mutex);
        Deadline earliest = Deadline::max();
        for (const auto& [id, call] : m_pending)
            earliest = std::min(earliest, call.deadline);
        if (earliest == Deadline::max())
            return -1;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(earliest - std::chrono::steady_clock::now());
        return static_cast<int>(std::clamp<long long>(left.count(), 0, 60'000));
    }

    void ExpireDeadlines()
    {
        std::vector<Completion> expired;
        {
            std::lock_guard lock(m_mutex);
            const Deadline now = std::chrono::steady_clock::now();
            for (auto it = m_pending.begin(); it != m_pending.end();) {
                if (it->second.deadline <= now) {
                    expired.push_back(std::move(it->second.completion));
                    it = m_pending.erase(it);
                } else
                    ++it;
            }
        }
        for (Completion& completion : expired)
            completion({ CallStatus::TimedOut, {} });
    }

    void Accept()
    {
        const int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        if (!SameUser(fd)) {
            close(fd);
            return;
        }
        auto connection = std::make_shared<Connection>(fd);
        {
            std::lock_guard lock(m_mutex);
            m_connections.emplace(connection.get(), connection);
        }
        Watch(fd, connection.get());
    }

    void Readable(Connection* raw)
    {
        std::shared_ptr<Connection> connection;
        {
            std::lock_guard lock(m_mutex);
            const auto found = m_connections.find(raw);
            if (found == m_connections.end())
                return;
            connection = found->second;
        }
        std::vector<std::uint8_t>& input = connection->m_input;
        const std::size_t had = input.size();
        input.resize(had + kReadChunk);
        const ssize_t got = recv(connection->Fd(), input.data() + had, kReadChunk, MSG_DONTWAIT);
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
            input.resize(had);
            return;
        }
        if (got <= 0) {
            Drop(connection);
            return;
        }
        input.resize(had + static_cast<std::size_t>(got));
        std::size_t offset = 0;
        while (input.size() - offset >= kFrameHeaderBytes) {
            FrameHeader header;
            if (!DecodeHeader(input.data() + offset, header)) {
                Drop(connection); // a peer that breaks the framing is not worth reading further
                return;
            }
            if (input.size() - offset - kFrameHeaderBytes < header.bodyLength)
                break;
            const std::uint8_t* body = input.data() + offset + kFrameHeaderBytes;
            Deliver(connection, header, std::vector<std::uint8_t>(body, body + header.bodyLength));
            offset += kFrameHeaderBytes + header.bodyLength;
        }
        input.erase(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(offset));
    }

    void Deliver(
        const std::shared_ptr<Connection>& connection, const FrameHeader& header, std::vector<std::uint8_t> body)
    {
        const auto type = static_cast<FrameType>(header.type);
        if (type == FrameType::Request) {
            Handler handler;
            {
                std::lock_guard lock(m_mutex);
                if (const auto found = m_handlers.find(header.service); found != m_handlers.end())
                    handler = found->second;
            }
            IncomingCall call(
                connection, static_cast<Service>(header.service), header.method, header.callId, std::move(body));
            if (handler)
                handler(std::move(call));
            return; // an unhandled call fails when it goes out of scope
        }
        {
            // A reply counts only on the connection that carried the call.
            std::lock_guard lock(m_mutex);
            const auto found = m_pending.find(header.callId);
            if (found == m_pending.end() || found->second.connection != connection)
                return;
        }
        Finish(header.callId, { type == FrameType::Reply ? CallStatus::Ok : CallStatus::Refused, std::move(body) });
    }

    // Fails every call pending on the connection, at once.
    void Drop(const std::shared_ptr<Connection>& connection)
    {
        std::vector<Completion> failed;
        {
            std::lock_guard lock(m_mutex);
            m_connections.erase(connection.get());
            for (auto it = m_peers.begin(); it != m_peers.end(); ++it)
                if (it->second == connection) {
                    m_peers.erase(it);
                    break;
                }
            for (auto it = m_pending.begin(); it != m_pending.end();) {
                if (it->second.connection == connection) {
                    failed.push_back(std::move(it->second.completion));
                    it = m_pending.erase(it);
                } else
                    ++it;
            }
        }
        epoll_ctl(m_epoll, EPOLL_CTL_DEL, connection->Fd(), nullptr);
        shutdown(connection->Fd(), SHUT_RDWR);
        for (Completion& completion : failed)
            completion({ CallStatus::PeerGone, {} });
    }

    Slot m_slot = 0;
    int m_lockFd = -1; // open for the life of the process: its lock is what holds the slot
    pid_t m_owner = 0;
    int m_listen = -1;
    int m_epoll = -1;
    int m_wake = -1;
    std::mutex m_connectMutex; // serialises connecting, so that a peer gets one connection
    std::mutex m_mutex;
    std::unordered_map<std::uint16_t, Handler> m_handlers;
    std::unordered_map<Connection*, std::shared_ptr<Connection>> m_connections;
    std::unordered_map<Slot, std::shared_ptr<Connection>> m_peers;
    std::map<std::uint64_t, PendingCall> m_pending;
    std::uint64_t m_lastCallId = 0;
};

}

IncomingCall::IncomingCall(std::shared_ptr<Connection> connection, Service service, std::uint32_t method,
    std::uint64_t callId, std::vector<std::uint8_t> body)
    : m_connection(std::move(connection))
    , m_service(service)
    , m_method(method)
    , m_callId(callId)
    , m_body(std::move(body))
{
}

IncomingCall::IncomingCall(IncomingCall&& other) noexcept
    : m_connection(std::move(other.m_connection))
    , m_service(other.m_service)
    , m_method(other.m_method)
    , m_callId(other.m_callId)
    , m_body(std::move(other.m_body))
{
}

IncomingCall::~IncomingCall()
{
    Fail();
}

void IncomingCall::Reply(std::span<const std::uint8_t> body)
{
    if (const auto connection = std::move(m_connection))
        connection->Send(FrameType::Reply, m_service, m_method, m_callId, body);
}

void IncomingCall::Fail()
{
    if (const auto connection = std::move(m_connection))
        connection->Send(FrameType::Failure, m_service, m_method, m_callId, {});
}

Slot OwnSlot()
{
    return Endpoint::Instance().OwnSlot();
}

std::string SocketPath(Slot slot)
{
    return RunPath(std::to_string(slot) + ".sock");
}

void SetHandler(Service service, Handler handler)
{
    Endpoint::Instance().SetHandler(service, std::move(handler));
}

std::uint64_t StartCall(Slot peer, Service service, std::uint32_t method, std::vector<std::uint8_t> body,
    Deadline deadline, std::string_view label, Completion completion)
{
    return Endpoint::Instance().StartCall(
        peer, service, method, std::move(body), deadline, label, std::move(completion));
}

void CancelCall(std::uint64_t callId)
{
    Endpoint::Instance().CancelCall(callId);
}

CallResult Call(Slot peer, Service service, std::uint32_t method, std::vector<std::uint8_t> body,
    std::chrono::milliseconds timeout, std::string_view label)
{
    struct Waiter {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<CallResult> result;
    };
    auto waiter = std::make_shared<Waiter>();
    StartCall(peer, service, method, std::move(body), std::chrono::steady_clock::now() + timeout, label,
        [waiter](CallResult result) {
            std::lock_guard lock(waiter->mutex);
            waiter->result = std::move(result);
            waiter->done.notify_all();
        });
    std::unique_lock lock(waiter->mutex);
    waiter->done.wait(lock, [&] { return waiter->result.has_value(); });
    return std::move(*waiter->result);
}

std::vector<Slot> LivePeers()
{
    Endpoint& endpoint = Endpoint::Instance();
    std::vector<Slot> candidates;
    if (DIR* directory = opendir(RootPath("run").c_str())) {
        while (const dirent* entry = readdir(directory)) {
            const std::string_view name = entry->d_name;
            if (!name.ends_with(".sock"))
                continue;
            Slot slot = 0;
            const auto [end, error] = std::from_chars(name.data(), name.data() + name.size() - 5, slot);
            if (error == std::errc() && end == name.data() + name.size() - 5 && slot > 0 && slot < kMaxSlots)
                candidates.push_back(slot);
        }
        closedir(directory);
    }
    std::sort(candidates.begin(), candidates.end());
    std::vector<Slot> live;
    for (const Slot slot : candidates)
        if (endpoint.Reachable(slot))
            live.push_back(slot);
    return live;
}

}
