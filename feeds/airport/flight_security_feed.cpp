#include "feeds/airport/flight_security_feed.h"

#include <cstdint>

#include "core/feed/json_document.h"

namespace {
const CachedFeedTexts kTexts = {
    "/vorn/media/offline/flight_security.json",
    "OD_FlightSecurity: :downloadData - Offline test file used. The Web Server won't be contacted.",
    "OD_FlightSecurity: Retrieved; ",
    nullptr,
    "od_flight_security: parse exceprion: ",
    16,
};

constexpr uint64_t kSecondsPerMinute = 60;
// Larger waits are not a queue but a broken sensor; a double cannot hold them exactly anyway.
constexpr double kLargestQueueSeconds = 1e15;

// The queue in whole seconds, or false when the value is not a usable count.
bool queueSeconds(JsonValue queue, uint64_t& seconds) {
    if (queue.isUInt64()) {
        seconds = queue.asUInt64();
        return true;
    }
    // A fractional count of seconds is cut to whole seconds.
    if (queue.isNumeric() && queue.asDouble() >= 0 && queue.asDouble() <= kLargestQueueSeconds) {
        seconds = static_cast<uint64_t>(queue.asDouble());
        return true;
    }
    return false;
}

// A value as a log line shows it: a string quoted, a container by its kind.
std::string describe(JsonValue value) {
    if (value.isString()) return '"' + value.asString() + '"';
    if (value.isConvertibleToString()) return value.asString();
    return value.isArray() ? "an array" : "an object";
}
}  // namespace

SymbolPairs parseFlightSecurity(const std::string& text, size_t maxJsonValues) {
    logLine(2, "FlightSecurityFeedImpl::parse - processing: ", text.size(), " bytes.");
    std::string errors;
    const JsonDocument document = jsonDocumentOf(text, errors, maxJsonValues);
    const JsonValue root = document.root();
    if (!root.isObject()) {
        logLine(8, "OD_FlightSecurity:  Parsing failed", errorTail(errors));
        return {};
    }
    logLine(2, "FlightSecurityFeedImpl::parse - JSON parsed succesfully.");

    std::string wait;
    const JsonValue queue = root["queue"];
    if (!queue.isNull()) {
        uint64_t seconds = 0;
        if (!queueSeconds(queue, seconds)) {
            logLine(8, "OD_FlightSecurity: queue is not a number of seconds: ", describe(queue));
            return {};
        }
        // Rounded up: a wait of 61 seconds is two minutes on the display.
        wait = std::to_string(seconds / kSecondsPerMinute + (seconds % kSecondsPerMinute ? 1 : 0));
    }
    logLine(2, "FlightSecurityFeedImpl::parse - cahced: ", wait);
    return {{"flight_security_wait_time", wait}};
}

FlightSecurityFeedImpl::FlightSecurityFeedImpl(const std::string& url) : CachedJsonFeedImpl(url, kTexts) {}

CurlCommand FlightSecurityFeedImpl::downloadCommand(const std::string& curlParams) const {
    CurlCommand command = downloader().command(curlParams);
    command.carriesCredential().url(url(), "flight_security_url");
    logLine(8, "OD_FlightSecurity download command: ", command.logText());
    logLine(4, "OD_FlightSecurity: Executing command:; ", command.logText());
    return command;
}

int FlightSecurityFeedImpl::parse(const std::string& text) {
    const SymbolPairs pairs = parseFlightSecurity(text, downloader().limits().maxJsonValues);
    for (const auto& pair : pairs) addPair(pair.first, pair.second);
    return pairs.empty() ? 0 : 1;
}
