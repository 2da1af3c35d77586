#include "feeds/news/twitter_feed.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

#include "platform/clock.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

namespace {
const SymbolPairs kNoConnection = {{"twitter_has_connection", "0"}};

SymbolPairs tweetPairs(const std::string& text, const std::string& createdAt, const std::string& location,
                       const std::string& description) {
    return {{"tweet_user_id", "123456789"},
            {"tweet_user_name", "City Trams"},
            {"tweet_user_screen_name", "citytrams"},
            {"tweet_user_location", location},
            {"tweet_user_description", description},
            {"tweet_text", text},
            {"tweet_created_at", createdAt},
            {"twitter_has_connection", "1"}};
}

// The three posts of tests/data/news/timeline.json as the displays get them:
// references decoded, links removed, line feeds as blanks, wrapped at 36.
const SymbolPairs kTweet1 = tweetPairs(
    "Service update: trams between St\nAndrew Square & the Airport are\nrunning every 7 minutes this\n"
    "morning. More at ",
    "Tue Jan 16 08:30:12 +0000 2024", "Edinburgh, Scotland", "Live service updates, 7am-11pm daily.");
const SymbolPairs kTweet2 =
    tweetPairs("Good morning! All routes are\nrunning normally. Have a \"great\"\nday <3",
               "Tue Jan 16 07:55:40 +0000 2024", "Edinburgh, Scotland", "Live service updates, 7am-11pm daily.");
const SymbolPairs kTweet3 = tweetPairs("Last trams tonight leave York Place\nat 23:30.",
                                       "Mon Jan 15 22:10:03 +0000 2024", "UserLocation", "UserDescription");

std::unique_ptr<TwitterFeedImpl> makeFeed(const Json::Value& moduleParams = Json::objectValue) {
    Json::Value map(Json::objectValue);
    map["ModuleParams"] = moduleParams;
    auto feed = std::make_unique<TwitterFeedImpl>();
    feed->updateModuleParmMap(CModuleParmMap(map));
    feed->readModuleParmMap();
    return feed;
}

SymbolPairs cycle(TwitterFeedImpl& feed, const std::string& curlParams = "-s --max-time 5") {
    feed.clearExportPairs();
    feed.downloadData(curlParams);
    return feed.getExportPairs();
}

SymbolPairs parsePairs(TwitterFeedImpl& feed, const std::string& text) {
    feed.clearExportPairs();
    feed.parse(text);
    return feed.getExportPairs();
}

// Installs the vehicle's timeline script: it records its arguments and
// fetches the timeline from the stub server with the options it was given.
void installScript(const TempFileRoot& root, const std::string& url) {
    root.write(kTwitterScriptPath,
               "#!/bin/sh\n"
               "printf '%s\\n' \"$#:$1\" >> \"$(dirname \"$0\")/args.log\"\n"
               "curl $1 '" + url + "'\n");
    std::filesystem::permissions(root.path(kTwitterScriptPath), std::filesystem::perms::owner_all);
}

class ControlledClock {
public:
    ControlledClock() {
        setMonotonicClock([this] { return m_now; });
    }
    ~ControlledClock() { setMonotonicClock(nullptr); }
    int64_t m_now = 0;
};
}  // namespace

TEST(TwitterFeed, OfflineTimelineRotatesThroughThePosts) {
    TempFileRoot root;
    root.write(kTwitterOfflinePath, readTestData("news/timeline.json"));
    auto feed = makeFeed();
    LogCapture log;
    EXPECT_EQ(cycle(*feed), kTweet1);
    EXPECT_EQ(cycle(*feed), kTweet2);
    EXPECT_EQ(cycle(*feed), kTweet3);
    EXPECT_EQ(cycle(*feed), SymbolPairs{}) << "one cycle without a post after the last";
    EXPECT_EQ(cycle(*feed), kTweet1);
    EXPECT_TRUE(log.contains("Twitter: downloadData - offline file /vorn/media/offline/twitter.json used instead "
                             "of live data.",
                             8))
        << log.dump();
    EXPECT_FALSE(root.exists("/vorn/twitter/args.log"));
}

TEST(TwitterFeed, ScriptRunsOnFirstCycleAndThenOncePerPollInterval) {
    TempFileRoot root;
    StubServer server;
    server.reply("/timeline", readTestData("news/timeline.json"), 200, "application/json");
    installScript(root, server.url("/timeline"));
    ControlledClock clock;
    clock.m_now = 12;  // a vehicle up for less than the poll interval
    auto feed = makeFeed();

    EXPECT_EQ(cycle(*feed), kTweet1);
    EXPECT_EQ(server.requestCount(), 1u) << "never downloaded counts as due";
    clock.m_now += 60;
    EXPECT_EQ(cycle(*feed), kTweet2);
    clock.m_now += 240;  // exactly the interval: not yet
    EXPECT_EQ(cycle(*feed), kTweet3);
    EXPECT_EQ(server.requestCount(), 1u);

    // A fresh download with one post more: rotation carries on where it was.
    server.reply("/timeline",
                 "[{\"created_at\":\"c0\",\"full_text\":\"New\",\"user\":{\"id_str\":\"9\",\"name\":\"N\","
                 "\"screen_name\":\"n\",\"location\":\"L\",\"description\":\"D\"}}," +
                     readTestData("news/timeline.json").substr(1));
    clock.m_now += 1;
    EXPECT_EQ(cycle(*feed), (SymbolPairs{{"tweet_user_id", "123456789"},
                                        {"tweet_user_name", "City Trams"},
                                        {"tweet_user_screen_name", "citytrams"},
                                        {"tweet_user_location", "UserLocation"},
                                        {"tweet_user_description", "UserDescription"},
                                        {"tweet_text", "Last trams tonight leave York Place\nat 23:30."},
                                        {"tweet_created_at", "Mon Jan 15 22:10:03 +0000 2024"},
                                        {"twitter_has_connection", "1"}}));
    EXPECT_EQ(server.requestCount(), 2u);
    EXPECT_EQ(cycle(*feed), SymbolPairs{});
    EXPECT_EQ(cycle(*feed)[5], (SymbolPair{"tweet_text", "New"}));
    EXPECT_EQ(server.requestCount(), 2u);
}

