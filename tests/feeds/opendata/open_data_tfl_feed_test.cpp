// The TfL arrivals feed: the request, the stop database, the connections
// of the next stops and their cache, the direction filter, UTC times.
#include "feeds/opendata/open_data_tfl_feed.h"

#include <gtest/gtest.h>

#include "tests/feeds/opendata/opendata_test_util.h"
#include "tests/support/log_capture.h"
#include "tests/support/sqlite_builder.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

using namespace opendata_test;

namespace {
constexpr const char* kDatabase = "/vorn/database/VORN.db";
const std::string kAppKey = "f3a9c0d1e2b34c5d6e7f8091a2b3c4d5";

Json::Value prediction(const std::string& naptanId, int operationType = 1, const std::string& direction = "outbound") {
    Json::Value p(Json::objectValue);
    p["operationType"] = operationType;
    p["naptanId"] = naptanId;
    p["stationName"] = "Stop " + naptanId;
    p["direction"] = direction;
    p["lineName"] = "13";
    p["destinationName"] = "Aldwych";
    p["timeToStation"] = 300;
    p["expectedArrival"] = "2024-06-03T08:11:01Z";
    return p;
}

std::string text(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

class TflFeedTest : public ::testing::Test {
protected:
    void SetUp() override {
        SqliteBuilder db(root.path(kDatabase));
        db.attribute("5001", "PointIdentifier", "490000254W");
        db.attribute("5002", "PointIdentifier", "490000173RB");
    }

    OpenDataTFL_FeedImpl& makeFeed(Json::Value params = Json::Value(Json::objectValue)) {
        params["open_data_test_vehicle_id"] = "LX58CFV";
        params["open_data_tfl_app_id"] = "vornapp";
        params["open_data_tfl_app_key"] = kAppKey;
        m_feed = std::make_unique<OpenDataTFL_FeedImpl>(server.url(""));
        configure(*m_feed, params);
        return *m_feed;
    }
    SymbolPairs cycle() {
        m_feed->clearExportPairs();
        m_feed->downloadData(kCurlParams);
        return m_feed->getExportPairs();
    }
    std::vector<std::string> stopPointRequests() const {
        std::vector<std::string> paths;
        for (const auto& r : server.requests())
            if (r.path.rfind("/StopPoint/", 0) == 0) paths.push_back(r.path.substr(11));
        return paths;
    }

    TempFileRoot root;  // the default stop database lies under it
    StubServer server;
    std::unique_ptr<OpenDataTFL_FeedImpl> m_feed;
};
}  // namespace

TEST_F(TflFeedTest, PredictionsBecomeArrivalsWithConnectionsOfTheStops) {
    server.reply("/Vehicle/LX58CFV/Arrivals", readTestData("opendata/tfl_arrivals.json"), 200, "application/json");
    server.reply("/StopPoint/490000254W", readTestData("opendata/tfl_stoppoint_baker_street.json"), 200,
                 "application/json");
    for (const char* zone : {kLondon, kBerlin}) {
        ZoneScope zoneScope(zone);
        makeFeed();
        LogCapture log;
        SymbolPairs pairs = cycle();

        SymbolPairs expected = {
            {"open_data_vehicle_id", "LX58CFV"},
            {"open_data_has_connection", "1"},
            {"open_data_has_data", "1"},
            {"open_data_arrivals_line_name", "13"},
            {"open_data_arrivals_destination", "Aldwych"},
            {"open_data_arrivals_point_id_array", "5001,5002,"},
            {"open_data_arrivals_stop_name_array",
             R"("Baker Street Station","Oxford Circus / Regent Street","Aldwych / Somerset House")"},
            {"open_data_arrivals_stop_name_split_array",
             "\"Baker Street Station\",\"Oxford Circus  /\n Regent Street\",\"Aldwych  /\n Somerset House\""},
            {"open_data_arrivals_scheduled_arrival_time_array", "1717402261,1717402327,1717403140"},
            {"open_data_arrivals_expected_arrival_time_array", "1717402261,1717402327,1717403140"},
            {"open_data_arrivals_arrival_time_array", "1717402261,1717402327,1717403140"},
            {"open_data_arrivals_status_array", R"("E","E","E")"},
            {"open_data_arrivals_time_to_station_array", "0,2,1"},
            {"open_data_arrivals_stop_type_array", R"("TransportInterchange","","")"},
            {"open_data_arrivals_interchange_array", R"("true","false","false")"},
            {"open_data_arrivals_modes_array", R"(""tube"","","")"},
            {"open_data_arrivals_services_array", R"(""cycle","toilets"","","")"},
            {"open_data_arrivals_modes_and_services_array", R"(""tube","cycle","toilets"","","")"},
            {"open_data_arrivals_tube_connections_array",
             R"(""Bakerloo","Circle","Hammersmith & City","Jubilee","Metropolitan"","","")"},
            {"open_data_arrivals_tube_connections_line_colour_array",
             R"(""#A65A2AFF","#FFCD00FF","#EC9BADFF","#7B868CFF","#870F54FF"","","")"},
            {"open_data_arrivals_tube_connections_text_colour_array",
             R"(""#FFFFFFFF","#000F9FFF","#000F9FFF","#FFFFFFFF","#FFFFFFFF"","","")"},
        };
        EXPECT_EQ(pairs, expected) << zone;
        EXPECT_FALSE(log.contains(kAppKey)) << log.dump();
    }
    std::vector<RecordedRequest> requests = server.requests();
    ASSERT_EQ(requests.size(), 8u);  // per feed: arrivals and three stop points
    EXPECT_EQ(requests[0].path, "/Vehicle/LX58CFV/Arrivals");
    for (const auto& r : requests) EXPECT_EQ(r.query, "app_id=vornapp&app_key=" + kAppKey) << r.path;
}

TEST_F(TflFeedTest, StopPointsAreAskedOnceAndFailedOnesAgain) {
    server.reply("/Vehicle/LX58CFV/Arrivals", readTestData("opendata/tfl_arrivals.json"));
    server.reply("/StopPoint/490000254W", readTestData("opendata/tfl_stoppoint_baker_street.json"));
    server.reply("/StopPoint/490000173RB", "{}");
    server.reply("/StopPoint/490000235Z", R"({"stopType":"NaptanPublicBusCoachTram","lines":{"a":1}})");
    makeFeed();
    cycle();
    EXPECT_EQ(stopPointRequests(), (std::vector<std::string>{"490000254W", "490000173RB", "490000235Z"}));
    LogCapture log;
    SymbolPairs pairs = cycle();
    EXPECT_EQ(stopPointRequests(), (std::vector<std::string>{"490000254W", "490000173RB", "490000235Z",
                                                              "490000173RB", "490000235Z"}));
    EXPECT_TRUE(log.contains("OpenDataTFL_FeedImpl::getConnectionsRecord using cached data for stop point ID "
                             "490000254W",
                             2));
    EXPECT_TRUE(log.contains("OpenDataTFL_FeedImpl::getConnectionsRecord: no data returned", 8));
    EXPECT_EQ(m_feed->connectionsCacheSize(), 1u);
    EXPECT_EQ(value(pairs, "open_data_arrivals_stop_type_array"), R"("TransportInterchange","","")")
        << "a malformed stop point costs only its own connections";
}

TEST_F(TflFeedTest, ConnectionsOnlyForTheLeadingStopsAndTheLast) {
    Json::Value predictions(Json::arrayValue);
    for (int i = 0; i < 10; ++i) predictions.append(prediction("S" + std::to_string(i), i == 2 ? 2 : 1));
    server.reply("/Vehicle/LX58CFV/Arrivals", text(predictions));
    makeFeed();
    SymbolPairs pairs = cycle();
    EXPECT_EQ(stopPointRequests(), (std::vector<std::string>{"S0", "S1", "S3", "S4", "S5", "S9"}))
        << "index 2 is not operational but still counts";
    EXPECT_EQ(value(pairs, "open_data_arrivals_point_id_array"), ",,,,,,,,");

    Json::Value fewer(Json::objectValue);
    fewer["open_data_tfl_stop_query_count"] = "2";
    makeFeed(fewer);
    server.reply("/Vehicle/LX58CFV/Arrivals", text(predictions));
    size_t before = stopPointRequests().size();
    cycle();
    std::vector<std::string> asked = stopPointRequests();
    EXPECT_EQ(std::vector<std::string>(asked.begin() + before, asked.end()),
              (std::vector<std::string>{"S0", "S1", "S9"}));
}

TEST_F(TflFeedTest, DirectionFilterKeepsTheFirstRun) {
    Json::Value predictions(Json::arrayValue);
    predictions.append(prediction("A", 1, "outbound"));
    predictions.append(prediction("B", 1, "outbound"));
    predictions.append(prediction("C", 1, "inbound"));
    predictions.append(prediction("D", 1, "outbound"));
    server.reply("/Vehicle/LX58CFV/Arrivals", text(predictions));
    struct Case {
        const char* name;
        Json::Value filter;
        std::string stopNames;
    } cases[] = {
        {"filter on", 1, R"("Stop A","Stop B")"},
        {"filter off", 0, R"("Stop A","Stop B","Stop C","Stop D")"},
        {"only exactly 1 is on", 2, R"("Stop A","Stop B","Stop C","Stop D")"},
    };
    for (const auto& c : cases) {
        Json::Value params(Json::objectValue);
        params["open_data_tfl_filter_direction"] = c.filter;
        makeFeed(params);
        EXPECT_EQ(value(cycle(), "open_data_arrivals_stop_name_array"), c.stopNames) << c.name;
    }
}

TEST(TflPredictions, TimesAndMinutes) {
    Json::Value predictions(Json::arrayValue);
    for (int seconds : {59, 60, 125}) {
        Json::Value p(Json::objectValue);
        p["timeToStation"] = seconds;
        predictions.append(p);
    }
    predictions[0]["expectedArrival"] = "2024-06-03T08:11:01";  // 19 characters, no "Z"
    predictions[1]["expectedArrival"] = "2024-06-03T08:11:01.5Z";
    Json::StreamWriterBuilder builder;
    TflPredictions parsed = OpenDataTFL_FeedImpl::parsePredictions(Json::writeString(builder, predictions), false, 6);
    ASSERT_EQ(parsed.arrivals.arrivals.size(), 3u);
    const auto& a = parsed.arrivals.arrivals;
    EXPECT_EQ(a[0].timeToStation + "," + a[1].timeToStation + "," + a[2].timeToStation, "0,1,2");
    EXPECT_EQ(a[0].scheduledArrivalTime, "0");
    EXPECT_EQ(a[0].expectedArrivalTime, "0");
    EXPECT_EQ(a[1].expectedArrivalTime, "1717402261");
    EXPECT_EQ(a[2].scheduledArrivalTime, "0") << "no expectedArrival";
    EXPECT_FALSE(parsed.stops[0].hasNaptanId);

    for (const char* bad : {"{}", "[]", "not json at all, really not"})
        EXPECT_FALSE(OpenDataTFL_FeedImpl::parsePredictions(bad, false, 6).arrivals.ok) << bad;
}

TEST(TflStopPoint, ModesLinesColoursAndServices) {
    const char* doc = R"({"stopType":"NaptanMetroStation",
        "lines":[{"id":"circle","name":"Circle"},{"name":"no id"},{"id":"noname"}],
        "lineModeGroups":[{"modeName":"bus","lineIdentifier":["13"]},
                          {"modeName":"tube","lineIdentifier":["circle","waterloo-shuttle"]},
                          {"lineIdentifier":["x"]}],
        "additionalProperties":[{"key":"Toilets","value":"no"},{"key":"Toilets"},
                                {"key":"Cycle","value":"BikePoints_1"}]})";
    ConnectionsRecord record;
    ASSERT_TRUE(OpenDataTFL_FeedImpl::parseStopPoint(doc, "940GZZLUBST", record));
    EXPECT_EQ(record.stopType, "NaptanMetroStation");
    EXPECT_FALSE(record.interchange);
    EXPECT_EQ(record.modes, (std::set<std::string>{"tube"}));
    EXPECT_EQ(record.services, (std::set<std::string>{"cycle"}));
    EXPECT_EQ(record.modesAndServices, (std::vector<std::string>{"tube", "cycle"}));
    EXPECT_EQ(record.tubeConnections, (std::vector<std::string>{"Circle", "waterloo-shuttle"}));
    EXPECT_EQ(record.tubeConnectionsLineColour, (std::vector<std::string>{"#FFCD00FF", ""}));
    EXPECT_EQ(record.tubeConnectionsTextColour, (std::vector<std::string>{"#000F9FFF", ""}));

    for (const char* bad : {"", "{}", "[]", "[1]", "7", R"({"lineModeGroups":[{"modeName":{"a":1}}]})",
                            R"({"lines":[1,2]})", R"({"stopType":[]})"}) {
        EXPECT_FALSE(OpenDataTFL_FeedImpl::parseStopPoint(bad, "x", record)) << bad;
        EXPECT_TRUE(record.tubeConnections.empty() && record.stopType.empty()) << bad;
    }
}

