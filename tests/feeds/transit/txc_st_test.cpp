#include <gtest/gtest.h>

#include <memory>

#include "feeds/transit/txc_st.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "tests/support/log_capture.h"
#include "tests/support/sqlite_builder.h"
#include "tests/support/temp_root.h"

namespace {

constexpr int64_t kWednesday10am = 1771408800;  // 2026-02-18 10:00:00 UTC
constexpr int64_t kValidFrom = 1767225600;      // 2026-01-01
constexpr int64_t kValidTo = 1798761600;        // 2027-01-01
constexpr int kEveryDay = 0, kTuesday = 2, kWednesday = 4, kWeekdays = 31, kWeekend = 96;

int64_t at(int hours, int minutes, int seconds = 0) { return hours * 3600 + minutes * 60 + seconds; }

// A timetable built by the test: three services between four places.
class TxcTimetable : public ::testing::Test {
protected:
    void SetUp() override {
        m_path = m_root.path("/vorn/database/txc.db");
        m_db = std::make_unique<SqliteBuilder>(m_path);
        m_db->exec(
            "CREATE TABLE Services (Id INTEGER PRIMARY KEY, Name TEXT);"
            "CREATE TABLE Indicators (Id INTEGER PRIMARY KEY, Name TEXT);"
            "CREATE TABLE Locations (Id INTEGER PRIMARY KEY, Name TEXT);"
            "CREATE TABLE Departures (ServiceId INTEGER, OriginIndicatorId INTEGER, OriginId INTEGER,"
            " DestinationId INTEGER, DepartureTime INTEGER, Days INTEGER, ValidFrom INTEGER, ValidTo INTEGER);"
            "INSERT INTO Services VALUES (1, '42'), (2, 'X7'), (3, 'N1');"
            "INSERT INTO Indicators VALUES (1, 'Stand B'), (2, 'stand a'), (3, 'Stop \"C\"');"
            "INSERT INTO Locations VALUES (1, 'Central'), (2, 'Airport'), (3, 'Harbour'), (4, 'Name');");
        setWallClock([this] { return m_now; });
    }
    void TearDown() override { setWallClock(nullptr); }

    void departure(int service, int indicator, int origin, int destination, int64_t time, int days,
                   int64_t validFrom = kValidFrom, int64_t validTo = kValidTo) {
        m_db->insert("INSERT INTO Departures VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
                     {std::to_string(service), std::to_string(indicator), std::to_string(origin),
                      std::to_string(destination), std::to_string(time), std::to_string(days),
                      std::to_string(validFrom), std::to_string(validTo)});
    }

    SymbolPairs cycle(TXC_ST_FeedImpl& feed) {
        feed.downloadData("");
        SymbolPairs pairs = feed.getExportPairs();
        feed.clearExportPairs();
        return pairs;
    }

    // A feed for the stop, as the module creates it.
    std::unique_ptr<TXC_ST_FeedImpl> feedFor(const std::string& stop, const Json::Value& extra = Json::Value()) {
        auto feed = std::make_unique<TXC_ST_FeedImpl>(m_path);
        Json::Value map(Json::objectValue);
        map["ModuleParams"] = extra.isObject() ? extra : Json::Value(Json::objectValue);
        if (!stop.empty()) map["ModuleParams"]["txc_st_next_point_id"] = stop;
        feed->updateModuleParmMap(CModuleParmMap(map));
        feed->readModuleParmMap();
        return feed;
    }

    TempFileRoot m_root;
    std::string m_path;
    std::unique_ptr<SqliteBuilder> m_db;
    int64_t m_now = kWednesday10am;
};

SymbolPairs result(const std::string& stop, const std::string& services, const std::string& indicators,
                   const std::string& times, const std::string& destinations) {
    return {{"txc_st_requested_id", stop},
            {"txc_st_has_connection", "1"},
            {"txc_st_service_name_array", services},
            {"txc_st_origin_indicator_name_array", indicators},
            {"txc_st_departure_time_array", times},
            {"txc_st_destination_name_array", destinations}};
}

}  // namespace

TEST_F(TxcTimetable, DeparturesRunningTodayValidNowAndStillToComeInTimeOrder) {
    departure(1, 1, 1, 2, at(10, 30), kEveryDay);
    departure(2, 2, 1, 3, at(10, 30), kWednesday);  // same time: "stand a" sorts before "Stand B"
    departure(3, 3, 1, 2, at(10, 0), kWeekdays);    // leaves right now
    departure(1, 1, 1, 2, at(11, 0), kTuesday);     // not on Wednesdays
    departure(1, 1, 1, 2, at(11, 5), kWeekend);     // not on Wednesdays
    departure(1, 1, 1, 2, at(9, 59, 59), kEveryDay);                  // already gone
    departure(1, 1, 1, 2, at(12, 0), kEveryDay, kValidFrom, kWednesday10am - 1);  // expired
    departure(1, 1, 1, 2, at(12, 5), kEveryDay, kWednesday10am + 1);              // not yet valid
    departure(2, 1, 2, 1, at(12, 10), kEveryDay);   // from another stop
    departure(1, 1, 1, 2, at(10, 30), kEveryDay);   // a duplicate row is shown once

    auto feed = feedFor("Central");
    EXPECT_EQ(cycle(*feed), result("Central", R"("N1","X7","42")", R"("Stop 'C'","stand a","Stand B")",
                                   R"("36000","37800","37800")", R"("Airport","Harbour","Airport")"));
}

