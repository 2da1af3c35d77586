#include "feeds/airport/cached_json_feed.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

#include "feeds/airport/flight_security_feed.h"
#include "tests/feeds/airport/airport_test_support.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

namespace {
// A feed whose parser throws, to show the guard.
class ThrowingFeed : public CachedJsonFeedImpl {
public:
    explicit ThrowingFeed(const std::string& url)
        : CachedJsonFeedImpl(url, {"/vorn/media/offline/throwing.json", "offline used", "retrieved: ", nullptr,
                                   "guard caught: ", 16}) {}
    bool throwStd = true;

protected:
    CurlCommand downloadCommand(const std::string& curlParams) const override {
        return CurlCommand(curlParams).url(url());
    }
    int parse(const std::string&) override {
        addPair("before", "throw");
        if (throwStd) throw std::out_of_range("index 11 past the end");
        throw 42;
    }
};
}  // namespace

TEST(CachedJsonFeed, DownloadsOnFirstCycleThenAtMostEvery61Seconds) {
    TempFileRoot root;
    ManualClock clock;  // the vehicle has been up for 5 seconds
    StubServer server;
    server.reply("/api/security/time", R"({"queue": 120})");
    FlightSecurityFeedImpl feed(server.url("/api/security/time"));

    EXPECT_EQ(runCycle(feed), (SymbolPairs{{"flight_security_wait_time", "2"}})) << "first cycle after boot";
    EXPECT_EQ(server.requestCount(), 1u);

    server.reply("/api/security/time", R"({"queue": 600})");
    clock.now += 60;
    EXPECT_EQ(runCycle(feed), (SymbolPairs{{"flight_security_wait_time", "2"}})) << "60 s later: cached reply";
    EXPECT_EQ(server.requestCount(), 1u);

    clock.now += 1;
    EXPECT_EQ(runCycle(feed), (SymbolPairs{{"flight_security_wait_time", "10"}})) << "61 s later: new download";
    EXPECT_EQ(server.requestCount(), 2u);
}

TEST(CachedJsonFeed, OfflineFileReplacesTheServiceAndLeavesTheGateAlone) {
    TempFileRoot root;
    ManualClock clock;
    StubServer server;
    server.reply("/t", R"({"queue": 60})");
    root.write("/vorn/media/offline/flight_security.json", R"({"queue": 3000})");
    FlightSecurityFeedImpl feed(server.url("/t"));
    LogCapture log;

    EXPECT_EQ(valueOf(runCycle(feed), "flight_security_wait_time"), "50");
    EXPECT_TRUE(log.contains(
        "OD_FlightSecurity: :downloadData - Offline test file used. The Web Server won't be contacted.", 4));
    EXPECT_EQ(server.requestCount(), 0u);

    // Once the file is gone the service is asked at once: the offline cycles did not count as downloads.
    std::remove(root.path("/vorn/media/offline/flight_security.json").c_str());
    EXPECT_EQ(valueOf(runCycle(feed), "flight_security_wait_time"), "1");
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST(CachedJsonFeed, FailedDownloadIsCachedUntilTheNextIsDue) {
    TempFileRoot root;
    ManualClock clock;
    FlightSecurityFeedImpl feed("http://127.0.0.1:" + std::to_string(refusedPort()) + "/t");
    LogCapture log;
    EXPECT_EQ(runCycle(feed), SymbolPairs{}) << "no answer: the last wait stays on display";
    EXPECT_TRUE(log.contains("OD_FlightSecurity: Retrieved; 0", 2)) << log.dump();
    EXPECT_TRUE(log.contains("OD_FlightSecurity:  Parsing failed", 8));
}

TEST(CachedJsonFeed, UrlReachesCurlAsOneArgumentAndRunsNothing) {
    TempFileRoot root;
    ManualClock clock;
    StubServer server;
    server.reply("/t", R"({"queue": 30})");
    std::string marker = root.path("/tmp/pwned");
    std::string url = server.url("/t") + "?a=1&b=$(touch${IFS}" + marker + ")&c='`touch${IFS}" + marker + "`'";
    FlightSecurityFeedImpl feed(url);

    EXPECT_EQ(valueOf(runCycle(feed), "flight_security_wait_time"), "1");
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].query.substr(0, 8), "a=1&b=$(") << server.requests()[0].query;
    EXPECT_FALSE(root.exists("/tmp/pwned")) << "a shell ran part of the URL";
}

TEST(CachedJsonFeed, GuardCatchesEveryExceptionAndKeepsEarlierPairs) {
    TempFileRoot root;
    root.write("/vorn/media/offline/throwing.json", "{}");
    ThrowingFeed feed("http://127.0.0.1:1/unused");
    LogCapture log;

    EXPECT_EQ(feed.downloadData(kTestCurlParams), 0);
    EXPECT_TRUE(log.contains("guard caught: index 11 past the end", 16)) << log.dump();
    EXPECT_EQ(feed.getExportPairs(), (SymbolPairs{{"before", "throw"}}));

    feed.throwStd = false;
    EXPECT_EQ(feed.downloadData(kTestCurlParams), 0);
    EXPECT_TRUE(log.contains("guard caught: unknown exception", 16)) << log.dump();
}

TEST(ReplaceFileContent, ReplacesAtomicallyAndNeverFollowsAPlantedLink) {
    TempFileRoot root;
    root.write("/tmp/victim", "keep me");
    std::string target = root.path("/tmp/copy.json");
    ASSERT_EQ(symlink(root.path("/tmp/victim").c_str(), target.c_str()), 0);

    ASSERT_TRUE(replaceFileContent(target, "new content"));
    EXPECT_EQ(root.read("/tmp/victim"), "keep me");
    EXPECT_EQ(root.read("/tmp/copy.json"), "new content");
    struct stat info {};
    ASSERT_EQ(lstat(target.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0644u) << "other processes read the copy";

    EXPECT_FALSE(replaceFileContent(root.path("/no/such/folder/copy.json"), "x"));
}
