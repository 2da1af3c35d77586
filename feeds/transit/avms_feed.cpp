#include "feeds/transit/avms_feed.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <vector>

#include "core/feed/json_document.h"
#include "core/feed/json_value_text.h"
#include "core/feed/symbol_list.h"
#include "platform/file_root.h"
#include "util/time_convert.h"

namespace {

// Far more than the longest journey's delivery.
constexpr size_t kMaxDeliveryBytes = 4 * 1024 * 1024;

// A delivery file's text; "" when it is missing. The files lie in a folder
// every local user can write to, so only a regular file of sensible size is
// read: a FIFO or a link to a device left under the delivery's name would
// otherwise stall the module's only thread or fill its memory. Such a file
// reads as "" and problem names it.
std::string readDeliveryFile(const std::string& path, std::string& problem) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return "";
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        problem = "not a regular file";
        return "";
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (text.size() + static_cast<size_t>(n) > kMaxDeliveryBytes) {
            problem = "larger than " + std::to_string(kMaxDeliveryBytes) + " bytes";
            text.clear();
            break;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return text;
}

// How a member becomes a symbol value. The "IfString" kinds skip members
// that are not JSON strings; a flag is exported only for JSON booleans.
enum class Kind { Text, TextIfString, Time, TimeIfString, Flag };

struct Field {
    const char* key;
    const char* symbol;
    Kind kind;
};
using Fields = std::vector<Field>;

// The member's symbol value, or false when the kind's type test rejects it.
// Objects, arrays and null never convert: they are treated as absent.
bool convert(JsonValue member, Kind kind, std::string& value) {
    if ((kind == Kind::TextIfString || kind == Kind::TimeIfString) && !member.isString()) return false;
    if (kind == Kind::Flag) {
        if (!member.isBool()) return false;
        value = member.asBool() ? "1" : "0";
        return true;
    }
    std::string text;
    if (!jsonScalarText(member, text)) return false;
    value = (kind == Kind::Time || kind == Kind::TimeIfString) ? AVMS_FeedImpl::timeText(text) : text;
    return true;
}

void exportFields(JsonValue record, const Fields& fields, SymbolPairs& pairs) {
    for (const Field& field : fields) {
        const JsonValue member = jsonMember(record, field.key);
        std::string value;
        if (member && convert(member, field.kind, value)) pairs.emplace_back(field.symbol, value);
    }
}

// A list held as container/element: a single element written as an object
// and several written as an array read alike. Each field builds its own
// array in one pass; an element that lacks a field (or whose member fails
// the kind's type test) leaves an empty place in that field's array, so the
// n-th value of every array belongs to the n-th call. Nothing is exported
// when the container is absent.
void exportList(JsonValue record, const char* container, const char* element, const Fields& fields,
                SymbolPairs& pairs) {
    JsonValue list = jsonMember(record, container);
    if (!list) return;
    if (const JsonValue inner = jsonMember(list, element)) list = inner;
    std::vector<ListBuilder> arrays(fields.size());
    auto addItem = [&](JsonValue item) {
        for (size_t i = 0; i < fields.size(); ++i) {
            const JsonValue member = jsonMember(item, fields[i].key);
            std::string value;
            if (member && convert(member, fields[i].kind, value))
                arrays[i].add(value);
            else
                arrays[i].addMissing();
        }
    };
    if (list.isArray()) {
        for (const JsonValue item : list) addItem(item);
    } else {
        addItem(list);
    }
    for (size_t i = 0; i < fields.size(); ++i) pairs.emplace_back(fields[i].symbol, arrays[i].str());
}

// The member at the end of a chain of object keys, or missing.
JsonValue memberAt(JsonValue record, std::initializer_list<const char*> keys) {
    JsonValue at = record;
    for (const char* key : keys) {
        at = jsonMember(at, key);
        if (!at) break;
    }
    return at;
}

void exportPathField(JsonValue record, std::initializer_list<const char*> keys, const char* symbol,
                     Kind kind, SymbolPairs& pairs) {
    const JsonValue member = memberAt(record, keys);
    std::string value;
    if (member && convert(member, kind, value)) pairs.emplace_back(symbol, value);
}

// Parses text, enters the two outer keys when present and hands the record
// to exporter. Type errors surface as exceptions: caught.
bool parseDelivery(const std::string& text, size_t maxJsonValues, const char* outer, const char* inner,
                   void (*exporter)(JsonValue, SymbolPairs&), SymbolPairs& pairs, std::string& errors) {
    JsonDocument document;
    if (!readJsonDocument(text, document, errors, maxJsonValues)) return false;
    try {
        JsonValue record = document.root();
        if (const JsonValue member = jsonMember(record, outer)) record = member;
        if (const JsonValue member = jsonMember(record, inner)) record = member;
        SymbolPairs found;
        exporter(record, found);
        pairs.insert(pairs.end(), found.begin(), found.end());
        return true;
    } catch (const std::exception& e) {
        errors = e.what();
        return false;
    }
}

const Fields kPlannedPatternHead = {
    {"RecordedAtTime", "avms_ppd_recorded_at_time", Kind::Time},
    {"PatternRef", "avms_ppd_pattern_ref", Kind::Text},
    {"VehicleJourneyRef", "avms_ppd_vehicle_journey_ref", Kind::Text},
    {"OperatingDayDate", "avms_ppd_operating_day_date", Kind::TextIfString},
    {"RouteRef", "avms_ppd_route_ref", Kind::Text},
    {"LineRef", "avms_ppd_line_ref", Kind::Text},
    {"PublishedLineLabel", "avms_ppd_published_line_label", Kind::Text},
    {"PublishedTtsLineLabel", "avms_ppd_published_tts_line_label", Kind::Text},
    {"LineShortName", "avms_ppd_line_short_name", Kind::TextIfString},
    {"LineName", "avms_ppd_line_name", Kind::TextIfString},
    {"LineLongName", "avms_ppd_long_line_name", Kind::TextIfString},
    {"DirectionRef", "avms_ppd_direction_ref", Kind::Text},
    {"ExternalLineRef", "avms_ppd_external_line_ref", Kind::Text},
    {"OriginPlaceRef", "avms_ppd_origin_place_ref", Kind::TextIfString},
    {"OriginName", "avms_ppd_origin_name", Kind::Text},
    {"OriginShortName", "avms_ppd_origin_short_name", Kind::TextIfString},
    {"OriginLongName", "avms_ppd_origin_long_name", Kind::TextIfString},
    {"OriginTtsName", "avms_ppd_origin_tts_name", Kind::TextIfString},
};
const Fields kPlannedPatternVia = {
    {"PlaceRef", "avms_ppd_via_place_ref", Kind::TextIfString},
};
const Fields kPlannedPatternTail = {
    {"DestinationPlaceRef", "avms_ppd_destination_place_ref", Kind::TextIfString},
    {"DestinationName", "avms_ppd_destination_name", Kind::TextIfString},
    {"DestinationShortName", "avms_ppd_destination_short_name", Kind::TextIfString},
    {"DestinationLongName", "avms_ppd_destination_long_name", Kind::TextIfString},
    {"DestinationTtsName", "avms_ppd_destination_tts_name", Kind::TextIfString},
};
const Fields kPatternStops = {
    {"StopPointRef", "avms_ppd_stop_point_refs", Kind::Text},
    {"VisitNumber", "avms_ppd_visit_numbers", Kind::TextIfString},
    {"Order", "avms_ppd_stop_order", Kind::Text},
    {"StopPointName", "avms_ppd_stop_point_names", Kind::Text},
    {"StopPointShortName", "avms_ppd_stop_point_short_names", Kind::Text},
    {"StopPointLongName", "avms_ppd_stop_point_long_names", Kind::Text},
    {"StopPointTtsName", "avms_ppd_stop_point_tts_names", Kind::Text},
    {"DestinationDisplay", "avms_ppd_destination_displays", Kind::Text},
    {"DestinationShortDisplay", "avms_ppd_destination_short_displays", Kind::Text},
    {"DestinationLongDisplay", "avms_ppd_destination_long_displays", Kind::Text},
    {"DestinationTtsContent", "avms_ppd_destination_tts_contents", Kind::TextIfString},
    {"ArrivalBoardingActivity", "avms_ppd_arrival_boarding_activities", Kind::Text},
    {"DepartureBoardingActivity", "avms_ppd_departure_boarding_activities", Kind::Text},
    {"PlannedArrivalTime", "avms_ppd_planned_arrival_times", Kind::TimeIfString},
    {"ExpectedArrivalTime", "avms_ppd_expected_arrival_times", Kind::TimeIfString},
};

void exportPlannedPattern(JsonValue record, SymbolPairs& pairs) {
    exportFields(record, kPlannedPatternHead, pairs);
    exportList(record, "Via", "Via", kPlannedPatternVia, pairs);
    exportFields(record, kPlannedPatternTail, pairs);
    exportList(record, "PatternStops", "PatternStop", kPatternStops, pairs);
}

const Fields kJourneyMonitoringHead = {
    {"RecordedAtTime", "avms_jmd_recorded_at_time", Kind::Time},
    {"ItemIdentifier", "avms_jmd_item_identifier", Kind::Text},
    {"PatternRef", "avms_jmd_pattern_ref", Kind::Text},
    {"JourneyRef", "avms_jmd_journey_ref", Kind::Text},
    {"VehicleJourneyName", "avms_jmd_vehicle_journey_name", Kind::TextIfString},
    {"JourneyNote", "avms_jmd_journey_note", Kind::TextIfString},
    {"HeadwayService", "avms_jmd_headway_service", Kind::Flag},
    {"OriginPlannedDepartureTime", "avms_jmd_origin_planned_departure_time", Kind::Time},
    {"DestinationPlannedArrivalTime", "avms_jmd_destination_planned_arrival_time", Kind::Time},
    {"InCongestion", "avms_jmd_in_congestion", Kind::Flag},
    {"InPanic", "avms_jmd_in_panic", Kind::Flag},
    {"ProgressRate", "avms_jmd_progress_rate", Kind::TextIfString},
    {"Occupancy", "avms_jmd_occupancy", Kind::TextIfString},
    {"Delay", "avms_jmd_delay", Kind::Text},
    {"ProgressStatus", "avms_jmd_progress_status", Kind::TextIfString},
    {"ProductCategoryRef", "avms_jmd_product_category_ref", Kind::TextIfString},
    {"ServiceFeatureRef", "avms_jmd_service_feature_ref", Kind::TextIfString},
    {"VehicleFeatureRef", "avms_jmd_vehicle_feature_ref", Kind::TextIfString},
};
const Fields kPreviousCalls = {
    {"StopPointRef", "avms_jmd_pc_stop_point_refs", Kind::TextIfString},
    {"VisitNumber", "avms_jmd_pc_visit_numbers", Kind::TextIfString},
    {"Order", "avms_jmd_pc_order", Kind::TextIfString},
    {"ActualArrivalTime", "avms_jmd_pc_actual_arrival_times", Kind::TimeIfString},
    {"ActualDepartureTime", "avms_jmd_pc_actual_departure_times", Kind::TimeIfString},
};
const Fields kMonitoredCall = {
    {"StopPointRef", "avms_jmd_mc_stop_point_ref", Kind::TextIfString},
    {"VisitNumber", "avms_jmd_mc_visit_number", Kind::TextIfString},
    {"Order", "avms_jmd_mc_order", Kind::TextIfString},
    {"VehicleAtStop", "avms_jmd_mc_vehicle_at_stop", Kind::TextIfString},
    {"PlannedArrivalTime", "avms_jmd_mc_planned_arrival_time", Kind::TimeIfString},
    {"ExpectedArrivalTime", "avms_jmd_mc_expected_arrival_time", Kind::TimeIfString},
    {"ActualArrivalTime", "avms_jmd_mc_actual_arrival_time", Kind::TimeIfString},
    {"PlannedDepartureTime", "avms_jmd_mc_planned_departure_time", Kind::TimeIfString},
    {"ExpectedDepartureTime", "avms_jmd_mc_expected_departure_time", Kind::TimeIfString},
    {"ActualDepartureTime", "avms_jmd_mc_actual_departure_time", Kind::TimeIfString},
};
const Fields kOnwardCalls = {
    {"StopPointRef", "avms_jmd_oc_stop_point_refs", Kind::TextIfString},
    {"VisitNumber", "avms_jmd_oc_visit_numbers", Kind::TextIfString},
    {"Order", "avms_jmd_oc_order", Kind::TextIfString},
    {"PlannedArrivalTime", "avms_jmd_oc_planned_arrival_times", Kind::TimeIfString},
    {"ExpectedArrivalTime", "avms_jmd_oc_expected_arrival_times", Kind::TimeIfString},
    {"PlannedDepartureTime", "avms_jmd_oc_planned_departure_times", Kind::TimeIfString},
    {"ExpectedDepartureTime", "avms_jmd_oc_expected_departure_times", Kind::TimeIfString},
};

void exportJourneyMonitoring(JsonValue record, SymbolPairs& pairs) {
    exportFields(record, kJourneyMonitoringHead, pairs);
    exportList(record, "PreviousCalls", "PreviousCall", kPreviousCalls, pairs);
    if (const JsonValue call = jsonMember(record, "MonitoredCall")) exportFields(call, kMonitoredCall, pairs);
    exportList(record, "OnwardCalls", "OnwardCall", kOnwardCalls, pairs);
}

const Fields kVehicleMonitoringHead = {
    {"RecordedAtTime", "avms_vmd_recorded_at_time", Kind::Time},
    {"ItemIdentifier", "avms_vmd_item_identifier", Kind::Text},
    {"JourneyPatternRef", "avms_vmd_journey_pattern_ref", Kind::Text},
    {"VehicleJourneyRef", "avms_vmd_vehicle_journey_ref", Kind::TextIfString},
};

void exportVehicleMonitoring(JsonValue record, SymbolPairs& pairs) {
    exportFields(record, kVehicleMonitoringHead, pairs);
    const char* progress = "ProgressBetweenStops";
    exportPathField(record, {progress, "PreviousCallRef", "StopPointRef"}, "avms_vmd_pc_stop_point_ref", Kind::Text,
                    pairs);
    exportPathField(record, {progress, "PreviousCallRef", "VisitNumber"}, "avms_vmd_pc_visit_number",
                    Kind::TextIfString, pairs);
    exportPathField(record, {progress, "PreviousCallRef", "Order"}, "avms_vmd_pc_order", Kind::TextIfString, pairs);
    exportPathField(record, {progress, "MonitoredCallRef", "StopPointRef"}, "avms_vmd_mc_stop_point_ref",
                    Kind::TextIfString, pairs);
    exportPathField(record, {progress, "MonitoredCallRef", "VisitNumber"}, "avms_vmd_mc_visit_number",
                    Kind::TextIfString, pairs);
    exportPathField(record, {progress, "MonitoredCallRef", "Order"}, "avms_vmd_mc_order", Kind::TextIfString, pairs);
    exportPathField(record, {progress, "MonitoredCallRef", "VehicleAtStop"}, "avms_vmd_mc_vehicle_at_stop",
                    Kind::TextIfString, pairs);
    exportPathField(record, {progress, "LinkDistance"}, "avms_vmd_link_distance", Kind::TextIfString, pairs);
    exportPathField(record, {progress, "Percentage"}, "avms_vmd_percentage", Kind::TextIfString, pairs);
    const JsonValue notes = jsonMember(record, "VehicleActivityNote");
    if (notes.isArray()) {
        ListBuilder list;
        for (const JsonValue note : notes) {
            std::string text;
            if (jsonScalarText(note, text)) list.add(text);
        }
        pairs.emplace_back("avms_vmd_vehicle_activity_notes", list.str());
    }
}

}  // namespace

