// The arrivals cycle shared by the open-data feeds, told through the TfE
// feed: test file or server, the request, the 19 arrival symbols, failures.
#include "feeds/opendata/open_data_tfe_feed.h"

#include "tests/support/feed_test.h"

namespace {
// What every failed arrivals cycle exports.
const SymbolPairs kNoArrivals = {{"open_data_has_connection", "0"}, {"open_data_has_data", "0"}};
constexpr const char* kTestFile = "/vorn/media/offline/open_data.json";
const std::string kApiKey = "0123456789abcdef0123456789abcdef";
}  // namespace

TEST(OpenDataArrivals, TripDocumentBecomesTheNineteenArrivalSymbols) {
    TempFileRoot root;
    StubServer server;
    root.write(kVehicleIdPath, "1042\n");
    server.reply("/trip", readTestData("opendata/tfe_trip.json"));
    OpenDataTFE_FeedImpl feed(server.url("/trip?key=" + kApiKey));
    configure(feed);
    SymbolPairs expected = {
        {"open_data_vehicle_id", "1042"},
        {"open_data_has_connection", "1"},
        {"open_data_has_data", "1"},
        {"open_data_arrivals_line_name", "26"},
        {"open_data_arrivals_destination", "Clerwood"},
        {"open_data_arrivals_point_id_array", ",,"},
        {"open_data_arrivals_stop_name_array", R"("Princes Street/Waverley","Haymarket","Clerwood 'Terminus'")"},
        {"open_data_arrivals_stop_name_split_array",
         "\"Princes Street /\nWaverley\",\"Haymarket\",\"Clerwood 'Terminus'\""},
        {"open_data_arrivals_scheduled_arrival_time_array", "1717400000,1717400600,1717401200"},
        {"open_data_arrivals_expected_arrival_time_array", "1717400060,0,0"},
        {"open_data_arrivals_arrival_time_array", "1717400060,1717400600,1717401200"},
        {"open_data_arrivals_status_array", R"("","","")"},
        {"open_data_arrivals_time_to_station_array", ",,"},
        {"open_data_arrivals_stop_type_array", R"("","","")"},
        {"open_data_arrivals_interchange_array", R"("false","false","false")"},
        {"open_data_arrivals_modes_array", R"("","","")"},
        {"open_data_arrivals_services_array", R"("","","")"},
        {"open_data_arrivals_modes_and_services_array", R"("","","")"},
        {"open_data_arrivals_tube_connections_array", R"("","","")"},
        {"open_data_arrivals_tube_connections_line_colour_array", R"("","","")"},
        {"open_data_arrivals_tube_connections_text_colour_array", R"("","","")"},
    };
    LogCapture log;
    EXPECT_EQ(cycle(feed, kPlainCurlParams), expected);
    EXPECT_EQ(server.requests().back().query, "key=" + kApiKey + "&vehicle_id=1042");
    EXPECT_FALSE(log.contains(kApiKey)) << log.dump();
    EXPECT_EQ(OpenDataFeedImpl::splitStopName("A/B/C"), "A/B/C") << "only two parts are split";
}

TEST(OpenDataArrivals, AHostileVehicleIdRunsNoCommand) {
    TempFileRoot root;
    StubServer server;
    server.reply("/trip", readTestData("opendata/tfe_trip.json"));
    const std::string hostile = "1';touch$IFS" + root.path("/pwned") + ";'\"`touch$IFS" + root.path("/pwned") + "`";
    root.write(kVehicleIdPath, hostile);
    Json::Value params(Json::objectValue);
    params["open_data_vehicle_id_key"] = "fleet";
    OpenDataTFE_FeedImpl feed(server.url("/trip"));
    configure(feed, params);
    EXPECT_EQ(valueOf(cycle(feed, kPlainCurlParams), "open_data_vehicle_id"), hostile);
    using Params = std::multimap<std::string, std::string>;
    EXPECT_EQ(server.requests().back().params, (Params{{"fleet", hostile}})) << "the own key name, the id whole";
    EXPECT_FALSE(root.exists("/pwned"));
}

TEST(OpenDataArrivals, FailuresExportOnlyTheTwoFlags) {
    TempFileRoot root;
    StubServer server;
    const std::string bytes32 = R"({"results":{"arrivals":[]}}     )";
    root.write(kTestFile, bytes32);  // too short to stand in for the server
    server.reply("/32-bytes", bytes32);
    server.reply("/33-bytes", bytes32 + " ");
    server.reply("/no-arrivals", R"({"meta":{"line_name":"26"},"results":{"departures":[]}})");
    server.reply("/wrong-type", R"({"results":{"arrivals":[{"stop_name":"A","timepoint":"yes"}]}})");
    for (std::string url : {"/32-bytes", "/no-arrivals", "/wrong-type", "/33-bytes"}) {
        OpenDataTFE_FeedImpl feed(server.url(url));
        configure(feed);
        EXPECT_EQ(cycle(feed, kPlainCurlParams) == kNoArrivals, url != "/33-bytes") << url << ": only 33 bytes and more are read";
    }
}

TEST(OpenDataTfeParse, TimingPointsAndTimestamps) {
    EXPECT_EQ(OpenDataTFE_FeedImpl::parseTrip(readTestData("opendata/tfe_trip.json"), false).arrivals.size(), 4u);
    const std::pair<const char*, const char*> timestamps[] = {
        {R"("1717400000")", "1717400000"}, {R"("soon")", "0"}, {"1717400000.7", "1717400000"}};
    for (const auto& [stamp, seconds] : timestamps) {
        std::string doc = R"({"results":{"arrivals":[{"expected_arrival_time":{"utc_timestamp":)" + std::string(stamp) + "}}]}}";
        OpenDataArrivals result = OpenDataTFE_FeedImpl::parseTrip(doc, false);
        ASSERT_EQ(result.arrivals.size(), 1u) << stamp;
        EXPECT_EQ(result.arrivals[0].expectedArrivalTime, seconds) << stamp;
    }
}
