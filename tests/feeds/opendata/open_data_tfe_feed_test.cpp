// The arrivals cycle shared by the open-data feeds, told through the TfE
// feed: test file or server, the request, the 19 arrival symbols, failures.
#include "feeds/opendata/open_data_tfe_feed.h"

#include <gtest/gtest.h>

#include "tests/feeds/opendata/opendata_test_util.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

using namespace opendata_test;

namespace {
constexpr const char* kTestFile = "/vorn/media/offline/open_data.json";
const std::string kApiKey = "0123456789abcdef0123456789abcdef";

SymbolPairs runCycle(OpenDataTFE_FeedImpl& feed) {
    feed.clearExportPairs();
    feed.downloadData(kCurlParams);
    return feed.getExportPairs();
}

std::string emptyArraysDocument(size_t size) {
    std::string doc = R"({"results":{"arrivals":[]}})";
    doc.resize(size, ' ');
    return doc;
}
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
    EXPECT_EQ(runCycle(feed), expected);
}

TEST(OpenDataArrivals, TestFileCountsOnlyAboveThirtyTwoBytes) {
    TempFileRoot root;
    StubServer server;
    server.reply("/api/v2/trip", readTestData("opendata/tfe_trip.json"), 200, "application/json");
    OpenDataTFE_FeedImpl feed(server.url("/api/v2/trip?key=" + kApiKey));
    configure(feed);

    root.write(kTestFile, emptyArraysDocument(32));
    SymbolPairs pairs = runCycle(feed);
    EXPECT_EQ(server.requestCount(), 1u) << "32 bytes: the server is asked";
    EXPECT_EQ(value(pairs, "open_data_arrivals_line_name"), "26");

    root.write(kTestFile, emptyArraysDocument(33));
    pairs = runCycle(feed);
    EXPECT_EQ(server.requestCount(), 1u) << "33 bytes: the file is used";
    EXPECT_EQ(value(pairs, "open_data_has_connection"), "1");
    EXPECT_EQ(value(pairs, "open_data_has_data"), "0");
    EXPECT_EQ(value(pairs, "open_data_arrivals_stop_name_array"), "");
    EXPECT_EQ(pairs.size(), 21u);
}

TEST(OpenDataArrivals, RequestCarriesTheVehicleIdAndLogsNoKey) {
    TempFileRoot root;
    StubServer server;
    server.reply("/api/v2/trip", readTestData("opendata/tfe_trip.json"), 200, "application/json");
    struct Case {
        const char* name;
        const char* vehicleFile;  // nullptr: no file
        Json::Value params;
        std::string url;
        std::string expectedQuery;
    };
    Json::Value strip(Json::objectValue);
    strip["open_data_vehicle_id_strip_chars"] = 4;
    Json::Value otherKey(Json::objectValue);
    otherKey["open_data_vehicle_id_key"] = "fleet_number";
    const Case cases[] = {
        {"query already present", "1042", Json::Value(Json::objectValue), "/api/v2/trip?key=" + kApiKey,
         "key=" + kApiKey + "&vehicle_id=1042"},
        {"no query yet", "1042", Json::Value(Json::objectValue), "/api/v2/trip", "vehicle_id=1042"},
        {"strip to last four", "0001042", strip, "/api/v2/trip", "vehicle_id=1042"},
        {"own key name", "1042", otherKey, "/api/v2/trip", "fleet_number=1042"},
        {"no vehicle file", nullptr, Json::Value(Json::objectValue), "/api/v2/trip", "vehicle_id="},
        {"NONE is sent as is", "NONE", Json::Value(Json::objectValue), "/api/v2/trip", "vehicle_id=NONE"},
    };
    for (const auto& c : cases) {
        std::remove(root.path(kVehicleIdPath).c_str());
        if (c.vehicleFile) root.write(kVehicleIdPath, c.vehicleFile);
        OpenDataTFE_FeedImpl feed(server.url(c.url));
        configure(feed, c.params);
        size_t before = server.requestCount();
        LogCapture log;
        SymbolPairs pairs = runCycle(feed);
        ASSERT_EQ(server.requestCount(), before + 1) << c.name;
        EXPECT_EQ(server.requests().back().query, c.expectedQuery) << c.name;
        std::string sentId = c.expectedQuery.substr(c.expectedQuery.rfind('=') + 1);
        EXPECT_EQ(value(pairs, "open_data_vehicle_id"), sentId) << c.name;
        EXPECT_FALSE(log.contains(kApiKey)) << c.name << "\n" << log.dump();
        EXPECT_TRUE(log.contains("OpenData download command: curl -k -s --max-time 5 '", 2)) << c.name;
    }
}

TEST(OpenDataArrivals, HostileVehicleIdRunsNoCommand) {
    TempFileRoot root;
    StubServer server;
    server.reply("/api/v2/trip", readTestData("opendata/tfe_trip.json"));
    std::string marker = root.path("/pwned");
    Json::Value params(Json::objectValue);
    params["open_data_test_vehicle_id"] = "1';touch$IFS" + marker + ";'\"`touch$IFS" + marker + "`";
    OpenDataTFE_FeedImpl feed(server.url("/api/v2/trip"));
    configure(feed, params);
    SymbolPairs pairs = runCycle(feed);
    EXPECT_FALSE(root.exists("/pwned"));
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_NE(server.requests()[0].query.find("touch"), std::string::npos);
    EXPECT_EQ(value(pairs, "open_data_vehicle_id"), params["open_data_test_vehicle_id"].asString());
}

