// Scheduled departures from the vehicle's next stop, read from a local
// timetable database built from TransXChange data. The next stop comes in
// through the imported symbol "txc_st_next_point_id".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/feed/data_feed.h"

class Csqlite;

// One departure row of the query, in result order.
struct TxcDeparture {
    std::string serviceName;
    int64_t departureTime = 0;  // seconds after midnight, as stored
    std::string indicatorName;
    std::string destinationName;
};

class TXC_ST_FeedImpl : public DataFeedImpl {
public:
    // databasePath: the timetable database, used as written.
    explicit TXC_ST_FeedImpl(const std::string& databasePath);
    ~TXC_ST_FeedImpl() override;

    // One query for the current stop; 1 when the database opened, else 0.
    int downloadData(std::string curlParams) override;
    void readModuleParmMap() override;
    // Takes "txc_st_next_point_id": a new stop clears the four arrays at once.
    bool symbolUpdate(const std::string& name, int x, const std::string& value) override;

    // Departures from stopId that run on the weekday of now (UTC), are valid
    // at now and leave at or after now's UTC time of day, earliest first;
    // rowLimit 0 (or less) means no limit. False, with the reason in error,
    // when the statement cannot be prepared or run.
    static bool queryDepartures(const Csqlite& db, const std::string& stopId, int64_t now, int rowLimit,
                                std::vector<TxcDeparture>& departures, std::string& error);
    // 1 for Monday ... 64 for Sunday, for the UTC weekday of now.
    static int weekdayMask(int64_t now);

private:
    void exportArrays(const std::vector<TxcDeparture>& departures);
    void printTable(const std::vector<TxcDeparture>& departures) const;

    std::string m_databasePath;
    std::string m_stopId;
};

class TXC_ST_Feed : public DataFeed {
public:
    explicit TXC_ST_Feed(const std::string& databasePath)
        : DataFeed(std::make_unique<TXC_ST_FeedImpl>(databasePath)) {}
};
