#include "feeds/rail_siri/siri_reader.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/log_capture.h"
#include "util/time_convert.h"

namespace {
// Runs the body under each zone, then restores the process zone.
class ZoneGuard {
public:
    ZoneGuard() {
        const char* tz = std::getenv("TZ");
        m_had = tz != nullptr;
        if (tz) m_tz = tz;
    }
    ~ZoneGuard() {
        if (m_had)
            setProcessTimeZone(m_tz);
        else {
            unsetenv("TZ");
            tzset();
        }
    }

private:
    bool m_had = false;
    std::string m_tz;
};
}  // namespace

TEST(SiriTime, ReadsEveryZoneFormInAnyProcessZone) {
    struct Case {
        const char* text;
        int64_t expected;
    } cases[] = {
        {"2026-06-04T10:00:00+01:00", 1780563600},        // London summer, as providers send it
        {"2026-06-04T09:00:00Z", 1780563600},             // Z is UTC, not a date '-'
        {"2026-06-04T09:00:00.000Z", 1780563600},         // fractional seconds
        {"2026-06-04T09:00:00", 1780563600},              // no zone: UTC
        {"2026-06-04T11:00:00.1234567+02:00", 1780563600},
        {"2026-06-04T04:00:00-05:00", 1780563600},
        {"2026-06-04T14:30:00+0530", 1780563600},
        {"2026-06-04T10:00:00+01", 1780563600},
        {"2026-01-15T08:30:00+00:00", 1768465800},        // London winter
        {"2026-01-15T09:30:00+01:00", 1768465800},        // Paris winter
        {" 2026-01-15T08:30:00Z\n", 1768465800},          // pretty-printed element text
    };
    ZoneGuard guard;
    for (const char* zone : {":/usr/share/zoneinfo/Europe/London", ":/usr/share/zoneinfo/Asia/Tokyo",
                             ":/usr/share/zoneinfo/America/New_York", "UTC"}) {
        setProcessTimeZone(zone);
        for (const auto& c : cases) {
            int64_t seconds = -1;
            EXPECT_TRUE(parseSiriTime(c.text, seconds)) << c.text << " in " << zone;
            EXPECT_EQ(seconds, c.expected) << c.text << " in " << zone;
        }
    }
}

TEST(SiriTime, RefusesTextsThatAreNoDateTime) {
    for (const char* text : {"", "2026-06-04", "2026-06-04T10:00", "tomorrow at ten o'clock", "2026-13-04T10:00:00Z",
                             "2026-06-04T10:00:00+1:00", "2026-06-04T10:00:00 garbage", "2026-06-04T10:00:00.Z",
                             "2026-06-04T10:61:00Z", "-026-06-04T10:00:00Z"}) {
        int64_t seconds = 42;
        EXPECT_FALSE(parseSiriTime(text, seconds)) << "'" << text << "'";
        EXPECT_EQ(seconds, 42) << "'" << text << "'";
    }
}

TEST(SiriReader, WalksPrefixedAndPlainDeliveriesAlike) {
    const char* plain =
        "<Siri xmlns=\"http://www.siri.org.uk/siri\"><ServiceDelivery><StopMonitoringDelivery>"
        "<Status>true</Status><Note><![CDATA[a < b]]></Note></StopMonitoringDelivery></ServiceDelivery></Siri>";
    const char* prefixed =
        "<s:Siri xmlns:s=\"http://www.siri.org.uk/siri\"><s:ServiceDelivery><s:StopMonitoringDelivery>"
        "<s:Status>true</s:Status><s:Note><![CDATA[a < b]]></s:Note></s:StopMonitoringDelivery></s:ServiceDelivery>"
        "</s:Siri>";
    for (const char* text : {plain, prefixed}) {
        SiriReader reader("TestFeed");
        const SiriNode* delivery = reader.openDelivery(text);
        ASSERT_NE(delivery, nullptr) << text;
        EXPECT_EQ(reader.getNodeText(delivery, "Status"), "true") << text;
        EXPECT_EQ(reader.getNodeText(delivery, "Note"), "a < b") << text;
    }
}

TEST(SiriReader, LogsEachFailureWithTheFeedsPrefix) {
    struct Case {
        const char* text;
        const char* log;
    } cases[] = {
        {"<Siri><ServiceDelivery>", "TestFeed::parse: parsing failed ("},
        {"", "TestFeed::parse: Missing node: Siri"},
        {"<html><body>502 Bad Gateway</body></html>", "TestFeed::parse: Missing node: Siri"},
        {"<Siri><Other/></Siri>", "TestFeed::parse: Missing node: ServiceDelivery"},
        {"<Siri><ServiceDelivery><EstimatedTimetableDelivery/></ServiceDelivery></Siri>",
         "TestFeed::parse: Missing node: StopMonitoringDelivery"},
    };
    for (const auto& c : cases) {
        LogCapture log;
        SiriReader reader("TestFeed");
        EXPECT_EQ(reader.openDelivery(c.text), nullptr) << c.text;
        EXPECT_TRUE(log.contains(c.log, 8)) << c.text << "\n" << log.dump();
    }
}

TEST(SiriReader, RefusesDeepNestingInsteadOfExhaustingTheStack) {
    std::string deep;
    for (int i = 0; i < 200000; ++i) deep += "<a x='/>'>";
    LogCapture log;
    SiriReader reader("TestFeed");
    EXPECT_EQ(reader.openDelivery("<Siri><ServiceDelivery>" + deep), nullptr);
    EXPECT_TRUE(log.contains("TestFeed::parse: parsing failed (nesting deeper than 256 levels)", 8)) << log.dump();
}

TEST(SiriReader, NodeTimeReportsMissingEmptyAndInvalidValues) {
    SiriReader reader("TestFeed");
    const SiriNode* delivery = reader.openDelivery(
        "<Siri><ServiceDelivery><StopMonitoringDelivery><Empty></Empty><Bad>soon</Bad>"
        "<Old>1969-12-31T23:00:00Z</Old><Good>2026-06-04T09:00:00Z</Good>"
        "</StopMonitoringDelivery></ServiceDelivery></Siri>");
    ASSERT_NE(delivery, nullptr);
    LogCapture log;
    EXPECT_EQ(reader.getNodeTime(delivery, "Missing"), 0);
    EXPECT_TRUE(log.contains("TestFeed: Missing node:Missing", 8)) << log.dump();
    EXPECT_EQ(reader.getNodeTime(delivery, "Empty"), 0);
    EXPECT_FALSE(log.contains("Invalid node value:Empty")) << log.dump();
    EXPECT_EQ(reader.getNodeTime(delivery, "Bad"), 0);
    EXPECT_TRUE(log.contains("TestFeed: Invalid node value:Bad:soon", 8)) << log.dump();
    EXPECT_EQ(reader.getNodeTime(delivery, "Old"), -3600);
    EXPECT_TRUE(log.contains("TestFeed: Invalid node value:Old:1969-12-31T23:00:00Z", 8)) << log.dump();
    EXPECT_EQ(reader.getNodeTime(delivery, "Good"), 1780563600);
}
