// Next departures from one or more stops, asked of a SIRI stop-monitoring
// service (or read from the offline file), merged, sorted, cut to a row count
// and exported as the siri_sm_* lists.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "feeds/rail_siri/siri_reader.h"
#include "feeds/rail_siri/siri_sm_request.h"

constexpr const char* kSiriSmOfflinePath = "/vorn/media/offline/siri_sm.xml";

// One departure, from one MonitoredStopVisit.
struct SiriStopVisit {
    bool valid = false;  // it has an aimed departure time
    int64_t recordedAt = 0;
    std::string lineRef;
    std::string directionRef;
    std::string publishedLineName;
    std::string operatorRef;
    std::string vehicleFeatureRef;
    std::string originRef;
    std::string originName;
    std::string destinationRef;
    std::string destinationName;
    std::string monitored;
    std::string delay;
    std::string vehicleRef;
    std::string stopPointName;
    int64_t aimedArrival = 0;
    int64_t expectedArrival = 0;
    int64_t aimedDeparture = 0;
    int64_t expectedDeparture = 0;
    std::string departurePlatformName;
    std::string departureStatus;
};

// The answers of one update: the last answer's header and every valid visit.
struct SiriStopMonitoring {
    bool parsed = false;
    int64_t responseTimestamp = 0;
    std::string status;
    int64_t validUntil = 0;
    std::vector<SiriStopVisit> visits;
};

// Values of "siri_sm_sort".
enum SiriSortMode {
    kSiriSortAimed = 4,
    kSiriSortAimedThenExpected = 6,
    kSiriSortExpected = 8,
    kSiriSortExpectedThenAimed = 9,
};

class SIRI_SM_FeedImpl : public SIRI_SM_Request {
public:
    explicit SIRI_SM_FeedImpl(const std::string& feedUrl);
    ~SIRI_SM_FeedImpl() override;

    void readModuleParmMap() override;
    // Takes "siri_sm_point_id"; a new stop clears the exported board.
    bool symbolUpdate(const std::string& name, int x, const std::string& value) override;
    // One update; 1 when at least one answer was parsed.
    int downloadData(std::string curlParams) override;

    // Adds one answer's header and valid visits to monitoring.
    static void parse(const SiriLoadResult& result, SiriStopMonitoring& monitoring);
    static SiriStopVisit parseStopVisit(const SiriReader& reader, const SiriNode* visit);
    // Orders the visits by the mode (other values leave them as they are).
    static void sortVisits(std::vector<SiriStopVisit>& visits, int mode);
    // The export pairs of the first rowCount visits (0: all).
    void prepareExportsymbols(const SiriStopMonitoring& monitoring, int rowCount);
    // Empties every board symbol except the two flags.
    void clearExportSymbols();
    static void printDepartureTable(const SiriStopMonitoring& monitoring);

    const siri_sm_request_data& requestData() const { return m_requestData; }
    const std::string& pointIds() const { return m_pointIds; }

private:
    siri_sm_request_data m_requestData;
    std::string m_pointIds;
};

class SIRI_SM_Feed : public DataFeed {
public:
    explicit SIRI_SM_Feed(const std::string& feedUrl) : DataFeed(std::make_unique<SIRI_SM_FeedImpl>(feedUrl)) {}
};
