// The R2P feed: the imported stop list, the stop database, the choice of
// the vehicle's journey among all live journeys, and wall-clock times.
#include "feeds/opendata/open_data_r2p_feed.h"

#include "platform/clock.h"
#include "tests/support/feed_test.h"
#include "tests/support/sqlite_builder.h"

namespace {
// What every failed arrivals cycle exports.
const SymbolPairs kNoArrivals = {{"open_data_has_connection", "0"}, {"open_data_has_data", "0"}};
constexpr const char* kDatabase = "/vorn/database/stops.db";
constexpr const char* kStopList = "101,102,103,104";
const std::string kToken = std::string(60, 'T');

std::vector<std::string> codes(int first, int last) {
    std::vector<std::string> out;
    for (int i = first; i <= last; ++i) out.push_back("34000000" + std::to_string(i));
    return out;
}

// A journey starting at `start` whose visits, one a minute from 09:10, are all due timing points.
Json::Value journey(const std::string& start, const std::vector<std::string>& stopCodes,
                    const std::string& status = "E") {
    Json::Value j(Json::objectValue);
    j["ScheduledStart"] = start;
    j["visits"] = Json::Value(Json::arrayValue);
    for (size_t i = 0; i < stopCodes.size(); ++i) {
        const std::string time = "2024-06-03 09:" + std::to_string(10 + i) + ":";
        Json::Value& v = j["visits"].append(Json::Value(Json::objectValue));
        v["Location"] = stopCodes[i];
        v["LocationName"] = "Stop " + stopCodes[i];
        v["ScheduledArrivalTime"] = time + "00";
        v["ArrivalTime"] = time + "30";
        v["ArrivalStatus"] = status;
        v["TimingPoint"] = 1;
    }
    return j;
}

class R2pFeedTest : public ::testing::Test {
protected:
    void SetUp() override {
        setWallClock([] { return int64_t{1717401600}; });  // 2024-06-03 08:00 UTC, summer time
        SqliteBuilder db(root.path(kDatabase));
        for (int i = 1; i <= 4; ++i) db.attribute("10" + std::to_string(i), "PointIdentifier", codes(i, i)[0]);
    }
    void TearDown() override { setWallClock(nullptr); }
    void makeFeed(const char* database = kDatabase, int timingPointsOnly = 1) {
        Json::Value params(Json::objectValue);
        params["Database"] = root.path(database);
        params["open_data_timing_points_only"] = timingPointsOnly;
        params["open_data_test_vehicle_id"] = "7301";
        feed = std::make_unique<OpenDataR2P_FeedImpl>(server.url("/api/v1/live-journeys?api_token=" + kToken));
        configure(*feed, params);
    }

    TempFileRoot root;
    StubServer server;
    std::unique_ptr<OpenDataR2P_FeedImpl> feed;
};
}  // namespace

