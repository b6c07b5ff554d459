// The library in a host program whose directory holds a stand-in CmdReelscan.exe; the stand-in
// sends the records that each test's URL names (see StandInCompanion.cpp).
#include "CmdReelscanWindow.h"
#include "ReelscanProxy.h"
#include "windows.h"

#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

extern "C" int32_t RequestFromC(const char16_t* url);

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(20);

struct Call {
    std::u16string title, type, url, href, cookie, referrer, icon;
    int32_t length;
};

// What callbacks have seen; tests set the hooks before the request.
struct Observed {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Call> calls;
    std::u16string stopOn = u"STOP";
    bool slowRunning = false;
    bool releaseSlow = false;
    bool slowFinished = false;
};
Observed* g_observed = nullptr;

int32_t Record(const char16_t* title, const char16_t* type, const char16_t* url, const char16_t* href,
    const char16_t* cookie, const char16_t* referrer, const char16_t* icon, int32_t length, int32_t* stop)
{
    Observed& observed = *g_observed;
    std::unique_lock lock(observed.mutex);
    EXPECT_EQ(*stop, 0);
    observed.calls.push_back({ title, type, url, href, cookie, referrer, icon, length });
    observed.changed.notify_all();
    if (std::u16string(title) == u"SLOW") {
        observed.slowRunning = true;
        observed.changed.wait_for(lock, kPatience, [&] { return observed.releaseSlow; });
        observed.slowFinished = true;
        observed.changed.notify_all();
    }
    *stop = std::u16string(title) == observed.stopOn;
    return 0;
}

bool CompanionRunning()
{
    return FindWindowW(CMDREELSCAN_WND_CLASS, nullptr) != nullptr;
}

// Waits for a condition that another process or thread makes true; false when it never does.
template <typename Condition> bool Eventually(Condition condition)
{
    const auto deadline = Clock::now() + kPatience;
    while (!condition()) {
        if (Clock::now() > deadline)
            return false;
        Sleep(20);
    }
    return true;
}

class Proxy : public testing::Test {
protected:
    void SetUp() override
    {
        g_observed = &m_observed;
    }
    void TearDown() override
    {
        UnInitialize();
        EXPECT_TRUE(Eventually([] { return !CompanionRunning(); })) << "UnInitialize ends CmdReelscan";
        std::unique_lock lock(m_observed.mutex);
        m_observed.releaseSlow = true;
        m_observed.changed.notify_all();
        m_observed.changed.wait_for(
            lock, kPatience, [this] { return !m_observed.slowRunning || m_observed.slowFinished; });
    }

    std::vector<Call> CallsWhenThereAre(size_t count)
    {
        std::unique_lock lock(m_observed.mutex);
        m_observed.changed.wait_for(lock, kPatience, [&] { return m_observed.calls.size() >= count; });
        return m_observed.calls;
    }

    Observed m_observed;
};

}

TEST_F(Proxy, RecordsReachTheCallbackInItsArgumentOrderAndMalformedOnesAreDropped)
{
    Initialize(Record);
    RequestURL(u"http://standin.invalid/?send=T|I|C|H|U|flv|1234~overcount=X|I|C|H|U|flv|1~tiny"
               u"~send=A%0DB||||||-5~send=STOP|||||mp4|0",
        20000);
    EXPECT_TRUE(CompanionRunning()) << "the end of a request leaves CmdReelscan running";
    std::vector<Call> calls = CallsWhenThereAre(3);
    ASSERT_EQ(calls.size(), 3u);
    std::sort(calls.begin(), calls.end(), [](const Call& a, const Call& b) { return a.title < b.title; });
    const Call& first = calls[2];
    EXPECT_EQ(first.title, u"T");
    EXPECT_EQ(first.type, u"flv");
    EXPECT_EQ(first.url, u"U");
    EXPECT_EQ(first.href, u"H");
    EXPECT_EQ(first.cookie, u"C");
    EXPECT_EQ(first.referrer, u"H");
    EXPECT_EQ(first.icon, u"I");
    EXPECT_EQ(first.length, 1234);
    EXPECT_EQ(calls[0].title, u"A\rB");
    EXPECT_EQ(calls[0].length, -5);
    EXPECT_EQ(calls[1].title, u"STOP");
    EXPECT_EQ(calls[1].type, u"mp4");
}

