// Replies over the byte cap or the JSON value budget fail like no answer, and
// what a local user plants at the offline path reads as no file.
#include "feeds/airport/flight_departures_feed.h"
#include "tests/support/feed_test.h"
#include "tests/support/hostile_input.h"

using AirportFeed = FeedTest;

TEST_F(AirportFeed, OversizedRepliesFailAndPlantedOfflineFilesReadAsMissing) {
    ScopedDownloadLimits limits;
    // A new feed each time: its first cycle downloads.
    auto departures = [&] {
        FlightDeparturesFeedImpl feed(server.url("/departures"));
        configure(feed);
        return valueOf(cycle(feed, kModuleCurlParams), "flight_departures_has_connection");
    };
    const std::pair<std::string, const char*> replies[] = {{overCapText(), kOverCapLog},
                                                           {overBudgetJson(), kOverBudgetLog}};
    for (const auto& [reply, line] : replies) {
        server.reply("/departures", reply);
        EXPECT_EQ(departures(), "0") << line;
        EXPECT_TRUE(log.contains(line, 8)) << log.dump();
    }

    server.reply("/departures", readTestData("airport/flight_departures.json"));
    for (HostileFile kind : kHostileFiles) {
        plantHostileFile(root.path("/vorn/media/offline/flight_departures.json"), kind);
        EXPECT_EQ(departures(), "1") << describe(kind) << ": the service instead";
    }
}
