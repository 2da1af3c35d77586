// The timetable feed against a timetable database built by the test.
#include <gtest/gtest.h>

#include <memory>

#include "feeds/transit/txc_st_feed.h"
#include "platform/clock.h"
#include "tests/support/feed_test.h"
#include "tests/support/log_capture.h"
#include "tests/support/sqlite_builder.h"
#include "tests/support/temp_root.h"

namespace {

constexpr int64_t kWednesday10am = 1771408800;  // 2026-02-18 10:00:00 UTC
constexpr int64_t kValidFrom = 1767225600;      // 2026-01-01
constexpr int64_t kValidTo = 1798761600;        // 2027-01-01
constexpr int kEveryDay = 0, kTuesday = 2, kWednesday = 4, kWeekdays = 31;

int64_t at(int hours, int minutes, int seconds = 0) { return hours * 3600 + minutes * 60 + seconds; }

// Three services between four places; the clock reads m_now.
class TxcTimetable : public ::testing::Test {
protected:
    void SetUp() override {
        m_db = std::make_unique<SqliteBuilder>(m_path);
        m_db->exec(
            "CREATE TABLE Services (Id INTEGER PRIMARY KEY, Name TEXT);"
            "CREATE TABLE Indicators (Id INTEGER PRIMARY KEY, Name TEXT);"
            "CREATE TABLE Locations (Id INTEGER PRIMARY KEY, Name TEXT);"
            "CREATE TABLE Departures (ServiceId INTEGER, OriginIndicatorId INTEGER, OriginId INTEGER,"
            " DestinationId INTEGER, DepartureTime INTEGER, Days INTEGER, ValidFrom INTEGER, ValidTo INTEGER);"
            "INSERT INTO Services VALUES (1, '42'), (2, 'X7'), (3, 'N1');"
            "INSERT INTO Indicators VALUES (1, 'Stand B'), (2, 'stand a'), (3, 'Stop \"C\"');"
            "INSERT INTO Locations VALUES (1, 'Central'), (2, 'Airport'), (3, 'Harbour');");
        setWallClock([this] { return m_now; });
    }
    void TearDown() override { setWallClock(nullptr); }

    void departure(int service, int indicator, int origin, int destination, int64_t time, int days,
                   int64_t validFrom = kValidFrom, int64_t validTo = kValidTo) {
        std::vector<std::string> values;
        for (int64_t v : {int64_t{service}, int64_t{indicator}, int64_t{origin}, int64_t{destination}, time,
                          int64_t{days}, validFrom, validTo})
            values.push_back(std::to_string(v));
        m_db->insert("INSERT INTO Departures VALUES (?, ?, ?, ?, ?, ?, ?, ?)", values);
    }

    // A feed for the stop as the module creates it.
    std::unique_ptr<TXC_ST_FeedImpl> feedFor(const std::string& stop, Json::Value params = Json::objectValue) {
        auto feed = std::make_unique<TXC_ST_FeedImpl>(m_path);
        if (!stop.empty()) params["txc_st_next_point_id"] = stop;
        configure(*feed, params);
        return feed;
    }
    SymbolPairs run(const std::string& stop, Json::Value params = Json::objectValue) {
        return cycle(*feedFor(stop, params));
    }

    TempFileRoot m_root;
    std::string m_path = m_root.path("/vorn/database/txc.db");
    std::unique_ptr<SqliteBuilder> m_db;
    int64_t m_now = kWednesday10am;
};

SymbolPairs result(const std::string& stop, const std::string& services, const std::string& indicators,
                   const std::string& times, const std::string& destinations) {
    return {{"txc_st_requested_id", stop},          {"txc_st_has_connection", "1"},
            {"txc_st_service_name_array", services}, {"txc_st_origin_indicator_name_array", indicators},
            {"txc_st_departure_time_array", times},  {"txc_st_destination_name_array", destinations}};
}

}  // namespace

