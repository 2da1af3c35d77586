// The download cycle the four airport feeds share, shown through the
// security-wait feed (one pair a cycle), and that feed's parser.
#include <cstdio>
#include <stdexcept>

#include "feeds/airport/cached_json_feed.h"
#include "feeds/airport/flight_departures_azinq_feed.h"
#include "feeds/airport/flight_security_feed.h"
#include "feeds/airport/service_alerts_feed.h"
#include "tests/support/feed_test.h"

using AirportFeed = FeedTest;

namespace {
constexpr const char* kOfflineFile = "/vorn/media/offline/flight_security.json";
SymbolPairs waitOf(const std::string& minutes) { return {{"flight_security_wait_time", minutes}}; }

// A feed whose parser exports a pair and then throws, to show the guard.
struct ThrowingFeed : CachedJsonFeedImpl {
    ThrowingFeed() : CachedJsonFeedImpl("", {"/vorn/media/offline/throwing.json", "", "", nullptr, "guard caught: ", 16}) {}
    CurlCommand downloadCommand(const std::string& curlParams) const override { return CurlCommand(curlParams); }
    int parse(const std::string&) override { addPair("before", "throw"); throw std::out_of_range("index 11 past the end"); }
};
}  // namespace

TEST_F(AirportFeed, DownloadsOnFirstCycleThenAtMostEvery61Seconds) {
    // The URL holds an access key and shell syntax: it must reach curl as one argument and run nothing.
    std::string marker = root.path("/tmp/pwned");
    std::string query = "key=s3cr3t&b=$(touch$IFS" + marker + ")&c='`touch$IFS" + marker + "`'";
    server.reply("/api/security/time", readTestData("airport/flight_security.json"));
    FlightSecurityFeedImpl feed(server.url("/api/security/time?" + query));

    EXPECT_EQ(cycle(feed, kModuleCurlParams), waitOf("8")) << "first cycle after boot: 421 s round up to 8 minutes";
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].query, query);
    EXPECT_FALSE(root.exists("/tmp/pwned")) << "a shell ran part of the URL";
    EXPECT_FALSE(log.contains("s3cr3t")) << "access key in clear:\n" << log.dump();

    server.reply("/api/security/time", R"({"queue": 600})");
    now += 60;
    EXPECT_EQ(cycle(feed, kModuleCurlParams), waitOf("8")) << "60 s later: the cached reply";
    now += 1;
    EXPECT_EQ(cycle(feed, kModuleCurlParams), waitOf("10")) << "61 s later: a new download";

    now += 61;
    root.write(kOfflineFile, R"({"queue": 3000})");
    EXPECT_EQ(cycle(feed, kModuleCurlParams), waitOf("50")) << "the offline file stands in for the service";
    std::remove(root.path(kOfflineFile).c_str());
    server.reply("/api/security/time", R"({"queue": 60})");
    EXPECT_EQ(cycle(feed, kModuleCurlParams), waitOf("1")) << "the offline cycle did not count as a download";
    EXPECT_EQ(server.requestCount(), 3u);
}

TEST_F(AirportFeed, GuardCatchesTheParserExceptionAndKeepsEarlierPairs) {
    root.write("/vorn/media/offline/throwing.json", "{}");
    ThrowingFeed feed;
    EXPECT_EQ(cycle(feed, kModuleCurlParams), (SymbolPairs{{"before", "throw"}}));
    EXPECT_TRUE(log.contains("guard caught: index 11 past the end", 16)) << log.dump();
}

TEST(FlightSecurityParse, QueueSecondsRoundUpToWholeMinutes) {
    const char* const kKeepLast = "<no pair: the last wait stays>";
    const std::pair<const char*, const char*> cases[] = {
        {R"({"queue": 61})", "2"}, {R"({"queue": 90.7})", "2"}, {R"({"queue": 18446744073709551615})", "307445734561825861"},
        {R"({"lanes": 3})", ""}, {R"({"queue": -5})", kKeepLast}, {R"({"queue": 1e300})", kKeepLast}, {"[]", kKeepLast},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseFlightSecurity(c.first), c.second == kKeepLast ? SymbolPairs{} : waitOf(c.second)) << c.first;
}

// Other processes read the saved copies: only a complete, successful reply replaces one.
TEST_F(AirportFeed, FailedRepliesLeaveTheSavedCopiesAsTheyWere) {
    const std::string azinqReply = readTestData("airport/flight_departures_azinq.json");
    const std::string alertsReply = readTestData("airport/service_alerts.json");
    server.reply("/flights", azinqReply);
    server.reply("/alerts", alertsReply);
    const std::string partial = "{\"alerts\":[{\"category\":\"" + std::string(300, 'x');
    BrokenReplyServer cutShort(BrokenReplyServer::Ending::kClosed, partial);
    BrokenReplyServer stalled(BrokenReplyServer::Ending::kStalled, partial);
    const struct {
        const char* name;
        std::string url;
    } failures[] = {{"an HTTP error with a page", server.url("/error")},
                    {"a reply cut short", cutShort.url("/")},
                    {"a reply that times out mid-body", stalled.url("/")}};
    server.reply("/error", "<html><body>" + std::string(300, 'e') + "</body></html>", 500, "text/html");
    const char* const credentials =
        R"({"flight_departures_username": "u", "flight_departures_password": "p", "flight_departures_token": "t"})";
    for (const auto& failure : failures) {
        for (const std::string& url : {server.url("/flights"), failure.url}) {
            FlightDeparturesFeedAzinqImpl azinq(url);
            configure(azinq, credentials);
            ServiceAlertsFeedImpl alerts(url == failure.url ? failure.url : server.url("/alerts"));
            azinq.downloadData("-s --max-time 1");
            alerts.downloadData("-s --max-time 1");
            EXPECT_EQ(valueOf(azinq.getExportPairs(), "flight_departures_has_connection"),
                      url == failure.url ? "0" : "1")
                << failure.name;
            EXPECT_EQ(root.read("/tmp/flight_departures_azinq.json"), azinqReply) << failure.name;
            EXPECT_EQ(root.read("/tmp/service_alerts.json"), alertsReply) << failure.name;
        }
    }
}
