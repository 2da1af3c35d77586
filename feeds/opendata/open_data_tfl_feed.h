// Arrivals of the vehicle from the TfL prediction service, with the
// connections at the next few stops (modes, facilities, underground lines
// and their colours) read from the stop-point service and cached per stop.
// Also the TfL line colour tables, shared with the line-status feed.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "feeds/opendata/open_data_feed.h"

// The display colours of a TfL line by its identifier, "#RRGGBBAA", or ""
// for a line not in the tables. Thread-safe; the tables are built once.
std::string tflLineColour(const std::string& lineId);
std::string tflTextColour(const std::string& lineId);

// The predictions of one arrivals document before the stop look-ups: the
// records, and for each its stop point id and whether it gets connections.
struct TflPredictions {
    struct Stop {
        bool hasNaptanId = false;
        std::string naptanId;
        bool withConnections = false;
    };
    OpenDataArrivals arrivals;
    std::vector<Stop> stops;  // one per arrival record
};

class OpenDataTFL_FeedImpl : public OpenDataFeedImpl {
public:
    explicit OpenDataTFL_FeedImpl(const std::string& url) : OpenDataFeedImpl(url, "open_data_tfl_url") {}

    // Keeps the cycle's curl options for the stop-point requests, also when
    // the test file replaces the arrivals request, then runs the shared cycle.
    int downloadData(std::string curlParams) override;
    void readModuleParmMap() override;
    // The vehicle id goes into the path: <url>/Vehicle/<id>/Arrivals?app_id=..&app_key=..
    CurlCommand createCurlCommand(const std::string& url, const std::string& curlParams,
                                  const std::string& vehicleId) override;
    // parsePredictions, then the stop database and the connections requests.
    OpenDataArrivals parse(const std::string& data) override;

    // The pure part of the parse. Only predictions of operationType 1 are
    // used; with filterDirection only those before the first change of
    // direction; of a longer run only the first 1000. The first
    // stopQueryCount positions and the last one get connections. Throws
    // jsoncpp's exception on a member of the wrong type.
    static TflPredictions parsePredictions(const std::string& data, bool filterDirection, int32_t stopQueryCount, size_t maxJsonValues = kDefaultJsonValueBudget);
    // A stop-point document as connections; false (record left empty) when
    // the document is invalid, empty or of the wrong shape. Never throws.
    static bool parseStopPoint(const std::string& data, const std::string& stopPointId, ConnectionsRecord& record, size_t maxJsonValues = kDefaultJsonValueBudget);
    // From the cache, or one stop-point request; only answers with data are cached.
    ConnectionsRecord getConnectionsRecord(const std::string& stopPointId);

    size_t connectionsCacheSize() const { return m_connectionsCache.size(); }

private:
    std::string m_databasePath;
    std::string m_appId;
    std::string m_appKey;
    int32_t m_stopQueryCount = 6;
    std::map<std::string, ConnectionsRecord> m_connectionsCache;
    std::string m_curlParams;
    bool m_filterDirection = false;
};

class OpenDataTFL_Feed : public DataFeed {
public:
    explicit OpenDataTFL_Feed(const std::string& url) : DataFeed(std::make_unique<OpenDataTFL_FeedImpl>(url)) {}
};
