#include "feeds/airport/service_alerts_feed.h"

#include "core/feed/json_document.h"
#include "util/text_clean.h"

namespace {
const CachedFeedTexts kTexts = {
    "/vorn/media/offline/service_alerts.json",
    "ServiceAlertsFeedImpl: :downloadData - Offline test file used. The Web Server won't be contacted.",
    "ServiceAlertsFeedImpl: Retrieved; ",
    "/tmp/service_alerts.json",
    "Service Alerts: parse exceprion: ",
    16,
};

const char* const kServicesPrefix = "Affected services: ";

// The index after current in a rotation over count alerts, wrapping to 0.
// The rotation runs over every alert: an index held to 0..255 would never
// show the alerts after the 256th of a long list.
int nextAlertIndex(int current, size_t count) {
    if (current >= 0 && static_cast<size_t>(current) + 1 < count) return current + 1;
    return 0;
}
}  // namespace

SymbolPairs parseServiceAlerts(const std::string& text, int& alertIndex, size_t maxJsonValues) {
    logLine(2, "ServiceAlertsFeedImplData::parse - processing: ", text.size(), " bytes.");
    std::string errors;
    const JsonDocument document = jsonDocumentOf(text, errors, maxJsonValues);
    const JsonValue root = document.root();
    if (root.isNull()) {
        logLine(8, "ServiceAlertsFeedImplData:  Parsing failed", errorTail(errors));
        return {};
    }
    logLine(2, "ServiceAlertsFeedImplData::parse - JSON parsed succesfully.");
    if (!root.isObject() || !root["alerts"].isArray()) return {};
    const JsonValue alerts = root["alerts"];
    if (alerts.empty()) {
        // Every alert has been lifted: the display must not keep the last one.
        logLine(2, "ServiceAlertsFeedImplData::parse - no alerts");
        alertIndex = 0;
        return {{"service_alert_description", ""},
                {"service_alert_severity", ""},
                {"service_alert_category", ""},
                {"service_alert_service_names", ""}};
    }

    alertIndex = nextAlertIndex(alertIndex, alerts.size());
    const JsonValue alert = alerts[static_cast<size_t>(alertIndex)];
    std::string category = jsonMemberText(alert, "category");
    std::string description = jsonMemberText(alert, "description");
    std::string severity = jsonMemberText(alert, "severity");
    wordWrap(description, description.size() <= kAlertShortDescriptionMax ? kAlertShortDescriptionWidth
                                                                           : kAlertLongDescriptionWidth);

    if (!alert.isObject() || !alert["services"].isArray()) return {};
    const JsonValue services = alert["services"];
    std::string names = kServicesPrefix;
    for (size_t i = 0; i < services.size(); ++i) {
        names += jsonMemberText(services[i], "name");
        if (i + 1 < services.size()) names += ", ";
    }
    wordWrap(names, names.size() > kAlertShortServicesMax ? kAlertLongServicesWidth : kAlertShortServicesWidth);

    logLine(2, "ServiceAlertsFeedImplData::parse - description: ", description);
    return {{"service_alert_description", description},
            {"service_alert_severity", severity},
            {"service_alert_category", category},
            {"service_alert_service_names", names}};
}

ServiceAlertsFeedImpl::ServiceAlertsFeedImpl(const std::string& url) : CachedJsonFeedImpl(url, kTexts) {}

CurlCommand ServiceAlertsFeedImpl::downloadCommand(const std::string& curlParams) const {
    CurlCommand command = downloader().command(curlParams);
    command.carriesCredential().url(url(), "service_alerts_url");
    logLine(8, "ServiceAlertsFeedImpl download command: ", command.logText());
    return command;
}

int ServiceAlertsFeedImpl::parse(const std::string& text) {
    SymbolPairs pairs = parseServiceAlerts(text, m_alertIndex, downloader().limits().maxJsonValues);
    for (const auto& pair : pairs) addPair(pair.first, pair.second);
    return pairs.empty() ? 0 : 1;
}
