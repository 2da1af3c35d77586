// The download cycle the four airport feeds share, shown through the
// security-wait feed (one pair a cycle), and that feed's parser.
#include <stdexcept>

#include "tests/feeds/airport/airport_test_support.h"

namespace {
SymbolPairs waitOf(const std::string& minutes) { return {{"flight_security_wait_time", minutes}}; }

// A feed whose parser exports a pair and then throws, to show the guard.
struct ThrowingFeed : CachedJsonFeedImpl {
    ThrowingFeed() : CachedJsonFeedImpl("", {"/vorn/media/offline/throwing.json", "", "", nullptr, "guard caught: ", 16}) {}
    bool throwStd = true;
    CurlCommand downloadCommand(const std::string& curlParams) const override { return CurlCommand(curlParams); }
    int parse(const std::string&) override {
        addPair("before", "throw");
        if (throwStd) throw std::out_of_range("index 11 past the end");
        throw 42;
    }
};
}  // namespace

TEST_F(AirportFeed, DownloadsOnFirstCycleThenAtMostEvery61Seconds) {
    // The URL holds an access key and shell syntax: it must reach curl as one argument and run nothing.
    std::string marker = root.path("/tmp/pwned");
    std::string query = "key=s3cr3t&b=$(touch$IFS" + marker + ")&c='`touch$IFS" + marker + "`'";
    server.reply("/api/security/time", readTestData("airport/flight_security.json"));
    FlightSecurityFeedImpl feed(server.url("/api/security/time?" + query));

    EXPECT_EQ(runCycle(feed), waitOf("8")) << "first cycle after boot: 421 s round up to 8 minutes";
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].query, query);
    EXPECT_FALSE(root.exists("/tmp/pwned")) << "a shell ran part of the URL";
    EXPECT_FALSE(log.contains("s3cr3t")) << "access key in clear:\n" << log.dump();

    server.reply("/api/security/time", R"({"queue": 600})");
    now += 60;
    EXPECT_EQ(runCycle(feed), waitOf("8")) << "60 s later: the cached reply";
    now += 1;
    EXPECT_EQ(runCycle(feed), waitOf("10")) << "61 s later: a new download";
}

TEST_F(AirportFeed, OfflineFileReplacesTheServiceAndLeavesTheGateAlone) {
    server.reply("/t", R"({"queue": 60})");
    root.write("/vorn/media/offline/flight_security.json", R"({"queue": 3000})");
    FlightSecurityFeedImpl feed(server.url("/t"));
    EXPECT_EQ(runCycle(feed), waitOf("50"));
    EXPECT_EQ(server.requestCount(), 0u);
    // Once the file is gone the service is asked at once: the offline cycles did not count as downloads.
    std::remove(root.path("/vorn/media/offline/flight_security.json").c_str());
    EXPECT_EQ(runCycle(feed), waitOf("1"));
}

TEST_F(AirportFeed, GuardCatchesEveryExceptionAndKeepsEarlierPairs) {
    root.write("/vorn/media/offline/throwing.json", "{}");
    ThrowingFeed feed;
    for (bool throwStd : {true, false}) {
        feed.throwStd = throwStd;
        EXPECT_EQ(runCycle(feed), (SymbolPairs{{"before", "throw"}})) << "std exception: " << throwStd;
    }
    EXPECT_TRUE(log.contains("guard caught: index 11 past the end", 16)) << log.dump();
    EXPECT_TRUE(log.contains("guard caught: unknown exception", 16)) << log.dump();
}

TEST(FlightSecurityParse, QueueSecondsRoundUpToWholeMinutes) {
    const char* const kKeepLast = "<no pair: the last wait stays>";
    const std::pair<const char*, const char*> cases[] = {
        {R"({"queue": 0})", "0"}, {R"({"queue": 60})", "1"}, {R"({"queue": 61})", "2"}, {R"({"queue": 90.7})", "2"},
        {R"({"queue": 18446744073709551615})", "307445734561825861"}, {R"({"lanes": 3})", ""}, {R"({"queue": null})", ""},
        {R"({"queue": "120"})", kKeepLast}, {R"({"queue": -5})", kKeepLast}, {R"({"queue": 1e300})", kKeepLast},
        {R"([{"queue": 60}])", kKeepLast}, {"", kKeepLast},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseFlightSecurity(c.first), c.second == kKeepLast ? SymbolPairs{} : waitOf(c.second)) << c.first;
}
