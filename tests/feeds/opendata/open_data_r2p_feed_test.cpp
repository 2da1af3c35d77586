// The R2P feed: the imported stop list, the stop database, the choice of
// the vehicle's journey among all live journeys, and wall-clock times.
#include "feeds/opendata/open_data_r2p_feed.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "platform/clock.h"
#include "tests/feeds/opendata/opendata_test_util.h"
#include "tests/support/log_capture.h"
#include "tests/support/sqlite_builder.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

using namespace opendata_test;

namespace {
constexpr const char* kDatabase = "/vorn/database/stops.db";
constexpr const char* kStopList = "101,102,103,104,105,106,107,108";
// 2024-06-03 08:00:00 UTC, summer time in both zones used.
constexpr int64_t kNow = 1717401600;

std::vector<std::string> codes(int first, int last) {
    std::vector<std::string> out;
    for (int i = first; i <= last; ++i) out.push_back("34000000" + std::to_string(i));
    return out;
}

Json::Value journey(const std::string& start, const std::vector<std::string>& stopCodes,
                    const std::string& status = "E") {
    Json::Value j(Json::objectValue);
    j["ScheduledStart"] = start;
    j["visits"] = Json::Value(Json::arrayValue);
    for (size_t i = 0; i < stopCodes.size(); ++i) {
        Json::Value v(Json::objectValue);
        char minute[3];
        std::snprintf(minute, sizeof minute, "%02zu", 10 + i);
        v["Location"] = stopCodes[i];
        v["LocationName"] = "Stop " + stopCodes[i];
        v["ScheduledArrivalTime"] = "2024-06-03 09:" + std::string(minute) + ":00";
        v["ArrivalTime"] = "2024-06-03 09:" + std::string(minute) + ":30";
        v["ArrivalStatus"] = status;
        v["TimingPoint"] = 1;
        j["visits"].append(v);
    }
    return j;
}

std::string text(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

class R2pFeedTest : public ::testing::Test {
protected:
    void SetUp() override {
        setWallClock([] { return kNow; });
        SqliteBuilder db(root.path(kDatabase));
        for (int i = 1; i <= 8; ++i) db.attribute("10" + std::to_string(i), "PointIdentifier", "34000000" + std::to_string(i));
    }
    void TearDown() override { setWallClock(nullptr); }

    OpenDataR2P_FeedImpl& makeFeed(Json::Value params = Json::Value(Json::objectValue)) {
        params["Database"] = root.path(kDatabase);
        params["open_data_test_vehicle_id"] = "7301";
        m_feed = std::make_unique<OpenDataR2P_FeedImpl>(server.url("/api/v1/live-journeys?api_token=" + kToken));
        configure(*m_feed, params);
        return *m_feed;
    }
    SymbolPairs cycle() {
        m_feed->clearExportPairs();
        m_feed->downloadData(kCurlParams);
        return m_feed->getExportPairs();
    }

    const std::string kToken = std::string(60, 'T');
    TempFileRoot root;
    StubServer server;
    std::unique_ptr<OpenDataR2P_FeedImpl> m_feed;
};
}  // namespace

TEST_F(R2pFeedTest, StopListImportPicksTheJourneyAndExportsItsDueVisits) {
    Json::Value journeys(Json::arrayValue);
    journeys.append(journey("2024-06-03 10:00:00", codes(1, 8)));
    Json::Value current = journey("2024-06-03 09:00:00", codes(1, 8));
    current["visits"][0]["ArrivalStatus"] = "A";  // already served
    current["visits"][2]["TimingPoint"] = 0;
    current["visits"][3]["Location"] = "999999999";  // unknown to the stop database
    journeys.append(current);
    server.reply("/api/v1/live-journeys", text(journeys), 200, "application/json");
    ZoneScope zone(kLondon);
    OpenDataR2P_FeedImpl& feed = makeFeed();

    EXPECT_TRUE(feed.symbolUpdate("open_data_point_id_list", 0, kStopList));
    EXPECT_FALSE(feed.symbolUpdate("open_data_point_id_list", 0, kStopList)) << "same list twice";
    EXPECT_FALSE(feed.symbolUpdate("open_data_point_id_list", 0, "")) << "empty list";
    EXPECT_FALSE(feed.symbolUpdate("siri_sm_point_id", 0, "101,102")) << "other symbol";

    LogCapture log;
    SymbolPairs pairs = cycle();
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].query, "api_token=" + kToken + "&vehicle_id=7301");
    EXPECT_FALSE(log.contains(kToken)) << log.dump();
    EXPECT_TRUE(log.contains("OpenDataR2P_FeedImpl::getCurrentJourney: selected journey: 03/06/24 09:00:00", 2))
        << log.dump();
    EXPECT_TRUE(log.contains("OpenDataR2P_FeedImpl::getArrivalRecord: can't find point ID for: 999999999", 8));

    EXPECT_EQ(value(pairs, "open_data_has_data"), "1");
    EXPECT_EQ(value(pairs, "open_data_arrivals_point_id_array"), "102,,105,106,107,108");
    EXPECT_EQ(value(pairs, "open_data_arrivals_status_array"), R"("E","E","E","E","E","E")");
    // 09:11 BST is 08:11 UTC.
    EXPECT_EQ(value(pairs, "open_data_arrivals_scheduled_arrival_time_array"),
              "1717402260,1717402380,1717402440,1717402500,1717402560,1717402620");
    EXPECT_EQ(value(pairs, "open_data_arrivals_line_name"), "");
    EXPECT_TRUE(log.contains("OpenDataR2P_FeedImpl::parse: TZ offset from UTC: 3600 (seconds)", 2));
}

