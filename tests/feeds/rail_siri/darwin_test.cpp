#include "feeds/rail_siri/darwin_feed.h"

#include <gtest/gtest.h>

#include <map>

#include "core/feed/symbol_list.h"
#include "core/feed/xml_text.h"
#include "feeds/rail_siri/siri_reader.h"
#include "platform/clock.h"
#include "tests/support/feed_test.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

namespace {
constexpr const char* kToken = "0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9";
constexpr const char* kEndpointPath = "/OpenLDBWS/ldb11.asmx";
const SymbolPairs kNoConnection = {{"rail_departures_has_connection", "0"}};

int64_t utc(const char* text) {
    int64_t seconds = 0;
    EXPECT_TRUE(parseSiriTime(std::string(text) + "Z", seconds)) << text;
    return seconds;
}

// Departures are read in the vehicle's zone: London for these tests.
class DarwinTest : public ::testing::Test {
protected:
    void SetUp() override { setNow(utc("2024-01-16T12:00:30")); }
    void TearDown() override { setWallClock(nullptr); }
    void setNow(int64_t now) {
        setWallClock([now] { return now; });
    }
    // A feed with the token, the stub server's endpoint and these "ModuleParams" keys.
    std::unique_ptr<DarwinFeedImpl> makeFeed(const std::string& moreParams = "") {
        return configuredFeed<DarwinFeedImpl>(R"({"rail_departures_client_token": ")" + std::string(kToken) +
                                              R"(", "rail_departures_url": ")" + server.url(kEndpointPath) + "\"" +
                                              moreParams + "}");
    }

    ZoneScope zone{"Europe/London"};
    TempFileRoot root;
    StubServer server;
};

const std::vector<std::string> kStds = {"12:04", "12:12", "12:15", "12:28", "12:33", "12:40"};

// tests/data/rail_siri/darwin_board.xml as exported.
const SymbolPairs kEdinburgh = {
    {"departures_station_board_location_name", "Edinburgh"},
    {"departures_station_board_generated_at", "2024-01-16T12:00:05.3370936+00:00"},
    {"departures_station_board_crs", "EDB"},
    {"departures_station_board_platform_available", "true"},
    {"departures_station_board_services_available", "true"},
    {"departures_station_board_messages", "Disruption between Haymarket and Glasgow Queen Street. More details can be "
                                          "found in Latest Travel News. Lifts are out of order at platform 12. "},
    {"departure_train_service_std_array", makeList(kStds)},
    {"departure_train_service_destination_name_array",
     makeList({"London Kings Cross", "Glasgow Queen Street via Falkirk High", "North Berwick", "Plymouth",
               "Tweedbank & Edinburgh via Fife Circle", "Dunbar"})},
    {"departure_train_service_destination_short_name_array",
     makeList({"London Kings Cross", "Glasgow Queen Street", "North Berwick", "Plymouth", "Tweedbank & Edinburgh",
               "Dunbar"})},
    {"departure_train_service_destination_crs_array", makeList({"KGX", "GLQ", "NBW", "PLY", "TWB & EDB", "DUN"})},
    {"departure_train_service_platform_array", makeList({"2", "12", "19", "8", " ", " "})},
    {"departure_train_service_etd_array", makeList({"On time", "12:19", "Cancelled", "On time", "On time", "On time"})},
    {"departure_train_service_operator_array",
     makeList({"LNER", "ScotRail", "ScotRail", "CrossCountry", "ScotRail", "ScotRail"})},
    {"departure_train_service_origin_name_array",
     makeList({"Edinburgh", "Edinburgh", "Edinburgh", "Glasgow Central", "Edinburgh", "Edinburgh"})},
    {"departure_train_service_origin_crs_array", makeList({"EDB", "EDB", "EDB", "GLC", "EDB", "EDB"})},
    {"departure_train_service_operator_code_array", makeList({"GR", "SR", "SR", "XC", "SR", "SR"})},
    {"departure_train_service_circular_route_array", makeList({"false", "false", "false", "false", "true", "false"})},
    {"departure_train_service_cancelled_array", makeList({"false", "false", "true", "false", "false", "false"})},
    {"departure_train_service_cancel_reason_array",
     makeList({"", "", "This train has been cancelled because of a shortage of train crew", "", "", ""})},
    {"departure_train_service_delay_reason_array",
     makeList({"", "This train has been delayed by a fault with the signalling system", "", "", "", ""})},
    {"departure_train_service_alerts_array", makeList({"", "", "", "", "", ""})},
    {"rail_departures_has_connection", "1"}};