TEST_F(Proxy, StopFlagEndsTheRequestWhileAnotherCallbackRuns)
{
    Initialize(Record);
    RequestURL(u"http://standin.invalid/?send=SLOW|||||flv|1~send=STOP|||||flv|2", 0);
    std::unique_lock lock(m_observed.mutex);
    ASSERT_TRUE(m_observed.changed.wait_for(lock, kPatience, [this] { return m_observed.slowRunning; }));
    EXPECT_FALSE(m_observed.slowFinished) << "RequestURL returned while the other callback still runs";
    m_observed.releaseSlow = true;
    m_observed.changed.notify_all();
    EXPECT_TRUE(m_observed.changed.wait_for(lock, kPatience, [this] { return m_observed.slowFinished; }));
}

TEST_F(Proxy, TimeoutJustAboveOneSecondEndsTheRequest)
{
    m_observed.stopOn = u"";
    Initialize(Record);
    const auto start = Clock::now();
    RequestURL(u"http://standin.invalid/?send=T|||||flv|1", 1001);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1001));
    EXPECT_EQ(CallsWhenThereAre(1).size(), 1u);
}

// A time-out of 0 means a minute; UnInitialize from another thread ends the request before that.
TEST_F(Proxy, UnInitializeFromAnotherThreadEndsTheRequest)
{
    m_observed.stopOn = u"";
    bool uninitialized = false;
    std::thread other([&] {
        CallsWhenThereAre(1);
        uninitialized = true;
        UnInitialize();
    });
    Initialize(Record);
    RequestURL(u"http://standin.invalid/?send=T|||||flv|1", 0);
    other.join();
    EXPECT_TRUE(uninitialized) << "RequestURL returned before UnInitialize";
    EXPECT_TRUE(Eventually([] { return !CompanionRunning(); }));
}

TEST_F(Proxy, LongestUrlReachesCmdReelscanWithTheHandleAndLongerOnesAreRefused)
{
    m_observed.stopOn = u"";
    const std::u16string prefix = u"http://standin.invalid/?echo~send=STOP|||||flv|1~pad=";
    Initialize(Record);
    // Room for " ", the URL, " ", the handle and the terminator within 1024 characters.
    WCHAR handle[20];
    wsprintfW(handle, u"%ld", static_cast<LONG>(reinterpret_cast<LONG_PTR>(FindWindowW(u"MSG_WND1", nullptr))));
    const std::u16string longest
        = prefix + std::u16string(1024 - 3 - std::char_traits<char16_t>::length(handle) - prefix.size(), u'x');
    m_observed.stopOn = u"STOP";
    RequestURL(longest.c_str(), 20000);
    const std::vector<Call> calls = CallsWhenThereAre(2);
    ASSERT_EQ(calls.size(), 2u);
    const Call& echo = calls[0].title == u"STOP" ? calls[1] : calls[0];
    EXPECT_EQ(echo.title, u" " + longest + u" " + handle);

    UnInitialize();
    ASSERT_TRUE(Eventually([] { return !CompanionRunning(); }));
    Initialize(Record);
    const std::u16string tooLong = longest + u"x";
    RequestURL(tooLong.c_str(), 0xFFFFFFFF);
    EXPECT_FALSE(CompanionRunning()) << "no CmdReelscan without its handle";
    EXPECT_EQ(CallsWhenThereAre(0).size(), 2u);
}

TEST_F(Proxy, RequestWithoutAWindowOfItsOwnReturnsAtOnce)
{
    Initialize(Record);
    RequestURL(u"http://standin.invalid/?send=STOP|||||flv|1", 20000);
    ASSERT_EQ(CallsWhenThereAre(1).size(), 1u);
    UnInitialize();
    ASSERT_TRUE(Eventually([] { return !CompanionRunning(); }));

    RequestURL(u"http://standin.invalid/?send=STOP|||||flv|1", 0xFFFFFFFF);
    EXPECT_FALSE(CompanionRunning()) << "a second request needs a new Initialize";

    // A window made on another thread cannot serve this thread's loop.
    std::thread([] { Initialize(Record); }).join();
    RequestURL(u"http://standin.invalid/?send=STOP|||||flv|1", 0xFFFFFFFF);
    EXPECT_FALSE(CompanionRunning());
    EXPECT_EQ(CallsWhenThereAre(0).size(), 1u);
}

TEST_F(Proxy, NullCallbackDropsRecords)
{
    Initialize(nullptr);
    const auto start = Clock::now();
    RequestURL(u"http://standin.invalid/?send=STOP|||||flv|1", 1500);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1500)) << "nobody could stop the request";
    EXPECT_TRUE(m_observed.calls.empty());
}

TEST_F(Proxy, ClientWrittenInC)
{
    EXPECT_EQ(RequestFromC(u"http://standin.invalid/?send=STOP|||||flv|77"), 77);
}
