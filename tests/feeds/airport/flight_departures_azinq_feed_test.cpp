#include "feeds/airport/flight_departures_azinq_feed.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/feeds/airport/airport_test_support.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

namespace {
const char* const kCredentials =
    R"({"flight_departures_username": "AIRCOACH", "flight_departures_password": "pa$$'w0rd;ls",
        "flight_departures_token": "eyJhbGciOiJIUzI1NiJ9.e30.sig")";

std::string withCredentials(const std::string& extra = "") {
    return std::string(kCredentials) + (extra.empty() ? "" : ", " + extra) + "}";
}

// The board of the fixture with cancelled flights shown.
const SymbolPairs kFixtureBoard = {
    {"departure_flight_service_status_array", R"("Boarding","Scheduled","Cancelled","Scheduled","Info Due","Go to Gate")"},
    {"departure_flight_service_gate_info_array", R"("12","","","","","8")"},
    {"departure_flight_service_airline_array", R"("KL","EI","FR","EI","FI","WF")"},
    {"departure_flight_service_flight_no_array", R"("KL1286","EI3255","FR6643","EI3613","FI431","WF571")"},
    {"departure_flight_service_time_array", R"("14:35","14:50","15:15","15:30","16:05","16:40")"},
    {"departure_flight_service_destination_array",
     R"("Amsterdam","Dublin","Alicante","Belfast City","Reykjavik","Bergen")"},
    {"flight_departures_has_connection", "1"},
};
}  // namespace

TEST(FlightDeparturesAzinqFeed, SendsTheThreeCredentialHeadersAndBuildsTheBoard) {
    TempFileRoot root;
    ManualClock clock;
    StubServer server;
    std::string reply = readTestData("airport/flight_departures_azinq.json");
    server.reply("/getdata/flights", reply, 200, "application/json");
    FlightDeparturesFeedAzinqImpl feed(server.url("/getdata/flights?from=now&hours=4"));
    LogCapture log;
    setModuleParams(feed, withCredentials());

    // Arrivals, airborne (T) and off-block (D) flights and records without a status never show;
    // only the exact status "S" shows a gate action (so "Sx" shows "Scheduled").
    EXPECT_EQ(runCycle(feed), kFixtureBoard);

    ASSERT_EQ(server.requestCount(), 1u);
    const RecordedRequest request = server.requests()[0];
    EXPECT_EQ(request.query, "from=now&hours=4") << "URL split by the shell";
    EXPECT_EQ(request.header("username"), "AIRCOACH");
    EXPECT_EQ(request.header("password"), "pa$$'w0rd;ls");
    EXPECT_EQ(request.header("token"), "eyJhbGciOiJIUzI1NiJ9.e30.sig");

    for (const char* secret : {"AIRCOACH", "w0rd", "eyJhbGciOiJIUzI1NiJ9"})
        EXPECT_FALSE(log.contains(secret)) << secret << " in clear:\n" << log.dump();
    EXPECT_TRUE(log.contains("username: AI***(8), password: pa***(12), token: ey***(28), show conceled flights: 1", 2))
        << log.dump();
    EXPECT_TRUE(log.contains("'-H' 'token:ey***(28)'", 2)) << log.dump();

    EXPECT_EQ(root.read("/tmp/flight_departures_azinq.json"), reply) << "copy of the download for other processes";
}

TEST(FlightDeparturesAzinqFeed, CancelledFlightsFollowTheShowCancelledKey) {
    TempFileRoot root;
    root.write("/vorn/media/offline/flight_departures_azinq.json", readTestData("airport/flight_departures_azinq.json"));
    FlightDeparturesFeedAzinqImpl feed("http://unused.invalid/");
    LogCapture log;

    setModuleParams(feed, withCredentials(R"("flight_departures_show_cancelled": "1")"));
    EXPECT_EQ(runCycle(feed), kFixtureBoard);

    setModuleParams(feed, withCredentials(R"("flight_departures_show_cancelled": 0, "flight_departures_max_row_count": 2)"));
    SymbolPairs pairs = runCycle(feed);
    EXPECT_EQ(valueOf(pairs, "departure_flight_service_flight_no_array"), R"("KL1286","EI3255")");
    setModuleParams(feed, withCredentials(R"("flight_departures_show_cancelled": 0)"));
    pairs = runCycle(feed);
    EXPECT_EQ(valueOf(pairs, "departure_flight_service_flight_no_array"), R"("KL1286","EI3255","EI3613","FI431","WF571")");
    EXPECT_TRUE(log.contains("Skipping cancelled flight  ", 2));
    EXPECT_TRUE(log.contains("FlightDeparturesFeedAzinqImpl: :downloadData - Offline test file used.", 4));
}

