#include "feeds/rail_siri/siri_sm_feed.h"

#include <algorithm>
#include <ctime>
#include <exception>
#include <iomanip>
#include <sstream>

#include "core/config/config_keys.h"
#include "core/fetch/secrets.h"
#include "core/feed/symbol_list.h"
#include "platform/file_root.h"
#include "platform/strings.h"

namespace {
const char* const kLogPrefix = "SIRI_SM_FeedImpl";

// The twenty board lists, in export order.
const char* const kListSymbols[] = {
    "siri_sm_recorded_at_array",
    "siri_sm_line_ref_array",
    "siri_sm_direction_ref_array",
    "siri_sm_published_line_name_array",
    "siri_sm_operator_ref_array",
    "siri_sm_vehicle_feature_ref_array",
    "siri_sm_origin_ref_array",
    "siri_sm_origin_name_array",
    "siri_sm_destination_ref_array",
    "siri_sm_destination_name_array",
    "siri_sm_monitored_array",
    "siri_sm_delay_array",
    "siri_sm_vehicle_ref_array",
    "siri_sm_point_name_array",
    "siri_sm_aimed_arrival_time_array",
    "siri_sm_expected_arrival_time_array",
    "siri_sm_aimed_departure_time_array",
    "siri_sm_expected_departure_time_array",
    "siri_sm_departure_platform_name_array",
    "siri_sm_departure_status_array",
};
constexpr size_t kListCount = sizeof kListSymbols / sizeof kListSymbols[0];

// The visit's values in the order of kListSymbols.
std::vector<std::string> rowValues(const SiriStopVisit& v) {
    auto t = [](int64_t seconds) { return std::to_string(seconds); };
    return {t(v.recordedAt),     v.lineRef,         v.directionRef,         v.publishedLineName,
            v.operatorRef,       v.vehicleFeatureRef, v.originRef,          v.originName,
            v.destinationRef,    v.destinationName, v.monitored,            v.delay,
            v.vehicleRef,        v.stopPointName,   t(v.aimedArrival),      t(v.expectedArrival),
            t(v.aimedDeparture), t(v.expectedDeparture), v.departurePlatformName, v.departureStatus};
}

void addNoConnection(DataFeedImpl& feed) {
    feed.addPair("siri_sm_has_connection", "0");
    feed.addPair("siri_sm_has_data", "0");
}
}  // namespace

SIRI_SM_FeedImpl::SIRI_SM_FeedImpl(const std::string& feedUrl) {
    logLine(2, "SIRI_SM_FeedImpl - entering constructor");
    m_requestData.feed_ = feedUrl;
    logLine(2, "SIRI_SM_FeedImpl: feed:", maskUrlSecrets(feedUrl));
}

SIRI_SM_FeedImpl::~SIRI_SM_FeedImpl() { logLine(2, "SIRI_SM_FeedImpl - entering destructor"); }

void SIRI_SM_FeedImpl::readModuleParmMap() {
    const Json::Value& params = moduleParams();
    m_pointIds = readStringKey(params, "siri_sm_point_id");
    if (!m_pointIds.empty()) logLine(2, "SIRI_SM_FeedImpl: default stop ID:", m_pointIds);
    m_requestData.requestor_ref_ = readStringKey(params, "siri_sm_requestor_ref");
    if (!m_requestData.requestor_ref_.empty())
        logLine(2, "SIRI_SM_FeedImpl: Requestor Ref:", m_requestData.requestor_ref_);
    m_requestData.feed_provider_ = readIntKey(params, "siri_sm_feed_provider");
    m_requestData.username_ = readStringKey(params, "siri_sm_username");
    m_requestData.password_ = readStringKey(params, "siri_sm_password");
    m_requestData.key_ = readStringKey(params, "siri_sm_key");
}

bool SIRI_SM_FeedImpl::symbolUpdate(const std::string& name, int, const std::string& value) {
    if (value.empty() || name != "siri_sm_point_id" || value == m_pointIds) return false;
    m_pointIds = value;
    // The board must never show the previous stop's departures.
    clearExportSymbols();
    logLine(2, "SIRI_SM_FeedImpl: New stop ID: ", value);
    return true;
}

