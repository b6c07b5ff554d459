// The whole path as a user takes it: build/bin/reelscan asks through libReelscanProxy.so, whose
// CmdReelscan.exe creates ReqService in ReelscanModule.exe (started by COM); the server's hidden
// browser (headless Chromium) and its analyzers fetch the pages from demoweb, the root's proxy.
// Every test case has a fresh root, which its first reelscan run registers the server in. The
// test process reaps everything started below it, so that a process left over when a test ends
// (a companion, server or browser that outlives its request) fails the test and is ended by its
// process id.
#include "CmdReelscanWindow.h"
#include "DemowebServer.h"
#include "ProcessTree.h"
#include "ProgramRun.h"
#include "TestRoot.h"
#include "windows.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// How long the server, its browser and the companion get to end after reelscan has.
constexpr auto kEndingGrace = 15s;
constexpr char kRegistered[] = "reelscan: registered the request service for this user: ";

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::vector<nlohmann::json> JsonLines(const std::string& text)
{
    std::vector<nlohmann::json> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(nlohmann::json::parse(line, nullptr, false));
    return lines;
}

// The keys of a --json record, with their types: every one a string but length, a number.
::testing::AssertionResult IsRecord(const nlohmann::json& record)
{
    if (!record.is_object() || record.size() != 7)
        return ::testing::AssertionFailure() << "not a record of seven keys: " << record.dump();
    for (const char* key : { "title", "type", "url", "href", "cookie", "icon" })
        if (!record.contains(key) || !record[key].is_string())
            return ::testing::AssertionFailure() << "no string " << key << " in " << record.dump();
    if (!record.contains("length") || !record["length"].is_number_integer())
        return ::testing::AssertionFailure() << "no number length in " << record.dump();
    return ::testing::AssertionSuccess();
}

enum class Web { Demoweb, None };

class EndToEnd : public testing::Test {
protected:
    explicit EndToEnd(Web web = Web::Demoweb)
    {
        if (web == Web::Demoweb)
            m_demoweb.emplace();
        BecomeSubreaper();
        m_before = Children();
    }

    void TearDown() override
    {
        const std::vector<pid_t> left = ReapUntil(std::chrono::steady_clock::now() + kEndingGrace, m_before);
        std::string names;
        for (const pid_t pid : left) {
            std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
            std::string name;
            std::getline(comm, name);
            names += " " + name + "(" + std::to_string(pid) + ")";
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        EXPECT_TRUE(left.empty()) << "left running after the request:" << names;
        EXPECT_FALSE(FindWindowW(CMDREELSCAN_WND_CLASS, nullptr)) << "a CmdReelscan window is left";
    }

    // Runs build/bin/reelscan with the arguments in the test's root.
    Outcome Reelscan(const std::vector<std::string>& arguments)
    {
        const std::string errors = testing_support::TestRoot() + "/reelscan.err";
        std::string command = "{ " + testing_support::BinaryDirectory() + "/reelscan";
        for (const std::string& argument : arguments)
            command += " '" + argument + "'";
        command += " 2>" + errors + "; }";
        const testing_support::ProgramRun run = testing_support::RunProgram(command);
        std::ifstream stream(errors);
        // The run's companion, server and browser, orphans of the test by now, end and are reaped
        // before anything else runs: an ended process left unreaped still counts as running to the
        // platform in the next request's processes.
        ReapUntil(std::chrono::steady_clock::now() + kEndingGrace, m_before);
        return { run.exitCode, run.output, std::string(std::istreambuf_iterator<char>(stream), {}) };
    }

    std::optional<testing_support::DemowebServer> m_demoweb;
    std::vector<pid_t> m_before; // demoweb, which the fixture ends itself
};

struct ServicePage {
    const char* service;
    const char* page;
    std::string url; // of the media the service's analyzer finds
    const char* type;
    int length;
    const char* cookie; // a part of the cookie that goes with the media
};

// A failing case is named by its service and page, not by the bytes of its row.
void PrintTo(const ServicePage& page, std::ostream* out)
{
    *out << page.service << " " << page.page;
}

const ServicePage kServicePages[] = {
    { "YouTube", "http://www.youtube.com/watch?v=two-streams",
        "http://v11.lscache2.c.youtube.com/videoplayback?sparams=id,expire,ip,ipbits,itag,algorithm,burst,factor"
        "&fexp=904410&algorithm=throttle-factor&itag=18&ipbits=0&burst=40&sver=3&expire=1294016400&key=yt1"
        "&signature=8E3D1A2B.4C5D6E7F&factor=1.25&id=2b9e4c5c1a3d1f0a",
        "MP4", 20971520, "VISITOR_INFO1_LIVE=kP3xQ7Zt2Ys" },
    { "Vimeo", "http://vimeo.com/12345678", "http://av.vimeo.com/58921/742/27368213.flv?token=1278962400_9a3f", "flv",
        524288, "av=granted" },
    { "LiveLeak", "http://www.liveleak.com/view?i=a81_1278958800",
        "http://edge.liveleak.com/80281E/u/u/ll_a_s/2010/Jul/12/LiveLeak-dot-com-a81_1278958800.flv", "flv", 3145728,
        "" },
    { "Metacafe", "http://www.metacafe.com/watch/4031227/night_train/",
        "http://v.mccont.com/ItemFiles/4031227.mp4?__gda__=ZT1lMjk5Yz", "mp4", 2097152, "" },
    { "MyVideo", "http://www.myvideo.de/watch/7712345/Sommer_am_See",
        "http://img3.myvideo.de/de/movie12/4a/7712345.flv", "flv", 1572864, "" },
    { "Break", "http://www.break.com/index/skateboard-fail.html",
        "http://media1.break.com/dnet/media/2010/7/skateboard-fail.flv?a1b2c3d4e5f6", "flv", 2621440, "" },
};

class EveryService : public EndToEnd, public testing::WithParamInterface<ServicePage> { };

// The first record of a page is its analyzer's video. The page address and title come from the
// hidden browser's document, which may not be loaded yet when the analyzer reports first: href
// is then empty, and otherwise names the page (over https where Chromium upgrades the host).
TEST_P(EveryService, FirstRecordIsTheAnalyzersVideo)
{
    const ServicePage& page = GetParam();
    const Outcome outcome = Reelscan({ "--json", "--first", "--timeout", "60", page.page });
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.err.rfind(kRegistered, 0), 0u) << "the fresh root is registered first: " << outcome.err;
    const std::vector<nlohmann::json> records = JsonLines(outcome.out);
    ASSERT_EQ(records.size(), 1u) << outcome.out;
    const nlohmann::json& record = records[0];
    ASSERT_TRUE(IsRecord(record));
    EXPECT_EQ(record["url"], page.url);
    EXPECT_EQ(record["type"], page.type);
    EXPECT_EQ(record["length"], page.length);
    EXPECT_NE(record["cookie"].get<std::string>().find(page.cookie), std::string::npos) << record.dump();
    const std::string href = record["href"];
    const std::string address = std::string(page.page).substr(std::string("http://").size());
    EXPECT_TRUE(href.empty() || href == "http://" + address || href == "https://" + address) << href;
}