std::string expectedRequest(const std::string& token, const std::string& rows, const std::string& crs) {
    return "<?xml version=\"1.0\"?>  <SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "xmlns:ns1=\"http://thalesgroup.com/RTTI/2017-10-01/ldb/\" "
           "xmlns:ns2=\"http://thalesgroup.com/RTTI/2013-11-28/Token/types\">     <SOAP-ENV:Header>         "
           "<ns2:AccessToken>             <ns2:TokenValue>" + token +
           "</ns2:TokenValue>         </ns2:AccessToken>     </SOAP-ENV:Header>     <SOAP-ENV:Body>         "
           "<ns1:GetDepartureBoardRequest>             <ns1:numRows>" + rows + "</ns1:numRows>             <ns1:crs>" +
           crs + "</ns1:crs>         </ns1:GetDepartureBoardRequest>     </SOAP-ENV:Body> </SOAP-ENV:Envelope>";
}

// A response envelope around the given board content.
std::string response(const std::string& boardContent) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope "
           "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body><GetDepartureBoardResponse "
           "xmlns=\"http://thalesgroup.com/RTTI/2017-10-01/ldb/\"><GetStationBoardResult>" +
           boardContent + "</GetStationBoardResult></GetDepartureBoardResponse></soap:Body></soap:Envelope>";
}

std::string service(const std::string& std, const std::string& etd, const std::string& extra = "") {
    return "<lt7:service>" + (std.empty() ? "" : "<lt4:std>" + std + "</lt4:std>") +
           (etd.empty() ? "" : "<lt4:etd>" + etd + "</lt4:etd>") +
           "<lt5:origin><lt4:location><lt4:locationName>A</lt4:locationName><lt4:crs>AAA</lt4:crs></lt4:location>"
           "</lt5:origin><lt5:destination><lt4:location><lt4:locationName>B</lt4:locationName><lt4:crs>BBB</lt4:crs>"
           "</lt4:location></lt5:destination>" + extra + "</lt7:service>";
}
}  // namespace

TEST_F(DarwinTest, RequestsTheBoardOverSoapWithCurlAndMasksTheToken) {
    server.reply(kEndpointPath, readTestData("rail_siri/darwin_board.xml"), 200, "text/xml; charset=utf-8");
    auto feed = makeFeed(R"(, "rail_departures_test_crs": "WAV")");
    EXPECT_TRUE(feed->symbolUpdate("crs", 0, "EDB")) << "the imported station wins over the test one";
    LogCapture log;
    EXPECT_EQ(cycle(*feed), kEdinburgh);
    ASSERT_EQ(server.requestCount(), 1u);
    const RecordedRequest request = server.requests()[0];
    EXPECT_EQ(request.method + " " + request.path, std::string("POST ") + kEndpointPath);
    EXPECT_EQ(request.header("Content-Type"), "text/xml");
    EXPECT_EQ(request.body, expectedRequest(kToken, "30", "EDB"));
    for (const auto& line : log.lines()) EXPECT_EQ(line.text.find(kToken), std::string::npos) << line.text;
    EXPECT_TRUE(log.contains("DarwinFeedImpl: AuthToken: 0a***(36)", 2)) << log.dump();
    EXPECT_TRUE(log.contains("<ns2:TokenValue>0a***(36)</ns2:TokenValue>", 2)) << log.dump();

    // Without an imported station the test station is asked for, with the configured row count.
    server.reply(kEndpointPath, "");
    cycle(*makeFeed(R"(, "rail_departures_test_crs": "WAV", "rail_departures_max_row_count": "12")"));
    EXPECT_EQ(server.requests().back().body, expectedRequest(kToken, "12", "WAV"));
}

