// A city operator's service alerts shown on board one at a time, in rotation
// from one update cycle to the next: description, severity, category and the
// affected services, wrapped for a fixed-width display.
#pragma once

#include <string>

#include "core/feed/json_document.h"

#include "feeds/airport/cached_json_feed.h"

// Description wrapping: short descriptions get narrow lines, longer ones wider lines.
constexpr size_t kAlertShortDescriptionMax = 164;
constexpr int kAlertShortDescriptionWidth = 46;
constexpr int kAlertLongDescriptionWidth = 60;
// Affected-services wrapping: long lists get wider lines.
constexpr size_t kAlertShortServicesMax = 119;
constexpr int kAlertShortServicesWidth = 60;
constexpr int kAlertLongServicesWidth = 100;

// Pairs of one alerts response ({"alerts": [...]}), showing the alert after
// alertIndex (wrapping to the first; the index is updated). A response
// without alerts clears the four symbols; text that is not JSON, a missing
// "alerts" array or a shown alert without a "services" array gives no
// pairs. Never throws.
SymbolPairs parseServiceAlerts(const std::string& text, int& alertIndex,
                               size_t maxJsonValues = kDefaultJsonValueBudget);

class ServiceAlertsFeedImpl : public CachedJsonFeedImpl {
public:
    explicit ServiceAlertsFeedImpl(const std::string& url);

protected:
    CurlCommand downloadCommand(const std::string& curlParams) const override;
    int parse(const std::string& text) override;

private:
    int m_alertIndex = 0;
};

class ServiceAlertsFeed : public DataFeed {
public:
    explicit ServiceAlertsFeed(const std::string& url) : DataFeed(std::make_unique<ServiceAlertsFeedImpl>(url)) {}
};
