#include "feeds/rail_siri/siri_sm_tt_feed.h"

#include <exception>

#include "core/config/config_keys.h"
#include "core/fetch/secrets.h"
#include "platform/file_root.h"
#include "platform/strings.h"

namespace {
const char* const kLogPrefix = "SIRI_SM_TT_FeedImpl";
}  // namespace

SIRI_SM_TT_FeedImpl::SIRI_SM_TT_FeedImpl(const std::string& feedUrl) {
    logLine(2, "SIRI_SM_TT_FeedImpl - entering constructor");
    m_requestData.feed_ = feedUrl;
    logLine(2, "SIRI_SM_TT_FeedImpl: feed:", maskUrlSecrets(feedUrl));
}

SIRI_SM_TT_FeedImpl::~SIRI_SM_TT_FeedImpl() { logLine(2, "SIRI_SM_TT_FeedImpl - entering destructor"); }

void SIRI_SM_TT_FeedImpl::readModuleParmMap() {
    const Json::Value& params = moduleParams();
    m_testVehicleId = readStringKey(params, "siri_sm_test_vehicle_id");
    if (!m_testVehicleId.empty()) logLine(2, "SIRI_SM_TT_FeedImpl: test vehicle ID:", m_testVehicleId);
    m_terminusPointId = readStringKey(params, "siri_sm_terminus_point_id");
    if (!m_terminusPointId.empty()) logLine(2, "SIRI_SM_TT_FeedImpl: default stop ID:", m_terminusPointId);
    m_requestData.requestor_ref_ = readStringKey(params, "siri_sm_requestor_ref");
    if (!m_requestData.requestor_ref_.empty())
        logLine(2, "SIRI_SM_TT_FeedImpl: Requestor Ref:", m_requestData.requestor_ref_);
    m_vehicleIdPrefix = readStringKey(params, "siri_sm_vehicle_id_prefix");
    if (!m_vehicleIdPrefix.empty()) logLine(2, "SIRI_SM_TT_FeedImpl: vehicle ID prefix:", m_vehicleIdPrefix);
    m_requestData.feed_provider_ = readIntKey(params, "siri_sm_feed_provider");
    m_requestData.username_ = readStringKey(params, "siri_sm_username");
    m_requestData.password_ = readStringKey(params, "siri_sm_password");
    m_requestData.key_ = readStringKey(params, "siri_sm_key");
}

bool SIRI_SM_TT_FeedImpl::symbolUpdate(const std::string& name, int, const std::string& value) {
    return takeImportedSymbol(name, value, "siri_sm_terminus_point_id", m_terminusPointId,
                              "SIRI_SM_TT_FeedImpl: New stop ID: ");
}

std::string SIRI_SM_TT_FeedImpl::readPrefixedVehicleId() const {
    std::string word = readVehicleId(0);
    // An empty file names no vehicle; the prefix alone would match a stranger.
    if (word.empty()) return "";
    if (toupper(word) == "NONE") return word;
    return m_vehicleIdPrefix + word;
}

std::string SIRI_SM_TT_FeedImpl::vehicleId() const {
    if (!m_testVehicleId.empty()) return m_vehicleIdPrefix + m_testVehicleId;
    return readPrefixedVehicleId();
}

void SIRI_SM_TT_FeedImpl::addNoConnection() { addPair("siri_sm_tt_has_connection", "0"); }

int SIRI_SM_TT_FeedImpl::downloadData(std::string curlParams) {
    try {
        std::string vehicle = vehicleId();
        if (vehicle.empty()) {
            logLine(16, "SIRI_SM_TT_FeedImpl:downloadData: Missing vehicle ID. Unable to proceed.");
            addNoConnection();
            return 0;
        }
        std::string offlinePath = rootedPath(kSiriSmTtOfflinePath);
        SiriLoadResult answer = loadDataFromFile(offlinePath);
        if (answer.ok) {
            logLine(4, "SIRI_SM_TT_FeedImpl:downloadData - loaded data from test file: ", offlinePath, ": ",
                    answer.data.size(), " bytes. ", "The SIRI SM feed won't be contacted.");
        } else if (m_terminusPointId.empty()) {
            logLine(8, "SIRI_SM_TT_FeedImpl: Waiting for Stop ID. Unable to download data.");
            addNoConnection();
            return 0;
        } else {
            m_requestData.curl_parm_ = curlParams;
            m_requestData.stop_id_ = m_terminusPointId;
            answer = loadDataFromServer(m_requestData);
            if (!answer.ok) {
                logLine(8, "SIRI_SM_TT_FeedImpl:downloadData - unable to load data. Will retry.");
                addNoConnection();
                return 0;
            }
            logLine(4, "SIRI_SM_TT_FeedImpl:downloadData - downloaded data from server: ", answer.data.size(),
                    " bytes. ");
        }
        SiriTerminusTime times = parse(answer, vehicle);
        if (!times.found) {
            logLine(8, "SIRI_SM_TT_FeedImpl:downloadData - unable to parse data. Giving up this attempt.");
            addNoConnection();
            return 0;
        }
        addPair("siri_sm_tt_requested_id", m_terminusPointId);
        addPair("siri_sm_tt_requested_vehicle_id", vehicle);
        addPair("siri_sm_tt_has_connection", "1");
        markUsableData();
        addPair("siri_sm_tt_expected_arrival_time", times.expectedArrival);
        addPair("siri_sm_tt_aimed_arrival_time", times.aimedArrival);
        logLine(2, "SIRI_SM_TT_FeedImpl:downloadData - parsed sucesfully");
        return 1;
    } catch (const std::exception& error) {
        logLine(16, "SIRI_SM_TT_FeedImpl:downloadData - exception: ", error.what());
        return 0;
    }
}

std::string SIRI_SM_TT_FeedImpl::getNodeTime(const SiriReader& reader, const SiriNode* node, const char* name) {
    int64_t seconds = reader.getNodeTime(node, name);
    return seconds > 0 ? std::to_string(seconds) : "0";
}

SiriTerminusTime SIRI_SM_TT_FeedImpl::parse(const SiriLoadResult& result, const std::string& vehicleId) {
    SiriTerminusTime times;
    logLine(2, "SIRI_SM_TT_FeedImpl::parse - processing: ", result.data.size(), " bytes.");
    SiriReader reader(kLogPrefix);
    const SiriNode* delivery = reader.openDelivery(result.data);
    if (!delivery) return times;
    times.responseTimestamp = getNodeTime(reader, delivery, "ResponseTimestamp");
    for (const SiriNode* visit = siriChild(delivery, "MonitoredStopVisit"); visit;
         visit = siriNextSibling(visit, "MonitoredStopVisit")) {
        const SiriNode* journey = siriChild(visit, "MonitoredVehicleJourney");
        if (!journey) {
            logLine(8, "Missing node: MonitoredStopVisit/MonitoredVehicleJourney. Skipping...");
            continue;
        }
        std::string vehicleRef = reader.getNodeText(journey, "VehicleRef");
        logLine(2, "SIRI_SM_TT_FeedImpl::parse: Got VehicleRef: ", vehicleRef);
        if (vehicleRef != vehicleId) continue;
        const SiriNode* call = siriChild(journey, "MonitoredCall");
        if (!call) {
            logLine(2, "Missing node: MonitoredStopVisit/MonitoredVehicleJourney/MonitoredCall. Skipping...");
            continue;
        }
        times.aimedArrival = getNodeTime(reader, call, "AimedArrivalTime");
        times.expectedArrival = getNodeTime(reader, call, "ExpectedArrivalTime");
        times.found = true;
        break;
    }
    return times;
}