TEST_F(R2pFeedTest, WallClockTimesAreRightInEveryZone) {
    Json::Value journeys(Json::arrayValue);
    Json::Value j = journey("2024-06-03 09:00:00", codes(1, 8));
    j["visits"][1]["ArrivalTime"] = "2024-06-03 09:1";  // too short: unknown
    journeys.append(j);
    server.reply("/api/v1/live-journeys", text(journeys));
    struct Case {
        const char* zone;
        std::string scheduled;
        std::string expected;
    } cases[] = {
        {kLondon, "1717402200,1717402260", "1717402230,0"},  // 09:10 BST = 08:10 UTC
        {kBerlin, "1717398600,1717398660", "1717398630,0"},  // 09:10 CEST = 07:10 UTC
    };
    for (const auto& c : cases) {
        ZoneScope zone(c.zone);
        OpenDataR2P_FeedImpl& feed = makeFeed();
        feed.symbolUpdate("open_data_point_id_list", 0, kStopList);
        SymbolPairs pairs = cycle();
        std::string scheduled = value(pairs, "open_data_arrivals_scheduled_arrival_time_array");
        EXPECT_EQ(scheduled.substr(0, c.scheduled.size()), c.scheduled) << c.zone;
        std::string expected = value(pairs, "open_data_arrivals_expected_arrival_time_array");
        EXPECT_EQ(expected.substr(0, c.expected.size()), c.expected) << c.zone;
        std::string arrival = value(pairs, "open_data_arrivals_arrival_time_array");
        EXPECT_EQ(arrival.substr(0, 21), c.expected.substr(0, 11) + c.scheduled.substr(11)) << c.zone;
    }
}