TEST_F(DarwinTest, HostileStationCodeTokenRowsAndEndpointRunNoCommand) {
    server.reply(kEndpointPath, readTestData("rail_siri/darwin_board.xml"));
    const std::string touch = "touch " + root.path("/tmp/pwned");
    const std::string crs = "EDB'; " + touch + "; echo '</ns1:crs><x>";
    const std::string token = "$(" + touch + ")`" + touch + "`'\"&<";
    const std::string rows = "30' ; " + touch + " ; '";
    Json::Value params(Json::objectValue);
    params["rail_departures_url"] = server.url(kEndpointPath) + "?x=';touch${IFS}" + root.path("/tmp/pwned") + ";'";
    params["rail_departures_client_token"] = token;
    params["rail_departures_max_row_count"] = rows;
    auto feed = configuredFeed<DarwinFeedImpl>(params);
    EXPECT_TRUE(feed->symbolUpdate("crs", 0, crs));
    cycle(*feed);
    EXPECT_FALSE(root.exists("/tmp/pwned"));
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].body, expectedRequest(xmlEscape(token), xmlEscape(rows), xmlEscape(crs)));
}

TEST_F(DarwinTest, FailedRequestsReportNoConnection) {
    const std::string board = readTestData("rail_siri/darwin_board.xml");
    for (const std::string& reply :
         {board.substr(0, board.size() / 2),  // malformed
          std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org"
                      "/soap/envelope/\"><soap:Body><soap:Fault><faultcode>soap:Client</faultcode><faultstring>"
                      "Unauthorized</faultstring></soap:Fault></soap:Body></soap:Envelope>")}) {
        server.reply(kEndpointPath, reply, 500);
        EXPECT_EQ(cycle(*makeFeed(R"(, "rail_departures_test_crs": "EDB")")), kNoConnection) << reply;
    }
    auto refused = configuredFeed<DarwinFeedImpl>(R"({"rail_departures_test_crs": "EDB", "rail_departures_url":
        "http://127.0.0.1:)" + std::to_string(refusedPort()) + R"("})");
    EXPECT_EQ(cycle(*refused), kNoConnection) << "connection refused";

    // No station at all: nothing is asked for, but the offline file is still read.
    auto feed = makeFeed();
    EXPECT_EQ(cycle(*feed), kNoConnection) << "no station";
    root.write(kDarwinOfflinePath, board);
    EXPECT_EQ(cycle(*feed), kEdinburgh) << "offline file";
    EXPECT_EQ(server.requestCount(), 2u);
}

TEST_F(DarwinTest, DeparturesTooSoonToCatchAreLeftOutOfTheExport) {
    root.write(kDarwinOfflinePath, readTestData("rail_siri/darwin_board.xml"));
    const struct {
        const char* window, *params;  // imported "crs_xmins", configured keys
        std::vector<std::string> kept;
    } cases[] = {
        {"10", "", {"12:12", "12:15", "12:28", "12:33", "12:40"}},
        {"99999999999999", "", {}},                                 // clamped, not overflowed
        {"10", R"(, "rail_departures_test_crs_xmins": "0")", kStds},  // the configured window wins
    };
    for (const auto& c : cases) {
        auto feed = makeFeed(c.params);
        EXPECT_TRUE(feed->symbolUpdate("crs_xmins", 0, c.window));
        EXPECT_EQ(valueOf(cycle(*feed), "departure_train_service_std_array"), makeList(c.kept)) << c.window << c.params;
    }
}