TEST(TflColours, TablesCoverEveryLineAndNothingElse) {
    EXPECT_EQ(tflLineColour("elizabeth"), "#773DBDFF");
    EXPECT_EQ(tflTextColour("hammersmith-city"), "#000F9FFF");
    EXPECT_EQ(tflLineColour("northern"), "#000000FF");
    EXPECT_EQ(tflLineColour("Northern"), "");
    EXPECT_EQ(tflTextColour(""), "");
}

TEST_F(TflFeedTest, HostileIdentifiersStayInsideTheirPathSegment) {
    std::string marker = root.path("/pwned");
    std::string naptan = "x/../y?z=1;touch$IFS" + marker + ";'";
    Json::Value predictions(Json::arrayValue);
    predictions.append(prediction(naptan));
    // The stub server decodes paths: an id that stayed one segment arrives whole.
    server.reply("/Vehicle/a/b';/Arrivals", text(predictions));
    Json::Value params(Json::objectValue);
    makeFeed(params);
    Json::Value hostile(Json::objectValue);
    hostile["open_data_test_vehicle_id"] = "a/b';";
    configure(*m_feed, hostile);
    SymbolPairs pairs = cycle();
    EXPECT_FALSE(root.exists("/pwned"));
    EXPECT_EQ(value(pairs, "open_data_has_connection"), "1");
    ASSERT_EQ(stopPointRequests().size(), 1u);
    EXPECT_EQ(stopPointRequests()[0], naptan) << "no dot segment removed, no query split off";
}
