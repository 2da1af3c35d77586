// Republishes the on-board monitoring deliveries (planned pattern, journey
// monitoring, vehicle monitoring) that another on-board process leaves as
// JSON files in /tmp. A delivery is parsed and exported only when its file
// content changed since the previous cycle.
#pragma once

#include <memory>
#include <string>

#include "core/feed/data_feed.h"
#include "core/feed/json_document.h"

constexpr const char* kAvmsPlannedPatternPath = "/tmp/plannedpattern.json";
constexpr const char* kAvmsJourneyMonitoringPath = "/tmp/journeymonitoring.json";
constexpr const char* kAvmsVehicleMonitoringPath = "/tmp/vehiclemonitoring.json";

class AVMS_FeedImpl : public DataFeedImpl {
public:
    AVMS_FeedImpl() = default;

    // Refreshes the three deliveries, then exports avms_has_data; returns 1.
    int downloadData(std::string curlParams) override;

    void updatePlannedPatternDelivery();
    void updateJourneyMonitoringDelivery();
    void updateVehicleMonitoringDelivery();

    // Pure parsers: one delivery's JSON text in, its pairs in export order
    // appended to pairs. False, with the reader's messages in errors and
    // nothing appended, when the text is not JSON or over the value budget.
    // Never throw.
    static bool parsePlannedPattern(const std::string& text, SymbolPairs& pairs, std::string& errors,
                                     size_t maxJsonValues = kDefaultJsonValueBudget);
    static bool parseJourneyMonitoring(const std::string& text, SymbolPairs& pairs, std::string& errors,
                                        size_t maxJsonValues = kDefaultJsonValueBudget);
    static bool parseVehicleMonitoring(const std::string& text, SymbolPairs& pairs, std::string& errors,
                                        size_t maxJsonValues = kDefaultJsonValueBudget);

    // An ISO-8601 stamp as decimal POSIX seconds; "0" when it carries no zone
    // or is not a date-time. "Z" and fractional seconds are accepted.
    static std::string timeText(const std::string& iso8601);

private:
    using Parser = bool (*)(const std::string&, SymbolPairs&, std::string&, size_t);
    void updateDelivery(const char* builtInPath, const char* operation, Parser parser, std::string& previous);

    std::string m_previousPlannedPattern;
    std::string m_previousJourneyMonitoring;
    std::string m_previousVehicleMonitoring;
    bool m_hasData = false;
    bool m_deliveryRead = false;  // this refresh found at least one delivery file
};

class AVMS_Feed : public DataFeed {
public:
    AVMS_Feed() : DataFeed(std::make_unique<AVMS_FeedImpl>()) {}
};
