#include "Endpoint.h"
#include "RawPeer.h"

#include <future>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform::ipc;
using testing_support::Connect;
using testing_support::Frame;
using testing_support::ReadFrame;

namespace {

// The endpoint under test echoes every Com request's body back.
void InstallEcho()
{
    SetHandler(Service::Com, [](IncomingCall call) {
        const std::vector<std::uint8_t> body(call.Body().begin(), call.Body().end());
        call.Reply(body);
    });
}

const FrameHeader kValid { 3, static_cast<std::uint16_t>(Service::Com), static_cast<std::uint8_t>(FrameType::Request),
    0, 9, 77 };

}

TEST(Endpoint, HeadersOutsideTheRulesAreRejected)
{
    struct Case {
        const char* name;
        void (*mutate)(FrameHeader&);
        bool valid;
    };
    const Case cases[] = {
        { "valid", [](FrameHeader&) {}, true },
        { "longest body", [](FrameHeader& h) { h.bodyLength = kMaxFrameBody; }, true },
        { "body over the limit", [](FrameHeader& h) { h.bodyLength = kMaxFrameBody + 1; }, false },
        { "type 0", [](FrameHeader& h) { h.type = 0; }, false },
        { "type 4", [](FrameHeader& h) { h.type = 4; }, false },
        { "reserved set", [](FrameHeader& h) { h.reserved = 1; }, false },
    };
    for (const Case& c : cases) {
        FrameHeader header = kValid;
        c.mutate(header);
        std::uint8_t bytes[kFrameHeaderBytes];
        EncodeHeader(header, bytes);
        FrameHeader decoded;
        EXPECT_EQ(DecodeHeader(bytes, decoded), c.valid) << c.name;
        if (c.valid) {
            EXPECT_EQ(decoded.bodyLength, header.bodyLength) << c.name;
            EXPECT_EQ(decoded.callId, header.callId) << c.name;
            EXPECT_EQ(decoded.method, header.method) << c.name;
        }
    }
}

TEST(Endpoint, ReaderFailsOnShortOrOverlongInput)
{
    WireWriter writer;
    writer.U32(5);
    writer.Text(u"héllo");
    writer.Bytes(std::vector<std::uint8_t> { 1, 2, 3 });
    const std::vector<std::uint8_t> data = writer.Data();
    {
        WireReader reader(data);
        EXPECT_EQ(reader.U32(), 5u);
        EXPECT_EQ(reader.Text(10), u"héllo");
        EXPECT_EQ(reader.Bytes(3), (std::vector<std::uint8_t> { 1, 2, 3 }));
        EXPECT_TRUE(reader.Complete());
    }
    for (std::size_t cut = 0; cut < data.size(); ++cut) {
        WireReader reader(std::span(data.data(), cut));
        reader.U32();
        reader.Text(10);
        reader.Bytes(3);
        EXPECT_FALSE(reader.Complete()) << "cut at " << cut;
    }
    WireReader limited(data);
    limited.U32();
    limited.Text(4);
    EXPECT_FALSE(limited.Complete()) << "text longer than its limit";
    WireReader leftOver(data);
    leftOver.U32();
    EXPECT_FALSE(leftOver.Complete()) << "bytes left over";
}