TEST(FlightDeparturesAzinqFeed, OneBadRecordDoesNotLoseTheBoard) {
    const char* reply = R"([
        {"FlightStatus":"S","DepartureArrivalType":"D","ScheduledDateTime":"2024-05-01","AirlineIATA":"KL","FlightNumber":"1"},
        {"FlightStatus":"S","DepartureArrivalType":"D","ScheduledDateTime":"2024-05-01T09:05:00","AirlineIATA":"EI","FlightNumber":"2",
         "OriginDestAirportDescFormatted":"Cork \"ORK\""},
        {"FlightStatus":"Q","DepartureArrivalType":"D","ScheduledDateTime":"2024-05-01T09","AirlineIATA":"BA","FlightNumber":"3"},
        {"FlightStatus":"S","DepartureArrivalType":"D","ScheduledDateTime":"2024-05-01T09:30:00","AirlineIATA":"U2","FlightNumber":"4",
         "GateActionCode":"Z","GateCode":"9"},
        {"FlightStatus":{"code":"S"},"DepartureArrivalType":["A"],"ScheduledDateTime":12345678901234,"AirlineIATA":"LH","FlightNumber":"5"},
        "not a flight"
    ])";
    LogCapture log;
    SymbolPairs expected = {
        {"departure_flight_service_status_array", R"("Scheduled","","","")"},
        {"departure_flight_service_gate_info_array", R"("","","9","")"},
        {"departure_flight_service_airline_array", R"("EI","BA","U2","LH")"},
        {"departure_flight_service_flight_no_array", R"("EI2","BA3","U24","LH5")"},
        {"departure_flight_service_time_array", R"("09:05","09","09:30","234")"},
        {"departure_flight_service_destination_array", R"("Cork 'ORK'","","","")"},
        {"flight_departures_has_connection", "1"},
    };
    EXPECT_EQ(parseAzinqDepartures(reply, 30, true), expected);
    EXPECT_TRUE(log.contains("FlightDeparturesFeedAzinqImpl - skipping flight KL1: ScheduledDateTime too short: \"2024-05-01\"", 8))
        << log.dump();
    EXPECT_TRUE(log.contains("FlightDeparturesFeedAzinqImpl - unrecognized FlightStatus: Q", 8));
    EXPECT_TRUE(log.contains("FlightDeparturesFeedAzinqImpl - unrecognized GateActionCode: Z", 8));
}

TEST(FlightDeparturesAzinqFeed, RepliesWithoutABoard) {
    struct Case {
        const char* name;
        const char* reply;
        SymbolPairs expected;
    } cases[] = {
        {"empty", "", {{"flight_departures_has_connection", "0"}}},
        {"not JSON", "Unauthorized", {{"flight_departures_has_connection", "0"}}},
        {"object: keep the last board", R"({"error":"token expired"})", {}},
        {"no departures", R"([{"FlightStatus":"T","DepartureArrivalType":"D"}])",
         {{"departure_flight_service_status_array", ""},
          {"departure_flight_service_gate_info_array", ""},
          {"departure_flight_service_airline_array", ""},
          {"departure_flight_service_flight_no_array", ""},
          {"departure_flight_service_time_array", ""},
          {"departure_flight_service_destination_array", ""},
          {"flight_departures_has_connection", "0"}}},
    };
    for (const auto& c : cases) EXPECT_EQ(parseAzinqDepartures(c.reply, 30, true), c.expected) << c.name;
}

TEST(FlightDeparturesAzinqFeed, NoRequestWithoutCredentials) {
    TempFileRoot root;
    ManualClock clock;
    StubServer server;
    server.reply("/getdata/flights", "[]");
    FlightDeparturesFeedAzinqImpl feed(server.url("/getdata/flights"));
    LogCapture log;
    setModuleParams(feed, R"({"flight_departures_username": "AIRCOACH", "flight_departures_password": 12})");

    EXPECT_EQ(runCycle(feed), (SymbolPairs{{"flight_departures_has_connection", "0"}}));
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_TRUE(log.contains("FlightDeparturesFeedAzinqImpl: missing credentials", 16)) << log.dump();
}

TEST(FlightDeparturesAzinqFeed, CopyIsReplacedNotWrittenThroughALink) {
    TempFileRoot root;
    ManualClock clock;
    StubServer server;
    server.reply("/getdata/flights", "[]");
    root.write("/tmp/elsewhere", "precious");
    ASSERT_EQ(symlink(root.path("/tmp/elsewhere").c_str(), root.path("/tmp/flight_departures_azinq.json").c_str()), 0);
    FlightDeparturesFeedAzinqImpl feed(server.url("/getdata/flights"));
    setModuleParams(feed, withCredentials());

    runCycle(feed);
    EXPECT_EQ(root.read("/tmp/elsewhere"), "precious");
    EXPECT_EQ(root.read("/tmp/flight_departures_azinq.json"), "[]");
}
