#include "feeds/rail_siri/darwin_feed.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <iomanip>
#include <sstream>

#include "core/config/config_keys.h"
#include "core/fetch/secrets.h"
#include "core/fetch/downloader.h"
#include "core/feed/symbol_list.h"
#include "core/feed/xml_dom.h"
#include "core/feed/xml_text.h"
#include "platform/clock.h"
#include "platform/strings.h"
#include "util/text_clean.h"

namespace {
using XmlNode = rapidxml::xml_node<>;

constexpr const char* kSoapEnvelopeNs = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr const char* kLdbRequestNs = "http://thalesgroup.com/RTTI/2017-10-01/ldb/";
constexpr const char* kLdbTokenNs = "http://thalesgroup.com/RTTI/2013-11-28/Token/types";
// Lists are walked by element name (services, locations, messages): any other
// element among them would read as a departure without times and keep the
// whole board from being exported.
constexpr const char* kServiceElement = "lt7:service";
constexpr const char* kLocationElement = "lt4:location";
constexpr const char* kServiceListPrefix = "lt7";
// A departure that left less than this long ago is still on the platform.
constexpr int64_t kDepartedGraceSeconds = 59;

// atoi's reading of a decimal prefix, clamped to int instead of overflowing.
int leadingInt(const std::string& text) {
    errno = 0;
    long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

// One or two decimal digits, nothing else.
bool clockNumber(const std::string& text, int& value) {
    if (text.empty() || text.size() > 2) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

// Walks the lt4:location elements under parent/containerName. fill() gets
// each location and returns false when it lacks its name or code; between
// locations separate() appends " & " to the fields being built.
template <typename Fill, typename Separate>
bool walkLocations(const XmlNode* service, const char* containerName, Fill fill, Separate separate) {
    const XmlNode* container = service->first_node(containerName);
    if (!container) return true;
    bool complete = true;
    for (const XmlNode* location = container->first_node(kLocationElement); location;) {
        if (!fill(location)) complete = false;
        location = location->next_sibling(kLocationElement);
        if (location) separate();
    }
    return complete;
}

// A service list under a prefix other than the one read (an older or newer
// schema) holds departures this feed would miss: the board is unreadable,
// not empty. The service leaves the lists out when nothing departs.
const XmlNode* unreadableServiceList(const XmlNode* board) {
    for (const XmlNode* child = board->first_node(); child; child = child->next_sibling()) {
        const std::string name(child->name(), child->name_size());
        const size_t colon = name.find(':');
        const std::string local = colon == std::string::npos ? name : name.substr(colon + 1);
        const std::string prefix = colon == std::string::npos ? "" : name.substr(0, colon);
        const bool serviceList = local == "trainServices" || local == "busServices" || local == "ferryServices";
        if (serviceList && prefix != kServiceListPrefix) return child;
    }
    return nullptr;
}

std::string childTextOr(const XmlNode* node, const char* name, const std::string& missing) {
    const XmlNode* child = node->first_node(name);
    return child ? xmlNodeText(child) : missing;
}
}  // namespace

DarwinFeedImpl::DarwinFeedImpl() { logLine(2, "DarwinFeedImpl - entering constructor"); }

DarwinFeedImpl::~DarwinFeedImpl() { logLine(2, "DarwinFeedImpl - entering destructor"); }

bool DarwinFeedImpl::symbolUpdate(const std::string& name, int, const std::string& value) {
    if (value.empty()) return false;
    if (name == "crs") {
        m_importedCrs = value;
        logLine(2, "DarwinFeedImpl::symbolUpdate: crs tag value: ", value);
        return true;
    }
    if (name == "crs_xmins") {
        m_minutesWindow = leadingInt(value);
        logLine(2, "DarwinFeedImpl::symbolUpdate: crs_xmins tag value: ", m_minutesWindow);
        return true;
    }
    return false;
}

void DarwinFeedImpl::readParameters() {
    const Json::Value& params = moduleParams();
    m_testCrs = readStringKey(params, "rail_departures_test_crs");
    if (hasKey(params, "rail_departures_test_crs_xmins"))
        m_minutesWindow = readIntKey(params, "rail_departures_test_crs_xmins");
    const std::string token = readStringKey(params, "rail_departures_client_token");
    if (!token.empty()) {
        m_token = token;
        logLine(2, "DarwinFeedImpl: AuthToken: ", maskSecret(m_token));
    } else {
        logLine(16, "DarwinFeedImpl: Missing Authentication Token.");
    }
    m_rowCount = readStringKey(params, "rail_departures_max_row_count");
    logLine(2, "DarwinFeedImpl: Number of rows to request: ", m_rowCount);
    m_endpoint = readStringKey(params, "rail_departures_url");
}

int DarwinFeedImpl::downloadData(std::string curlParams) {
    try {
        readParameters();
        const std::string crs = m_importedCrs.empty() ? m_testCrs : m_importedCrs;
        std::string response;
        if (readOfflineFile(kDarwinOfflinePath, response, 4,
                            "DarwinFeedImpl:downloadData - Offline test file used. "
                            "The Darwin server won't be contacted.")) {
        } else if (crs.empty()) {
            logLine(2, "DarwinFeedImpl:downloadData skipping empty crs request");
        } else {
            logLine(2, "DarwinFeedImpl:downloadData accessing Darwin feed for ", crs);
            response = downloader().fetch(createCurlCommand(crs, curlParams));
        }
        logLine(2, "DarwinFeedImpl:downloadData - Retrieved data: ", response.size());
        if (parse(response)) prepareExportsymbols();
    } catch (const std::exception& e) {
        m_boardFound = false;
        logLine(16, "DarwinFeedImpl:downloadData - exception: ", e.what());
    }
    // A board that answered is a connection even when it lists no departures
    // (late at night): displays then show an empty board rather than a stale one.
    if (m_boardFound) {
        addPair("rail_departures_has_connection", "1");
        markUsableData();
        logLine(2, "DarwinFeedImpl:downloadData - parsed sucesfully");
    } else {
        addPair("rail_departures_has_connection", "0");
        logLine(8, "DarwinFeedImpl:downloadData - connection failed");
    }
    if (CDebug::messageLevelAboveOne()) {
        std::ostringstream table;
        printDepartureTable(table);
        CDebug::printTable(table.str());
    }
    return 1;
}

std::string DarwinFeedImpl::requestDocument(const std::string& token, const std::string& rowCount,
                                            const std::string& crs) {
    std::string request = "<?xml version=\"1.0\"?> ";
    request += std::string(" <SOAP-ENV:Envelope xmlns:SOAP-ENV=\"") + kSoapEnvelopeNs + "\" xmlns:ns1=\"" +
               kLdbRequestNs + "\" xmlns:ns2=\"" + kLdbTokenNs + "\"> ";
    request += "    <SOAP-ENV:Header> ";
    request += "        <ns2:AccessToken> ";
    request += "            <ns2:TokenValue>" + xmlEscape(token) + "</ns2:TokenValue> ";
    request += "        </ns2:AccessToken> ";
    request += "    </SOAP-ENV:Header> ";
    request += "    <SOAP-ENV:Body> ";
    request += "        <ns1:GetDepartureBoardRequest> ";
    request += "            <ns1:numRows>" + xmlEscape(rowCount) + "</ns1:numRows> ";
    request += "            <ns1:crs>" + xmlEscape(crs) + "</ns1:crs> ";
    request += "        </ns1:GetDepartureBoardRequest> ";
    request += "    </SOAP-ENV:Body> ";
    request += "</SOAP-ENV:Envelope>";
    return request;
}

std::string DarwinFeedImpl::buildDepartureBoardRequest(const std::string& crs) const {
    return requestDocument(m_token, m_rowCount, crs);
}

CurlCommand DarwinFeedImpl::createCurlCommand(const std::string& crs, const std::string& curlParams) const {
    CurlCommand command = downloader().command(curlParams);
    command.carriesCredential().arg("-X").arg("POST").header("Content-Type", "text/xml");
    command.body(buildDepartureBoardRequest(crs), requestDocument(maskSecret(m_token), m_rowCount, crs))
        .url(m_endpoint, "rail_departures_url");
    logLine(2, "createCurlCommand: ", command.logText());
    return command;
}

bool DarwinFeedImpl::parse(const std::string& text) {
    logLine(2, "DarwinFeedImpl::parse - processing: ", text.size(), " bytes.");
    std::string error;
    if (!parseXmlInPlace(m_document, m_buffer, text, error))
        logLine(8, "DarwinFeedImpl::parse - parsing failed (", error, ")");
    m_departures.clear();
    m_boardFound = false;

    const XmlNode* node = &m_document;
    static const char* const kPath[] = {"soap:Envelope", "soap:Body", "GetDepartureBoardResponse",
                                        "GetStationBoardResult"};
    for (const char* step : kPath) {
        node = node->first_node(step);
        if (!node) return false;
        logLine(2, "DarwinFeedImpl::parse - ", step, " found");
    }
    const XmlNode* board = node;
    if (const XmlNode* list = unreadableServiceList(board)) {
        logLine(8, "DarwinFeedImpl::parse - the board holds a service list this feed cannot read: ",
                std::string(list->name(), list->name_size()));
        return false;
    }
    m_boardFound = true;

    // Every board field comes from this response: a field it lacks is empty
    // rather than left over from an earlier board, maybe of another station.
    m_locationName = xmlChildText(board, "lt4:locationName");
    logLine(2, "DarwinFeedImpl::parse - locationName: ", m_locationName);
    m_generatedAt = xmlChildText(board, "lt4:generatedAt");
    logLine(2, "DarwinFeedImpl::parse - generatedAt: ", m_generatedAt);
    m_crs = xmlChildText(board, "lt4:crs");
    logLine(2, "DarwinFeedImpl::parse - crs: ", m_crs);
    m_platformAvailable = xmlChildText(board, "lt4:platformAvailable");
    logLine(2, "DarwinFeedImpl::parse - platformAvailable: ", m_platformAvailable);

    m_messages.clear();
    if (const XmlNode* messages = board->first_node("lt4:nrccMessages")) {
        for (const XmlNode* message = messages->first_node("lt:message"); message;
             message = message->next_sibling("lt:message")) {
            std::string cleaned = xmlNodeText(message);
            removeHTMLtags(cleaned);
            m_messages += cleaned + " ";
        }
        logLine(2, "DarwinFeedImpl::parse - nrccMessage: ", m_messages);
    }

    m_servicesAvailable = childTextOr(board, "lt4:areServicesAvailable", "true");
    logLine(2, "DarwinFeedImpl::parse station: ", m_locationName);

    // A service list that holds no service is an empty list, as one that is
    // missing: the board is still exported, so the last station's departures
    // do not stay on the displays.
    bool complete = true;
    if (const XmlNode* trains = board->first_node("lt7:trainServices")) {
        logLine(2, "DarwinFeedImpl::parse - processing trsinServices ");
        if (const XmlNode* first = trains->first_node(kServiceElement)) complete = parseService(first) && complete;
    }
    if (const XmlNode* buses = board->first_node("lt7:busServices")) {
        logLine(2, "DarwinFeedImpl::parse - processing busServices ");
        if (const XmlNode* first = buses->first_node(kServiceElement)) complete = parseService(first) && complete;
    }
    return complete;
}

bool DarwinFeedImpl::parseService(const XmlNode* first) {
    if (!first) {
        logLine(8, "DarwinFeedImpl::parseService - no data availables ");
        return false;
    }
    bool complete = true;
    for (const XmlNode* service = first; service; service = service->next_sibling(kServiceElement)) {
        DarwinService record;
        complete = walkLocations(
                       service, "lt5:origin",
                       [&](const XmlNode* location) {
                           const XmlNode* name = location->first_node("lt4:locationName");
                           const XmlNode* crs = location->first_node("lt4:crs");
                           if (!name || !crs) return false;
                           record.originName += xmlNodeText(name);
                           record.originCrs += xmlNodeText(crs);
                           return true;
                       },
                       [&] {
                           record.originName += " & ";
                           record.originCrs += " & ";
                       }) &&
                   complete;
        complete = walkLocations(
                       service, "lt5:destination",
                       [&](const XmlNode* location) {
                           const XmlNode* name = location->first_node("lt4:locationName");
                           const XmlNode* crs = location->first_node("lt4:crs");
                           if (name && crs) {
                               record.destinationName += xmlNodeText(name);
                               record.destinationShortName += xmlNodeText(name);
                               record.destinationCrs += xmlNodeText(crs);
                           }
                           if (const XmlNode* via = location->first_node("lt4:via"))
                               record.destinationName += " " + xmlNodeText(via);
                           return name && crs;
                       },
                       [&] {
                           record.destinationName += " & ";
                           record.destinationShortName += " & ";
                           record.destinationCrs += " & ";
                       }) &&
                   complete;
        const XmlNode* stdNode = service->first_node("lt4:std");
        const XmlNode* etdNode = service->first_node("lt4:etd");
        if (!stdNode || !etdNode) complete = false;
        record.std = xmlNodeText(stdNode);
        record.etd = xmlNodeText(etdNode);
        record.platform = childTextOr(service, "lt4:platform", " ");
        record.operatorName = xmlChildText(service, "lt4:operator");
        record.operatorCode = xmlChildText(service, "lt4:operatorCode");
        record.isCircularRoute = childTextOr(service, "lt4:isCircularRoute", "false");
        record.isCancelled = childTextOr(service, "lt4:isCancelled", "false");
        record.cancelReason = xmlChildText(service, "lt4:cancelReason");
        record.delayReason = xmlChildText(service, "lt4:delayReason");
        logLine(2, "===  ", record.std, " ", record.originName, " -> ", record.destinationName,
                " Platform: ", record.platform, " ", record.etd);
        m_departures.push_back(std::move(record));
    }
    return complete;
}

bool DarwinFeedImpl::isWithinMinutes(const std::string& stdText, int window, int64_t now) {
    if (window <= 0) return false;
    const time_t nowTime = static_cast<time_t>(now);
    struct tm today {};
    if (!localtime_r(&nowTime, &today)) return false;
    const std::vector<std::string> parts = CSVsplit(stdText, ":");
    int hour = 0;
    int minute = 0;
    if (parts.size() != 2 || !clockNumber(parts[0], hour) || !clockNumber(parts[1], minute)) return false;
    // Today's departure, and tomorrow's for times just after midnight.
    for (int dayOffset = 0; dayOffset <= 1; ++dayOffset) {
        struct tm candidate = today;
        candidate.tm_hour = hour;
        candidate.tm_min = minute;
        candidate.tm_sec = 0;
        candidate.tm_mday += dayOffset;
        candidate.tm_isdst = -1;
        const time_t departure = mktime(&candidate);
        if (departure == static_cast<time_t>(-1)) continue;
        const int64_t at = static_cast<int64_t>(departure);
        if (at >= now - kDepartedGraceSeconds && at <= now + 60 * static_cast<int64_t>(window)) return true;
    }
    return false;
}

void DarwinFeedImpl::prepareExportsymbols() {
    const int64_t now = wallClockSeconds();
    ListBuilder stdList, destinationName, destinationShortName, destinationCrs, platform, etd, operatorName,
        originName, originCrs, operatorCode, circular, cancelled, cancelReason, delayReason, alerts;
    for (const DarwinService& service : m_departures) {
        if (isWithinMinutes(service.std, m_minutesWindow, now)) {
            logLine(2, "DarwinFeedImpl::prepareExportsymbols: skipping departure ", service.std, " to ",
                    service.destinationName, " expected ", service.etd, " because it's within ",
                    m_minutesWindow, " minutes ");
            continue;
        }
        stdList.add(service.std);
        destinationName.add(service.destinationName);
        destinationShortName.add(service.destinationShortName);
        destinationCrs.add(service.destinationCrs);
        platform.add(service.platform);
        etd.add(service.etd);
        operatorName.add(service.operatorName);
        originName.add(service.originName);
        originCrs.add(service.originCrs);
        operatorCode.add(service.operatorCode);
        circular.add(service.isCircularRoute);
        cancelled.add(service.isCancelled);
        cancelReason.add(service.cancelReason);
        delayReason.add(service.delayReason);
        alerts.add(service.alerts);
    }
    addPair("departures_station_board_location_name", m_locationName);
    addPair("departures_station_board_generated_at", m_generatedAt);
    addPair("departures_station_board_crs", m_crs);
    addPair("departures_station_board_platform_available", m_platformAvailable);
    addPair("departures_station_board_services_available", m_servicesAvailable);
    addPair("departures_station_board_messages", m_messages);
    addPair("departure_train_service_std_array", stdList.str());
    addPair("departure_train_service_destination_name_array", destinationName.str());
    addPair("departure_train_service_destination_short_name_array", destinationShortName.str());
    addPair("departure_train_service_destination_crs_array", destinationCrs.str());
    addPair("departure_train_service_platform_array", platform.str());
    addPair("departure_train_service_etd_array", etd.str());
    addPair("departure_train_service_operator_array", operatorName.str());
    addPair("departure_train_service_origin_name_array", originName.str());
    addPair("departure_train_service_origin_crs_array", originCrs.str());
    addPair("departure_train_service_operator_code_array", operatorCode.str());
    addPair("departure_train_service_circular_route_array", circular.str());
    addPair("departure_train_service_cancelled_array", cancelled.str());
    addPair("departure_train_service_cancel_reason_array", cancelReason.str());
    addPair("departure_train_service_delay_reason_array", delayReason.str());
    addPair("departure_train_service_alerts_array", alerts.str());
}

void DarwinFeedImpl::printDepartureTable(std::ostream& out) const {
    const std::string rule = "|" + std::string(159, '-');
    out << rule << '\n';
    out << "| Departures from: " << m_locationName << std::string(67, ' ') << '\n';
    out << "| " << std::left << std::setw(7) << "Time" << std::setw(45) << "Origin" << std::setw(65)
        << "Destination" << std::setw(10) << "Expected" << std::setw(10) << "Platform" << std::setw(15)
        << "Operator   " << '\n';
    out << rule << '\n';
    const int64_t now = wallClockSeconds();
    for (const DarwinService& service : m_departures) {
        if (isWithinMinutes(service.std, m_minutesWindow, now)) continue;
        out << "| " << std::left << std::setw(7) << service.std << std::setw(45) << service.originName
            << std::setw(65) << service.destinationName << std::setw(10) << service.etd << std::setw(10)
            << service.platform << std::setw(19) << service.operatorName << std::setw(2) << "" << '\n';
    }
    out << rule << std::endl;
}
