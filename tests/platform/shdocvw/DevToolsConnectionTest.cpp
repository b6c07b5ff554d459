// The connection's own rules, against a scripted peer on a socket pair: Chromium cannot be made to
// send nonsense or to hold a reply, so the peer here plays it.
#include "DevToolsConnection.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <sys/socket.h>
#include <unistd.h>

using shdocvw::CallResult;
using shdocvw::DevToolsConnection;
using shdocvw::Json;

namespace {

// The far end of the pipe: reads the commands we send and writes what a test makes it say.
class Peer {
public:
    Peer()
    {
        int pair[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
        m_fd = pair[0];
        m_connection = DevToolsConnection::Open(pair[1], dup(pair[1]));
    }
    ~Peer()
    {
        m_connection.reset();
        close(m_fd);
    }
    DevToolsConnection& Connection()
    {
        return *m_connection;
    }
    // False once the connection has dropped us.
    bool Send(const std::string& bytes)
    {
        for (size_t sent = 0; sent < bytes.size();) {
            const ssize_t n = send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }
    // The next command we sent, as JSON.
    Json NextCommand()
    {
        std::string text;
        char c = 0;
        while (read(m_fd, &c, 1) == 1 && c != '\0')
            text.push_back(c);
        return Json::parse(text, nullptr, false);
    }
    void CloseEnd()
    {
        shutdown(m_fd, SHUT_RDWR);
    }

private:
    int m_fd = -1;
    std::shared_ptr<DevToolsConnection> m_connection;
};

std::string Frame(const Json& message)
{
    return message.dump() + std::string(1, '\0');
}

TEST(DevToolsConnection, RepliesReachTheirCallsAndEventsTheirSessionInOrder)
{
    Peer peer;
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::string> seen;
    auto record = [&](const std::string& label) {
        return [&, label](const std::string& method, const Json& params) {
            std::lock_guard guard(lock);
            seen.push_back(label + " " + method + " " + params.value("n", std::string()));
            changed.notify_all();
        };
    };
    peer.Connection().SetEventHandler("", record("browser"));
    peer.Connection().SetEventHandler("S1", record("page"));

    auto first = std::async(std::launch::async, [&] { return peer.Connection().Call("A.one", { { "x", 1 } }, "S1"); });
    const Json sentFirst = peer.NextCommand();
    auto second = std::async(std::launch::async, [&] { return peer.Connection().Call("B.two"); });
    const Json sentSecond = peer.NextCommand();
    EXPECT_EQ(sentFirst.value("method", ""), "A.one");
    EXPECT_EQ(sentFirst.value("sessionId", ""), "S1");
    EXPECT_EQ(sentFirst["params"]["x"], 1);
    EXPECT_FALSE(sentSecond.contains("sessionId"));

    // Replies out of order, split across writes, with events between them.
    const std::string bytes = Frame({ { "id", sentSecond["id"] }, { "result", { { "v", 2 } } } })
        + Frame({ { "method", "E.x" }, { "sessionId", "S1" }, { "params", { { "n", "1" } } } })
        + Frame({ { "method", "E.y" }, { "params", { { "n", "2" } } } })
        + Frame({ { "method", "E.z" }, { "sessionId", "unknown" }, { "params", Json::object() } })
        + Frame({ { "id", sentFirst["id"] }, { "error", { { "message", "No such thing" } } } });
    for (size_t at = 0; at < bytes.size(); at += 7)
        ASSERT_TRUE(peer.Send(bytes.substr(at, 7)));

    const CallResult two = second.get();
    ASSERT_TRUE(two.ok) << two.error;
    EXPECT_EQ(two.result["v"], 2);
    const CallResult one = first.get();
    EXPECT_FALSE(one.ok);
    EXPECT_NE(one.error.find("No such thing"), std::string::npos) << one.error;

    std::unique_lock guard(lock);
    ASSERT_TRUE(changed.wait_for(guard, std::chrono::seconds(5), [&] { return seen.size() == 2; }));
    EXPECT_EQ(seen, (std::vector<std::string> { "page E.x 1", "browser E.y 2" }));
}

TEST(DevToolsConnection, PostedRepliesComeBackOnTheDispatchThread)
{
    Peer peer;
    std::promise<CallResult> reply;
    peer.Connection().Post("P.ost", Json::object(), "S", [&](const CallResult& result) { reply.set_value(result); });
    const Json sent = peer.NextCommand();
    ASSERT_TRUE(peer.Send(Frame({ { "id", sent["id"] }, { "result", { { "done", true } } } })));
    auto future = reply.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    const CallResult result = future.get();
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.result["done"], true);
}

TEST(DevToolsConnection, ADeadlinePassesWithoutAReply)
{
    Peer peer;
    const CallResult result = peer.Connection().Call("Slow.call", Json::object(), "", std::chrono::milliseconds(50));
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("Slow.call"), std::string::npos);
    EXPECT_TRUE(peer.Connection().IsOpen());
}

// Every way the peer ends or breaks the connection fails all pending calls at once and every later one.
TEST(DevToolsConnection, ClosingFailsEveryPendingCallWithTheReason)
{
    struct Case {
        const char* name;
        std::function<void(Peer&)> breakIt;
        const char* reason;
    };
    const std::string huge = "{\"method\":\"E\",\"params\":{\"s\":\"" + std::string(shdocvw::kMaxMessage, 'a');
    const Case cases[] = {
        { "pipe closed", [](Peer& peer) { peer.CloseEnd(); }, "closed" },
        { "not JSON", [](Peer& peer) { EXPECT_TRUE(peer.Send(std::string("{oops") + '\0')); }, "malformed" },
        { "not an object", [](Peer& peer) { EXPECT_TRUE(peer.Send(std::string("[1,2]") + '\0')); }, "malformed" },
        { "id not a number",
            [](Peer& peer) {
                EXPECT_TRUE(peer.Send(Frame({ { "id", "7" } })));
            },
            "malformed" },
        { "past the size limit", [&](Peer& peer) { (void)peer.Send(huge); }, "size limit" },
        { "closed by us", [](Peer& peer) { peer.Connection().Close("shut down by the test"); }, "by the test" },
    };
    for (const Case& c : cases) {
        Peer peer;
        auto a = std::async(std::launch::async, [&] { return peer.Connection().Call("A.a"); });
        auto b = std::async(std::launch::async, [&] { return peer.Connection().Call("B.b"); });
        peer.NextCommand();
        peer.NextCommand();
        std::thread breaker([&] { c.breakIt(peer); });
        for (auto* call : { &a, &b }) {
            ASSERT_EQ(call->wait_for(std::chrono::seconds(5)), std::future_status::ready) << c.name;
            const CallResult result = call->get();
            EXPECT_FALSE(result.ok) << c.name;
            EXPECT_NE(result.error.find(c.reason), std::string::npos) << c.name << ": " << result.error;
        }
        breaker.join();
        EXPECT_FALSE(peer.Connection().IsOpen()) << c.name;
        EXPECT_FALSE(peer.Connection().Call("C.c").ok) << c.name;
    }
}

}
