#include "feeds/airport/flight_departures_feed.h"

#include "core/config/config_keys.h"
#include "core/feed/json_document.h"
#include "core/feed/symbol_list.h"

namespace {
const CachedFeedTexts kTexts = {
    "/vorn/media/offline/flight_departures.json",
    "OD_FlightDepartures: :downloadData - Offline test file used. The Web Server won't be contacted.",
    "OD_FlightDepartures: Retrieved; ",
    nullptr,
    "od_flight_departures: downloadData() parsing thrown an exceprion ",
    8,
};

// Statuses of flights that can no longer be caught; matched anywhere in the text.
const char* const kGoneStatuses[] = {"AIRBORNE", "TAXIED", "GATE CLOSED"};

bool stillBoarding(const std::string& status) {
    for (const char* gone : kGoneStatuses)
        if (status.find(gone) != std::string::npos) return false;
    return true;
}
}  // namespace

SymbolPairs parseFlightDepartures(const std::string& text, int maxRows, size_t maxJsonValues) {
    logLine(2, "FlightDataFeedImplData::parse - processing: ", text.size(), " bytes.");
    std::string errors;
    const JsonDocument document = jsonDocumentOf(text, errors, maxJsonValues);
    const JsonValue root = document.root();
    if (!root.isArray()) {
        logLine(8, "OD_FlightDepartures:  Parsing failed", errorTail(errors));
        logLine(2, "FlightDeparturesFeedImpl: No valid data from WebService");
        return {{"flight_departures_has_connection", "0"}};
    }
    logLine(2, "FlightDeparturesFeedImpl::parse - JSON parsed succesfully.");

    ListBuilder status, airline, flightNo, time, destination, gate;
    int count = 0;
    for (const JsonValue flight : root) {
        if (!jsonHasMember(flight, "Status")) continue;
        std::string statusText = jsonMemberText(flight, "Status");
        if (!stillBoarding(statusText)) continue;
        time.add(jsonMemberText(flight, "Time"));
        destination.add(jsonMemberText(flight, "PortOfCallA"));
        flightNo.add(jsonMemberText(flight, "FlightNo"));
        airline.add(jsonMemberText(flight, "Airline"));
        status.add(statusText);
        gate.add(jsonMemberText(flight, "Gate"));
        if (++count == maxRows) break;
    }
    logLine(2, "FlightDataFeedImplData: Loaded  ", count, " valid records");

    SymbolPairs pairs = {
        {"departure_flight_service_status_array", status.str()},
        {"departure_flight_service_airline_array", airline.str()},
        {"departure_flight_service_flight_no_array", flightNo.str()},
        {"departure_flight_service_time_array", time.str()},
        {"departure_flight_service_destination_array", destination.str()},
        {"departure_flight_service_gate_info_array", gate.str()},
    };
    if (count > 0) {
        pairs.emplace_back("flight_departures_has_connection", "1");
        logLine(2, "FlightDeparturesFeedImpl - Valid resords:", count);
    } else {
        pairs.emplace_back("flight_departures_has_connection", "0");
        logLine(2, "FlightDeparturesFeedImpl: No valid data from WebService");
    }
    return pairs;
}

FlightDeparturesFeedImpl::FlightDeparturesFeedImpl(const std::string& url) : CachedJsonFeedImpl(url, kTexts) {}

void FlightDeparturesFeedImpl::beginCycle() {
    m_maxRowCount = readIntKey(moduleParams(), "flight_departures_max_row_count");
    logLine(2, "FlightDeparturesFeedImpl: Number of rows to request: ", m_maxRowCount);
}

CurlCommand FlightDeparturesFeedImpl::downloadCommand(const std::string& curlParams) const {
    CurlCommand command = downloader().command(curlParams);
    command.carriesCredential().url(url(), "flight_departures_url");
    logLine(8, "OD_FlightDepartures download command: ", command.logText());
    return command;
}

int FlightDeparturesFeedImpl::parse(const std::string& text) {
    const SymbolPairs pairs = parseFlightDepartures(text, m_maxRowCount, downloader().limits().maxJsonValues);
    for (const auto& pair : pairs) addPair(pair.first, pair.second);
    return flagSet(pairs, "flight_departures_has_connection") ? 1 : 0;
}
