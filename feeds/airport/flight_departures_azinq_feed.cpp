#include "feeds/airport/flight_departures_azinq_feed.h"

#include "core/config/config_keys.h"
#include "core/feed/json_document.h"
#include "core/fetch/secrets.h"
#include "core/feed/symbol_list.h"
#include "feeds/airport/flight_departures_feed.h"

namespace {
const CachedFeedTexts kTexts = {
    kAzinqOfflinePath,
    "FlightDeparturesFeedAzinqImpl: :downloadData - Offline test file used. The Web Server won't be contacted.",
    "FlightDeparturesFeedAzinqImpl: Retrieved; ",
    "/tmp/flight_departures_azinq.json",
    "FlightDeparturesFeedAzinqImpl: downloadData() parsing thrown an exceprion: ",
    8,
};

// "YYYY-MM-DDTHH:MM:SS": the hours and minutes start here and take 5 characters.
constexpr size_t kTimeOfDayOffset = 11;
constexpr size_t kTimeOfDayLength = 5;

struct CodeText {
    char code;
    const char* text;
};
const CodeText kFlightStatuses[] = {
    {'D', "Off Block"}, {'N', "Info Due"}, {'S', "Scheduled"}, {'T', "Airborne"}, {'X', "Cancelled"},
};
const CodeText kGateActions[] = {
    {'B', "Boarding"}, {'C', "Gate Closed"}, {'F', "Final Call"}, {'I', "Go to Gate"},
};

template <size_t N>
std::string codeText(const CodeText (&table)[N], const std::string& code, const char* unknownMessage) {
    if (!code.empty())
        for (const CodeText& entry : table)
            if (entry.code == code[0]) return entry.text;
    logLine(8, "FlightDeparturesFeedAzinqImpl - ", unknownMessage, code);
    return "";
}

bool contains(const std::string& text, char c) { return text.find(c) != std::string::npos; }
}  // namespace

std::string azinqFlightStatusText(const std::string& code) {
    return codeText(kFlightStatuses, code, "unrecognized FlightStatus: ");
}

std::string azinqGateActionText(const std::string& code) {
    return codeText(kGateActions, code, "unrecognized GateActionCode: ");
}

SymbolPairs parseAzinqDepartures(const std::string& text, int maxRows, bool showCancelled, size_t maxJsonValues) {
    logLine(2, "FlightDeparturesFeedAzinqImpl::parse - processing: ", text.size(), " bytes.");
    // A document that is just "null" carries no board either, so it counts as a failure.
    std::string errors;
    const JsonDocument document = jsonDocumentOf(text, errors, maxJsonValues);
    const JsonValue root = document.root();
    if (root.isNull()) {
        logLine(8, "FlightDeparturesFeedAzinqImpl:  Parsing failed", errorTail(errors));
        return {{"flight_departures_has_connection", "0"}};
    }
    logLine(2, "FlightDeparturesFeedAzinqImpl::parse - JSON parsed succesfully.");
    if (!root.isArray()) {
        logLine(8, "FlightDeparturesFeedAzinqImpl - Unexected JSON data format (array expected)");
        return {};
    }

    ListBuilder status, gate, airline, flightNo, time, destination;
    int count = 0;
    for (const JsonValue flight : root) {
        if (!jsonHasMember(flight, "FlightStatus")) continue;
        std::string flightStatus = jsonMemberText(flight, "FlightStatus");
        if (!showCancelled && contains(flightStatus, 'X')) {
            logLine(2, "Skipping cancelled flight  ");
            continue;
        }
        // Arrivals, airborne and off-block flights are of no use to a passenger on the way.
        if (contains(jsonMemberText(flight, "DepartureArrivalType"), 'A') || contains(flightStatus, 'T') ||
            contains(flightStatus, 'D'))
            continue;

        std::string airlineCode = jsonMemberText(flight, "AirlineIATA");
        std::string number = airlineCode + jsonMemberText(flight, "FlightNumber");
        std::string scheduled = jsonMemberText(flight, "ScheduledDateTime");
        if (scheduled.size() < kTimeOfDayOffset) {
            logLine(8, "FlightDeparturesFeedAzinqImpl - skipping flight ", number,
                    ": ScheduledDateTime too short: \"", scheduled, "\"");
            continue;
        }
        std::string gateAction = jsonMemberText(flight, "GateActionCode");
        // Only a scheduled flight with a gate action shows the gate; every
        // other flight shows its flight status and no gate.
        bool atGate = flightStatus == "S" && !gateAction.empty();

        time.add(scheduled.substr(kTimeOfDayOffset, kTimeOfDayLength));
        destination.add(jsonMemberText(flight, "OriginDestAirportDescFormatted"));
        airline.add(airlineCode);
        flightNo.add(number);
        status.add(atGate ? azinqGateActionText(gateAction) : azinqFlightStatusText(flightStatus));
        gate.add(atGate ? jsonMemberText(flight, "GateCode") : "");
        if (++count == maxRows) break;
    }
    logLine(2, "FlightDeparturesFeedAzinqImpl: Loaded  ", count, " valid records");

    SymbolPairs pairs = {
        {"departure_flight_service_status_array", status.str()},
        {"departure_flight_service_gate_info_array", gate.str()},
        {"departure_flight_service_airline_array", airline.str()},
        {"departure_flight_service_flight_no_array", flightNo.str()},
        {"departure_flight_service_time_array", time.str()},
        {"departure_flight_service_destination_array", destination.str()},
    };
    if (count > 0) {
        pairs.emplace_back("flight_departures_has_connection", "1");
        logLine(2, "FlightDeparturesFeedAzinqImpl - Valid resords:", count);
    } else {
        pairs.emplace_back("flight_departures_has_connection", "0");
        logLine(2, "FlightDeparturesFeedAzinqImpl: No valid data from WebService");
    }
    return pairs;
}