std::string AVMS_FeedImpl::timeText(const std::string& iso8601) {
    // The shared converter wants "+HH:MM" after whole seconds; monitoring
    // systems commonly write UTC as "Z" and add fractions of a second.
    std::string text = iso8601;
    size_t timePart = text.find('T');
    if (timePart != std::string::npos) {
        size_t dot = text.find('.', timePart);
        if (dot != std::string::npos) {
            size_t end = dot + 1;
            while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
            if (end > dot + 1) text.erase(dot, end - dot);
        }
    }
    if (!text.empty() && (text.back() == 'Z' || text.back() == 'z')) {
        text.pop_back();
        text += "+00:00";
    }
    return std::to_string(convert_iso8601_local_to_posix(text));
}

bool AVMS_FeedImpl::parsePlannedPattern(const std::string& text, SymbolPairs& pairs, std::string& errors,
                                  size_t maxJsonValues) {
    return parseDelivery(text, maxJsonValues, "PlannedPatternDelivery", "PlannedPattern", exportPlannedPattern, pairs, errors);
}

bool AVMS_FeedImpl::parseJourneyMonitoring(const std::string& text, SymbolPairs& pairs, std::string& errors,
                                  size_t maxJsonValues) {
    return parseDelivery(text, maxJsonValues, "JourneyMonitoringDelivery", "MonitoredJourney", exportJourneyMonitoring, pairs,
                         errors);
}