TEST(Endpoint, MalformedFramesCloseTheConnectionAndTheEndpointCarriesOn)
{
    InstallEcho();
    const std::string path = SocketPath(OwnSlot());
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
    };
    FrameHeader oversized = kValid;
    oversized.bodyLength = 0xFFFFFFFF;
    FrameHeader badType = kValid;
    badType.type = 9;
    const Case cases[] = {
        { "oversized length", Frame(oversized, {}) },
        { "unknown frame type", Frame(badType, { 1, 2, 3 }) },
        { "garbage", std::vector<std::uint8_t>(64, 0xEE) },
    };
    for (const Case& c : cases) {
        const int fd = Connect(path);
        ASSERT_GE(fd, 0) << c.name;
        ASSERT_EQ(send(fd, c.bytes.data(), c.bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(c.bytes.size()));
        FrameHeader header;
        std::vector<std::uint8_t> body;
        EXPECT_FALSE(ReadFrame(fd, header, body)) << c.name << ": the connection must be closed";
        close(fd);
    }

    const int fd = Connect(path);
    ASSERT_GE(fd, 0);
    FrameHeader unknownService = kValid;
    unknownService.service = 999;
    const std::vector<std::uint8_t> refused = Frame(unknownService, { 1, 2, 3 });
    ASSERT_EQ(send(fd, refused.data(), refused.size(), MSG_NOSIGNAL), static_cast<ssize_t>(refused.size()));
    FrameHeader header;
    std::vector<std::uint8_t> body;
    ASSERT_TRUE(ReadFrame(fd, header, body));
    EXPECT_EQ(header.type, static_cast<std::uint8_t>(FrameType::Failure)) << "an unknown service fails the call";
    EXPECT_EQ(header.callId, 77u);

    // Split across writes, a valid request is still answered on the same connection.
    const std::vector<std::uint8_t> echo = Frame(kValid, { 4, 5, 6 });
    for (std::size_t at = 0; at < echo.size(); at += 7)
        ASSERT_GT(send(fd, echo.data() + at, std::min<std::size_t>(7, echo.size() - at), MSG_NOSIGNAL), 0);
    ASSERT_TRUE(ReadFrame(fd, header, body));
    EXPECT_EQ(header.type, static_cast<std::uint8_t>(FrameType::Reply));
    EXPECT_EQ(header.callId, 77u);
    EXPECT_EQ(body, (std::vector<std::uint8_t> { 4, 5, 6 }));
    close(fd);
}

TEST(Endpoint, CallsFailWhenThePeerIsMissingSilentOrGone)
{
    ASSERT_NE(OwnSlot(), 0u);
    EXPECT_EQ(Call(kMaxSlots - 1, Service::Com, 1, {}, std::chrono::seconds(5), "nobody").status, CallStatus::PeerGone);

    // A peer that accepts and never answers: a fake endpoint in a slot no process holds.
    const Slot silent = kMaxSlots - 2;
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, SocketPath(silent).c_str(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    EXPECT_EQ(
        Call(silent, Service::Com, 1, { 1 }, std::chrono::milliseconds(50), "silent").status, CallStatus::TimedOut);

    std::promise<CallStatus> outcome;
    StartCall(silent, Service::Com, 1, { 2 }, Deadline::max(), "pending",
        [&](CallResult result) { outcome.set_value(result.status); });
    const int accepted = accept(listener, nullptr, nullptr);
    ASSERT_GE(accepted, 0);
    close(accepted); // the peer goes away with the call pending
    EXPECT_EQ(outcome.get_future().get(), CallStatus::PeerGone);
    close(listener);
    unlink(address.sun_path);
}

TEST(Endpoint, PeersOfAnotherUserAreTurnedAway)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to connect as another user";
    InstallEcho();
    const std::string path = SocketPath(OwnSlot());
    // Let another user reach the socket at all, so that only the endpoint's own check stands.
    const std::string root = path.substr(0, path.rfind("/run/"));
    ASSERT_EQ(chmod(root.c_str(), 0711), 0);
    ASSERT_EQ(chmod((root + "/run").c_str(), 0711), 0);
    ASSERT_EQ(chmod(path.c_str(), 0777), 0);
    const std::vector<std::uint8_t> echo = Frame(kValid, { 4, 5, 6 });
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(2);
        const int fd = Connect(path);
        if (fd < 0)
            _exit(3);
        FrameHeader header;
        std::vector<std::uint8_t> body;
        const bool answered = send(fd, echo.data(), echo.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(echo.size())
            && ReadFrame(fd, header, body);
        _exit(answered ? 1 : 0);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    chmod(root.c_str(), 0700);
    chmod((root + "/run").c_str(), 0700);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: answered, 2: cannot change user, 3: cannot connect";

    const int fd = Connect(path); // the same user is still served
    ASSERT_GE(fd, 0);
    ASSERT_EQ(send(fd, echo.data(), echo.size(), MSG_NOSIGNAL), static_cast<ssize_t>(echo.size()));
    FrameHeader header;
    std::vector<std::uint8_t> body;
    EXPECT_TRUE(ReadFrame(fd, header, body));
    close(fd);
}