TEST(TwitterFeed, PollIntervalZeroRunsTheScriptEveryCycle) {
    TempFileRoot root;
    StubServer server;
    server.reply("/timeline", readTestData("news/timeline.json"));
    installScript(root, server.url("/timeline"));
    ControlledClock clock;
    Json::Value params(Json::objectValue);
    params["twitter_poll_interval"] = "0";
    auto feed = makeFeed(params);
    for (int i = 0; i < 3; ++i) {
        clock.m_now += 60;
        cycle(*feed);
    }
    EXPECT_EQ(server.requestCount(), 3u);
}

TEST(TwitterFeed, CurlOptionsReachTheScriptAsOneLiteralArgument) {
    TempFileRoot root;
    StubServer server;
    server.reply("/timeline", readTestData("news/timeline.json"));
    installScript(root, server.url("/timeline"));
    const std::string hostile = "-s --max-time 5 $(touch " + root.path("/tmp/a") + ") `touch " +
                                root.path("/tmp/b") + "` \"quoted\" 'single'";
    auto feed = makeFeed();
    cycle(*feed, hostile);
    EXPECT_FALSE(root.exists("/tmp/a"));
    EXPECT_FALSE(root.exists("/tmp/b"));
    EXPECT_EQ(root.read("/vorn/twitter/args.log"), "1:" + hostile + "\n");
    EXPECT_EQ(TwitterFeedImpl::scriptCommand("-s"), "'" + root.path(kTwitterScriptPath) + "' '-s'");
}

TEST(TwitterFeed, FailedDownloadsReportNoConnection) {
    TempFileRoot root;
    StubServer server;
    const std::pair<std::string, std::string> replies[] = {
        {"empty reply", ""},
        {"an object", "{}"},
        {"error object", "{\"errors\":[{\"code\":89,\"message\":\"Invalid or expired token.\"}]}"},
        {"truncated array", readTestData("news/timeline.json").substr(0, 300)},
        {"html", "<html><body>Over capacity</body></html>"},
    };
    for (const auto& reply : replies) {
        server.reply("/timeline", reply.second);
        installScript(root, server.url("/timeline"));
        auto feed = makeFeed();
        LogCapture log;
        EXPECT_EQ(cycle(*feed), kNoConnection) << reply.first;
        EXPECT_TRUE(log.contains("Twitter: FeedImpl::parse - parsing failed ", 8)) << reply.first;
    }
    std::filesystem::remove(root.path(kTwitterScriptPath));
    auto feed = makeFeed();
    EXPECT_EQ(cycle(*feed), kNoConnection) << "script missing";
}

TEST(TwitterFeed, MalformedPostsArePassedOver) {
    auto feed = makeFeed();
    const std::string timeline =
        "[{\"created_at\":\"c1\",\"full_text\":\"no user\"},"
        " 42, \"text\", null, [1,2],"
        " {\"created_at\":\"c2\",\"full_text\":\"odd user\",\"user\":\"someone\"},"
        " {\"created_at\":7,\"full_text\":{\"nested\":1},\"user\":{\"id_str\":123,\"name\":[\"x\"],"
        "\"screen_name\":true}}]";
    LogCapture log;
    for (int i = 0; i < 5; ++i) EXPECT_EQ(parsePairs(*feed, timeline), SymbolPairs{}) << "post " << i;
    EXPECT_TRUE(log.contains("Twitter: FeedImpl::parse - post 0 lacks full_text, created_at or user; skipped", 8))
        << log.dump();
    EXPECT_EQ(parsePairs(*feed, timeline), (SymbolPairs{{"tweet_user_id", "UserIdStr"},
                                                         {"tweet_user_name", "UserName"},
                                                         {"tweet_user_screen_name", "UserScreen Name"},
                                                         {"tweet_user_location", "UserLocation"},
                                                         {"tweet_user_description", "UserDescription"},
                                                         {"tweet_text", "odd user"},
                                                         {"tweet_created_at", "c2"},
                                                         {"twitter_has_connection", "1"}}));
    EXPECT_EQ(parsePairs(*feed, timeline), (SymbolPairs{{"tweet_user_id", "123"},
                                                         {"tweet_user_name", "UserName"},
                                                         {"tweet_user_screen_name", "true"},
                                                         {"tweet_user_location", "UserLocation"},
                                                         {"tweet_user_description", "UserDescription"},
                                                         {"tweet_text", "NotFound"},
                                                         {"tweet_created_at", "7"},
                                                         {"twitter_has_connection", "1"}}));
    EXPECT_EQ(parsePairs(*feed, "[]"), SymbolPairs{}) << "an empty timeline shows nothing";
}
