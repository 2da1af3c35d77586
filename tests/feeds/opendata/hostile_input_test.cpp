// Replies over the byte cap or the JSON value budget fail like no answer, and
// what a local user plants at the test file's path reads as no file.
#include <functional>

#include "feeds/opendata/open_data_tfl_feed.h"
#include "feeds/opendata/tfl_line_status_feed.h"
#include "tests/support/feed_test.h"
#include "tests/support/hostile_input.h"

// What every failed arrivals cycle exports.
const SymbolPairs kNoArrivals = {{"open_data_has_connection", "0"}, {"open_data_has_data", "0"}};

TEST(OpenDataHostileInput, OversizedRepliesFailAndPlantedTestFilesReadAsMissing) {
    TempFileRoot root;
    StubServer server;
    ScopedDownloadLimits limits;
    const std::function<SymbolPairs()> arrivals = [&] {
        OpenDataTFL_FeedImpl feed(server.url(""));
        Json::Value params(Json::objectValue);
        params["open_data_test_vehicle_id"] = "LX58CFV";
        configure(feed, params);
        return cycle(feed, kPlainCurlParams);
    };
    const std::function<SymbolPairs()> lineStatus = [&] {
        TFL_Line_Status_FeedImpl feed(server.url("/Line/Mode/tube/Status"), "", "", "", "");
        Json::Value params(Json::objectValue);
        params["tfl_line_status_lines"] = 1;
        configure(feed, params);
        return pick(cycle(feed, kPlainCurlParams), {{"tfl_line_status_has_connection", ""}, {"tfl_line_status_has_data", ""}});
    };

    const SymbolPairs noLines = {{"tfl_line_status_has_connection", "0"}, {"tfl_line_status_has_data", "0"}};
    expectRefused(server, {
        {"arrivals over the byte cap", arrivals, "/Vehicle/LX58CFV/Arrivals", overCapText(), kNoArrivals, kOverCapLog},
        {"arrivals over the value budget", arrivals, "/Vehicle/LX58CFV/Arrivals", overBudgetJson(), kNoArrivals,
         kOverBudgetLog},
        {"line status over the byte cap", lineStatus, "/Line/Mode/tube/Status", overCapText(), noLines, kOverCapLog},
        {"line status over the value budget", lineStatus, "/Line/Mode/tube/Status", overBudgetJson(), noLines,
         kOverBudgetLog},
    });

    server.reply("/Vehicle/LX58CFV/Arrivals", R"([{"stationName":"Baker Street Station"}])");
    for (HostileFile kind : kHostileFiles) {
        plantHostileFile(root.path("/vorn/media/offline/open_data.json"), kind);
        EXPECT_EQ(valueOf(arrivals(), "open_data_arrivals_stop_name_array"), "\"Baker Street Station\"")
            << describe(kind) << ": the server instead";
    }
}

