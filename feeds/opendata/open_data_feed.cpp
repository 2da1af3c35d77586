#include "feeds/opendata/open_data_feed.h"

#include <time.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "core/config/config_keys.h"
#include "core/feed/json_document.h"
#include "core/feed/symbol_list.h"
#include "platform/file_root.h"
#include "platform/strings.h"

namespace {
// Deeper documents are not arrivals.
constexpr int kJsonStackLimit = 200;

std::string formatLocalClock(const std::string& posixText) {
    time_t t = static_cast<time_t>(std::strtoll(posixText.c_str(), nullptr, 10));
    struct tm local {};
    if (!localtime_r(&t, &local)) return "";
    char text[16] = {};
    strftime(text, sizeof text, "%H:%M", &local);
    return text;
}

template <typename Container>
std::vector<std::string> toVector(const Container& items) {
    return std::vector<std::string>(items.begin(), items.end());
}
}  // namespace

namespace opendata {
bool readJsonArray(const std::string& text, JsonDocument& document, const char* failedLog, const char* notArrayLog,
                   size_t maxJsonValues) {
    std::string errors;
    if (!readJson(text, document, errors, maxJsonValues)) {
        logLine(8, failedLog, errors);
        return false;
    }
    if (!document.root().isArray() || document.root().empty()) {
        logLine(8, notArrayLog);
        return false;
    }
    return true;
}

bool readJson(const std::string& text, JsonDocument& document, std::string& errors, size_t maxJsonValues) {
    return readJsonDocument(text, document, errors, maxJsonValues, kJsonStackLimit);
}

int64_t readUtcDateTime(const std::string& text, const char* format) {
    struct tm broken {};
    strptime(text.c_str(), format, &broken);
    return static_cast<int64_t>(timegm(&broken));
}

}  // namespace opendata

OpenDataFeedImpl::OpenDataFeedImpl(const std::string& url, const char* urlKey) : m_url(url), m_urlKey(urlKey) {}

void OpenDataFeedImpl::readModuleParmMap() {
    const Json::Value& params = moduleParams();
    m_testVehicleId = readStringKey(params, "open_data_test_vehicle_id");
    m_testFeedFile = readStringKey(params, "open_data_test_feed_file");
    m_vehicleIdKey = readStringKey(params, "open_data_vehicle_id_key");
    m_vehicleIdStripChars = readIntKey(params, "open_data_vehicle_id_strip_chars");
    m_timingPointsOnly = readFlagKey(params, "open_data_timing_points_only");
    logLine(2, "OpenDataFeedImpl::readModuleParmMap parameters -", " vehicle_id_key: '", m_vehicleIdKey, "'",
            " vehicle_id_strip_chars: ", m_vehicleIdStripChars, " timing_points_only: ", m_timingPointsOnly);
    if (!m_testVehicleId.empty())
        logLine(2, "OpenDataFeedImpl::readModuleParmMap parameters -", " using test vehicle ID:", m_testVehicleId);
}

CurlCommand OpenDataFeedImpl::createCurlCommand(const std::string& url, const std::string& curlParams,
                                                const std::string& vehicleId) {
    CurlCommand command = downloader().command(curlParams);
    command.carriesCredential().url(addUrlParameter(url, m_vehicleIdKey, vehicleId), m_urlKey);
    logLine(2, "OpenData download command: ", command.logText());
    return command;
}

bool OpenDataFeedImpl::readTestFeedFile(const std::string& path, std::string& text) const {
    if (path.empty()) return false;
    text = readFileToString(path);
    return text.size() >= opendata::kUsableDocumentMinBytes;
}

bool OpenDataFeedImpl::fetchFromServer(const std::string& curlParams, const std::string& vehicleId,
                                       std::string& text) {
    text = downloader().fetch(createCurlCommand(m_url, curlParams, vehicleId));
    if (text.size() < opendata::kUsableDocumentMinBytes) return false;
    logLine(4, "OpenDataFeedImpl::downloadData - downloaded data from server: ", text.size(), " bytes. ");
    return true;
}

