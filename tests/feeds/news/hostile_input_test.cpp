// Replies over the byte cap or the JSON value budget fail like no answer, and
// what a local user plants at an offline path reads as no file.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "feeds/news/rss_feed.h"
#include "feeds/news/twitter_feed.h"
#include "tests/support/feed_test.h"
#include "tests/support/hostile_input.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

TEST(NewsHostileInput, OversizedRepliesFailAndPlantedOfflineFilesReadAsMissing) {
    TempFileRoot root;
    StubServer server;
    ScopedDownloadLimits limits;
    // The vehicle's timeline script fetches what the stub server serves.
    root.write(kTwitterScriptPath, "#!/bin/sh\ncurl $1 '" + server.url("/timeline") + "'\n");
    std::filesystem::permissions(root.path(kTwitterScriptPath), std::filesystem::perms::owner_all);
    const std::function<SymbolPairs()> rss = [&] { return cycle(*configuredFeed<RssFeedImpl>("{}", server.url("/rss"))); };
    const std::function<SymbolPairs()> twitter = [&] { return cycle(*configuredFeed<TwitterFeedImpl>("{}")); };

    const SymbolPairs noRss = {{"rss_has_connection", "0"}, {"rss_has_data", "0"}};
    const SymbolPairs noTimeline = {{"twitter_has_connection", "0"}};
    expectRefused(server, {
        {"RSS over the byte cap", rss, "/rss", overCapText(), noRss, kOverCapLog},
        {"timeline over the byte cap", twitter, "/timeline", overCapText(), noTimeline, kOverCapLog},
        {"timeline over the value budget", twitter, "/timeline", overBudgetJson(), noTimeline, kOverBudgetLog},
    });

    server.reply("/rss", readTestData("news/bbc_news.xml"));
    server.reply("/timeline", readTestData("news/timeline.json"));
    for (HostileFile kind : kHostileFiles) {
        plantHostileFile(root.path(kRssOfflinePath), kind);
        plantHostileFile(root.path(kTwitterOfflinePath), kind);
        EXPECT_EQ(valueOf(rss(), "rss_has_data"), "1") << describe(kind) << ": the download instead";
        EXPECT_EQ(valueOf(twitter(), "twitter_has_connection"), "1") << describe(kind) << ": the script instead";
    }
}