FlightDeparturesFeedAzinqImpl::FlightDeparturesFeedAzinqImpl(const std::string& url)
    : CachedJsonFeedImpl(url, kTexts), m_maxRowCount(kFlightDeparturesDefaultRows) {}

void FlightDeparturesFeedAzinqImpl::readModuleParmMap() {
    // The account belongs to the deployment: no credential is built in.
    m_username = readStringKey(moduleParams(), "flight_departures_username");
    m_password = readStringKey(moduleParams(), "flight_departures_password");
    m_token = readStringKey(moduleParams(), "flight_departures_token");
    m_showCancelled = readIntKey(moduleParams(), "flight_departures_show_cancelled");
    logLine(2, "FlightDeparturesFeedAzinqImpl::readModuleParmMap parameters - username: ", maskSecret(m_username),
            ", password: ", maskSecret(m_password), ", token: ", maskSecret(m_token),
            ", show conceled flights: ", m_showCancelled);
}

void FlightDeparturesFeedAzinqImpl::beginCycle() {
    m_maxRowCount = readIntKey(moduleParams(), "flight_departures_max_row_count");
    logLine(2, "FlightDeparturesFeedAzinqImpl: Number of rows to request: ", m_maxRowCount);
}

bool FlightDeparturesFeedAzinqImpl::canDownload() const {
    if (!m_username.empty() && !m_password.empty() && !m_token.empty()) return true;
    logLine(16, "FlightDeparturesFeedAzinqImpl: missing credentials (flight_departures_username, "
                "flight_departures_password, flight_departures_token); no request sent");
    return false;
}

CurlCommand FlightDeparturesFeedAzinqImpl::downloadCommand(const std::string& curlParams) const {
    CurlCommand command = downloader().command(curlParams);
    command.carriesCredential()
        .secretHeader("username", m_username, "flight_departures_username")
        .secretHeader("password", m_password, "flight_departures_password")
        .secretHeader("token", m_token, "flight_departures_token")
        .url(url(), "flight_departures_azinq_url");
    logLine(2, "FlightDeparturesFeedAzinqImpl download command: ", command.logText());
    return command;
}

int FlightDeparturesFeedAzinqImpl::parse(const std::string& text) {
    const SymbolPairs pairs =
        parseAzinqDepartures(text, m_maxRowCount, m_showCancelled != 0, downloader().limits().maxJsonValues);
    for (const auto& pair : pairs) addPair(pair.first, pair.second);
    return flagSet(pairs, "flight_departures_has_connection") ? 1 : 0;
}