bool AVMS_FeedImpl::parseVehicleMonitoring(const std::string& text, SymbolPairs& pairs, std::string& errors,
                                  size_t maxJsonValues) {
    return parseDelivery(text, maxJsonValues, "VehicleMonitoringDelivery", "VehicleActivity", exportVehicleMonitoring, pairs,
                         errors);
}

void AVMS_FeedImpl::updateDelivery(const char* builtInPath, const char* operation, Parser parser,
                                   std::string& previous) {
    const std::string path = rootedPath(builtInPath);
    std::string problem;
    std::string text = readDeliveryFile(path, problem);
    if (!problem.empty()) logLine(8, "AVMS_FeedImpl::", operation, ": ignored ", path, ": ", problem);
    if (!text.empty()) m_deliveryRead = true;
    if (text == previous) {
        logLine(1, "AVMS_FeedImpl::", operation, ": no change to feed");
        return;
    }
    // Stored before parsing: a file that fails to parse is not parsed again until it changes.
    previous = text;
    logLine(2, "AVMS_FeedImpl::", operation, ": feed updated - parsing");
    logLine(1, text);
    SymbolPairs pairs;
    std::string errors;
    bool parsed = false;
    parsed = parser(text, pairs, errors, downloader().limits().maxJsonValues);
    if (!parsed) {
        logLine(8, "AVMS_FeedImpl::", operation, ":  parsing failed: ", errors);
        return;
    }
    m_hasData = true;
    for (const auto& pair : pairs) addPair(pair.first, pair.second);
}

void AVMS_FeedImpl::updatePlannedPatternDelivery() {
    updateDelivery(kAvmsPlannedPatternPath, "updatePlannedPatternDelivery", parsePlannedPattern,
                   m_previousPlannedPattern);
}

void AVMS_FeedImpl::updateJourneyMonitoringDelivery() {
    updateDelivery(kAvmsJourneyMonitoringPath, "updateJourneyMonitoringDelivery", parseJourneyMonitoring,
                   m_previousJourneyMonitoring);
}

void AVMS_FeedImpl::updateVehicleMonitoringDelivery() {
    updateDelivery(kAvmsVehicleMonitoringPath, "updateVehicleMonitoringDelivery", parseVehicleMonitoring,
                   m_previousVehicleMonitoring);
}

int AVMS_FeedImpl::downloadData(std::string) {
    m_deliveryRead = false;
    updatePlannedPatternDelivery();
    updateJourneyMonitoringDelivery();
    updateVehicleMonitoringDelivery();
    addPair("avms_has_data", m_hasData ? "1" : "0");
    // The on-board system rewrites its files only when they change: data is
    // current while its files are there, stale once they are gone.
    if (m_hasData && m_deliveryRead) markUsableData();
    return 1;
}
