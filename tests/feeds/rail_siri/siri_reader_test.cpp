#include "feeds/rail_siri/siri_reader.h"

#include <gtest/gtest.h>

#include "tests/feeds/rail_siri/rail_siri_test_util.h"
#include "tests/support/log_capture.h"

TEST(SiriTime, ReadsEveryZoneFormInAnyProcessZone) {
    const struct {
        const char* text;
        int64_t expected;
    } cases[] = {
        {"2026-06-04T10:00:00+01:00", 1780563600},  // London summer, as providers send it
        {"2026-06-04T09:00:00Z", 1780563600},       // Z is UTC, not a date '-'
        {"2026-06-04T09:00:00.000Z", 1780563600},   // fractional seconds
        {"2026-06-04T09:00:00", 1780563600},        // no zone: UTC
        {"2026-06-04T11:00:00.1234567+02:00", 1780563600},
        {"2026-06-04T04:00:00-05:00", 1780563600},
        {"2026-06-04T14:30:00+0530", 1780563600},
        {"2026-06-04T10:00:00+01", 1780563600},
        {"2026-01-15T08:30:00+00:00", 1768465800},  // London winter
        {"2026-01-15T09:30:00+01:00", 1768465800},  // Paris winter
        {" 2026-01-15T08:30:00Z\n", 1768465800},    // pretty-printed element text
    };
    for (const char* zone : {":/usr/share/zoneinfo/Europe/London", ":/usr/share/zoneinfo/Asia/Tokyo",
                             ":/usr/share/zoneinfo/America/New_York", "UTC"}) {
        ZoneScope scope(zone);
        for (const auto& c : cases) {
            int64_t seconds = -1;
            EXPECT_TRUE(parseSiriTime(c.text, seconds) && seconds == c.expected) << c.text << " in " << zone;
        }
    }
    for (const char* text : {"", "2026-06-04", "2026-06-04T10:00", "tomorrow at ten o'clock", "2026-13-04T10:00:00Z",
                             "2026-06-04T10:00:00+1:00", "2026-06-04T10:00:00 garbage", "2026-06-04T10:00:00.Z",
                             "2026-06-04T10:61:00Z", "-026-06-04T10:00:00Z"}) {
        int64_t seconds = 42;
        EXPECT_TRUE(!parseSiriTime(text, seconds) && seconds == 42) << "refused, untouched: '" << text << "'";
    }
}

TEST(SiriReader, WalksPrefixedAndPlainDeliveriesAlike) {
    for (const std::string p : {"", "s:"}) {
        SiriReader reader("TestFeed");
        const SiriNode* delivery = reader.openDelivery(
            "<" + p + "Siri xmlns:s=\"http://www.siri.org.uk/siri\"><" + p + "ServiceDelivery><" + p +
            "StopMonitoringDelivery><" + p + "Status>true</" + p + "Status><" + p + "Note><![CDATA[a < b]]></" + p +
            "Note></" + p + "StopMonitoringDelivery></" + p + "ServiceDelivery></" + p + "Siri>");
        ASSERT_NE(delivery, nullptr) << "prefix '" << p << "'";
        EXPECT_EQ(reader.getNodeText(delivery, "Status"), "true") << "prefix '" << p << "'";
        EXPECT_EQ(reader.getNodeText(delivery, "Note"), "a < b") << "prefix '" << p << "'";
    }
}

TEST(SiriReader, LogsEachFailureWithTheFeedsPrefix) {
    std::string deep = "<Siri><ServiceDelivery>";
    for (int i = 0; i < 200000; ++i) deep += "<a x='/>'>";
    const struct {
        std::string text;
        const char* log;
    } cases[] = {
        {"<Siri><ServiceDelivery>", "TestFeed::parse: parsing failed ("},
        {deep, "TestFeed::parse: parsing failed (nesting deeper than 256 levels)"},
        {"<html><body>502 Bad Gateway</body></html>", "TestFeed::parse: Missing node: Siri"},
        {"<Siri><Other/></Siri>", "TestFeed::parse: Missing node: ServiceDelivery"},
        {"<Siri><ServiceDelivery><EstimatedTimetableDelivery/></ServiceDelivery></Siri>",
         "TestFeed::parse: Missing node: StopMonitoringDelivery"},
    };
    for (const auto& c : cases) {
        LogCapture log;
        SiriReader reader("TestFeed");
        EXPECT_EQ(reader.openDelivery(c.text), nullptr) << c.log;
        EXPECT_TRUE(log.contains(c.log, 8)) << c.log << "\n" << log.dump().substr(0, 2000);
    }
}

TEST(SiriReader, NodeTimeReportsMissingEmptyAndInvalidValues) {
    SiriReader reader("TestFeed");
    const SiriNode* delivery = reader.openDelivery(
        "<Siri><ServiceDelivery><StopMonitoringDelivery><Empty></Empty><Bad>soon</Bad>"
        "<Old>1969-12-31T23:00:00Z</Old><Good>2026-06-04T09:00:00Z</Good>"
        "</StopMonitoringDelivery></ServiceDelivery></Siri>");
    const struct {
        const char* name;
        int64_t expected;
        const char* log;  // "": no "Invalid" line
    } cases[] = {
        {"Missing", 0, "TestFeed: Missing node:Missing"},
        {"Empty", 0, ""},
        {"Bad", 0, "TestFeed: Invalid node value:Bad:soon"},
        {"Old", -3600, "TestFeed: Invalid node value:Old:1969-12-31T23:00:00Z"},
        {"Good", 1780563600, ""},
    };
    for (const auto& c : cases) {
        LogCapture log;
        EXPECT_EQ(reader.getNodeTime(delivery, c.name), c.expected) << c.name;
        EXPECT_TRUE(*c.log ? log.contains(c.log, 8) : !log.contains("Invalid")) << c.name << "\n" << log.dump();
    }
}