TEST_F(DarwinTest, SkipTestAroundMidnightAndClockChanges) {
    const struct {
        const char* name;
        const char* now;  // UTC
        const char* std;  // London time
        int window;
        bool skipped;
    } cases[] = {
        {"left 59 s ago", "2024-01-16T12:00:59", "12:00", 10, true},
        {"left 60 s ago", "2024-01-16T12:01:00", "12:00", 10, false},
        {"end of window", "2024-01-16T12:00:00", "12:10", 10, true},
        {"just past window", "2024-01-16T12:00:00", "12:11", 10, false},
        {"window 0", "2024-01-16T12:00:00", "12:00", 0, false},
        {"winter, new year's eve 23:58, after midnight", "2024-12-31T23:58:00", "00:05", 10, true},
        {"summer 23:55 BST, after midnight", "2024-07-16T22:55:00", "00:03", 10, true},
        {"summer 00:30 BST, read as UTC would be 23:30", "2024-07-16T23:30:00", "00:35", 10, true},
        {"clocks go forward: 00:55 GMT to 02:03 BST", "2024-03-31T00:55:00", "02:03", 10, true},
        {"letters around a colon", "2024-01-16T00:00:30", "ab:cd", 10, false},
        {"three parts", "2024-01-16T12:00:30", "12:00:00", 10, false},
        {"huge numbers", "2024-01-16T12:00:30", "99999999999:99999999999", 10, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DarwinFeedImpl::isWithinMinutes(c.std, c.window, utc(c.now)), c.skipped) << c.name;
}

TEST_F(DarwinTest, BoardStoriesAfterAFullBoard) {
    const std::string header =
        "<lt4:generatedAt>G</lt4:generatedAt><lt4:locationName>Haymarket</lt4:locationName><lt4:crs>HYM</lt4:crs>";
    const struct {
        const char* name;
        std::string document;
        std::map<std::string, std::string> expected;
    } cases[] = {
        {"no services at night: an empty board, still connected, nothing left of the last board",
         response(header + "<lt4:areServicesAvailable>false</lt4:areServicesAvailable>"),
         {{"departures_station_board_services_available", "false"},
          {"departures_station_board_platform_available", ""},
          {"departures_station_board_messages", ""},
          {"departure_train_service_std_array", ""},
          {"rail_departures_has_connection", "1"}}},
        {"service lists that arrive empty: an empty board, still connected",
         response(header + "<lt7:trainServices></lt7:trainServices><lt7:busServices/>"),
         {{"departures_station_board_location_name", "Haymarket"},
          {"departure_train_service_std_array", ""},
          {"rail_departures_has_connection", "1"}}},
        {"trains listed, the bus list empty: the trains are exported",
         response(header + "<lt7:trainServices>" + service("12:05", "On time") +
                  "</lt7:trainServices><lt7:busServices></lt7:busServices>"),
         {{"departure_train_service_std_array", "\"12:05\""}, {"rail_departures_has_connection", "1"}}},
        {"a departure without etd keeps the board from being exported, complete buses or not",
         response(header + "<lt7:trainServices>" + service("12:05", "") + service("12:00", "On time") +
                  "</lt7:trainServices><lt7:busServices>" + service("12:30", "On time") + "</lt7:busServices>"),
         {{"departure_train_service_std_array", "<absent>"}, {"rail_departures_has_connection", "1"}}},
        {"only message elements are messages, only service elements services",
         response(header +
                  "<lt4:nrccMessages><lt:message>One</lt:message><lt:other>x</lt:other>"
                  "<lt:message><![CDATA[Two <a href=\"https://x.example/\">here</a>]]></lt:message>"
                  "</lt4:nrccMessages><lt7:trainServices>" +
                  service("12:00", "\"Delayed\"") + "<lt4:note/></lt7:trainServices>"),
         {{"departures_station_board_messages", "One Two here "},
          {"departure_train_service_std_array", "\"12:00\""},
          {"departure_train_service_etd_array", "\"'Delayed'\""}}},
        {"trains listed under an older schema's prefix: unreadable, not an empty board",
         response(header + "<lt5:trainServices>" + service("12:05", "On time") + "</lt5:trainServices>"),
         {{"departures_station_board_location_name", "<absent>"},
          {"departure_train_service_std_array", "<absent>"},
          {"rail_departures_has_connection", "0"}}},
        {"a complete envelope before trailing garbage is still read", response(header) + "<",
         {{"departures_station_board_location_name", "Haymarket"}, {"rail_departures_has_connection", "1"}}},
    };
    for (const auto& c : cases) {
        auto feed = makeFeed();
        root.write(kDarwinOfflinePath, readTestData("rail_siri/darwin_board.xml"));
        cycle(*feed);
        root.write(kDarwinOfflinePath, c.document);
        LogCapture log;
        const SymbolPairs pairs = cycle(*feed);
        for (const auto& [name, expected] : c.expected) EXPECT_EQ(valueOf(pairs, name), expected) << c.name << ": " << name;
        EXPECT_EQ(log.contains("service list this feed cannot read: lt5:trainServices", 8),
                  c.document.find("lt5:trainServices") != std::string::npos)
            << c.name;
    }
}
