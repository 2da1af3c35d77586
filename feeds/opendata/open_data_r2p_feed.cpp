#include "feeds/opendata/open_data_r2p_feed.h"

#include <algorithm>

#include "core/config/config_keys.h"
#include "core/feed/json_value_text.h"
#include "core/feed/lookups.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/strings.h"
#include "util/time_convert.h"

namespace {
constexpr const char* kDateTimeFormat = "%Y-%m-%d %H:%M:%S";
constexpr size_t kDateTimeLength = 19;
// A journey may differ from the imported stop list by at most half its
// length, and never by more than this many codes.
constexpr size_t kMaxCodeDistance = 10;

// A member's text: strings, numbers and booleans as asString gives them,
// anything else "". False when the member is missing.
bool memberText(JsonValue object, const char* key, std::string& text) {
    const JsonValue value = jsonMember(object, key);
    if (!value) return false;
    text = value.isConvertibleToString() ? value.asString() : "";
    return true;
}

bool isDueVisit(JsonValue visit) {
    std::string status;
    return memberText(visit, "ArrivalStatus", status) && status == "E";
}

bool isTimingPoint(JsonValue visit) {
    const JsonValue value = jsonMember(visit, "TimingPoint");
    return (value.isNumeric() || value.isBool()) && value.asDouble() != 0;
}

int64_t wallClockToPosix(const std::string& text) {
    return text.size() < kDateTimeLength ? 0 : opendata::readUtcDateTime(text, kDateTimeFormat);
}

std::vector<std::string> pointCodesOf(JsonValue journey) {
    std::vector<std::string> codes;
    const JsonValue visits = journey["visits"];
    if (!visits.isArray()) {
        logLine(8, "getPointCodeListFromJourney: missing or invalid node: visits.");
        return codes;
    }
    for (const auto& visit : visits) {
        std::string code;
        if (memberText(visit, "Location", code)) codes.push_back(code);
    }
    return codes;
}
}  // namespace

void OpenDataR2P_FeedImpl::readModuleParmMap() {
    m_databasePath = readStringKeyOf("OpenDataR2P_Feed", moduleParams(), "Database");
    logLine(2, "OpenDataR2P_FeedImpl::readModuleParmMap parameters -", " read-only database: '", m_databasePath, "'");
    OpenDataFeedImpl::readModuleParmMap();
}

bool OpenDataR2P_FeedImpl::symbolUpdate(const std::string& name, int, const std::string& value) {
    return takeImportedSymbol(name, value, "open_data_point_id_list", m_pointIdList,
                              "OpenDataR2P_FeedImpl::symbolUpdate: New point ID list: ");
}

OpenDataArrivals OpenDataR2P_FeedImpl::parse(const std::string& data) {
    logLine(2, "OpenDataR2P_FeedImpl::parse - processing: ", data.size(), " bytes.");
    if (m_pointIdList.empty()) {
        logLine(16, "OpenDataR2P_FeedImpl::parse: CI hasn't sent Stops list.");
        return {};
    }
    std::vector<std::string> pointIds = CSVsplit(m_pointIdList, ",");
    if (pointIds.size() < 2) {
        logLine(16, "OpenDataR2P_FeedImpl::parse: CI hasn't sent enough stops.");
        return {};
    }
    std::vector<std::string> ciCodes = CPointDataLookup(m_databasePath).Lookup(pointIds, "PointIdentifier");
    int32_t tzOffset = get_tz_offset_from_utc(wallClockSeconds());
    return parseJourneys(data, pointIds, ciCodes, m_timingPointsOnly != 0, tzOffset,
                         downloader().limits().maxJsonValues);
}

OpenDataArrivals OpenDataR2P_FeedImpl::parseJourneys(const std::string& data, const std::vector<std::string>& pointIds,
                                                     const std::vector<std::string>& ciCodes, bool timingPointsOnly,
                                                     int32_t tzOffset, size_t maxJsonValues) {
    OpenDataArrivals result;
    JsonDocument document;
    if (!opendata::readJsonArray(data, document, "OpenData:  Parsing failed: ",
                                 "OpenDataR2P_FeedImpl::parse: JSON root isn't an array.", maxJsonValues))
        return result;
    const JsonValue journey = getCurrentJourney(document.root(), ciCodes);
    if (!journey) {
        logLine(8, "OpenDataR2P_FeedImpl::parse: can't find current journey.");
        return result;
    }
    const JsonValue visits = journey["visits"];
    if (!visits.isArray()) {
        logLine(8, "OpenDataR2P_FeedImpl::parse: missing or invalid node: visits.");
        return result;
    }
    logLine(2, "OpenDataR2P_FeedImpl::parse: TZ offset from UTC: ", tzOffset, " (seconds)");

    std::map<std::string, std::string> codeToPointId;
    for (size_t i = 0; i < ciCodes.size() && i < pointIds.size(); ++i) codeToPointId.emplace(ciCodes[i], pointIds[i]);

    result.ok = true;
    logLine(2, "OpenDataR2P_FeedImpl::parse - found journey with ", visits.size(), " point(s).");
    for (const auto& visit : visits) {
        if (!isDueVisit(visit)) continue;
        if (timingPointsOnly && !isTimingPoint(visit)) continue;
        result.arrivals.push_back(getArrivalRecord(visit, codeToPointId, tzOffset));
    }
    return result;
}

