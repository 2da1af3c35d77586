#include "feeds/opendata/open_data_tfl_feed.h"

#include <memory>
#include <utility>

#include "core/config/config_keys.h"
#include "core/feed/lookups.h"
#include "core/fetch/url_text.h"
#include "platform/debug.h"
#include "platform/file_root.h"

namespace {
constexpr const char* kExpectedArrivalFormat = "%Y-%m-%dT%H:%M:%SZ";
// Shorter texts lack the trailing "Z" and are not taken as times.
constexpr size_t kExpectedArrivalMinLength = 20;
constexpr int kSecondsPerMinute = 60;
// Far more predictions than a vehicle has stops ahead. Each costs a whole
// arrival record, so a reply of thousands of tiny objects must not become
// thousands of records.
constexpr size_t kMaxPredictions = 1000;

struct LineColours {
    const char* line;
    const char* text;
};

// Built once, on first use (thread-safe static initialisation), never changed.
const std::map<std::string, LineColours>& colourTable() {
    static const std::map<std::string, LineColours> table = {
        {"tram", {"#76BC21FF", "#FFFFFFFF"}},
        {"elizabeth", {"#773DBDFF", "#FFFFFFFF"}},
        {"dlr", {"#00AFAAFF", "#FFFFFFFF"}},
        {"liberty", {"#61686BFF", "#FFFFFFFF"}},
        {"lioness", {"#FFA600FF", "#FFFFFFFF"}},
        {"mildmay", {"#006FE6FF", "#FFFFFFFF"}},
        {"suffragette", {"#18A95DFF", "#FFFFFFFF"}},
        {"weaver", {"#9B0058FF", "#FFFFFFFF"}},
        {"windrush", {"#DC241FFF", "#FFFFFFFF"}},
        {"bakerloo", {"#A65A2AFF", "#FFFFFFFF"}},
        {"central", {"#E1251BFF", "#FFFFFFFF"}},
        {"circle", {"#FFCD00FF", "#000F9FFF"}},
        {"district", {"#007934FF", "#FFFFFFFF"}},
        {"hammersmith-city", {"#EC9BADFF", "#000F9FFF"}},
        {"jubilee", {"#7B868CFF", "#FFFFFFFF"}},
        {"metropolitan", {"#870F54FF", "#FFFFFFFF"}},
        {"northern", {"#000000FF", "#FFFFFFFF"}},
        {"piccadilly", {"#000F9FFF", "#FFFFFFFF"}},
        {"victoria", {"#00A0DFFF", "#FFFFFFFF"}},
        {"waterloo-city", {"#6BCDB2FF", "#000F9FFF"}},
    };
    return table;
}

std::string memberString(JsonValue object, const char* key) {
    return object.isMember(key) ? object[key].asString() : "";
}

bool isOperational(JsonValue element) {
    if (!element.isObject()) return false;
    return !element.isMember("operationType") || element["operationType"].asInt() == 1;
}
}  // namespace

std::string tflLineColour(const std::string& lineId) {
    auto found = colourTable().find(lineId);
    return found == colourTable().end() ? "" : found->second.line;
}

std::string tflTextColour(const std::string& lineId) {
    auto found = colourTable().find(lineId);
    return found == colourTable().end() ? "" : found->second.text;
}

void OpenDataTFL_FeedImpl::readModuleParmMap() {
    const Json::Value& params = moduleParams();
    m_databasePath = readStringKeyOf("OpenDataTFL_Feed", params, "Database");
    m_appId = readStringKey(params, "open_data_tfl_app_id");
    m_appKey = readStringKey(params, "open_data_tfl_app_key");
    m_stopQueryCount = readIntKey(params, "open_data_tfl_stop_query_count");
    m_filterDirection = readIntKey(params, "open_data_tfl_filter_direction") == 1;
    logLine(2, "OpenDataTFL_FeedImpl::readModuleParmMap parameters -", " read-only database: '", m_databasePath, "'");
    OpenDataFeedImpl::readModuleParmMap();
}

int OpenDataTFL_FeedImpl::downloadData(std::string curlParams) {
    // Without the cycle's options a stop-point request would run without its
    // time-outs and could hold the event loop for as long as curl waits.
    m_curlParams = curlParams;
    return OpenDataFeedImpl::downloadData(std::move(curlParams));
}

