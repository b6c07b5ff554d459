#include "Endpoint.h"
#include "PeerMessages.h"
#include "RawPeer.h"
#include "TestRoot.h"
#include "TestWindow.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

using testing_support::MakeWindow;

namespace {

std::string PeerProgram()
{
    return testing_support::BinaryDirectory() + "/user32_peer";
}

std::vector<std::string> Endpoints()
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(testing_support::TestRoot() + "/run"))
        if (entry.path().extension() == ".sock")
            names.push_back(entry.path().filename().string());
    return names;
}

}

TEST(RemoteWindows, AnotherProcessesWindowCanBeFoundAndQueried)
{
    peer::Process process(PeerProgram(), "PeerClass", "Peer title");
    const HWND hwnd = process.Window();
    ASSERT_NE(hwnd, nullptr);
    const HWND own = MakeWindow({}, nullptr, 0, u"Peer title");
    EXPECT_NE(hwnd, own);

    EXPECT_EQ(FindWindowW(u"peerclass", nullptr), hwnd);
    EXPECT_EQ(FindWindowW(nullptr, u"Peer title"), own) << "this process's windows come first";
    EXPECT_EQ(FindWindowExW(nullptr, own, nullptr, u"Peer title"), hwnd);
    EXPECT_EQ(FindWindowW(u"PeerClass", u"Other title"), nullptr);
    EXPECT_TRUE(IsWindow(hwnd));
    DWORD pid = 0;
    EXPECT_NE(GetWindowThreadProcessId(hwnd, &pid), 0u);
    EXPECT_EQ(pid, static_cast<DWORD>(process.Pid()));
    WCHAR text[64];
    EXPECT_EQ(GetWindowTextW(hwnd, text, 64), 10);
    EXPECT_EQ(std::u16string(text), u"Peer title");
    EXPECT_EQ(GetClassNameW(hwnd, text, 5), 4);
    EXPECT_EQ(std::u16string(text), u"Peer");
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE)), static_cast<DWORD>(WS_OVERLAPPEDWINDOW));
    EXPECT_FALSE(SetWindowLongPtrW(hwnd, GWLP_USERDATA, 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    RECT rect;
    ASSERT_TRUE(GetClientRect(hwnd, &rect));
    EXPECT_GT(rect.right, 0);

    std::vector<HWND> all;
    EnumWindows(
        [](HWND window, LPARAM lParam) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    EXPECT_EQ(all, (std::vector<HWND> { own, hwnd }));
    DestroyWindow(own);
}

TEST(RemoteWindows, SendReturnsTheRemoteResultAndCopiesData)
{
    peer::Process process(PeerProgram(), "PeerClass", "");
    const HWND hwnd = process.Window();
    EXPECT_EQ(SendMessageW(hwnd, peer::kEcho, 40, 2), 42);
    struct Case {
        const char* name;
        ULONG_PTR id;
        std::vector<unsigned char> data;
    };
    std::vector<unsigned char> large(256 * 1024);
    for (std::size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<unsigned char>(i * 7);
    const Case cases[] = {
        { "no data", 3, {} },
        { "a record", 0, { 5, 0, 0, 0, 'a', '\r', 'b', 0, 9 } },
        { "256 KiB", 0xAB, large },
    };
    for (const Case& c : cases) {
        COPYDATASTRUCT copy { c.id, static_cast<DWORD>(c.data.size()),
            c.data.empty() ? nullptr : const_cast<unsigned char*>(c.data.data()) };
        SetLastError(0);
        EXPECT_EQ(SendMessageW(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy)), peer::CopyDataDigest(&copy))
            << c.name;
        EXPECT_EQ(GetLastError(), 0u) << c.name;
    }
    DWORD_PTR result = 0;
    ASSERT_TRUE(SendMessageTimeoutW(hwnd, peer::kEcho, 1, 2, SMTO_NORMAL, 5000, &result));
    EXPECT_EQ(result, 3u);
}

TEST(RemoteWindows, PostsArriveAndSendsBackToTheWaitingSenderAreHandled)
{
    peer::Process process(PeerProgram(), "PeerClass", "");
    std::vector<UINT> handledHere;
    const HWND own = MakeWindow([&](HWND, UINT message, WPARAM wParam, LPARAM lParam) -> std::optional<LRESULT> {
        if (message == peer::kEcho) {
            handledHere.push_back(message);
            EXPECT_TRUE(InSendMessage());
            return static_cast<LRESULT>(wParam) + lParam;
        }
        return std::nullopt;
    });
    ASSERT_TRUE(PostMessageW(process.Window(), peer::kPing, reinterpret_cast<WPARAM>(own), 77));
    MSG message;
    ASSERT_EQ(GetMessageW(&message, own, 0, 0), TRUE);
    EXPECT_EQ(message.message, peer::kPong);
    EXPECT_EQ(message.lParam, 77);

    EXPECT_EQ(SendMessageW(process.Window(), peer::kCallBack, reinterpret_cast<WPARAM>(own), 0), 121);
    EXPECT_EQ(handledHere, std::vector<UINT> { peer::kEcho });
    EXPECT_FALSE(PostMessageW(process.Window(), WM_COPYDATA, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MESSAGE_SYNC_ONLY));
    DestroyWindow(own);
}

TEST(RemoteWindows, APeerKilledDuringASendFailsTheSendAtOnce)
{
    peer::Process process(PeerProgram(), "PeerClass", "");
    const HWND hwnd = process.Window();
    ASSERT_NE(platform::ipc::OwnSlot(), 0u);
    EXPECT_GE(Endpoints().size(), 2u) << "one endpoint per process";
    std::thread killer([&] {
        if (process.ReadLine() == "busy") // the peer is inside the window procedure
            kill(process.Pid(), SIGKILL);
    });
    SetLastError(0);
    EXPECT_EQ(SendMessageW(hwnd, peer::kHang, 0, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    killer.join();
    process.Wait();

    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(PostMessageW(hwnd, peer::kEcho, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(SendMessageW(hwnd, peer::kEcho, 0, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(FindWindowW(u"PeerClass", nullptr), nullptr);
    EXPECT_EQ(Endpoints(), std::vector<std::string> { std::to_string(platform::ipc::OwnSlot()) + ".sock" })
        << "the dead process's endpoint is removed";
}

TEST(RemoteWindows, APostedDestroyEndsThePeersLoop)
{
    peer::Process process(PeerProgram(), "PeerClass", "");
    ASSERT_TRUE(PostMessageW(process.Window(), WM_DESTROY, 0, 0)) << GetLastError();
    const int status = process.Wait();
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(RemoteWindows, HandlesOfProcessesNeverCollide)
{
    peer::Process first(PeerProgram(), "PeerClass", "one");
    peer::Process second(PeerProgram(), "PeerClass", "two");
    const HWND own = MakeWindow();
    EXPECT_NE(first.Window(), second.Window());
    EXPECT_NE(first.Window(), own);
    EXPECT_NE(second.Window(), own);
    EXPECT_EQ(FindWindowW(nullptr, u"two"), second.Window());
    first.Kill();
    EXPECT_EQ(FindWindowW(u"PeerClass", nullptr), second.Window());
    peer::Process third(PeerProgram(), "PeerClass", "three");
    EXPECT_NE(third.Window(), first.Window()) << "a dead process's handles are not handed out again soon";
    DestroyWindow(own);
}

TEST(RemoteWindows, MalformedRequestsAreRefusedWithoutHarm)
{
    using platform::ipc::FrameType;
    using platform::ipc::WireWriter;
    const HWND own = MakeWindow();
    const auto hwndValue = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(own));
    // The requests as the wire carries them: method 1 posts, 2 sends, 3 asks about a window.
    const auto post = [](std::uint32_t hwnd, std::uint32_t message, bool whole) {
        WireWriter body;
        body.U32(hwnd);
        body.U32(message);
        body.U64(1);
        if (whole)
            body.U64(2);
        return body.Data();
    };
    const auto sendBody = [](std::uint32_t hwnd, std::uint32_t message, std::uint32_t hasCopy, std::uint32_t bytes) {
        WireWriter body;
        body.U32(hwnd);
        body.U32(message);
        body.U64(0);
        body.U64(0);
        body.U32(hasCopy);
        body.U64(0);
        body.U32(bytes); // a byte count, with no bytes behind it
        return body.Data();
    };
    struct Case {
        const char* name;
        std::uint32_t method;
        std::vector<std::uint8_t> body;
        FrameType answer;
        std::optional<DWORD> error;
    };
    WireWriter infoWithTail;
    infoWithTail.U32(hwndValue);
    infoWithTail.U32(0);
    const Case cases[] = {
        { "post cut short", 1, post(hwndValue, WM_USER, false), FrameType::Failure, std::nullopt },
        { "send with data for another message", 2, sendBody(hwndValue, WM_USER, 1, 0), FrameType::Failure,
            std::nullopt },
        { "send with more bytes than it carries", 2, sendBody(hwndValue, WM_COPYDATA, 1, 1000), FrameType::Failure,
            std::nullopt },
        { "query with bytes left over", 3, infoWithTail.Data(), FrameType::Failure, std::nullopt },
        { "unknown method", 99, {}, FrameType::Failure, std::nullopt },
        { "post to no window", 1, post(hwndValue + 1, WM_USER, true), FrameType::Reply, ERROR_INVALID_WINDOW_HANDLE },
        { "posted WM_COPYDATA", 1, post(hwndValue, WM_COPYDATA, true), FrameType::Reply, ERROR_MESSAGE_SYNC_ONLY },
        { "valid post", 1, post(hwndValue, WM_USER + 7, true), FrameType::Reply, ERROR_SUCCESS },
    };
    const int fd = testing_support::Connect(platform::ipc::SocketPath(platform::ipc::OwnSlot()));
    ASSERT_GE(fd, 0);
    std::uint64_t callId = 0;
    for (const Case& c : cases) {
        const std::vector<std::uint8_t> frame = testing_support::Frame(
            { static_cast<std::uint32_t>(c.body.size()), static_cast<std::uint16_t>(platform::ipc::Service::User32),
                static_cast<std::uint8_t>(FrameType::Request), 0, c.method, ++callId },
            c.body);
        ASSERT_EQ(send(fd, frame.data(), frame.size(), MSG_NOSIGNAL), static_cast<ssize_t>(frame.size())) << c.name;
        platform::ipc::FrameHeader header;
        std::vector<std::uint8_t> body;
        ASSERT_TRUE(testing_support::ReadFrame(fd, header, body)) << c.name << ": the connection stays open";
        EXPECT_EQ(header.callId, callId) << c.name;
        EXPECT_EQ(header.type, static_cast<std::uint8_t>(c.answer)) << c.name;
        if (c.error) {
            platform::ipc::WireReader reader(body);
            EXPECT_EQ(reader.U32(), *c.error) << c.name;
            EXPECT_TRUE(reader.Complete()) << c.name;
        }
    }
    close(fd);
    MSG message;
    ASSERT_TRUE(PeekMessageW(&message, own, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, static_cast<UINT>(WM_USER + 7));
    EXPECT_EQ(message.wParam, 1u);
    EXPECT_EQ(message.lParam, 2);
    EXPECT_FALSE(PeekMessageW(&message, own, 0, 0, PM_REMOVE)) << "nothing else got through";
    DestroyWindow(own);
}
