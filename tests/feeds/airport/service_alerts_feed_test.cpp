// Service alerts: one alert a cycle in rotation, wrapped for the display.
#include <sstream>

#include "feeds/airport/service_alerts_feed.h"
#include "tests/support/feed_test.h"

using AirportFeed = FeedTest;

namespace {
SymbolPairs shown(const std::string& description, const std::string& severity, const std::string& category,
                  const std::string& services) {
    return {{"service_alert_description", description},
            {"service_alert_severity", severity},
            {"service_alert_category", category},
            {"service_alert_service_names", services}};
}
std::string alertsReply(const std::string& description, const std::string& services) {
    return R"({"alerts":[{"category":"c","severity":"s","description":")" + description + R"(","services":)" + services + "}]}";
}
// True when the longest line of text shows this wrap width: close to it, never above it.
bool wrappedAt(const std::string& text, size_t width) {
    std::istringstream lines(text);
    size_t longest = 0;
    for (std::string line; std::getline(lines, line);) longest = std::max(longest, line.size());
    return longest <= width && longest > width - 10;
}
}  // namespace

TEST_F(AirportFeed, ServiceAlertsShowOneAlertPerCycleInRotation) {
    std::string reply = readTestData("airport/service_alerts.json");
    server.reply("/api/v2/serviceAlerts", reply);
    ServiceAlertsFeedImpl feed(server.url("/api/v2/serviceAlerts"));

    // The rotation starts at the second alert and wraps to the first.
    const SymbolPairs second = shown("The stop on George IV Bridge is closed.", "Minor", "Stop closure",
                                     "Affected services: 23, , 27");
    const SymbolPairs third =
        shown("Delays because of a road traffic collision.", "Moderate", "Disruption", "Affected services: ");
    const SymbolPairs first = shown("Services are diverted via Leith Walk while\ntram works continue on Princes Street. "
                                    "Please\nallow extra time for your journey.",
                                    "Severe", "Diversion", "Affected services: 22, 25, X25");
    for (const SymbolPairs& expected : {second, third, first, second}) {
        EXPECT_EQ(cycle(feed, kModuleCurlParams), expected) << "at " << now << " s";
        now += 60;
    }
    EXPECT_EQ(server.requestCount(), 2u);
    EXPECT_EQ(root.read("/tmp/service_alerts.json"), reply);

    // The rotation survives a reply with fewer alerts: an index past the end restarts at 0.
    const std::string offline = "/vorn/media/offline/service_alerts.json";
    root.write(offline, alertsReply("only", "[]"));
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(valueOf(cycle(feed, kModuleCurlParams), "service_alert_description"), "only") << "single alert, cycle " << i;
    // Replies that show no alert export nothing, and the display keeps the last one, unless all are lifted.
    for (const char* none : {"<html>", R"({"alerts":[{"description":"no services"}]})"}) {
        root.write(offline, none);
        EXPECT_EQ(cycle(feed, kModuleCurlParams), SymbolPairs{}) << none;
    }
    root.write(offline, R"({"alerts":[]})");
    EXPECT_EQ(cycle(feed, kModuleCurlParams), shown("", "", "", "")) << "all alerts lifted";
}

TEST(ServiceAlertsParse, WrapWidthsChangeAtTheirBoundaries) {
    // Descriptions: up to 164 characters at 46 columns, longer at 60. Service texts:
    // "Affected services: " (19) + nine 8-letter names + one of lastName letters + nine ", ",
    // that is 109 + lastName characters: up to 119 at 60 columns, longer at 100.
    struct { size_t descriptionLength, descriptionWidth, lastName, servicesWidth; } cases[] = {{164, 46, 10, 60}, {165, 60, 11, 100}};
    for (const auto& c : cases) {
        std::string description, services = "[";  // the description: 9-letter words and blanks
        while (description.size() < c.descriptionLength) description += description.size() % 10 == 9 ? ' ' : 'w';
        for (int i = 0; i < 10; ++i)
            services += std::string(i ? "," : "") + R"({"name":")" + std::string(i < 9 ? 8 : c.lastName, 'n') + R"("})";
        int index = 0;
        SymbolPairs pairs = parseServiceAlerts(alertsReply(description, services + "]"), index);
        std::string wrapped = valueOf(pairs, "service_alert_description"), names = valueOf(pairs, "service_alert_service_names");
        ASSERT_EQ(names.size(), 109 + c.lastName);
        EXPECT_TRUE(wrappedAt(wrapped, c.descriptionWidth)) << c.descriptionLength << " characters:\n" << wrapped;
        EXPECT_TRUE(wrappedAt(names, c.servicesWidth)) << names.size() << " characters:\n" << names;
    }
}
