// The TfL arrivals feed: the request, the stop database, the connections
// of the next stops and their cache, the direction filter, UTC times.
#include "feeds/opendata/open_data_tfl_feed.h"

#include "tests/support/feed_test.h"
#include "tests/support/sqlite_builder.h"

namespace {
const std::string kAppKey = "f3a9c0d1e2b34c5d6e7f8091a2b3c4d5";
const std::string kQuery = "app_id=vornapp&app_key=" + kAppKey;

class TflFeedTest : public ::testing::Test {
protected:
    void SetUp() override {
        SqliteBuilder db(root.path("/vorn/database/VORN.db"));  // the default stop database
        db.attribute("5001", "PointIdentifier", "490000254W");
        db.attribute("5002", "PointIdentifier", "490000173RB");
    }
    // One cycle of a new feed (or of the last one, keeping its cache); the stop points it asked for.
    std::vector<std::string> stopPointsAsked(Json::Value params = Json::Value(Json::objectValue), bool fresh = true) {
        if (!params.isMember("open_data_test_vehicle_id")) params["open_data_test_vehicle_id"] = "LX58CFV";
        params["open_data_tfl_app_id"] = "vornapp";
        params["open_data_tfl_app_key"] = kAppKey;
        if (fresh) feed = std::make_unique<OpenDataTFL_FeedImpl>(server.url(""));
        configure(*feed, params);
        size_t before = server.requestCount();
        pairs = cycle(*feed, kPlainCurlParams);
        std::vector<std::string> asked;
        for (const auto& path : pathsSince(server, before, kQuery))
            if (path.rfind("/StopPoint/", 0) == 0) asked.push_back(path.substr(11));
        return asked;
    }

    TempFileRoot root;
    StubServer server;
    std::unique_ptr<OpenDataTFL_FeedImpl> feed;
    SymbolPairs pairs;
};
}  // namespace

TEST_F(TflFeedTest, PredictionsBecomeArrivalsWithConnectionsOfTheStops) {
    server.reply("/Vehicle/LX58CFV/Arrivals", readTestData("opendata/tfl_arrivals.json"));
    server.reply("/StopPoint/490000254W", readTestData("opendata/tfl_stoppoint_baker_street.json"));
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
    const std::vector<std::string> allStops = {"490000254W", "490000173RB", "490000235Z"};
    for (const char* zone : {kLondon, kBerlin}) {
        LogCapture log;
        const size_t before = server.requestCount();
        ZoneScope scope(zone);
        EXPECT_EQ(stopPointsAsked(), allStops) << zone;
        EXPECT_EQ(pathsSince(server, before, kQuery)[0], "/Vehicle/LX58CFV/Arrivals") << zone;
        EXPECT_EQ(pairs, expected) << zone;
        EXPECT_FALSE(log.contains(kAppKey)) << log.dump();
    }
    EXPECT_EQ(stopPointsAsked(Json::Value(Json::objectValue), false), (std::vector<std::string>(allStops.begin() + 1, allStops.end())))
        << "a stop point is asked once, one that failed again";
    EXPECT_EQ(pairs, expected) << "from the cache";

    root.write("/vorn/media/offline/open_data.json", readTestData("opendata/tfl_arrivals.json"));
    LogCapture log;
    EXPECT_EQ(stopPointsAsked(), allStops) << "the test file stands in for the arrivals request";
    EXPECT_EQ(pairs, expected) << "from the test file";
    EXPECT_TRUE(log.contains("getConnectionsRecord command: curl -s --max-time 5 --fail --compressed --globoff"))
        << "stop points keep the cycle's time-outs\n" << log.dump();
}

TEST_F(TflFeedTest, ConnectionsForTheLeadingStopsAndTheLastOfTheDirectionRun) {
    Json::Value predictions(Json::arrayValue);
    for (int i = 0; i < 10; ++i) {
        Json::Value& p = predictions.append(Json::Value(Json::objectValue));
        p["naptanId"] = "S" + std::to_string(i);
        p["operationType"] = i == 2 ? 2 : 1;
        p["direction"] = i == 7 ? "inbound" : "outbound";
    }
    server.reply("/Vehicle/LX58CFV/Arrivals", predictions.toStyledString());
    const std::tuple<const char*, const char*, const char*, std::vector<std::string>> cases[] = {
        // key, value, exported point ids (one per operational stop), stop points asked
        {"", "", ",,,,,,,,", {"S0", "S1", "S3", "S4", "S5", "S9"}},  // index 2 is not operational but counts
        {"open_data_tfl_stop_query_count", "2", ",,,,,,,,", {"S0", "S1", "S9"}},
        {"open_data_tfl_filter_direction", "1", ",,,,,", {"S0", "S1", "S3", "S4", "S5", "S6"}},
        {"open_data_tfl_filter_direction", "2", ",,,,,,,,", {"S0", "S1", "S3", "S4", "S5", "S9"}},  // only 1 is on
    };
    for (const auto& [key, setting, pointIds, asked] : cases) {
        Json::Value params(Json::objectValue);
        if (*key) params[key] = std::stoi(setting);
        EXPECT_EQ(stopPointsAsked(params), asked) << key << "=" << setting;
        EXPECT_EQ(valueOf(pairs, "open_data_arrivals_point_id_array"), pointIds) << key << "=" << setting;
    }
}