size_t OpenDataR2P_FeedImpl::codeDistance(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    std::vector<size_t> previous(b.size() + 1), current(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) previous[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        current[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t replace = previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, replace});
        }
        previous.swap(current);
    }
    return previous[b.size()];
}

JsonValue OpenDataR2P_FeedImpl::getCurrentJourney(JsonValue root, const std::vector<std::string>& ciCodes) {
    logLine(2, "OpenDataR2P_FeedImpl::getCurrentJourney: checking ", root.size(), " journey(s).");
    const size_t maxDistance = std::min(kMaxCodeDistance, ciCodes.size() / 2);
    // Ordered by scheduled start; a later journey with the same start replaces an earlier one.
    std::map<int64_t, JsonValue> candidates;
    for (const auto& journey : root) {
        std::string start;
        if (!memberText(journey, "ScheduledStart", start)) continue;
        std::vector<std::string> codes = pointCodesOf(journey);
        if (codes.empty()) {
            logLine(8, "OpenDataR2P_FeedImpl::getCurrentJourney: Can't determine point codes.");
            logLine(8, "OpenDataR2P_FeedImpl::getCurrentJourney: Action: journey discarded.");
            continue;
        }
        size_t distance = codeDistance(ciCodes, codes);
        logLine(2, "OpenDataR2P_FeedImpl::getCurrentJourney: distance:", distance, " max:", maxDistance);
        if (distance > maxDistance) {
            logLine(2, "OpenDataR2P_FeedImpl::getCurrentJourney: point codes don't match those supplied by "
                       "Brelland Central.");
            logLine(2, "OpenDataR2P_FeedImpl::getCurrentJourney: Action: journey discarded.");
            continue;
        }
        candidates[wallClockToPosix(start)] = journey;
    }
    if (candidates.empty()) return {};
    logLine(2, "OpenDataR2P_FeedImpl::getCurrentJourney: now checking ", candidates.size(), " journey(s).");
    for (const auto& [start, journey] : candidates) {
        logLine(2, "OpenDataR2P_FeedImpl::getCurrentJourney: considering journey: ", formatPosixTimeUtc(start));
        const JsonValue visits = journey["visits"];
        if (!visits.isArray()) {
            logLine(8, "OpenDataR2P_FeedImpl::getCurrentJourney:: missing or invalid node: visits.");
            logLine(8, "OpenDataR2P_FeedImpl::getCurrentJourney:: Action: journey discarded.");
            continue;
        }
        if (std::any_of(visits.begin(), visits.end(), isDueVisit)) {
            logLine(2, "OpenDataR2P_FeedImpl::getCurrentJourney: selected journey: ", formatPosixTimeUtc(start));
            return journey;
        }
    }
    return {};
}

ArrivalRecord OpenDataR2P_FeedImpl::getArrivalRecord(JsonValue visit,
                                                     const std::map<std::string, std::string>& codeToPointId,
                                                     int32_t tzOffset) {
    ArrivalRecord record;
    std::string text;
    if (memberText(visit, "Location", text)) {
        auto found = codeToPointId.find(text);
        if (found != codeToPointId.end())
            record.pointId = found->second;
        else
            logLine(8, "OpenDataR2P_FeedImpl::getArrivalRecord: can't find point ID for: ", text);
    }
    if (memberText(visit, "LocationName", text)) record.stopName = text;
    // The provider writes local wall-clock times: read as UTC, then shift by the zone's offset.
    if (memberText(visit, "ScheduledArrivalTime", text)) {
        int64_t t = wallClockToPosix(text);
        record.scheduledArrivalTime = std::to_string(text.size() < kDateTimeLength ? 0 : t - tzOffset);
    }
    if (memberText(visit, "ArrivalTime", text)) {
        int64_t t = wallClockToPosix(text);
        record.expectedArrivalTime = std::to_string(text.size() < kDateTimeLength ? 0 : t - tzOffset);
    }
    if (memberText(visit, "ArrivalStatus", text)) record.status = text;
    return record;
}
