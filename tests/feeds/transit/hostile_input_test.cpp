// Replies over the byte cap or the JSON value budget fail like no answer, and
// what a local user plants at the test file's path reads as no file.
#include <gtest/gtest.h>

#include <functional>

#include "feeds/transit/gtfs_rt_feed.h"
#include "feeds/transit/transit_cloud_feed.h"
#include "tests/support/feed_test.h"
#include "tests/support/hostile_input.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_root.h"

TEST(TransitHostileInput, OversizedRepliesFailAndPlantedTestFilesReadAsMissing) {
    TempFileRoot root;
    StubServer server;
    ScopedDownloadLimits limits;
    root.write(kVehicleIdPath, "V1001\n");
    const std::function<SymbolPairs()> cloud = [&] {
        TransitCloud_Onboard_FeedImpl feed(server.url("/tco"));
        configure(feed, Json::objectValue);
        return cycle(feed, "-s --max-time 5");
    };
    const std::function<SymbolPairs()> realtime = [&] {
        GTFS_RT_FeedImpl feed(server.url("/rt"));
        Json::Value params;
        params["gtfs_rt_test_vehicle_id"] = "BUS-7";
        configure(feed, params);
        const SymbolPairs pairs = cycle(feed, "-s --max-time 5");
        return SymbolPairs{{"gtfs_rt_has_connection", valueOf(pairs, "gtfs_rt_has_connection")}};
    };

    expectRefused(server, {
        {"service over the byte cap", cloud, "/tco/V1001", overCapText(),
         {{"tco_has_connection", "0"}, {"tco_has_data", "0"}}, kOverCapLog},
        // A document came, so there is a connection, but no data.
        {"service over the value budget", cloud, "/tco/V1001", overBudgetJson(),
         {{"tco_has_connection", "1"}, {"tco_has_data", "0"}}, kOverBudgetLog},
        {"GTFS-Realtime over its cap", realtime, "/rt", overCapText(), {{"gtfs_rt_has_connection", "0"}}, kOverCapLog},
    });

    server.reply("/tco/V1001", readTestData("transit/tco_document.json"));
    for (HostileFile kind : kHostileFiles) {
        plantHostileFile(root.path(kTransitCloudTestFeedPath), kind);
        EXPECT_EQ(valueOf(cloud(), "tco_has_data"), "1") << describe(kind) << ": the service instead";
    }
}