int SIRI_SM_FeedImpl::downloadData(std::string curlParams) {
    try {
        SiriStopMonitoring monitoring;
        std::string offlinePath = rootedPath(kSiriSmOfflinePath);
        SiriLoadResult offline = loadDataFromFile(offlinePath);
        if (offline.ok) {
            logLine(4, "SIRI_SM_FeedImpl:downloadData - loaded data from test file: ", offlinePath, ": ",
                    offline.data.size(), " bytes. ", "The SIRI SM feed won't be contacted.");
            parse(offline, monitoring);
        } else if (m_pointIds.empty()) {
            logLine(8, "SIRI_SM_FeedImpl: Waiting for Stop ID. Unable to download data.");
            addNoConnection(*this);
            return 0;
        } else {
            m_requestData.curl_parm_ = curlParams;
            for (const std::string& part : CSVsplit(m_pointIds, ",")) {
                std::string stopId = trim(part);
                if (stopId.empty()) continue;
                m_requestData.stop_id_ = stopId;
                SiriLoadResult answer = loadDataFromServer(m_requestData);
                if (!answer.ok) {
                    logLine(8, "SIRI_SM_FeedImpl:downloadData - unable to load data from: ", stopId);
                    continue;
                }
                logLine(4, "SIRI_SM_FeedImpl:downloadData - downloaded data for stop ", stopId,
                        " from server: ", answer.data.size(), " bytes. ");
                parse(answer, monitoring);
            }
        }
        if (!monitoring.parsed) {
            logLine(8, "SIRI_SM_FeedImpl:downloadData - unable to parse data. Giving up this attempt.");
            addNoConnection(*this);
            return 0;
        }
        sortVisits(monitoring.visits, readIntKey(moduleParams(), "siri_sm_sort"));
        int rowCount = readIntKey(moduleParams(), "siri_sm_max_row_count");
        logLine(2, "SIRI_SM_FeedImpl: Number of rows to send: ", rowCount);
        addPair("siri_sm_requested_id", m_pointIds);
        addPair("siri_sm_has_connection", "1");
        markUsableData();
        prepareExportsymbols(monitoring, rowCount);
        logLine(2, "SIRI_SM_FeedImpl:downloadData - parsed sucesfully");
        if (CDebug::messageLevelAboveOne()) printDepartureTable(monitoring);
        return 1;
    } catch (const std::exception& error) {
        logLine(16, "SIRI_SM_FeedImpl:downloadData - exception: ", error.what());
        return 0;
    }
}

void SIRI_SM_FeedImpl::parse(const SiriLoadResult& result, SiriStopMonitoring& monitoring) {
    logLine(2, "SIRI_SM_FeedImpl::parse - processing: ", result.data.size(), " bytes.");
    SiriReader reader(kLogPrefix);
    const SiriNode* delivery = reader.openDelivery(result.data);
    if (!delivery) return;
    monitoring.responseTimestamp = reader.getNodeTime(delivery, "ResponseTimestamp");
    monitoring.status = reader.getNodeText(delivery, "Status");
    monitoring.validUntil = reader.getNodeTime(delivery, "ValidUntil");
    monitoring.parsed = true;
    for (const SiriNode* visit = siriChild(delivery, "MonitoredStopVisit"); visit;
         visit = siriNextSibling(visit, "MonitoredStopVisit")) {
        SiriStopVisit parsed = parseStopVisit(reader, visit);
        if (parsed.valid) monitoring.visits.push_back(std::move(parsed));
    }
}

SiriStopVisit SIRI_SM_FeedImpl::parseStopVisit(const SiriReader& reader, const SiriNode* visit) {
    SiriStopVisit v;
    v.recordedAt = reader.getNodeTime(visit, "RecordedAtTime");
    const SiriNode* journey = siriChild(visit, "MonitoredVehicleJourney");
    if (!journey) {
        logLine(8, "Missing node: MonitoredStopVisit/MonitoredVehicleJourney. Skipping...");
        return v;
    }
    v.lineRef = reader.getNodeText(journey, "LineRef");
    v.directionRef = reader.getNodeText(journey, "DirectionRef");
    v.publishedLineName = reader.getNodeText(journey, "PublishedLineName");
    v.operatorRef = reader.getNodeText(journey, "OperatorRef");
    v.vehicleFeatureRef = reader.getNodeText(journey, "VehicleFeatureRef");
    v.originRef = reader.getNodeText(journey, "OriginRef");
    v.originName = reader.getNodeText(journey, "OriginName");
    v.destinationRef = reader.getNodeText(journey, "DestinationRef");
    v.destinationName = reader.getNodeText(journey, "DestinationName");
    v.monitored = reader.getNodeText(journey, "Monitored");
    v.delay = reader.getNodeText(journey, "Delay");
    v.vehicleRef = reader.getNodeText(journey, "VehicleRef");
    const SiriNode* call = siriChild(journey, "MonitoredCall");
    if (!call) {
        logLine(2, "Missing node: MonitoredStopVisit/MonitoredVehicleJourney/MonitoredCall. Skipping...");
        return v;
    }
    v.stopPointName = reader.getNodeText(call, "StopPointName");
    v.aimedArrival = reader.getNodeTime(call, "AimedArrivalTime");
    v.expectedArrival = reader.getNodeTime(call, "ExpectedArrivalTime");
    v.aimedDeparture = reader.getNodeTime(call, "AimedDepartureTime");
    v.expectedDeparture = reader.getNodeTime(call, "ExpectedDepartureTime");
    v.departurePlatformName = reader.getNodeText(call, "DeparturePlatformName");
    v.departureStatus = reader.getNodeText(call, "DepartureStatus");
    v.valid = v.aimedDeparture != 0;
    return v;
}

