// The two departure boards: the airport operator's service and Azinq's.
#include <sys/stat.h>
#include <unistd.h>

#include "feeds/airport/flight_departures_azinq_feed.h"
#include "feeds/airport/flight_departures_feed.h"
#include "tests/support/feed_test.h"

using AirportFeed = FeedTest;

namespace {
// The pairs named as in like, in its order, with these values (one for each pair).
SymbolPairs withValues(SymbolPairs like, const std::vector<std::string>& values) {
    for (size_t i = 0; i < like.size(); ++i) like[i].second = values.at(i);
    return like;
}

// From tests/data/airport/flight_departures.json: airborne (anywhere in the text), taxied,
// gate-closed and status-less flights are left out; a double quote becomes an apostrophe.
const SymbolPairs kBoard = {
    {"departure_flight_service_status_array", R"("Boarding","Gate Open","Delayed 16:30","Go to Gate 1800")"},
    {"departure_flight_service_airline_array", R"("Air France","Lufthansa","Icelandair","Ryanair")"},
    {"departure_flight_service_flight_no_array", R"("AF1687","LH961","FI431","FR6643")"},
    {"departure_flight_service_time_array", R"("14:50","15:10","15:40","16:00")"},
    {"departure_flight_service_destination_array", R"("Paris CDG","Frankfurt","Reykjavik 'Keflavik'","Alicante")"},
    {"departure_flight_service_gate_info_array", R"("9","12","","14")"},
    {"flight_departures_has_connection", "1"},
};
// From tests/data/airport/flight_departures_azinq.json and two records added by the test: arrivals,
// airborne (T), off-block (D), status-less flights and a time shorter than 11 characters are left out;
// only the exact status "S" shows a gate action.
const SymbolPairs kAzinqBoard = {
    {"departure_flight_service_status_array", R"("Boarding","Scheduled","Cancelled","Scheduled","Info Due","Go to Gate","Info Due")"},
    {"departure_flight_service_gate_info_array", R"("12","","","","","8","")"},
    {"departure_flight_service_airline_array", R"("KL","EI","FR","EI","FI","WF","BA")"},
    {"departure_flight_service_flight_no_array", R"("KL1286","EI3255","FR6643","EI3613","FI431","WF571","BA3")"},
    {"departure_flight_service_time_array", R"("14:35","14:50","15:15","15:30","16:05","16:40","")"},
    {"departure_flight_service_destination_array", R"("Amsterdam","Dublin","Alicante","Belfast City","Reykjavik","Bergen","")"},
    {"flight_departures_has_connection", "1"},
};
const SymbolPairs kNoConnection = {{"flight_departures_has_connection", "0"}};
const char* const kCredentials = R"("flight_departures_username": "AIRCOACH", "flight_departures_password": "pa$$'w0rd;ls")";
}  // namespace

TEST_F(AirportFeed, DeparturesServiceReplyBecomesTheBoardOfFlightsStillToLeave) {
    server.reply("/api/flights/departures", readTestData("airport/flight_departures.json"));
    FlightDeparturesFeedImpl feed(server.url("/api/flights/departures?key=abc123"));
    EXPECT_EQ(cycle(feed, kModuleCurlParams), kBoard);
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].query, "key=abc123");
    // The cached reply is parsed again each cycle, under the row limit of that cycle.
    configure(feed, R"({"flight_departures_max_row_count": 3})");
    EXPECT_EQ(valueOf(cycle(feed, kModuleCurlParams), "departure_flight_service_flight_no_array"), R"("AF1687","LH961","FI431")");
}

TEST_F(AirportFeed, AzinqAsksOnlyWithAllThreeCredentialsAndSendsThemAsHeaders) {
    // A time too short to read skips its record, not the whole board; 11 characters are enough.
    std::string reply = readTestData("airport/flight_departures_azinq.json");
    reply.insert(reply.rfind(']'), R"(,
        {"FlightStatus":"S","DepartureArrivalType":"D","ScheduledDateTime":"2024-05-01","AirlineIATA":"KL","FlightNumber":"1"},
        {"FlightStatus":"N","DepartureArrivalType":"D","ScheduledDateTime":"2024-05-01T","AirlineIATA":"BA","FlightNumber":"3"})");
    server.reply("/getdata/flights", reply);
    root.write("/tmp/elsewhere", "precious");
    ASSERT_EQ(symlink(root.path("/tmp/elsewhere").c_str(), root.path("/tmp/flight_departures_azinq.json").c_str()), 0);
    FlightDeparturesFeedAzinqImpl feed(server.url("/getdata/flights?from=now&hours=4"));

    configure(feed, std::string("{") + kCredentials + "}");
    EXPECT_EQ(cycle(feed, kModuleCurlParams), kNoConnection) << "no token";
    EXPECT_EQ(server.requestCount(), 0u);

    configure(feed, std::string("{") + kCredentials + R"(, "flight_departures_token": "eyJhbGciOiJIUzI1NiJ9.e30.sig"})");
    EXPECT_EQ(cycle(feed, kModuleCurlParams), kAzinqBoard) << "complete credentials: asked at once";
    ASSERT_EQ(server.requestCount(), 1u);
    const RecordedRequest request = server.requests()[0];
    EXPECT_EQ(request.query, "from=now&hours=4") << "URL split by the shell";
    EXPECT_EQ(request.header("username") + " " + request.header("password") + " " + request.header("token"),
              "AIRCOACH pa$$'w0rd;ls eyJhbGciOiJIUzI1NiJ9.e30.sig");
    for (const char* secret : {"AIRCOACH", "w0rd", "eyJhbGciOiJIUzI1NiJ9"})
        EXPECT_FALSE(log.contains(secret)) << secret << " in clear:\n" << log.dump();
    EXPECT_TRUE(log.contains("skipping flight KL1: ScheduledDateTime too short: \"2024-05-01\"", 8)) << log.dump();

    // The copy for other processes replaces the planted link, readable by all.
    EXPECT_EQ(root.read("/tmp/elsewhere"), "precious");
    EXPECT_EQ(root.read("/tmp/flight_departures_azinq.json"), reply);
    struct stat info {};
    ASSERT_EQ(lstat(root.path("/tmp/flight_departures_azinq.json").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & (S_IFMT | 0777), S_IFREG | 0644u) << "a plain file, readable by all";

    configure(feed, R"({"flight_departures_show_cancelled": 0, "flight_departures_max_row_count": 3})");
    EXPECT_EQ(valueOf(cycle(feed, kModuleCurlParams), "departure_flight_service_flight_no_array"), R"("KL1286","EI3255","EI3613")");
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST(DeparturesParse, RepliesWithoutABoard) {
    const std::vector<std::string> kEmptyLists = {"", "", "", "", "", "", "0"};
    struct { const char* name; bool azinq; const char* reply; SymbolPairs expected; } cases[] = {
        {"not JSON", false, R"([{"Status":"Boarding","Time":"14:)", kNoConnection},
        {"Azinq not JSON", true, "Unauthorized", kNoConnection},
        {"Azinq object: keep the last board", true, R"({"error":"token expired"})", {}},
        {"Azinq no departures", true, R"([{"FlightStatus":"T","DepartureArrivalType":"D"}, "not a flight"])",
         withValues(kAzinqBoard, kEmptyLists)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.azinq ? parseAzinqDepartures(c.reply, 30, true) : parseFlightDepartures(c.reply, 30), c.expected) << c.name;
}