CurlCommand OpenDataTFL_FeedImpl::createCurlCommand(const std::string& url, const std::string& curlParams,
                                                    const std::string& vehicleId) {
    m_curlParams = curlParams;
    std::string request = url + "/Vehicle/" + percentEncode(vehicleId) + "/Arrivals";
    request = addUrlParameter(addUrlParameter(request, "app_id", m_appId), "app_key", m_appKey);
    CurlCommand command = downloader().command(curlParams);
    command.carriesCredential().url(request, m_urlKey);
    logLine(2, "OpenData download command: ", command.logText());
    return command;
}

TflPredictions OpenDataTFL_FeedImpl::parsePredictions(const std::string& data, bool filterDirection,
                                                      int32_t stopQueryCount, size_t maxJsonValues) {
    TflPredictions result;
    JsonDocument document;
    if (!opendata::readJsonArray(data, document, "OpenData:  Parsing failed: ",
                                 "OpenDataTFL_FeedImpl::parse: JSON root isn't an array.", maxJsonValues))
        return result;
    const JsonValue root = document.root();
    result.arrivals.ok = true;

    size_t count = root.size();
    if (filterDirection) {
        // The run ends where the vehicle's direction of travel first changes.
        std::string reference;
        for (size_t i = 0; i < root.size(); ++i) {
            if (!isOperational(root[i])) continue;
            std::string direction = memberString(root[i], "direction");
            if (reference.empty()) {
                reference = direction;
            } else if (direction != reference) {
                count = i;
                break;
            }
        }
    }
    if (count > kMaxPredictions) {
        logLine(8, "OpenDataTFL_FeedImpl::parse: only the first ", kMaxPredictions, " of ", count,
                " predictions are used");
        count = kMaxPredictions;
    }
    result.arrivals.arrivals.reserve(count);
    result.stops.reserve(count);

    for (size_t i = 0; i < count; ++i) {
        const JsonValue element = root[i];
        if (!isOperational(element)) continue;
        if (result.arrivals.arrivals.empty()) {
            result.arrivals.lineName = memberString(element, "lineName");
            result.arrivals.destination = memberString(element, "destinationName");
        }
        TflPredictions::Stop stop;
        stop.withConnections = static_cast<int64_t>(i) < stopQueryCount || i + 1 == count;
        ArrivalRecord record;
        if (element.isMember("naptanId")) {
            stop.hasNaptanId = true;
            stop.naptanId = element["naptanId"].asString();
        }
        if (element.isMember("stationName")) record.stopName = element["stationName"].asString();
        if (element.isMember("timeToStation"))
            record.timeToStation = std::to_string(element["timeToStation"].asInt64() / kSecondsPerMinute);
        if (element.isMember("expectedArrival")) {
            std::string text = element["expectedArrival"].asString();
            int64_t t = text.size() < kExpectedArrivalMinLength ? 0
                                                                : opendata::readUtcDateTime(text, kExpectedArrivalFormat);
            record.scheduledArrivalTime = record.expectedArrivalTime = std::to_string(t);
        }
        record.status = "E";
        result.arrivals.arrivals.push_back(std::move(record));
        result.stops.push_back(std::move(stop));
    }
    return result;
}

OpenDataArrivals OpenDataTFL_FeedImpl::parse(const std::string& data) {
    logLine(2, "OpenDataTFL_FeedImpl::parse - processing: ", data.size(), " bytes.");
    TflPredictions predictions =
        parsePredictions(data, m_filterDirection, m_stopQueryCount, downloader().limits().maxJsonValues);
    // Opened once per parse, and only when some prediction names a stop.
    std::unique_ptr<CPointDataLookup> stops;
    // A vehicle's predictions name each stop of its route more than once a day.
    std::map<std::string, std::string> pointIds;
    for (size_t i = 0; i < predictions.stops.size(); ++i) {
        const TflPredictions::Stop& stop = predictions.stops[i];
        if (!stop.hasNaptanId) continue;
        ArrivalRecord& record = predictions.arrivals.arrivals[i];
        auto known = pointIds.find(stop.naptanId);
        if (known == pointIds.end()) {
            if (!stops) stops = std::make_unique<CPointDataLookup>(m_databasePath);
            known = pointIds.emplace(stop.naptanId, stops->LookupPoint(stop.naptanId, "PointIdentifier")).first;
        }
        record.pointId = known->second;
        if (!stop.withConnections) continue;
        static_cast<ConnectionsRecord&>(record) = getConnectionsRecord(stop.naptanId);
    }
    return std::move(predictions.arrivals);
}