void SIRI_SM_FeedImpl::sortVisits(std::vector<SiriStopVisit>& visits, int mode) {
    int64_t (*key)(const SiriStopVisit&) = nullptr;
    switch (mode) {
        case kSiriSortAimed:
            logLine(2, "SIRI_SM_FeedImpl: Sorting by aimed departure time.");
            key = [](const SiriStopVisit& v) { return v.aimedDeparture; };
            break;
        case kSiriSortAimedThenExpected:
            logLine(2, "SIRI_SM_FeedImpl: Sorting by aimed departure time then expected.");
            key = [](const SiriStopVisit& v) { return v.aimedDeparture != 0 ? v.aimedDeparture : v.expectedDeparture; };
            break;
        case kSiriSortExpected:
            logLine(2, "SIRI_SM_FeedImpl: Sorting by expected departure time.");
            key = [](const SiriStopVisit& v) { return v.expectedDeparture; };
            break;
        case kSiriSortExpectedThenAimed:
            logLine(2, "SIRI_SM_FeedImpl: Sorting by expected departure time then aimed.");
            key = [](const SiriStopVisit& v) { return v.expectedDeparture != 0 ? v.expectedDeparture : v.aimedDeparture; };
            break;
        default:
            logLine(2, "SIRI_SM_FeedImpl: Not sorting entries.");
            return;
    }
    // Stable, so equal times keep the order of the stops and of each answer.
    std::stable_sort(visits.begin(), visits.end(),
                     [key](const SiriStopVisit& a, const SiriStopVisit& b) { return key(a) < key(b); });
}

void SIRI_SM_FeedImpl::prepareExportsymbols(const SiriStopMonitoring& monitoring, int rowCount) {
    size_t rows = monitoring.visits.size();
    if (rowCount > 0 && static_cast<size_t>(rowCount) < rows) rows = static_cast<size_t>(rowCount);
    std::vector<ListBuilder> lists(kListCount);
    for (size_t row = 0; row < rows; ++row) {
        std::vector<std::string> values = rowValues(monitoring.visits[row]);
        for (size_t i = 0; i < kListCount; ++i) lists[i].add(values[i]);
    }
    addPair("siri_sm_has_data", rows > 0 ? "1" : "0");
    addPair("siri_sm_response_timestamp", std::to_string(monitoring.responseTimestamp));
    addPair("siri_sm_status", monitoring.status);
    addPair("siri_sm_valid_until", std::to_string(monitoring.validUntil));
    for (size_t i = 0; i < kListCount; ++i) addPair(kListSymbols[i], lists[i].str());
}

void SIRI_SM_FeedImpl::clearExportSymbols() {
    addPair("siri_sm_response_timestamp", "");
    addPair("siri_sm_status", "");
    addPair("siri_sm_valid_until", "");
    for (const char* symbol : kListSymbols) addPair(symbol, "");
}

void SIRI_SM_FeedImpl::printDepartureTable(const SiriStopMonitoring& monitoring) {
    const std::string rule = "|" + std::string(159, '-');
    std::ostringstream table;
    table << rule << '\n' << "| Departures: " << '\n';
    table << "| " << std::left << std::setw(7) << "Time" << std::setw(45) << "Origin" << std::setw(65)
          << "Destination" << '\n'
          << rule << '\n';
    for (const SiriStopVisit& v : monitoring.visits) {
        time_t when = static_cast<time_t>(v.expectedDeparture);
        struct tm local {};
        localtime_r(&when, &local);
        char clock[16];
        strftime(clock, sizeof clock, "%H:%M", &local);
        table << "| " << std::left << std::setw(7) << clock << std::setw(45) << v.originName << std::setw(65)
              << v.destinationName << '\n';
    }
    CDebug::printTable(table.str());
}