INSTANTIATE_TEST_SUITE_P(Demoweb, EveryService, testing::ValuesIn(kServicePages),
    [](const testing::TestParamInfo<ServicePage>& info) { return std::string(info.param.service); });

// Each analysed video arrives twice; --unique prints it once.
TEST_F(EndToEnd, UniqueDropsTheRepeatedRecord)
{
    const ServicePage& vimeo = kServicePages[1];
    auto withMedia = [&vimeo](const std::vector<nlohmann::json>& records) {
        return std::count_if(
            records.begin(), records.end(), [&vimeo](const nlohmann::json& r) { return r["url"] == vimeo.url; });
    };
    const Outcome all = Reelscan({ "--json", "--timeout", "8", vimeo.page });
    ASSERT_EQ(all.status, 0) << all.err;
    const std::vector<nlohmann::json> records = JsonLines(all.out);
    EXPECT_GE(withMedia(records), 2) << all.out;

    const Outcome unique = Reelscan({ "--json", "--unique", "--timeout", "8", vimeo.page });
    ASSERT_EQ(unique.status, 0) << unique.err;
    const std::vector<nlohmann::json> uniqueRecords = JsonLines(unique.out);
    EXPECT_GE(withMedia(uniqueRecords), 1) << unique.out;
    const std::set<std::string> distinct = [&] {
        std::set<std::string> texts;
        for (const nlohmann::json& record : uniqueRecords)
            texts.insert(record.dump());
        return texts;
    }();
    EXPECT_EQ(distinct.size(), uniqueRecords.size()) << unique.out;
}

// A page that demoweb does not serve yields no record; the fresh root's registration comes once.
TEST_F(EndToEnd, UnreachablePageFindsNothing)
{
    for (const bool first : { true, false }) {
        const Outcome outcome = Reelscan({ "--json", "--timeout", "5", "http://unreachable.demoweb.test/nothing" });
        EXPECT_EQ(outcome.status, 1) << outcome.err;
        EXPECT_EQ(outcome.out, "");
        EXPECT_NE(
            outcome.err.find("reelscan: no video found on http://unreachable.demoweb.test/nothing"), std::string::npos)
            << outcome.err;
        EXPECT_EQ(outcome.err.find(kRegistered) != std::string::npos, first) << outcome.err;
    }
}

class Demo : public EndToEnd {
protected:
    Demo()
        : EndToEnd(Web::None)
    {
    }
};

// The README's first command: every service gives a video in the demo's own root.
TEST_F(Demo, EveryServiceGivesAVideo)
{
    const testing_support::ProgramRun run
        = testing_support::RunProgram(testing_support::BinaryDirectory() + "/reelscan demo");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("reelscan demo: 6 of 6 services gave a video"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("left over"), std::string::npos) << run.output;
}

}