ConnectionsRecord OpenDataTFL_FeedImpl::getConnectionsRecord(const std::string& stopPointId) {
    auto cached = m_connectionsCache.find(stopPointId);
    if (cached != m_connectionsCache.end()) {
        logLine(2, "OpenDataTFL_FeedImpl::getConnectionsRecord using cached data for stop point ID ", stopPointId);
        return cached->second;
    }
    std::string url = m_url + "/StopPoint/" + percentEncode(stopPointId);
    url = addUrlParameter(addUrlParameter(url, "app_id", m_appId), "app_key", m_appKey);
    CurlCommand command = downloader().command(m_curlParams);
    command.carriesCredential().url(url, m_urlKey);
    logLine(2, "OpenDataTFL_FeedImpl::getConnectionsRecord command: ", command.logText());
    std::string text = downloader().fetch(command);
    logLine(2, "OpenDataTFL_FeedImpl::getConnectionsRecord for stop point ID ", stopPointId,
            " - processing: ", text.size(), " bytes.");
    ConnectionsRecord record;
    if (parseStopPoint(text, stopPointId, record, downloader().limits().maxJsonValues))
        m_connectionsCache.emplace(stopPointId, record);
    return record;
}

bool OpenDataTFL_FeedImpl::parseStopPoint(const std::string& data, const std::string& stopPointId,
                                          ConnectionsRecord& record, size_t maxJsonValues) {
    record = ConnectionsRecord();
    JsonDocument document;
    std::string errors;
    if (!opendata::readJson(data, document, errors, maxJsonValues)) {
        logLine(8, "OpenDataTFL_FeedImpl::getConnectionsRecord:  Parsing failed: ", errors);
        return false;
    }
    const JsonValue root = document.root();
    if (!root.isObject() || root.empty()) {
        logLine(8, "OpenDataTFL_FeedImpl::getConnectionsRecord: no data returned");
        return false;
    }
    try {
        if (root.isMember("stopType")) {
            record.stopType = root["stopType"].asString();
            record.interchange = record.stopType == "TransportInterchange";
            logLine(2, "OpenDataTFL_FeedImpl::getConnectionsRecord: stop type is ", record.stopType,
                    "for stop code ", stopPointId);
        }
        std::map<std::string, std::string> lineNames;
        for (const auto& line : root["lines"])
            if (line.isMember("id") && line.isMember("name"))
                lineNames.emplace(line["id"].asString(), line["name"].asString());

        for (const auto& group : root["lineModeGroups"]) {
            if (!group.isMember("modeName")) continue;
            std::string mode = group["modeName"].asString();
            if (mode != "bus") {
                logLine(2, "OpenDataTFL_FeedImpl::getConnectionsRecord: adding mode ", mode, " for stop code ",
                        stopPointId);
                record.modes.insert(mode);
            }
            if (mode != "tube" || !group.isMember("lineIdentifier")) continue;
            for (const auto& identifier : group["lineIdentifier"]) {
                std::string lineId = identifier.asString();
                logLine(2, "OpenDataTFL_FeedImpl::getConnectionsRecord: adding line ", lineId, " for stop code ",
                        stopPointId);
                auto name = lineNames.find(lineId);
                record.tubeConnections.push_back(name == lineNames.end() ? lineId : name->second);
                record.tubeConnectionsLineColour.push_back(tflLineColour(lineId));
                record.tubeConnectionsTextColour.push_back(tflTextColour(lineId));
            }
        }

        for (const auto& property : root["additionalProperties"]) {
            if (!property.isMember("key") || !property.isMember("value")) continue;
            std::string key = property["key"].asString();
            std::string value = property["value"].asString();
            if (key == "Toilets" && value == "yes") {
                logLine(2, "OpenDataTFL_FeedImpl::getConnectionsRecord: adding toilet for stop code ", stopPointId);
                record.services.insert("toilets");
            }
            if (value.find("BikePoint") != std::string::npos) {
                logLine(2, "OpenDataTFL_FeedImpl::getConnectionsRecord: adding bike for stop code ", stopPointId);
                record.services.insert("cycle");
            }
        }
    } catch (const std::exception& e) {
        // A malformed stop point costs only its own connections, never the arrivals.
        logLine(8, "OpenDataTFL_FeedImpl::getConnectionsRecord: exception: ", e.what());
        record = ConnectionsRecord();
        return false;
    }
    record.modesAndServices.assign(record.modes.begin(), record.modes.end());
    record.modesAndServices.insert(record.modesAndServices.end(), record.services.begin(), record.services.end());
    return true;
}
