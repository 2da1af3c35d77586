#include "feeds/transit/txc_st_feed.h"

#include <time.h>

#include <cstdio>
#include <iomanip>
#include <sstream>

#include "core/config/config_keys.h"
#include "core/feed/symbol_list.h"
#include "platform/clock.h"
#include "platform/sqlite.h"

namespace {
constexpr int64_t kSecondsPerDay = 86400;
constexpr const char* kStopKey = "txc_st_next_point_id";

// The stop and every other value are bound, never spliced into the text.
const char* const kDeparturesSql =
    "SELECT DISTINCT s.Name, d.DepartureTime, i.Name AS Indicator, ln2.Name AS Destination"
    " FROM Departures d"
    " JOIN Services s ON s.Id = d.ServiceId"
    " JOIN Indicators i ON i.Id = d.OriginIndicatorId"
    " JOIN Locations ln1 ON ln1.Id = d.OriginId"
    " JOIN Locations ln2 ON ln2.Id = d.DestinationId"
    " WHERE ln1.Name = ?1"
    " AND (d.Days = 0 OR d.Days & ?2 = ?2)"
    " AND d.ValidFrom <= ?3 AND d.ValidTo >= ?3"
    " AND d.DepartureTime >= ?4"
    " ORDER BY d.DepartureTime, Indicator COLLATE NOCASE";

// A stored time of day as "HH:MM" (no time zone applies to it).
std::string timeOfDay(int64_t seconds) {
    char text[16];
    int64_t inDay = ((seconds % kSecondsPerDay) + kSecondsPerDay) % kSecondsPerDay;
    std::snprintf(text, sizeof text, "%02d:%02d", static_cast<int>(inDay / 3600), static_cast<int>(inDay % 3600 / 60));
    return text;
}
}  // namespace

TXC_ST_FeedImpl::TXC_ST_FeedImpl(const std::string& databasePath) : m_databasePath(databasePath) {
    logLine(2, "TXC_ST_FeedImpl - entering constructor");
    logLine(2, "TXC_ST_FeedImpl: feed:", m_databasePath);
}

TXC_ST_FeedImpl::~TXC_ST_FeedImpl() { logLine(2, "TXC_ST_FeedImpl - entering destructor"); }

void TXC_ST_FeedImpl::readModuleParmMap() {
    m_stopId = readStringKey(moduleParams(), kStopKey);
    if (!m_stopId.empty()) logLine(2, "TXC_ST_FeedImpl: default stop ID:", m_stopId);
}

bool TXC_ST_FeedImpl::symbolUpdate(const std::string& name, int, const std::string& value) {
    if (!takeImportedSymbol(name, value, kStopKey, m_stopId, "TXC_ST_FeedImpl: New stop ID: ")) return false;
    // The old stop's departures must not stay on the displays while the new stop is read.
    exportArrays({});
    return true;
}

int TXC_ST_FeedImpl::weekdayMask(int64_t now) {
    time_t t = static_cast<time_t>(now);
    struct tm utc {};
    gmtime_r(&t, &utc);
    // tm_wday counts from Sunday = 0; the mask counts from Monday = 1.
    return 1 << ((utc.tm_wday + 6) % 7);
}

bool TXC_ST_FeedImpl::queryDepartures(const Csqlite& db, const std::string& stopId, int64_t now, int rowLimit,
                                      std::vector<TxcDeparture>& departures, std::string& error) {
    std::string sql = kDeparturesSql;
    if (rowLimit > 0) sql += " LIMIT ?5";
    sql += ";";
    CsqliteQuerySelect query(sql, db);
    if (!query.IsValid()) {
        error = query.Error();
        return false;
    }
    int mask = weekdayMask(now);
    query.Bind(1, stopId).BindInt(2, mask).BindInt(3, now).BindInt(4, ((now % kSecondsPerDay) + kSecondsPerDay) % kSecondsPerDay);
    if (rowLimit > 0) query.BindInt(5, rowLimit);
    while (query.Step()) {
        TxcDeparture row;
        row.serviceName = query.GetColumnAsString(0, "");
        row.departureTime = query.GetColumnAsInt64(1, 0);
        row.indicatorName = query.GetColumnAsString(2, "");
        row.destinationName = query.GetColumnAsString(3, "");
        departures.push_back(std::move(row));
    }
    int code = sqlite3_errcode(db.Handle());
    if (code != SQLITE_OK && code != SQLITE_ROW && code != SQLITE_DONE) {
        error = sqlite3_errmsg(db.Handle());
        return false;
    }
    return true;
}

void TXC_ST_FeedImpl::exportArrays(const std::vector<TxcDeparture>& departures) {
    ListBuilder services, indicators, times, destinations;
    for (const TxcDeparture& row : departures) {
        services.add(row.serviceName);
        indicators.add(row.indicatorName);
        times.add(std::to_string(row.departureTime));
        destinations.add(row.destinationName);
    }
    addPair("txc_st_service_name_array", services.str());
    addPair("txc_st_origin_indicator_name_array", indicators.str());
    addPair("txc_st_departure_time_array", times.str());
    addPair("txc_st_destination_name_array", destinations.str());
}

void TXC_ST_FeedImpl::printTable(const std::vector<TxcDeparture>& departures) const {
    const std::string rule = "|" + std::string(159, '-');
    std::ostringstream table;
    table << rule << '\n';
    table << "| Departures from stop: " << m_stopId << '\n';
    table << "| " << std::left << std::setw(10) << "Service" << std::setw(10) << "Time" << std::setw(14)
          << "Indicator" << std::setw(65) << "Destination" << '\n';
    table << rule << '\n';
    for (const TxcDeparture& row : departures) {
        table << "| " << std::left << std::setw(10) << row.serviceName << std::setw(10)
              << timeOfDay(row.departureTime) << std::setw(14) << row.indicatorName << std::setw(65)
              << row.destinationName << '\n';
    }
    CDebug::printTable(table.str());
}

int TXC_ST_FeedImpl::downloadData(std::string) {
    if (m_stopId.empty()) {
        logLine(8, "TXC_ST_FeedImpl: Waiting for Stop ID. Unable to download data.");
        addPair("txc_st_has_connection", "0");
        return 0;
    }
    Csqlite db;
    // An empty path would open a fresh private database rather than fail.
    if (m_databasePath.empty() || !db.Open(m_databasePath, false)) {
        logLine(8, "TXC_ST_FeedImpl: Unable to open: ", m_databasePath);
        addPair("txc_st_has_connection", "0");
        return 0;
    }
    int rowLimit = readIntKey(moduleParams(), "txc_st_max_row_count");
    logLine(2, "TXC_ST_FeedImpl: Number of rows to send: ", rowLimit);

    std::vector<TxcDeparture> departures;
    std::string error;
    if (!queryDepartures(db, m_stopId, wallClockSeconds(), rowLimit, departures, error)) {
        // A database without the timetable tables is not an empty timetable.
        logLine(8, "TXC_ST_FeedImpl: query failed: ", error);
        addPair("txc_st_has_connection", "0");
        return 1;
    }
    addPair("txc_st_requested_id", m_stopId);
    addPair("txc_st_has_connection", "1");
    markUsableData();
    exportArrays(departures);
    logLine(2, "TXC_ST_FeedImpl:downloadData - read sucesfully");
    if (CDebug::messageLevelAboveOne()) printTable(departures);
    return 1;
}