TEST_F(R2pFeedTest, StopListImportPicksTheJourneyAndExportsItsDueVisitsInEveryZone) {
    Json::Value current = journey("2024-06-03 09:00:00", codes(1, 4));
    current["visits"][0]["ArrivalStatus"] = "A";  // already served
    current["visits"][2]["TimingPoint"] = 0;
    current["visits"][3]["Location"] = "999999999";  // unknown to the stop database
    current["visits"][3]["ArrivalTime"] = "2024-06-03 09:1";  // too short: unknown
    server.reply("/api/v1/live-journeys", jsonArray({journey("2024-06-03 10:00:00", codes(1, 4)), current}).toStyledString());
    struct Case {
        const char* zone;
        std::string scheduled, expected, arrival;
    } cases[] = {
        // 09:11 BST is 08:11 UTC; 09:11 CEST is 07:11 UTC.
        {kLondon, "1717402260,1717402380", "1717402290,0", "1717402290,1717402380"},
        {kBerlin, "1717398660,1717398780", "1717398690,0", "1717398690,1717398780"},
    };
    makeFeed();
    EXPECT_EQ(cycle(*feed, kPlainCurlParams), kNoArrivals) << "no stop list yet";
    EXPECT_FALSE(feed->symbolUpdate("siri_sm_point_id", 0, "101,102")) << "other symbol";
    EXPECT_TRUE(feed->symbolUpdate("open_data_point_id_list", 0, "101"));
    EXPECT_EQ(cycle(*feed, kPlainCurlParams), kNoArrivals) << "one stop is not enough";
    makeFeed("/vorn/database/missing.db");
    feed->symbolUpdate("open_data_point_id_list", 0, kStopList);
    EXPECT_EQ(cycle(*feed, kPlainCurlParams), kNoArrivals) << "no stop database";
    for (const auto& c : cases) {
        makeFeed();
        feed->symbolUpdate("open_data_point_id_list", 0, kStopList);
        const SymbolPairs expected = {
            {"open_data_vehicle_id", "7301"},
            {"open_data_has_data", "1"},
            {"open_data_arrivals_point_id_array", "102,"},
            {"open_data_arrivals_stop_name_array", R"("Stop 340000002","Stop 340000004")"},
            {"open_data_arrivals_scheduled_arrival_time_array", c.scheduled},
            {"open_data_arrivals_expected_arrival_time_array", c.expected},
            {"open_data_arrivals_arrival_time_array", c.arrival},
            {"open_data_arrivals_status_array", R"("E","E")"},
        };
        LogCapture log;
        ZoneScope zone(c.zone);
        EXPECT_EQ(pick(cycle(*feed, kPlainCurlParams), expected), expected) << c.zone;
        EXPECT_EQ(server.requests().back().query, "api_token=" + kToken + "&vehicle_id=7301") << c.zone;
        EXPECT_FALSE(log.contains(kToken)) << log.dump();
    }
    makeFeed(kDatabase, 0);  // every visit, not only timing points
    feed->symbolUpdate("open_data_point_id_list", 0, kStopList);
    const SymbolPairs everyVisit = {{"open_data_arrivals_point_id_array", "102,103,"}};
    ZoneScope london(kLondon);
    EXPECT_EQ(pick(cycle(*feed, kPlainCurlParams), everyVisit), everyVisit);
}

TEST(R2pJourneyChoice, EditDistanceAndStartOrderDecide) {
    const std::vector<std::string> stops = codes(1, 8);
    const char* nine = "2024-06-03 09:00:00";
    const char* ten = "2024-06-03 10:00:00";
    struct { const char* name; std::vector<Json::Value> journeys; std::vector<std::string> ciCodes; const char* start; } cases[] = {
        {"earlier start wins", {journey(ten, stops), journey(nine, codes(1, 6))}, stops, nine},
        {"earlier journey fully served", {journey(ten, stops), journey(nine, stops, "A")}, stops, ten},
        {"same start: the later journey replaces the earlier", {journey(nine, stops), journey(nine, stops, "A")},
         stops, "none"},
        {"two stops allow one; a replacement costs one", {journey(nine, {"340000001", "X"})}, codes(1, 2), nine},
        {"three stops allow no more than one", {journey(nine, codes(1, 1))}, codes(1, 3), "none"},
        {"thirty stops allow ten", {journey(nine, codes(1, 20))}, codes(1, 30), nine},
        {"thirty stops allow no more than ten", {journey(nine, codes(1, 19))}, codes(1, 30), "none"},
    };
    for (const auto& c : cases) {
        const std::string text = jsonArray(c.journeys).toStyledString();
        std::string errors;
        const JsonDocument document = jsonDocumentOf(text, errors);
        const JsonValue selected = OpenDataR2P_FeedImpl::getCurrentJourney(document.root(), c.ciCodes);
        EXPECT_EQ(selected ? selected["ScheduledStart"].asString() : "none", c.start) << c.name;
    }
}