TEST_F(TflFeedTest, HostileIdentifiersStayInsideTheirPathSegment) {
    const std::string naptan = "x/../y?z=1;touch$IFS" + root.path("/pwned") + ";'";
    // The stub server decodes paths: an id that stayed one segment arrives whole.
    Json::Value prediction(Json::objectValue);
    prediction["naptanId"] = naptan;
    server.reply("/Vehicle/a/b';/Arrivals", jsonArray({prediction}).toStyledString());
    Json::Value hostile(Json::objectValue);
    hostile["open_data_test_vehicle_id"] = "a/b';";
    EXPECT_EQ(stopPointsAsked(hostile), std::vector<std::string>{naptan}) << "no dot segment removed, no query split off";
    EXPECT_FALSE(root.exists("/pwned"));
    EXPECT_EQ(valueOf(pairs, "open_data_has_connection"), "1");
}

TEST_F(TflFeedTest, KeysWithQuerySyntaxStayInsideTheirValueAndOutOfTheLog) {
    const std::string appKey = "SECRET&app_id=EVIL#frag";
    server.reply("/Vehicle/LX58CFV/Arrivals", "[]");
    OpenDataTFL_FeedImpl tfl(server.url(""));
    Json::Value params(Json::objectValue);
    params["open_data_test_vehicle_id"] = "LX58CFV";
    params["open_data_tfl_app_id"] = "vorn app";
    params["open_data_tfl_app_key"] = appKey;
    configure(tfl, params);
    LogCapture log;
    cycle(tfl, kPlainCurlParams);
    using Params = std::multimap<std::string, std::string>;
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].params, (Params{{"app_id", "vorn app"}, {"app_key", appKey}}));
    EXPECT_FALSE(log.contains("EVIL") || log.contains("frag") || log.contains("CRET")) << log.dump();
}

TEST(TflPredictions, ExpectedArrivalNeedsTheZAndTheStopIsOptional) {
    const char* doc = R"([{"expectedArrival":"2024-06-03T08:11:01"},{"expectedArrival":"2024-06-03T08:11:01.5Z"},{}])";
    TflPredictions parsed = OpenDataTFL_FeedImpl::parsePredictions(doc, false, 6);
    const auto& a = parsed.arrivals.arrivals;
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a[0].expectedArrivalTime + "," + a[1].expectedArrivalTime + "," + a[2].scheduledArrivalTime,
              "0,1717402261,0")
        << "no Z: unknown; fraction ignored; missing: unknown";
    EXPECT_FALSE(parsed.stops[2].hasNaptanId) << "no stop to look up";
}

TEST(TflStopPoint, ModesLinesColoursAndServices) {
    const char* doc = R"({"stopType":"NaptanMetroStation", "lines":[{"id":"circle","name":"Circle"},{"name":"no id"}],
        "lineModeGroups":[{"modeName":"bus"}, {"modeName":"tube","lineIdentifier":["circle","waterloo-shuttle"]}],
        "additionalProperties":[{"key":"Toilets","value":"no"},{"key":"Cycle","value":"BikePoints_1"}]})";
    ConnectionsRecord r;
    ASSERT_TRUE(OpenDataTFL_FeedImpl::parseStopPoint(doc, "940GZZLUBST", r));
    EXPECT_EQ(r.modesAndServices, (std::vector<std::string>{"tube", "cycle"})) << "no bus, no toilets";
    EXPECT_EQ(r.tubeConnections, (std::vector<std::string>{"Circle", "waterloo-shuttle"})) << "unnamed: the id";
    EXPECT_EQ(r.tubeConnectionsLineColour, (std::vector<std::string>{"#FFCD00FF", ""})) << "unknown line: no colour";
    for (const char* bad : {"", "[1]", "{}", R"({"lineModeGroups":[{"modeName":{"a":1}}]})", R"({"stopType":[]})"}) {
        EXPECT_FALSE(OpenDataTFL_FeedImpl::parseStopPoint(bad, "x", r)) << bad;
        EXPECT_TRUE(r.tubeConnections.empty() && r.stopType.empty()) << bad;
    }
}

TEST(TflPredictions, AReplyOfManyTinyElementsKeepsTheFirstThousand) {
    std::string tiny = "[{}";
    for (int i = 0; i < 1500; ++i) tiny += ",{}";
    LogCapture log;
    TflPredictions parsed = OpenDataTFL_FeedImpl::parsePredictions(tiny + "]", false, 6);
    EXPECT_EQ(parsed.arrivals.arrivals.size(), 1000u);
    EXPECT_TRUE(parsed.stops.back().withConnections) << "the last one kept is the last of the run";
    EXPECT_TRUE(log.contains("only the first 1000 of 1501 predictions are used", 8)) << log.dump();
}