TEST_F(TxcTimetable, RowLimitComesFromTheParameterMapEveryCycle) {
    for (int minute = 10; minute < 15; ++minute) departure(1, 1, 1, 2, at(10, minute), kEveryDay);
    struct Case {
        const char* name;
        Json::Value limit;
        size_t rows;
    };
    const Case cases[] = {
        {"absent", Json::Value(), 5}, {"zero", 0, 5},       {"number", 2, 2},         {"numeric string", "3", 3},
        {"not a number", "many", 5},  {"negative", -1, 5},  {"larger than rows", 9, 5},
    };
    for (const Case& c : cases) {
        Json::Value params(Json::objectValue);
        if (!c.limit.isNull()) params["txc_st_max_row_count"] = c.limit;
        auto feed = feedFor("Central", params);
        SymbolPairs pairs = cycle(*feed);
        ASSERT_EQ(pairs.size(), 6u) << c.name;
        std::string times = pairs[4].second;
        size_t rows = times.empty() ? 0 : std::count(times.begin(), times.end(), ',') + 1;
        EXPECT_EQ(rows, c.rows) << c.name << ": " << times;
    }
}

TEST_F(TxcTimetable, EndOfTheUtcDayFindsOnlyTheLastSeconds) {
    departure(1, 1, 1, 2, at(23, 59, 29), kEveryDay);
    departure(2, 1, 1, 2, at(23, 59, 30), kWednesday);
    departure(3, 1, 1, 2, at(0, 5), kEveryDay);  // tomorrow's early departure is not found
    m_now = kWednesday10am + at(13, 59, 30);
    auto feed = feedFor("Central");
    EXPECT_EQ(cycle(*feed), result("Central", R"("X7")", R"("Stand B")", R"("86370")", R"("Airport")"));
}

TEST_F(TxcTimetable, StopIdsAreValuesNeverSql) {
    departure(1, 1, 1, 2, at(10, 30), kEveryDay);
    departure(2, 1, 4, 3, at(10, 40), kEveryDay);  // from the place called "Name"
    const char* const stops[] = {"x' OR '1'='1", "Central' --", "\"Name\"", "ln1.Name"};
    for (const char* stop : stops) {
        auto feed = feedFor(stop);
        EXPECT_EQ(cycle(*feed), result(stop, "", "", "", "")) << stop;
    }
    auto named = feedFor("Name");
    EXPECT_EQ(cycle(*named), result("Name", R"("X7")", R"("Stand B")", R"("38400")", R"("Harbour")"));
}

TEST_F(TxcTimetable, NewStopClearsTheArraysAndAsksForARefresh) {
    departure(1, 1, 1, 2, at(10, 30), kEveryDay);
    auto feed = feedFor("");
    EXPECT_FALSE(feed->symbolUpdate("txc_st_next_point_id", 0, "")) << "empty value";
    EXPECT_FALSE(feed->symbolUpdate("siri_sm_point_id", 0, "Central")) << "another feed's symbol";
    EXPECT_TRUE(feed->getExportPairs().empty());

    {
        LogCapture log;
        EXPECT_TRUE(feed->symbolUpdate("txc_st_next_point_id", 0, "Central"));
        EXPECT_TRUE(log.contains("TXC_ST_FeedImpl: New stop ID: Central", 2)) << log.dump();
    }
    SymbolPairs cleared = {{"txc_st_service_name_array", ""},
                           {"txc_st_origin_indicator_name_array", ""},
                           {"txc_st_departure_time_array", ""},
                           {"txc_st_destination_name_array", ""}};
    EXPECT_EQ(feed->getExportPairs(), cleared);
    feed->clearExportPairs();
    EXPECT_FALSE(feed->symbolUpdate("txc_st_next_point_id", 0, "Central")) << "same stop again";
    EXPECT_EQ(cycle(*feed), result("Central", R"("42")", R"("Stand B")", R"("37800")", R"("Airport")"));
}

TEST_F(TxcTimetable, MissingStopDatabaseOrTablesReportNoConnection) {
    struct Case {
        const char* name;
        std::string path;
        std::string stop;
        const char* logText;
    };
    std::string empty = m_root.path("/vorn/database/empty.db");
    SqliteBuilder{empty}.exec("CREATE TABLE Other (x INTEGER);");
    const Case cases[] = {
        {"no stop yet", m_path, "", "TXC_ST_FeedImpl: Waiting for Stop ID. Unable to download data."},
        {"no database file", m_root.path("/vorn/database/missing.db"), "Central",
         "TXC_ST_FeedImpl: Unable to open: "},
        {"no database path", "", "Central", "TXC_ST_FeedImpl: Unable to open: "},
        {"no timetable tables", empty, "Central", "TXC_ST_FeedImpl: query failed: "},
    };
    for (const Case& c : cases) {
        LogCapture log;
        m_path = c.path;
        auto feed = feedFor(c.stop);
        EXPECT_EQ(cycle(*feed), (SymbolPairs{{"txc_st_has_connection", "0"}})) << c.name;
        EXPECT_TRUE(log.contains(c.logText, 8)) << c.name << "\n" << log.dump();
    }
}

TEST_F(TxcTimetable, VerboseModePrintsTheDeparturesTable) {
    departure(2, 2, 1, 3, at(10, 30), kEveryDay);
    auto feed = feedFor("Central");
    LogCapture log;  // every level on, so the table prints
    testing::internal::CaptureStdout();
    cycle(*feed);
    std::string table = testing::internal::GetCapturedStdout();
    std::string rule = "|" + std::string(159, '-') + "\n";
    EXPECT_EQ(table, rule + "| Departures from stop: Central\n" +
                         "| Service   Time      Indicator     " + std::string("Destination") + std::string(54, ' ') +
                         "\n" + rule + "| X7        10:30     stand a       Harbour" + std::string(58, ' ') + "\n");
}
