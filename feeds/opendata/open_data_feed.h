// Shared base of the city open-data arrival feeds: parameters, the vehicle
// id that keys every request, the test-file substitute for the server, the
// download-and-parse cycle and the export of the arrivals as 19 symbols.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "core/feed/data_feed.h"
#include "core/feed/json_document.h"
#include "core/fetch/downloader.h"

// The connections information of one stop point; only the TfL feed fills it.
struct ConnectionsRecord {
    std::string stopType;
    bool interchange = false;
    std::set<std::string> modes;
    std::set<std::string> services;
    std::vector<std::string> modesAndServices;
    std::vector<std::string> tubeConnections;
    std::vector<std::string> tubeConnectionsLineColour;
    std::vector<std::string> tubeConnectionsTextColour;
};

// One stop of the vehicle's journey as every provider parser produces it,
// with the stop's connections. Times are POSIX seconds in decimal text
// ("0" when unknown).
struct ArrivalRecord : ConnectionsRecord {
    std::string pointId;
    std::string stopName;
    std::string scheduledArrivalTime = "0";
    std::string expectedArrivalTime = "0";
    std::string status;
    std::string timeToStation;
};

// The result of one parse; ok means the response held a usable arrivals
// list (possibly empty).
struct OpenDataArrivals {
    bool ok = false;
    std::string lineName;
    std::string destination;
    std::vector<ArrivalRecord> arrivals;
};

class OpenDataFeedImpl : public DataFeedImpl {
public:
    // urlKey names the configuration key of url, for log lines.
    OpenDataFeedImpl(const std::string& url, const char* urlKey);

    // Test file or server, then parse; exports the arrival symbols.
    // Returns 1 when arrivals were parsed, else 0. Never throws.
    int downloadData(std::string curlParams) override;
    void readModuleParmMap() override;

    // The provider's parser. May throw (JSON type errors); downloadData
    // catches and reports a parse failure.
    virtual OpenDataArrivals parse(const std::string& data) = 0;
    // The request for the vehicle's arrivals; the base sends the vehicle id
    // as a query parameter.
    virtual CurlCommand createCurlCommand(const std::string& url, const std::string& curlParams,
                                          const std::string& vehicleId);

    // Appends the 19 arrival symbols of result.
    void addArrivalPairs(const OpenDataArrivals& result);
    // The arrivals as a console table on standard output.
    static void printArrivals(const OpenDataArrivals& result);

    // The exported split form of a stop name: "A /\nB" for a name of two
    // parts around one slash, otherwise the name itself.
    static std::string splitStopName(const std::string& stopName);

protected:
    // The file's text when it holds more than the usable minimum.
    bool readTestFeedFile(const std::string& path, std::string& text) const;
    bool fetchFromServer(const std::string& curlParams, const std::string& vehicleId, std::string& text);

    std::string m_url;
    const char* m_urlKey;
    std::string m_testVehicleId;
    std::string m_vehicleIdKey = "vehicle_id";
    int32_t m_vehicleIdStripChars = 0;
    bool m_timingPointsOnly = true;
    std::string m_testFeedFile;
};

// Helpers shared by the family's parsers.
namespace opendata {
// Shorter documents are error pages or empty answers, never arrivals.
constexpr size_t kUsableDocumentMinBytes = 33;

// Parses JSON text (comments allowed, nesting depth bounded, values within
// the budget). On failure returns false with the reader's formatted messages
// in errors. Never throws.
bool readJson(const std::string& text, JsonDocument& document, std::string& errors, size_t maxJsonValues);
// A date-time text that carries UTC (or a wall clock read as UTC) in the
// given strptime format, as POSIX seconds; the unparsed tail is ignored.
int64_t readUtcDateTime(const std::string& text, const char* format);
// readJson for documents whose root must be a non-empty array: logs at
// level 8 failedLog + the reader's errors, or notArrayLog, and returns false.
bool readJsonArray(const std::string& text, JsonDocument& document, const char* failedLog, const char* notArrayLog,
                   size_t maxJsonValues);
}  // namespace opendata
