#include "feeds/airport/flight_security_feed.h"

#include <gtest/gtest.h>

#include "tests/feeds/airport/airport_test_support.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

TEST(FlightSecurityFeed, ServiceReplyBecomesTheWaitInMinutes) {
    TempFileRoot root;
    ManualClock clock;
    StubServer server;
    server.reply("/api/security/time", readTestData("airport/flight_security.json"), 200, "application/json");
    FlightSecurityFeedImpl feed(server.url("/api/security/time?key=s3cr3t"));
    LogCapture log;

    EXPECT_EQ(runCycle(feed), (SymbolPairs{{"flight_security_wait_time", "8"}})) << "421 s rounds up to 8 minutes";
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].query, "key=s3cr3t");
    EXPECT_TRUE(log.contains("OD_FlightSecurity: Executing command:; curl", 4)) << log.dump();
    EXPECT_FALSE(log.contains("s3cr3t")) << log.dump();
}

TEST(FlightSecurityFeed, QueueSecondsRoundUpToWholeMinutes) {
    struct Case {
        const char* reply;
        SymbolPairs expected;
    } cases[] = {
        {R"({"queue": 0})", {{"flight_security_wait_time", "0"}}},
        {R"({"queue": 1})", {{"flight_security_wait_time", "1"}}},
        {R"({"queue": 60})", {{"flight_security_wait_time", "1"}}},
        {R"({"queue": 61})", {{"flight_security_wait_time", "2"}}},
        {R"({"queue": 90.7})", {{"flight_security_wait_time", "2"}}},
        {R"({"queue": 4294967295})", {{"flight_security_wait_time", "71582789"}}},
        {R"({"queue": 18446744073709551615})", {{"flight_security_wait_time", "307445734561825861"}}},
        {R"({"lanes": 3})", {{"flight_security_wait_time", ""}}},
        {R"({"queue": null})", {{"flight_security_wait_time", ""}}},
        // Unusable waits and replies leave the last wait on display.
        {R"({"queue": "soon"})", {}},
        {R"({"queue": "120"})", {}},
        {R"({"queue": -5})", {}},
        {R"({"queue": 1e300})", {}},
        {R"({"queue": true})", {}},
        {R"({"queue": [60]})", {}},
        {R"([{"queue": 60}])", {}},
        {"", {}},
        {"<html>", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(parseFlightSecurity(c.reply), c.expected) << c.reply;
}