TEST_F(TxcTimetable, DeparturesFromTheStopRunningTodayValidNowAndStillToCome) {
    departure(1, 1, 1, 2, at(10, 30), kEveryDay);
    departure(2, 2, 1, 3, at(10, 30), kWednesday);  // same time: "stand a" sorts before "Stand B"
    departure(3, 3, 1, 2, at(10, 0), kWeekdays);    // leaves right now
    departure(1, 1, 1, 2, at(11, 0), kTuesday);     // not on Wednesdays
    departure(1, 1, 1, 2, at(9, 59, 59), kEveryDay);                              // already gone
    departure(1, 1, 1, 2, at(12, 0), kEveryDay, kValidFrom, kWednesday10am - 1);  // expired
    departure(1, 1, 1, 2, at(12, 5), kEveryDay, kWednesday10am + 1);              // not yet valid
    departure(1, 1, 1, 2, at(10, 30), kEveryDay);  // a duplicate row is shown once
    EXPECT_EQ(run("Central"), result("Central", R"("N1","X7","42")", R"("Stop 'C'","stand a","Stand B")",
                                     R"("36000","37800","37800")", R"("Airport","Harbour","Airport")"));
    const char* injection = "x' OR '1'='1";
    EXPECT_EQ(run(injection), result(injection, "", "", "", "")) << "the stop is a bound value, never SQL text";

    // At the end of the UTC day only the last seconds remain; tomorrow's early departure is not found.
    departure(1, 1, 1, 2, at(23, 59, 29), kEveryDay);
    departure(2, 1, 1, 2, at(23, 59, 30), kWednesday);
    departure(3, 1, 1, 2, at(0, 5), kEveryDay);
    m_now = kWednesday10am + at(13, 59, 30);
    EXPECT_EQ(run("Central"), result("Central", R"("X7")", R"("Stand B")", R"("86370")", R"("Airport")"));
}

TEST_F(TxcTimetable, RowLimitComesFromTheParameterMap) {
    for (int minute = 10; minute < 13; ++minute) departure(1, 1, 1, 2, at(10, minute), kEveryDay);
    Json::Value params;
    params["txc_st_max_row_count"] = 2;
    EXPECT_EQ(valueOf(run("Central", params), "txc_st_departure_time_array"), R"("36600","36660")");
    params["txc_st_max_row_count"] = 0;
    EXPECT_EQ(valueOf(run("Central", params), "txc_st_departure_time_array"), R"("36600","36660","36720")")
        << "0: no limit";
}

TEST_F(TxcTimetable, NewStopClearsTheArraysAndAsksForARefresh) {
    departure(1, 1, 1, 2, at(10, 30), kEveryDay);
    auto feed = feedFor("");
    EXPECT_EQ(cycle(*feed), (SymbolPairs{{"txc_st_has_connection", "0"}})) << "no stop yet";
    EXPECT_FALSE(feed->symbolUpdate("txc_st_next_point_id", 0, "")) << "empty value";
    EXPECT_FALSE(feed->symbolUpdate("siri_sm_point_id", 0, "Central")) << "another feed's symbol";
    EXPECT_TRUE(feed->getExportPairs().empty());

    EXPECT_TRUE(feed->symbolUpdate("txc_st_next_point_id", 0, "Central"));
    EXPECT_EQ(feed->getExportPairs(), (SymbolPairs{{"txc_st_service_name_array", ""},
                                                   {"txc_st_origin_indicator_name_array", ""},
                                                   {"txc_st_departure_time_array", ""},
                                                   {"txc_st_destination_name_array", ""}}));
    feed->clearExportPairs();
    EXPECT_FALSE(feed->symbolUpdate("txc_st_next_point_id", 0, "Central")) << "same stop again";
    EXPECT_EQ(cycle(*feed), result("Central", R"("42")", R"("Stand B")", R"("37800")", R"("Airport")"));
}

// An empty path would open a fresh private database; an empty database is no empty timetable.
TEST_F(TxcTimetable, MissingDatabaseOrTablesReportNoConnection) {
    std::string empty = m_root.path("/vorn/database/empty.db");
    SqliteBuilder{empty}.exec("CREATE TABLE Other (x INTEGER);");
    for (const std::string& path : {std::string(), empty}) {
        LogCapture log;
        m_path = path;
        EXPECT_EQ(run("Central"), (SymbolPairs{{"txc_st_has_connection", "0"}})) << path;
        EXPECT_TRUE(log.contains(path.empty() ? "Unable to open: " : "query failed: ", 8)) << log.dump();
    }
}
