// Replies over the byte cap fail like no answer, and what a local user
// plants at an offline path reads as no file.
#include <gtest/gtest.h>

#include <functional>

#include "feeds/rail_siri/darwin_feed.h"
#include "feeds/rail_siri/siri_sm_feed.h"
#include "tests/support/feed_test.h"
#include "tests/support/hostile_input.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

TEST(RailSiriHostileInput, OversizedRepliesFailAndPlantedOfflineFilesReadAsMissing) {
    TempFileRoot root;
    StubServer server;
    ScopedDownloadLimits limits;
    const std::function<SymbolPairs()> darwin = [&] {
        return cycle(*configuredFeed<DarwinFeedImpl>(R"({"rail_departures_client_token": "t0ken", "rail_departures_url": ")" +
                                                     server.url("/ldb") + R"(", "rail_departures_test_crs": "EDB"})"));
    };
    const std::function<SymbolPairs()> siri = [&] {
        Json::Value params(Json::objectValue);
        params["siri_sm_point_id"] = "3390Y4";
        params["siri_sm_feed_provider"] = kSiriProviderR2p;
        return cycle(*configuredFeed<SIRI_SM_FeedImpl>(params, server.url("/sm")));
    };

    expectRefused(server, {
        {"departure board", darwin, "/ldb", overCapText(), {{"rail_departures_has_connection", "0"}}, kOverCapLog},
        {"stop monitoring", siri, "/sm", overCapText(), {{"siri_sm_has_connection", "0"}, {"siri_sm_has_data", "0"}},
         kOverCapLog},
    });

    server.reply("/ldb", readTestData("rail_siri/darwin_board.xml"));
    server.reply("/sm", readTestData("rail_siri/siri_sm_r2p_2_0.xml"));
    for (HostileFile kind : kHostileFiles) {
        plantHostileFile(root.path(kDarwinOfflinePath), kind);
        plantHostileFile(root.path(kSiriSmOfflinePath), kind);
        EXPECT_EQ(valueOf(darwin(), "rail_departures_has_connection"), "1") << describe(kind) << ": the server instead";
        EXPECT_EQ(valueOf(siri(), "siri_sm_has_connection"), "1") << describe(kind) << ": the server instead";
    }
}
