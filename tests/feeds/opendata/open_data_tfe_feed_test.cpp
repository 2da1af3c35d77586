// The arrivals cycle shared by the open-data feeds, told through the TfE
// feed: test file or server, the request, the 19 arrival symbols, failures.
#include "feeds/opendata/open_data_tfe_feed.h"

#include "tests/feeds/opendata/opendata_test_util.h"

using namespace opendata_test;

namespace {
constexpr const char* kTestFile = "/vorn/media/offline/open_data.json";
const std::string kApiKey = "0123456789abcdef0123456789abcdef";
}  // namespace

TEST(OpenDataArrivals, TripDocumentBecomesTheNineteenArrivalSymbols) {
    TempFileRoot root;
    root.write(kVehicleIdPath, "1042\n");
    root.write(kTestFile, readTestData("opendata/tfe_trip.json"));
    OpenDataTFE_FeedImpl feed("http://127.0.0.1:1/unused");
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
    EXPECT_EQ(cycle(feed), expected);
    EXPECT_EQ(OpenDataFeedImpl::splitStopName("A/B/C"), "A/B/C") << "only two parts are split";
}

TEST(OpenDataArrivals, RequestCarriesTheVehicleIdAndLogsNoKey) {
    TempFileRoot root;
    StubServer server;
    server.reply("/trip", readTestData("opendata/tfe_trip.json"));
    const std::string hostile = "1';touch$IFS" + root.path("/pwned") + ";'\"`touch$IFS" + root.path("/pwned") + "`";
    struct Case {
        const char* name;
        const char* key;  // one parameter, "" for none
        Json::Value value;
        std::string url, query, sentId;
    } cases[] = {
        {"query already present", "", 0, "/trip?key=" + kApiKey, "key=" + kApiKey + "&vehicle_id=1042", "1042"},
        {"strip to last two", "open_data_vehicle_id_strip_chars", 2, "/trip", "vehicle_id=42", "42"},
        {"own key name", "open_data_vehicle_id_key", "fleet", "/trip", "fleet=1042", "1042"},
        {"hostile test id runs no command", "open_data_test_vehicle_id", hostile, "/trip", "vehicle_id=1';touch$IFS", hostile},
    };
    root.write(kVehicleIdPath, "1042");
    for (const auto& c : cases) {
        Json::Value params(Json::objectValue);
        if (*c.key) params[c.key] = c.value;
        OpenDataTFE_FeedImpl feed(server.url(c.url));
        configure(feed, params);
        LogCapture log;
        EXPECT_EQ(value(cycle(feed), "open_data_vehicle_id"), c.sentId) << c.name;
        EXPECT_EQ(server.requests().back().query.substr(0, c.query.size()), c.query) << c.name;
        EXPECT_FALSE(log.contains(kApiKey)) << c.name << "\n" << log.dump();
    }
    EXPECT_FALSE(root.exists("/pwned"));
}

TEST(OpenDataArrivals, FailuresExportOnlyTheTwoFlags) {
    TempFileRoot root;
    StubServer server;
    const std::string bytes32 = R"({"results":{"arrivals":[]}}     )";
    root.write(kTestFile, bytes32);  // too short to stand in for the server
    server.reply("/32-bytes", bytes32);
    server.reply("/bad-json", "<html><body>Service Unavailable, try later</body></html>");
    server.reply("/no-arrivals", R"({"meta":{"line_name":"26"},"results":{"departures":[]}})");
    server.reply("/wrong-type", R"({"results":{"arrivals":[{"stop_name":"A","timepoint":"yes"}]}})");
    for (std::string url : {"refused", "/32-bytes", "/bad-json", "/no-arrivals", "/wrong-type"}) {
        OpenDataTFE_FeedImpl feed(url == "refused" ? "http://127.0.0.1:" + std::to_string(refusedPort()) : server.url(url));
        configure(feed);
        feed.clearExportPairs();
        EXPECT_EQ(feed.downloadData("-s"), 0) << url;
        EXPECT_EQ(feed.getExportPairs(), kNoArrivals) << url;
    }
}

TEST(OpenDataTfeParse, TimingPointsAndTimestamps) {
    EXPECT_EQ(OpenDataTFE_FeedImpl::parseTrip(readTestData("opendata/tfe_trip.json"), false).arrivals.size(), 4u);
    const char* noTimepoint = R"({"results":{"arrivals":[{"stop_name":"A"},{"timepoint":true}]}})";
    EXPECT_EQ(OpenDataTFE_FeedImpl::parseTrip(noTimepoint, true).arrivals.size(), 1u) << "no timepoint member";
    const std::pair<const char*, const char*> timestamps[] = {
        {R"("1717400000")", "1717400000"}, {R"("soon")", "0"}, {"1717400000.7", "1717400000"}, {"{}", "0"}};
    for (const auto& [stamp, seconds] : timestamps) {
        std::string doc = R"({"results":{"arrivals":[{"expected_arrival_time":{"utc_timestamp":)" + std::string(stamp) + "}}]}}";
        OpenDataArrivals result = OpenDataTFE_FeedImpl::parseTrip(doc, false);
        ASSERT_EQ(result.arrivals.size(), 1u) << stamp;
        EXPECT_EQ(result.arrivals[0].expectedArrivalTime, seconds) << stamp;
    }
}
