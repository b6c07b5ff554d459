// The process endpoint: this process's one channel to the other processes of its machine root.
//
// Every process that needs it owns one Unix stream socket, WINROOT/run/<slot>.sock, where slot
// (1..kMaxSlots-1) is a number unique among the live processes of the root, held through a lock on
// WINROOT/run/<slot>.lock for the life of the process and handed out round-robin so that a slot
// is not taken again soon. One I/O thread accepts peers, reads their frames and hands requests to
// the handler registered for the frame's service (user32 windows, later COM calls).
//
// Threads: everything here may be called from any thread. Handlers run on the I/O thread and
// must not block; they answer later, from any thread, through their IncomingCall.
// Calls: every outgoing call is entered in a registry of pending calls with its id, a label and
// a deadline. Its completion runs exactly once: with the reply, with PeerGone as soon as the
// connection to the peer closes (every call pending on it fails at that moment), or with
// TimedOut at its deadline. Completions run on the I/O thread or on the calling thread.
// Peers: only processes of the same user are accepted (SO_PEERCRED). A frame that breaks the
// framing rules closes the connection; the process carries on.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform::ipc {

using Slot = std::uint32_t;
inline constexpr Slot kMaxSlots = 2048;
inline constexpr std::size_t kMaxFrameBody = 16 * 1024 * 1024;

enum class Service : std::uint16_t {
    User32 = 1,
    Com = 2,
};

// The fixed frame header, little-endian on the wire, followed by bodyLength bytes.
enum class FrameType : std::uint8_t {
    Request = 1,
    Reply = 2,
    Failure = 3, // the request could not be served: unknown service or method, bad body
};
struct FrameHeader {
    std::uint32_t bodyLength;
    std::uint16_t service;
    std::uint8_t type;
    std::uint8_t reserved; // 0
    std::uint32_t method;
    std::uint64_t callId;
};
inline constexpr std::size_t kFrameHeaderBytes = 20;
void EncodeHeader(const FrameHeader& header, std::uint8_t* out);
// False when the header breaks the rules (length over kMaxFrameBody, unknown type, reserved set).
[[nodiscard]] bool DecodeHeader(const std::uint8_t* in, FrameHeader& header);

// Bodies are written and read with these; the reader fails once instead of reading past the end.
class WireWriter {
public:
    void U32(std::uint32_t value);
    void U64(std::uint64_t value);
    void Text(std::u16string_view text);
    void Bytes(std::span<const std::uint8_t> bytes);
    std::vector<std::uint8_t>& Data()
    {
        return m_data;
    }

private:
    std::vector<std::uint8_t> m_data;
};

class WireReader {
public:
    explicit WireReader(std::span<const std::uint8_t> data)
        : m_data(data)
    {
    }
    std::uint32_t U32();
    std::uint64_t U64();
    std::u16string Text(std::size_t maxUnits);
    std::vector<std::uint8_t> Bytes(std::size_t maxBytes);
    // True when every read so far fitted and nothing is left over.
    [[nodiscard]] bool Complete() const
    {
        return m_ok && m_offset == m_data.size();
    }

private:
    bool Take(std::size_t count);
    std::span<const std::uint8_t> m_data;
    std::size_t m_offset = 0;
    bool m_ok = true;
};

enum class CallStatus {
    Ok,
    PeerGone, // no such process, or its connection closed
    TimedOut,
    Refused, // the peer answered with a Failure frame
};
struct CallResult {
    CallStatus status;
    std::vector<std::uint8_t> body;
};
using Completion = std::function<void(CallResult)>;
using Deadline = std::chrono::steady_clock::time_point;

// A request received from a peer; answer it once with Reply or Fail, from any thread. Dropping
// it unanswered fails the call at the peer.
class Connection;
class IncomingCall {
public:
    IncomingCall(std::shared_ptr<Connection> connection, Service service, std::uint32_t method, std::uint64_t callId,
        std::vector<std::uint8_t> body);
    IncomingCall(IncomingCall&&) noexcept;
    IncomingCall& operator=(IncomingCall&&) = delete;
    ~IncomingCall();

    std::uint32_t Method() const
    {
        return m_method;
    }
    std::span<const std::uint8_t> Body() const
    {
        return m_body;
    }
    void Reply(std::span<const std::uint8_t> body);
    void Fail();

private:
    std::shared_ptr<Connection> m_connection;
    Service m_service;
    std::uint32_t m_method;
    std::uint64_t m_callId;
    std::vector<std::uint8_t> m_body;
};
using Handler = std::function<void(IncomingCall)>;

// This process's slot, starting the endpoint on first use; 0 when it cannot be started.
Slot OwnSlot();
// The socket path of a slot (for tests that speak to an endpoint directly).
std::string SocketPath(Slot slot);

// Installs the handler for a service's requests; one per service, set before peers may call.
void SetHandler(Service service, Handler handler);

// Starts a call; the returned id can cancel it. The completion may run before StartCall returns.
std::uint64_t StartCall(Slot peer, Service service, std::uint32_t method, std::vector<std::uint8_t> body,
    Deadline deadline, std::string_view label, Completion completion);
// Forgets a pending call without running its completion; a late reply is dropped.
void CancelCall(std::uint64_t callId);
// A call that blocks the calling thread until it completes. Only for peers that answer from
// their I/O thread, which never waits for this process.
CallResult Call(Slot peer, Service service, std::uint32_t method, std::vector<std::uint8_t> body,
    std::chrono::milliseconds timeout, std::string_view label);

// The slots of the other live processes of the root; endpoints of dead ones are removed.
std::vector<Slot> LivePeers();

}