TEST(OpenDataArrivals, FailuresExportOnlyTheTwoFlags) {
    TempFileRoot root;
    StubServer server;
    server.reply("/bad-json", "<html><body>Service Unavailable, try later</body></html>");
    server.reply("/no-arrivals", R"({"meta":{"line_name":"26"},"results":{"departures":[]}})");
    server.reply("/wrong-type", R"({"results":{"arrivals":[{"stop_name":"A","timepoint":"yes"}]}})");
    server.reply("/short", R"({"results":{"arrivals":[]}})");
    struct Case {
        const char* name;
        std::string url;
        const char* logText;
        int level;
    } cases[] = {
        {"refused", "http://127.0.0.1:" + std::to_string(refusedPort()) + "/trip",
         "OpenDataFeedImpl::downloadData - unable to load data. Giving up this attempt. Will retry.", 8},
        {"32 bytes or fewer", server.url("/short"),
         "OpenDataFeedImpl::downloadData - unable to load data. Giving up this attempt. Will retry.", 8},
        {"not JSON", server.url("/bad-json"), "OpenData:  Parsing failed: ", 8},
        {"no arrivals node", server.url("/no-arrivals"),
         "OpenDataTFE_FeedImpl::parse: missing or invalid node: arrivals.", 2},
        {"member of wrong type", server.url("/wrong-type"), "OpenDataFeedImpl::downloadData: exception: ", 16},
    };
    for (const auto& c : cases) {
        OpenDataTFE_FeedImpl feed(c.url);
        configure(feed);
        LogCapture log;
        EXPECT_EQ(feed.downloadData(kCurlParams), 0) << c.name;
        SymbolPairs expected = {{"open_data_has_connection", "0"}, {"open_data_has_data", "0"}};
        EXPECT_EQ(feed.getExportPairs(), expected) << c.name;
        EXPECT_TRUE(log.contains(c.logText, c.level)) << c.name << "\n" << log.dump();
    }
}

TEST(OpenDataTfeParse, ReadsTripMembers) {
    struct Case {
        const char* name;
        std::string doc;
        bool timingPointsOnly;
        size_t records;
        std::string firstScheduled;
        std::string firstExpected;
    } cases[] = {
        {"timing points only", readTestData("opendata/tfe_trip.json"), true, 3, "1717400000", "1717400060"},
        {"every arrival", readTestData("opendata/tfe_trip.json"), false, 4, "1717400000", "1717400060"},
        {"no timepoint member is left out",
         R"({"results":{"arrivals":[{"stop_name":"A"},{"stop_name":"B","timepoint":true}]}})", true, 1, "0", "0"},
        {"no expected time", R"({"results":{"arrivals":[{"scheduled_arrival_time":{"utc_timestamp":5}}]}})", false,
         1, "5", "0"},
        {"timestamp as digits text",
         R"({"results":{"arrivals":[{"scheduled_arrival_time":{"utc_timestamp":"1717400000"}}]}})", false, 1,
         "1717400000", "0"},
        {"timestamp as a word", R"({"results":{"arrivals":[{"scheduled_arrival_time":{"utc_timestamp":"soon"}}]}})",
         false, 1, "0", "0"},
        {"fractional timestamp",
         R"({"results":{"arrivals":[{"expected_arrival_time":{"utc_timestamp":1717400000.7}}]}})", false, 1, "0",
         "1717400000"},
    };
    for (const auto& c : cases) {
        OpenDataArrivals result = OpenDataTFE_FeedImpl::parseTrip(c.doc, c.timingPointsOnly);
        ASSERT_TRUE(result.ok) << c.name;
        ASSERT_EQ(result.arrivals.size(), c.records) << c.name;
        EXPECT_EQ(result.arrivals[0].scheduledArrivalTime, c.firstScheduled) << c.name;
        EXPECT_EQ(result.arrivals[0].expectedArrivalTime, c.firstExpected) << c.name;
    }

    OpenDataArrivals noMeta = OpenDataTFE_FeedImpl::parseTrip(R"({"results":{"arrivals":[{"stop_name":"A"}]}})", false);
    EXPECT_TRUE(noMeta.ok);
    EXPECT_EQ(noMeta.lineName, "");
    EXPECT_EQ(noMeta.destination, "");
    EXPECT_EQ(noMeta.arrivals.size(), 1u);

    for (const char* bad : {"[1,2,3]", R"({"results":{"arrivals":{}}})", "42", ""})
        EXPECT_FALSE(OpenDataTFE_FeedImpl::parseTrip(bad, true).ok) << bad;
}

TEST(OpenDataArrivals, SplitStopNameNeedsExactlyTwoParts) {
    EXPECT_EQ(OpenDataFeedImpl::splitStopName("Oxford Circus/Regent Street"), "Oxford Circus /\nRegent Street");
    EXPECT_EQ(OpenDataFeedImpl::splitStopName("A/B/C"), "A/B/C");
    EXPECT_EQ(OpenDataFeedImpl::splitStopName("Haymarket"), "Haymarket");
}
