#include "feeds/news/twitter_feed.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

#include "platform/clock.h"
#include "tests/support/feed_test.h"
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

TEST(TwitterFeed, ScriptRunsOnFirstCycleThenOncePerPollIntervalWithTheCurlOptionsAsOneArgument) {
    TempFileRoot root;
    StubServer server;
    server.reply("/timeline", readTestData("news/timeline.json"), 200, "application/json");
    installScript(root, server.url("/timeline"));
    const std::string curl = "-s --max-time 5 $(touch " + root.path("/tmp/a") + ") `touch " + root.path("/tmp/b") +
                             "` \"quoted\" 'single'";
    int64_t now = 12;  // a vehicle up for less than the poll interval: never downloaded counts as due
    setMonotonicClock([&now] { return now; });
    auto feed = makeFeed();
    EXPECT_EQ(cycle(*feed, curl), kTweet1);
    now += 60;
    EXPECT_EQ(cycle(*feed, curl), kTweet2);
    now += 240;  // exactly the interval: not yet
    EXPECT_EQ(cycle(*feed, curl), kTweet3);
    EXPECT_EQ(server.requestCount(), 1u);

    // A fresh download with one post more: the rotation carries on where it was.
    server.reply("/timeline", R"([{"created_at":"c0","full_text":"New","user":{}},)" +
                                  readTestData("news/timeline.json").substr(1));
    now += 1;
    EXPECT_EQ(cycle(*feed, curl), kTweet3);
    EXPECT_EQ(cycle(*feed, curl), SymbolPairs{});
    EXPECT_EQ(valueOf(cycle(*feed, curl), "tweet_text"), "New");
    // A truncated timeline at the next interval.
    server.reply("/timeline", readTestData("news/timeline.json").substr(0, 300));
    now += 301;
    EXPECT_EQ(cycle(*feed, curl), kNoConnection);
    setMonotonicClock(nullptr);
    EXPECT_EQ(server.requestCount(), 3u);
    EXPECT_FALSE(root.exists("/tmp/a") || root.exists("/tmp/b"));
    EXPECT_EQ(root.read("/vorn/twitter/args.log"), "1:" + curl + "\n1:" + curl + "\n1:" + curl + "\n");
}

TEST(TwitterFeed, MalformedPostsArePassedOverAndOddMembersReadAsText) {
    TempFileRoot root;
    root.write(kTwitterOfflinePath,
               R"([{"created_at":"c1","full_text":"no user"}, 42, {"created_at":"c2","full_text":"odd user","user":"someone"},
                   {"created_at":7,"full_text":{"nested":1},"user":{"id_str":123,"name":["x"],"screen_name":true,"location":null}}])");
    auto feed = makeFeed();
    for (int i = 0; i < 2; ++i) EXPECT_EQ(cycle(*feed), SymbolPairs{}) << "post " << i;
    EXPECT_EQ(valueOf(cycle(*feed), "tweet_user_name"), "UserName");
    EXPECT_EQ(cycle(*feed), tweet("NotFound", "7", "", "UserDescription", "123", "UserName", "true"))
        << "a null member is present: empty, not the default";
    EXPECT_EQ(cycle(*feed), SymbolPairs{}) << "past the last post";
}
