#include "feeds/airport/flight_departures_feed.h"

#include <gtest/gtest.h>

#include "tests/feeds/airport/airport_test_support.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

TEST(FlightDeparturesFeed, ServiceReplyBecomesTheBoardOfFlightsStillToLeave) {
    TempFileRoot root;
    ManualClock clock;
    StubServer server;
    server.reply("/api/flights/departures", readTestData("airport/flight_departures.json"), 200, "application/json");
    FlightDeparturesFeedImpl feed(server.url("/api/flights/departures?key=abc123"));
    LogCapture log;

    // Airborne (anywhere in the text), taxied, gate-closed and status-less flights are left out;
    // a double quote inside a text becomes an apostrophe so the list keeps its shape.
    SymbolPairs expected = {
        {"departure_flight_service_status_array", R"("Boarding","Gate Open","Delayed 16:30","Go to Gate 1800")"},
        {"departure_flight_service_airline_array", R"("Air France","Lufthansa","Icelandair","Ryanair")"},
        {"departure_flight_service_flight_no_array", R"("AF1687","LH961","FI431","FR6643")"},
        {"departure_flight_service_time_array", R"("14:50","15:10","15:40","16:00")"},
        {"departure_flight_service_destination_array", R"("Paris CDG","Frankfurt","Reykjavik 'Keflavik'","Alicante")"},
        {"departure_flight_service_gate_info_array", R"("9","12","","14")"},
        {"flight_departures_has_connection", "1"},
    };
    EXPECT_EQ(runCycle(feed), expected);

    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].query, "key=abc123");
    EXPECT_TRUE(log.contains("OD_FlightDepartures download command: curl " + std::string(kTestCurlParams) + " '-k' '" +
                                 server.url("/api/flights/departures?key=ab***(6)") + "'",
                             8))
        << log.dump();
    EXPECT_FALSE(log.contains("abc123")) << "access key in clear";

    // The cached reply is exported again on every cycle.
    clock.now += 30;
    EXPECT_EQ(runCycle(feed), expected);
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST(FlightDeparturesFeed, RowLimitComesFromModuleParamsEveryCycle) {
    TempFileRoot root;
    std::string flights = "[";
    for (int i = 0; i < 40; ++i) flights += std::string(i ? "," : "") + R"({"Status":"On time","FlightNo":"F)" + std::to_string(i) + R"("})";
    flights += "]";
    root.write("/vorn/media/offline/flight_departures.json", flights);
    struct Case {
        const char* params;
        size_t rows;
    } cases[] = {
        {R"({})", 30},
        {R"({"flight_departures_max_row_count": null})", 30},
        {R"({"flight_departures_max_row_count": 3})", 3},
        {R"({"flight_departures_max_row_count": "5"})", 5},
        {R"({"flight_departures_max_row_count": 0})", 40},
        {R"({"flight_departures_max_row_count": {"rows": 2}})", 30},
        {R"({"flight_departures_max_row_count": [2]})", 30},
    };
    FlightDeparturesFeedImpl feed("http://unused.invalid/");
    for (const auto& c : cases) {
        setModuleParams(feed, c.params);
        std::string numbers = valueOf(runCycle(feed), "departure_flight_service_flight_no_array");
        size_t rows = numbers.empty() ? 0 : std::count(numbers.begin(), numbers.end(), ',') + 1;
        EXPECT_EQ(rows, c.rows) << c.params;
    }
}

TEST(FlightDeparturesFeed, UnusableRepliesReportNoConnection) {
    TempFileRoot root;
    struct Case {
        const char* name;
        std::string reply;
        SymbolPairs expected;
    } cases[] = {
        {"empty file", "", {{"flight_departures_has_connection", "0"}}},
        {"not JSON", "<html>502 Bad Gateway</html>", {{"flight_departures_has_connection", "0"}}},
        {"object root", R"({"error":"bad key"})", {{"flight_departures_has_connection", "0"}}},
        {"truncated", R"([{"Status":"Boarding","Time":"14:)", {{"flight_departures_has_connection", "0"}}},
        {"only odd elements",
         R"([1, "text", null, [{"Status":"Boarding"}], {"Status":"Departed - AIRBORNE"}])",
         {{"departure_flight_service_status_array", ""},
          {"departure_flight_service_airline_array", ""},
          {"departure_flight_service_flight_no_array", ""},
          {"departure_flight_service_time_array", ""},
          {"departure_flight_service_destination_array", ""},
          {"departure_flight_service_gate_info_array", ""},
          {"flight_departures_has_connection", "0"}}},
        {"odd member types",
         R"([{"Status":"Boarding","Time":{"h":14},"Gate":[1],"FlightNo":123,"Airline":null}])",
         {{"departure_flight_service_status_array", R"("Boarding")"},
          {"departure_flight_service_airline_array", R"("")"},
          {"departure_flight_service_flight_no_array", R"("123")"},
          {"departure_flight_service_time_array", R"("")"},
          {"departure_flight_service_destination_array", R"("")"},
          {"departure_flight_service_gate_info_array", R"("")"},
          {"flight_departures_has_connection", "1"}}},
    };
    for (const auto& c : cases) {
        root.write("/vorn/media/offline/flight_departures.json", c.reply);
        FlightDeparturesFeedImpl feed("http://unused.invalid/");
        EXPECT_EQ(runCycle(feed), c.expected) << c.name;
    }
}