int OpenDataFeedImpl::downloadData(std::string curlParams) {
    std::string vehicleId = !m_testVehicleId.empty()
                                ? m_testVehicleId
                                : readVehicleId(static_cast<unsigned>(std::max<int32_t>(0, m_vehicleIdStripChars)));
    std::string text;
    if (readTestFeedFile(m_testFeedFile, text)) {
        logLine(4, "OpenDataFeedImpl::downloadData - loaded data from test file: ", m_testFeedFile, ": ",
                text.size(), " bytes. ", "The OpenData server won't be contacted.");
    } else if (!fetchFromServer(curlParams, vehicleId, text)) {
        logLine(8, "OpenDataFeedImpl::downloadData - unable to load data. Giving up this attempt. Will retry.");
        addPair("open_data_has_connection", "0");
        addPair("open_data_has_data", "0");
        return 0;
    }

    OpenDataArrivals result;
    try {
        result = parse(text);
    } catch (const std::exception& e) {
        logLine(16, "OpenDataFeedImpl::downloadData: exception: ", e.what());
        result = OpenDataArrivals();
    }
    if (!result.ok) {
        logLine(8, "OpenDataFeedImpl::downloadData - unable to parse data. Giving up this attempt.");
        addPair("open_data_has_connection", "0");
        addPair("open_data_has_data", "0");
        return 0;
    }
    addPair("open_data_vehicle_id", vehicleId);
    addPair("open_data_has_connection", "1");
    markUsableData();
    addArrivalPairs(result);
    logLine(2, "OpenDataFeedImpl::downloadData - parsed sucesfully");
    if (CDebug::messageLevelAboveOne()) printArrivals(result);
    return 1;
}

std::string OpenDataFeedImpl::splitStopName(const std::string& stopName) {
    std::vector<std::string> parts = CSVsplit(stopName, "/");
    if (parts.size() == 2) return parts[0] + " /\n" + parts[1];
    return stopName;
}

void OpenDataFeedImpl::addArrivalPairs(const OpenDataArrivals& result) {
    ListBuilder pointIds, stopNames, splitNames, scheduled, expected, arrival, status, timeToStation, stopType,
        interchange, modes, services, modesAndServices, tube, tubeLineColour, tubeTextColour;
    for (const auto& r : result.arrivals) {
        pointIds.addBare(r.pointId);
        stopNames.add(r.stopName);
        splitNames.add(splitStopName(r.stopName));
        scheduled.addBare(r.scheduledArrivalTime);
        expected.addBare(r.expectedArrivalTime);
        bool hasExpected = !r.expectedArrivalTime.empty() && r.expectedArrivalTime != "0";
        arrival.addBare(hasExpected ? r.expectedArrivalTime : r.scheduledArrivalTime);
        status.add(r.status);
        timeToStation.addBare(r.timeToStation);
        stopType.add(r.stopType);
        interchange.add(r.interchange ? "true" : "false");
        modes.addNested(toVector(r.modes));
        services.addNested(toVector(r.services));
        modesAndServices.addNested(r.modesAndServices);
        tube.addNested(r.tubeConnections);
        tubeLineColour.addNested(r.tubeConnectionsLineColour);
        tubeTextColour.addNested(r.tubeConnectionsTextColour);
    }
    addPair("open_data_has_data", result.arrivals.empty() ? "0" : "1");
    addPair("open_data_arrivals_line_name", result.lineName);
    addPair("open_data_arrivals_destination", result.destination);
    addPair("open_data_arrivals_point_id_array", pointIds.str());
    addPair("open_data_arrivals_stop_name_array", stopNames.str());
    addPair("open_data_arrivals_stop_name_split_array", splitNames.str());
    addPair("open_data_arrivals_scheduled_arrival_time_array", scheduled.str());
    addPair("open_data_arrivals_expected_arrival_time_array", expected.str());
    addPair("open_data_arrivals_arrival_time_array", arrival.str());
    addPair("open_data_arrivals_status_array", status.str());
    addPair("open_data_arrivals_time_to_station_array", timeToStation.str());
    addPair("open_data_arrivals_stop_type_array", stopType.str());
    addPair("open_data_arrivals_interchange_array", interchange.str());
    addPair("open_data_arrivals_modes_array", modes.str());
    addPair("open_data_arrivals_services_array", services.str());
    addPair("open_data_arrivals_modes_and_services_array", modesAndServices.str());
    addPair("open_data_arrivals_tube_connections_array", tube.str());
    addPair("open_data_arrivals_tube_connections_line_colour_array", tubeLineColour.str());
    addPair("open_data_arrivals_tube_connections_text_colour_array", tubeTextColour.str());
}

void OpenDataFeedImpl::printArrivals(const OpenDataArrivals& result) {
    const std::string rule = "|" + std::string(159, '-');
    std::ostringstream table;
    table << rule << '\n'
          << "| Open Data arrivals\n"
          << "|   Line Name: " << result.lineName << '\n'
          << "|   Destination: " << result.destination << '\n'
          << "| " << std::left << std::setw(32) << "Stop" << std::setw(12) << "Scheduled" << std::setw(12)
          << "Expected" << '\n'
          << rule << '\n';
    for (const auto& r : result.arrivals)
        table << "| " << std::left << std::setw(32) << r.stopName << std::setw(12)
              << formatLocalClock(r.scheduledArrivalTime) << std::setw(12) << formatLocalClock(r.expectedArrivalTime)
              << '\n';
    CDebug::printTable(table.str());
}
