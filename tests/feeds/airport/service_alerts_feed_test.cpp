#include "feeds/airport/service_alerts_feed.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/feeds/airport/airport_test_support.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

namespace {
std::string alertWith(const std::string& description, const std::string& services) {
    return R"({"category":"c","severity":"s","description":")" + description + R"(","services":)" + services + "}";
}
std::string alertsReply(const std::vector<std::string>& alerts) {
    std::string text = R"({"alerts":[)";
    for (size_t i = 0; i < alerts.size(); ++i) text += (i ? "," : "") + alerts[i];
    return text + "]}";
}
// A text of n characters made of 9-letter words and blanks.
std::string words(size_t n) {
    std::string text;
    while (text.size() < n) text += (text.size() % 10 == 9) ? ' ' : 'w';
    return text;
}
size_t longestLine(const std::string& text) {
    size_t longest = 0, start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        longest = std::max(longest, end - start);
    return std::max(longest, text.size() - start);
}
}  // namespace

TEST(ServiceAlertsFeed, ShowsOneAlertPerCycleInRotation) {
    TempFileRoot root;
    ManualClock clock;
    StubServer server;
    std::string reply = readTestData("airport/service_alerts.json");
    server.reply("/api/v2/serviceAlerts", reply, 200, "application/json");
    ServiceAlertsFeedImpl feed(server.url("/api/v2/serviceAlerts"));

    // The rotation starts at the second alert and wraps to the first.
    const SymbolPairs second = {
        {"service_alert_description", "The stop on George IV Bridge is closed."},
        {"service_alert_severity", "Minor"},
        {"service_alert_category", "Stop closure"},
        {"service_alert_service_names", "Affected services: 23, , 27"},
    };
    const SymbolPairs third = {
        {"service_alert_description", "Delays because of a road traffic collision."},
        {"service_alert_severity", "Moderate"},
        {"service_alert_category", "Disruption"},
        {"service_alert_service_names", "Affected services: "},
    };
    const SymbolPairs first = {
        {"service_alert_description",
         "Services are diverted via Leith Walk while\ntram works continue on Princes Street. Please\nallow extra "
         "time for your journey."},
        {"service_alert_severity", "Severe"},
        {"service_alert_category", "Diversion"},
        {"service_alert_service_names", "Affected services: 22, 25, X25"},
    };
    EXPECT_EQ(runCycle(feed), second) << "cycle 1";
    clock.now += 60;
    EXPECT_EQ(runCycle(feed), third) << "cycle 2";
    clock.now += 60;
    EXPECT_EQ(runCycle(feed), first) << "cycle 3 (new download)";
    clock.now += 60;
    EXPECT_EQ(runCycle(feed), second) << "cycle 4";
    EXPECT_EQ(server.requestCount(), 2u);
    EXPECT_EQ(root.read("/tmp/service_alerts.json"), reply);

    // The rotation survives a reply with fewer alerts: an index past the end restarts at 0.
    root.write("/vorn/media/offline/service_alerts.json", alertsReply({alertWith("only", "[]")}));
    for (int cycle = 0; cycle < 3; ++cycle)
        EXPECT_EQ(valueOf(runCycle(feed), "service_alert_description"), "only") << "single alert, cycle " << cycle;
}

TEST(ServiceAlertsFeed, RotationReachesEveryAlertOfALongList) {
    std::vector<std::string> alerts;
    for (int i = 0; i < 300; ++i) alerts.push_back(alertWith("alert " + std::to_string(i), "[]"));
    std::string reply = alertsReply(alerts);
    int index = 0;
    std::string last;
    for (int cycle = 0; cycle < 300; ++cycle) last = valueOf(parseServiceAlerts(reply, index), "service_alert_description");
    EXPECT_EQ(last, "alert 0") << "cycle 300 wraps to the first alert";
    EXPECT_EQ(valueOf(parseServiceAlerts(reply, index), "service_alert_description"), "alert 1");
    index = 298;
    EXPECT_EQ(valueOf(parseServiceAlerts(reply, index), "service_alert_description"), "alert 299");
}

TEST(ServiceAlertsFeed, WrapWidthsChangeAtTheirBoundaries) {
    // Descriptions: up to 164 characters at 46 columns, longer at 60. Service texts:
    // "Affected services: " (19) + nine 8-letter names + one of lastName letters + nine ", ",
    // that is 109 + lastName characters: up to 119 at 60 columns, longer at 100.
    struct Case {
        size_t descriptionLength;
        size_t descriptionWidth;
        size_t lastName;
        size_t servicesWidth;
    } cases[] = {{164, 46, 10, 60}, {165, 60, 11, 100}};
    for (const auto& c : cases) {
        std::string services = "[";
        for (int i = 0; i < 10; ++i)
            services += std::string(i ? "," : "") + R"({"name":")" + std::string(i < 9 ? 8 : c.lastName, 'n') + R"("})";
        services += "]";
        int index = 0;
        SymbolPairs pairs = parseServiceAlerts(alertsReply({alertWith(words(c.descriptionLength), services)}), index);
        std::string description = valueOf(pairs, "service_alert_description");
        std::string names = valueOf(pairs, "service_alert_service_names");
        ASSERT_EQ(names.size(), 109 + c.lastName);
        // The longest line shows the width used: close to it, never above it.
        EXPECT_LE(longestLine(description), c.descriptionWidth) << c.descriptionLength << ":\n" << description;
        EXPECT_GT(longestLine(description), c.descriptionWidth - 10) << c.descriptionLength << ":\n" << description;
        EXPECT_LE(longestLine(names), c.servicesWidth) << names.size() << ":\n" << names;
        EXPECT_GT(longestLine(names), c.servicesWidth - 10) << names.size() << ":\n" << names;
    }
}

TEST(ServiceAlertsFeed, RepliesThatShowNoAlert) {
    struct Case {
        const char* name;
        std::string reply;
        SymbolPairs expected;
    } cases[] = {
        {"not JSON", "<html>", {}},
        {"empty", "", {}},
        {"no alerts member", R"({"status":"ok"})", {}},
        {"alerts not an array", R"({"alerts":{"a":1}})", {}},
        {"array root", R"([{"alerts":[]}])", {}},
        {"alert without services", alertsReply({R"({"description":"x"})"}), {}},
        {"alert not an object", alertsReply({"42"}), {}},
        {"all alerts lifted",
         alertsReply({}),
         {{"service_alert_description", ""},
          {"service_alert_severity", ""},
          {"service_alert_category", ""},
          {"service_alert_service_names", ""}}},
        {"odd member types",
         alertsReply({R"({"description":["x"],"severity":3,"category":null,"services":[7,{"name":{"n":1}},{"name":"44"}]})"}),
         {{"service_alert_description", ""},
          {"service_alert_severity", "3"},
          {"service_alert_category", ""},
          {"service_alert_service_names", "Affected services: , , 44"}}},
    };
    for (const auto& c : cases) {
        int index = 0;
        EXPECT_EQ(parseServiceAlerts(c.reply, index), c.expected) << c.name;
    }
}
