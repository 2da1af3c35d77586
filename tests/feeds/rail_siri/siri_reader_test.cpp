#include "feeds/rail_siri/siri_reader.h"

#include <gtest/gtest.h>

#include "tests/support/feed_test.h"
#include "tests/support/log_capture.h"

TEST(SiriTime, ReadsEveryZoneFormInAnyProcessZone) {
    const struct {
        const char* text;
        int64_t expected;
    } cases[] = {
        {"2026-06-04T10:00:00+01:00", 1780563600},  // London summer, as providers send it
        {"2026-06-04T09:00:00.000Z", 1780563600},   // Z is UTC, not a date '-'
        {"2026-06-04T09:00:00", 1780563600},        // no zone: UTC
        {"2026-06-04T04:00:00-05:00", 1780563600},
        {"2026-06-04T14:30:00+0530", 1780563600},
        {"2026-06-04T10:00:00+01", 1780563600},
        {"2026-01-15T08:30:00+00:00", 1768465800},  // London winter
        {"2026-01-15T09:30:00+01:00", 1768465800},  // Paris winter
        {" 2026-01-15T08:30:00Z\n", 1768465800},    // pretty-printed element text
    };
    for (const char* zone : {":/usr/share/zoneinfo/Europe/London", ":/usr/share/zoneinfo/Asia/Tokyo", "UTC"}) {
        ZoneScope scope(zone);
        for (const auto& c : cases) {
            int64_t seconds = -1;
            EXPECT_TRUE(parseSiriTime(c.text, seconds) && seconds == c.expected) << c.text << " in " << zone;
        }
    }
    for (const char* text : {"2026-06-04T10:00", "2026-13-04T10:00:00Z", "2026-06-04T10:00:00+1:00",
                             "2026-06-04T10:00:00 garbage", "2026-06-04T10:00:00.Z", "2026-06-04T10:61:00Z"}) {
        int64_t seconds = 42;
        EXPECT_TRUE(!parseSiriTime(text, seconds) && seconds == 42) << "refused, untouched: '" << text << "'";
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

TEST(SiriReader, NodeTimeReportsEmptyAndInvalidValues) {
    SiriReader reader("TestFeed");
    const SiriNode* delivery = reader.openDelivery(
        "<Siri><ServiceDelivery><StopMonitoringDelivery><Empty></Empty><Bad>soon</Bad>"
        "<Old>1969-12-31T23:00:00Z</Old><Good>2026-06-04T09:00:00Z</Good>"
        "</StopMonitoringDelivery></ServiceDelivery></Siri>");
    LogCapture log;
    EXPECT_EQ(reader.getNodeTime(delivery, "Empty"), 0);
    EXPECT_FALSE(log.contains("Invalid")) << log.dump();
    EXPECT_EQ(reader.getNodeTime(delivery, "Bad"), 0);
    EXPECT_EQ(reader.getNodeTime(delivery, "Old"), -3600);
    EXPECT_EQ(reader.getNodeTime(delivery, "Good"), 1780563600);
    EXPECT_TRUE(log.contains("TestFeed: Invalid node value:Bad:soon", 8)) << log.dump();
    EXPECT_TRUE(log.contains("TestFeed: Invalid node value:Old:1969-12-31T23:00:00Z", 8)) << log.dump();
}