TEST(R2pJourneyChoice, EditDistanceAndStartOrderDecide) {
    const std::vector<std::string> stops = codes(1, 8);  // max distance 4
    std::vector<std::string> shifted = codes(2, 8);
    shifted.push_back("340000009");
    std::vector<std::string> fiveOff = codes(1, 3);  // five codes missing
    std::vector<std::string> oneReplaced = stops;
    oneReplaced[4] = "X";
    EXPECT_EQ(OpenDataR2P_FeedImpl::codeDistance(stops, shifted), 2u);
    EXPECT_EQ(OpenDataR2P_FeedImpl::codeDistance(stops, oneReplaced), 1u);
    EXPECT_EQ(OpenDataR2P_FeedImpl::codeDistance(stops, fiveOff), 5u);
    EXPECT_EQ(OpenDataR2P_FeedImpl::codeDistance(stops, codes(1, 4)), 4u);
    EXPECT_EQ(OpenDataR2P_FeedImpl::codeDistance({}, stops), 8u);

    struct Case {
        const char* name;
        std::vector<Json::Value> journeys;
        std::vector<std::string> ciCodes;
        const char* selectedStart;  // nullptr: none
    } cases[] = {
        {"earlier start wins", {journey("2024-06-03 10:00:00", stops), journey("2024-06-03 09:00:00", shifted)}, stops,
         "2024-06-03 09:00:00"},
        {"earlier journey fully served",
         {journey("2024-06-03 10:00:00", stops), journey("2024-06-03 09:00:00", stops, "A")}, stops,
         "2024-06-03 10:00:00"},
        {"distance 4 is within the limit", {journey("2024-06-03 09:00:00", codes(1, 4))}, stops,
         "2024-06-03 09:00:00"},
        {"distance 5 is beyond it",
         {journey("2024-06-03 09:00:00", fiveOff), journey("2024-06-03 11:00:00", oneReplaced)}, stops,
         "2024-06-03 11:00:00"},
        {"three stops allow one", {journey("2024-06-03 09:00:00", codes(1, 1))}, codes(1, 3), nullptr},
        {"thirty stops allow ten", {journey("2024-06-03 09:00:00", codes(1, 20))}, codes(1, 30),
         "2024-06-03 09:00:00"},
        {"thirty stops allow no more than ten", {journey("2024-06-03 09:00:00", codes(1, 19))}, codes(1, 30),
         nullptr},
        {"no stop database: nothing matches", {journey("2024-06-03 09:00:00", stops)}, {}, nullptr},
    };
    for (const auto& c : cases) {
        Json::Value root(Json::arrayValue);
        for (const auto& j : c.journeys) root.append(j);
        const Json::Value* selected = OpenDataR2P_FeedImpl::getCurrentJourney(root, c.ciCodes);
        if (!c.selectedStart) {
            EXPECT_EQ(selected, nullptr) << c.name;
            continue;
        }
        ASSERT_NE(selected, nullptr) << c.name;
        EXPECT_EQ((*selected)["ScheduledStart"].asString(), c.selectedStart) << c.name;
    }

    Json::Value sameStart(Json::arrayValue);
    sameStart.append(journey("2024-06-03 09:00:00", stops));
    sameStart.append(journey("2024-06-03 09:00:00", stops, "A"));
    EXPECT_EQ(OpenDataR2P_FeedImpl::getCurrentJourney(sameStart, stops), nullptr)
        << "the later journey with the same start replaces the earlier one";
}

TEST(R2pVisits, OnlyDueTimingPointsBecomeRecords) {
    Json::Value root(Json::arrayValue);
    Json::Value j = journey("2024-06-03 09:00:00", codes(1, 4));
    j["visits"][1]["ArrivalStatus"] = "D";
    j["visits"][2].removeMember("TimingPoint");
    j["visits"][3].removeMember("ArrivalStatus");
    root.append(j);
    std::vector<std::string> ids = {"101", "102", "103", "104"};
    std::string doc = text(root);
    EXPECT_EQ(OpenDataR2P_FeedImpl::parseJourneys(doc, ids, codes(1, 4), true, 0).arrivals.size(), 1u);
    EXPECT_EQ(OpenDataR2P_FeedImpl::parseJourneys(doc, ids, codes(1, 4), false, 0).arrivals.size(), 2u);
}

TEST_F(R2pFeedTest, MissingStopListOrDatabaseFailsTheCycle) {
    Json::Value journeys(Json::arrayValue);
    journeys.append(journey("2024-06-03 09:00:00", codes(1, 8)));
    server.reply("/api/v1/live-journeys", text(journeys));
    struct Case {
        const char* name;
        const char* stopList;
        bool database;
        const char* logText;
        int level;
    } cases[] = {
        {"no stop list", nullptr, true, "OpenDataR2P_FeedImpl::parse: CI hasn't sent Stops list.", 16},
        {"one stop", "101", true, "OpenDataR2P_FeedImpl::parse: CI hasn't sent enough stops.", 16},
        {"no database", kStopList, false, "OpenDataR2P_FeedImpl::parse: can't find current journey.", 8},
    };
    for (const auto& c : cases) {
        Json::Value params(Json::objectValue);
        OpenDataR2P_FeedImpl& feed = makeFeed(params);
        if (!c.database) {
            Json::Value noDb(Json::objectValue);
            noDb["Database"] = root.path("/vorn/database/missing.db");
            configure(feed, noDb);
        }
        if (c.stopList) feed.symbolUpdate("open_data_point_id_list", 0, c.stopList);
        LogCapture log;
        SymbolPairs pairs = cycle();
        SymbolPairs expected = {{"open_data_has_connection", "0"}, {"open_data_has_data", "0"}};
        EXPECT_EQ(pairs, expected) << c.name;
        EXPECT_TRUE(log.contains(c.logText, c.level)) << c.name << "\n" << log.dump();
    }
}
