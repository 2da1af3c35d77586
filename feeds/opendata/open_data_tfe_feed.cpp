#include "feeds/opendata/open_data_tfe_feed.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "platform/debug.h"

namespace {
// A timestamp member as decimal POSIX seconds; a value that is no number of
// seconds (a word, an object) leaves the time unknown rather than putting
// text into a numeric list.
std::string timestampText(JsonValue value) {
    if (value.isIntegral()) return value.isUInt64() ? std::to_string(value.asUInt64()) : std::to_string(value.asInt64());
    if (value.isNumeric()) {
        double seconds = std::trunc(value.asDouble());
        if (std::isfinite(seconds) && std::fabs(seconds) < 9.0e18) return std::to_string(static_cast<int64_t>(seconds));
        return "0";
    }
    if (value.isString()) {
        const std::string text = value.asString();
        if (!text.empty() && text.size() < 19 && text.find_first_not_of("0123456789") == std::string::npos)
            return text;
    }
    return "0";
}
}  // namespace

OpenDataArrivals OpenDataTFE_FeedImpl::parseTrip(const std::string& data, bool timingPointsOnly, size_t maxJsonValues) {
    OpenDataArrivals result;
    logLine(2, "OpenDataTFE_FeedImpl::parse - processing: ", data.size(), " bytes.");
    JsonDocument document;
    std::string errors;
    if (!opendata::readJson(data, document, errors, maxJsonValues)) {
        logLine(8, "OpenData:  Parsing failed: ", errors);
        return result;
    }
    const JsonValue root = document.root();
    if (!root.isObject()) {
        logLine(2, "OpenDataTFE_FeedImpl::parse: missing or invalid node: arrivals.");
        return result;
    }
    if (root.isMember("meta")) {
        const JsonValue meta = root["meta"];
        if (meta.isMember("line_name")) result.lineName = meta["line_name"].asString();
        if (meta.isMember("destination")) result.destination = meta["destination"].asString();
    }
    const JsonValue arrivals = root["results"]["arrivals"];
    if (!arrivals.isArray()) {
        logLine(2, "OpenDataTFE_FeedImpl::parse: missing or invalid node: arrivals.");
        return result;
    }
    result.ok = true;
    for (size_t i = 0; i < arrivals.size(); ++i) {
        const JsonValue element = arrivals[i];
        if (timingPointsOnly && !(element.isMember("timepoint") && element["timepoint"].asBool())) continue;
        ArrivalRecord record;
        if (element.isMember("stop_name")) record.stopName = element["stop_name"].asString();
        const JsonValue scheduled = element["scheduled_arrival_time"];
        if (scheduled.isMember("utc_timestamp")) record.scheduledArrivalTime = timestampText(scheduled["utc_timestamp"]);
        const JsonValue expected = element["expected_arrival_time"];
        if (expected.isMember("utc_timestamp")) record.expectedArrivalTime = timestampText(expected["utc_timestamp"]);
        result.arrivals.push_back(std::move(record));
    }
    return result;
}
