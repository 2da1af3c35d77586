#include "feeds/news/twitter_feed.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

#include "platform/clock.h"
#include "tests/feeds/news/news_test_util.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

namespace {
const SymbolPairs kNoConnection = {{"twitter_has_connection", "0"}};

SymbolPairs tweet(const std::string& text, const std::string& createdAt, const std::string& location = "UserLocation",
                  const std::string& description = "UserDescription", const std::string& id = "123456789",
                  const std::string& name = "City Trams", const std::string& screenName = "citytrams") {
    return {{"tweet_user_id", id},           {"tweet_user_name", name},
            {"tweet_user_screen_name", screenName}, {"tweet_user_location", location},
            {"tweet_user_description", description}, {"tweet_text", text},
            {"tweet_created_at", createdAt}, {"twitter_has_connection", "1"}};
}

// The posts of tests/data/news/timeline.json as the displays get them:
// references decoded, links removed, line feeds as blanks, wrapped at 36.
const char* const kEdinburgh = "Edinburgh, Scotland";
const char* const kAbout = "Live service updates, 7am-11pm daily.";
const SymbolPairs kTweet1 = tweet(
    "Service update: trams between St\nAndrew Square & the Airport are\nrunning every 7 minutes this\nmorning. More at ",
    "Tue Jan 16 08:30:12 +0000 2024", kEdinburgh, kAbout);
const SymbolPairs kTweet2 = tweet("Good morning! All routes are\nrunning normally. Have a \"great\"\nday <3",
                                  "Tue Jan 16 07:55:40 +0000 2024", kEdinburgh, kAbout);
const SymbolPairs kTweet3 = tweet("Last trams tonight leave York Place\nat 23:30.", "Mon Jan 15 22:10:03 +0000 2024");

std::unique_ptr<TwitterFeedImpl> makeFeed(const std::string& moduleParams = "{}") {
    return configuredFeed<TwitterFeedImpl>(moduleParams);
}

// The vehicle's timeline script: records its arguments, then fetches url with the curl options given.
void installScript(const TempFileRoot& root, const std::string& url) {
    root.write(kTwitterScriptPath, "#!/bin/sh\nprintf '%s\\n' \"$#:$1\" >> \"$(dirname \"$0\")/args.log\"\ncurl $1 '" +
                                       url + "'\n");
    std::filesystem::permissions(root.path(kTwitterScriptPath), std::filesystem::perms::owner_all);
}
}  // namespace

TEST(TwitterFeed, OfflineTimelineRotatesThroughThePosts) {
    TempFileRoot root;
    root.write(kTwitterOfflinePath, readTestData("news/timeline.json"));
    auto feed = makeFeed();
    const SymbolPairs expected[] = {kTweet1, kTweet2, kTweet3, {}, kTweet1};  // one empty cycle after the last
    for (const auto& pairs : expected) EXPECT_EQ(cycle(*feed), pairs);
    EXPECT_FALSE(root.exists("/vorn/twitter/args.log")) << "the script is not run";
}

TEST(TwitterFeed, ScriptRunsOnFirstCycleThenOncePerPollInterval) {
    TempFileRoot root;
    StubServer server;
    server.reply("/timeline", readTestData("news/timeline.json"), 200, "application/json");
    installScript(root, server.url("/timeline"));
    int64_t now = 12;  // a vehicle up for less than the poll interval: never downloaded counts as due
    setMonotonicClock([&now] { return now; });
    auto feed = makeFeed();
    EXPECT_EQ(cycle(*feed), kTweet1);
    now += 60;
    EXPECT_EQ(cycle(*feed), kTweet2);
    now += 240;  // exactly the interval: not yet
    EXPECT_EQ(cycle(*feed), kTweet3);
    EXPECT_EQ(server.requestCount(), 1u);

    // A fresh download with one post more: the rotation carries on where it was.
    server.reply("/timeline", R"([{"created_at":"c0","full_text":"New","user":{}},)" +
                                  readTestData("news/timeline.json").substr(1));
    now += 1;
    EXPECT_EQ(cycle(*feed), kTweet3);
    EXPECT_EQ(cycle(*feed), SymbolPairs{});
    EXPECT_EQ(cycle(*feed), tweet("New", "c0", "UserLocation", "UserDescription", "UserIdStr", "UserName",
                                  "UserScreen Name"));
    EXPECT_EQ(server.requestCount(), 2u);
    setMonotonicClock(nullptr);
}

TEST(TwitterFeed, CurlOptionsReachTheScriptAsOneLiteralArgumentEveryCycleAtIntervalZero) {
    TempFileRoot root;
    StubServer server;
    server.reply("/timeline", readTestData("news/timeline.json"));
    installScript(root, server.url("/timeline"));
    const std::string hostile = "-s --max-time 5 $(touch " + root.path("/tmp/a") + ") `touch " +
                                root.path("/tmp/b") + "` \"quoted\" 'single'";
    int64_t now = 0;
    setMonotonicClock([&now] { return ++now; });
    auto feed = makeFeed(R"({"twitter_poll_interval": "0"})");
    EXPECT_EQ(cycle(*feed, hostile), kTweet1);
    EXPECT_EQ(cycle(*feed, hostile), kTweet2);
    setMonotonicClock(nullptr);
    EXPECT_FALSE(root.exists("/tmp/a"));
    EXPECT_FALSE(root.exists("/tmp/b"));
    EXPECT_EQ(root.read("/vorn/twitter/args.log"), "1:" + hostile + "\n1:" + hostile + "\n");
}

TEST(TwitterFeed, FailedDownloadsReportNoConnection) {
    TempFileRoot root;
    StubServer server;
    installScript(root, server.url("/timeline"));
    for (const std::string& reply : std::vector<std::string>{"", R"({"errors":[{"code":89,"message":"Invalid or expired token."}]})",
                                    readTestData("news/timeline.json").substr(0, 300)}) {
        server.reply("/timeline", reply);
        EXPECT_EQ(cycle(*makeFeed()), kNoConnection) << reply;
    }
    std::filesystem::remove(root.path(kTwitterScriptPath));
    EXPECT_EQ(cycle(*makeFeed()), kNoConnection) << "script missing";
}

TEST(TwitterFeed, MalformedPostsArePassedOverAndOddMembersReadAsText) {
    TempFileRoot root;
    root.write(kTwitterOfflinePath,
               R"([{"created_at":"c1","full_text":"no user"}, 42, "text", null, [1,2],
                   {"created_at":"c2","full_text":"odd user","user":"someone"},
                   {"created_at":7,"full_text":{"nested":1},"user":{"id_str":123,"name":["x"],"screen_name":true,"location":null}}])");
    auto feed = makeFeed();
    for (int i = 0; i < 5; ++i) EXPECT_EQ(cycle(*feed), SymbolPairs{}) << "post " << i;
    EXPECT_EQ(cycle(*feed), tweet("odd user", "c2", "UserLocation", "UserDescription", "UserIdStr", "UserName",
                                  "UserScreen Name"));
    EXPECT_EQ(cycle(*feed), tweet("NotFound", "7", "", "UserDescription", "123", "UserName", "true"))
        << "a null member is present: empty, not the default";
    EXPECT_EQ(cycle(*feed), SymbolPairs{}) << "past the last post";
}
