#include "feeds/rail_siri/darwin_feed.h"

#include <gtest/gtest.h>

#include "core/symbol_list.h"
#include "core/xml_text.h"
#include "feeds/rail_siri/siri_reader.h"
#include "platform/clock.h"
#include "tests/feeds/rail_siri/rail_siri_test_util.h"
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

const char* const kListNames[] = {
    "departure_train_service_std_array",          "departure_train_service_destination_name_array",
    "departure_train_service_destination_short_name_array",
    "departure_train_service_destination_crs_array", "departure_train_service_platform_array",
    "departure_train_service_etd_array",          "departure_train_service_operator_array",
    "departure_train_service_origin_name_array",  "departure_train_service_origin_crs_array",
    "departure_train_service_operator_code_array", "departure_train_service_circular_route_array",
    "departure_train_service_cancelled_array",    "departure_train_service_cancel_reason_array",
    "departure_train_service_delay_reason_array", "departure_train_service_alerts_array",
};

// The board fields, then the fifteen lists of the departures (rows of fifteen fields), then the connection flag.
SymbolPairs pairsOf(const std::vector<std::string>& board, const std::vector<std::vector<std::string>>& departures) {
    static const char* const kBoardNames[] = {
        "departures_station_board_location_name",        "departures_station_board_generated_at",
        "departures_station_board_crs",                  "departures_station_board_platform_available",
        "departures_station_board_services_available", "departures_station_board_messages"};
    SymbolPairs pairs;
    for (size_t field = 0; field < 6; ++field) pairs.emplace_back(kBoardNames[field], board[field]);
    for (size_t column = 0; column < 15; ++column) {
        ListBuilder list;
        for (const auto& departure : departures) list.add(departure[column]);
        pairs.emplace_back(kListNames[column], list.str());
    }
    pairs.emplace_back("rail_departures_has_connection", "1");
    return pairs;
}

// tests/data/rail_siri/darwin_board.xml with the departures at the kept indexes.
SymbolPairs boardPairs(const std::vector<size_t>& kept) {
    static const std::vector<std::vector<std::string>> kDepartures = {
        {"12:04", "London Kings Cross", "London Kings Cross", "KGX", "2", "On time", "LNER", "Edinburgh", "EDB", "GR",
         "false", "false", "", "", ""},
        {"12:12", "Glasgow Queen Street via Falkirk High", "Glasgow Queen Street", "GLQ", "12", "12:19", "ScotRail",
         "Edinburgh", "EDB", "SR", "false", "false", "",
         "This train has been delayed by a fault with the signalling system", ""},
        {"12:15", "North Berwick", "North Berwick", "NBW", "19", "Cancelled", "ScotRail", "Edinburgh", "EDB", "SR",
         "false", "true", "This train has been cancelled because of a shortage of train crew", "", ""},
        {"12:28", "Plymouth", "Plymouth", "PLY", "8", "On time", "CrossCountry", "Glasgow Central", "GLC", "XC", "false",
         "false", "", "", ""},
        {"12:33", "Tweedbank & Edinburgh via Fife Circle", "Tweedbank & Edinburgh", "TWB & EDB", " ", "On time",
         "ScotRail", "Edinburgh", "EDB", "SR", "true", "false", "", "", ""},
        {"12:40", "Dunbar", "Dunbar", "DUN", " ", "On time", "ScotRail", "Edinburgh", "EDB", "SR", "false", "false", "",
         "", ""},
    };
    std::vector<std::vector<std::string>> departures;
    for (size_t index : kept) departures.push_back(kDepartures[index]);
    return pairsOf({"Edinburgh", "2024-01-16T12:00:05.3370936+00:00", "EDB", "true", "true",
                    "Disruption between Haymarket and Glasgow Queen Street. More details can be found in Latest "
                    "Travel News. Lifts are out of order at platform 12. "},
                   departures);
}
const std::vector<size_t> kAll = {0, 1, 2, 3, 4, 5};

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
    EXPECT_EQ(cycle(*feed), boardPairs(kAll));
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

TEST_F(DarwinTest, HostileStationCodeAndTokenRunNoCommand) {
    server.reply(kEndpointPath, readTestData("rail_siri/darwin_board.xml"));
    const std::string crs = "EDB'; touch " + root.path("/tmp/crs") + "; echo '</ns1:crs><x>";
    const std::string token = "$(touch " + root.path("/tmp/token") + ")`touch " + root.path("/tmp/tick") + "`'\"&<";
    const std::string rows = "30' ; touch " + root.path("/tmp/rows") + " ; '";
    Json::Value params(Json::objectValue);
    params["rail_departures_url"] = server.url(kEndpointPath) + "?x=';touch${IFS}" + root.path("/tmp/url") + ";'";
    params["rail_departures_client_token"] = token;
    params["rail_departures_max_row_count"] = rows;
    auto feed = configuredFeed<DarwinFeedImpl>(params);
    EXPECT_TRUE(feed->symbolUpdate("crs", 0, crs));
    cycle(*feed);
    for (const char* marker : {"/tmp/crs", "/tmp/token", "/tmp/tick", "/tmp/rows", "/tmp/url"})
        EXPECT_FALSE(root.exists(marker)) << marker;
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].body, expectedRequest(xmlEscape(token), xmlEscape(rows), xmlEscape(crs)));
}

TEST_F(DarwinTest, FailedRequestsReportNoConnection) {
    const std::string board = readTestData("rail_siri/darwin_board.xml");
    for (const std::string& reply :
         {std::string(), board.substr(0, board.size() / 2),
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
    EXPECT_EQ(cycle(*feed), boardPairs(kAll)) << "offline file";
    EXPECT_EQ(server.requestCount(), 3u);
}

TEST_F(DarwinTest, DeparturesTooSoonToCatchAreLeftOutOfTheExport) {
    root.write(kDarwinOfflinePath, readTestData("rail_siri/darwin_board.xml"));
    const struct {
        const char* name;
        int64_t now;
        const char* window;  // imported "crs_xmins"
        const char* params;
        std::vector<size_t> kept;
    } cases[] = {
        {"winter 12:00:30 GMT, 10 minutes", utc("2024-01-16T12:00:30"), "10", "", {1, 2, 3, 4, 5}},
        {"summer 12:00:30 BST, 15 minutes", utc("2024-07-16T11:00:30"), "15", "", {3, 4, 5}},
        {"12:13:30, 15 minutes: 12:12 left 90 s ago", utc("2024-01-16T12:13:30"), "15", "", {0, 1, 4, 5}},
        {"window 0 keeps everything", utc("2024-01-16T12:00:30"), "0", "", kAll},
        {"a huge window leaves everything out", utc("2024-01-16T12:00:30"), "99999999999999", "", {}},
        {"the configured window overrides the imported one", utc("2024-01-16T12:00:30"), "10",
         R"(, "rail_departures_test_crs_xmins": "0")", kAll},
    };
    for (const auto& c : cases) {
        setNow(c.now);
        auto feed = makeFeed(c.params);
        EXPECT_TRUE(feed->symbolUpdate("crs_xmins", 0, c.window));
        EXPECT_EQ(cycle(*feed), boardPairs(c.kept)) << c.name;
    }
}

TEST_F(DarwinTest, SkipTestAroundMidnightAndClockChanges) {
    const struct {
        const char* name;
        int64_t now;
        const char* std;
        int window;
        bool skipped;
    } cases[] = {
        {"due now", utc("2024-01-16T12:00:30"), "12:00", 10, true},
        {"end of window", utc("2024-01-16T12:00:30"), "12:10", 10, true},
        {"left 90 s ago", utc("2024-01-16T12:00:30"), "11:59", 10, false},
        {"just past window", utc("2024-01-16T12:00:30"), "12:11", 10, false},
        {"negative window", utc("2024-01-16T12:00:30"), "12:00", -5, false},
        {"winter 23:55, after midnight", utc("2024-01-16T23:55:00"), "00:03", 10, true},
        {"winter 23:55, after the window", utc("2024-01-16T23:55:00"), "00:06", 10, false},
        {"winter 23:55, left a minute ago", utc("2024-01-16T23:55:00"), "23:54", 10, false},
        {"summer 23:55 BST, after midnight", utc("2024-07-16T22:55:00"), "00:03", 10, true},
        {"summer 23:55 BST, after the window", utc("2024-07-16T22:55:00"), "00:06", 10, false},
        {"summer 00:30 BST, read as UTC would be 23:30", utc("2024-07-16T23:30:00"), "00:35", 10, true},
        {"new year's eve", utc("2024-12-31T23:58:00"), "00:05", 10, true},
        {"clocks go forward: 00:55 GMT to 02:03 BST", utc("2024-03-31T00:55:00"), "02:03", 10, true},
        {"clocks go back: 01:55 GMT to 02:03 GMT", utc("2024-10-27T01:55:00"), "02:03", 10, true},
        {"words", utc("2024-01-16T12:00:30"), "On time", 10, false},
        {"letters around a colon", utc("2024-01-16T00:00:30"), "ab:cd", 10, false},
        {"three parts", utc("2024-01-16T12:00:30"), "12:00:00", 10, false},
        {"huge numbers", utc("2024-01-16T12:00:30"), "99999999999:99999999999", 10, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DarwinFeedImpl::isWithinMinutes(c.std, c.window, c.now), c.skipped) << c.name;
}

TEST_F(DarwinTest, BoardStories) {
    const std::string header =
        "<lt4:generatedAt>G</lt4:generatedAt><lt4:locationName>Haymarket</lt4:locationName><lt4:crs>HYM</lt4:crs>";
    auto haymarket = [](const std::string& platformAvailable, const std::string& servicesAvailable,
                        const std::string& messages, const std::vector<std::vector<std::string>>& departures) {
        return pairsOf({"Haymarket", "G", "HYM", platformAvailable, servicesAvailable, messages}, departures);
    };
    const SymbolPairs kIncomplete = {{"rail_departures_has_connection", "1"}};
    const struct {
        const char* name;
        std::string document;
        SymbolPairs expected;
    } cases[] = {
        {"no services at night: an empty board, still connected",
         response(header + "<lt4:areServicesAvailable>false</lt4:areServicesAvailable>"), haymarket("", "false", "", {})},
        {"a departure without etd keeps the board from being exported",
         response(header + "<lt7:trainServices>" + service("12:00", "On time") + service("12:05", "") +
                  "</lt7:trainServices>"),
         kIncomplete},
        {"incomplete trains are not hidden by complete buses",
         response(header + "<lt7:trainServices>" + service("", "On time") + "</lt7:trainServices><lt7:busServices>" +
                  service("12:30", "On time") + "</lt7:busServices>"),
         kIncomplete},
        {"only message elements are messages; double quotes in lists become apostrophes",
         response(header +
                  "<lt4:nrccMessages><lt:message>One</lt:message><lt:other>x</lt:other>"
                  "<lt:message><![CDATA[Two <a href=\"https://x.example/\">here</a>]]></lt:message>"
                  "</lt4:nrccMessages><lt4:platformAvailable>true</lt4:platformAvailable><lt7:trainServices>" +
                  service("12:00", "\"Delayed\"", "<lt4:platform>1</lt4:platform>") + "<lt4:note/>" +
                  "</lt7:trainServices>"),
         haymarket("true", "true", "One Two here ",
                   {{"12:00", "B", "B", "BBB", "1", "'Delayed'", "", "A", "AAA", "", "false", "false", "", "", ""}})},
        {"a complete envelope before trailing garbage is still read", response(header) + "<",
         haymarket("", "true", "", {})},
        {"wrong envelope prefix", "<Envelope><soap:Body/></Envelope>", kNoConnection},
    };
    for (const auto& c : cases) {
        root.write(kDarwinOfflinePath, c.document);
        EXPECT_EQ(cycle(*makeFeed()), c.expected) << c.name;
    }

    // Every board field comes from the latest response, not from an earlier board.
    auto feed = makeFeed();
    root.write(kDarwinOfflinePath, readTestData("rail_siri/darwin_board.xml"));
    cycle(*feed);
    root.write(kDarwinOfflinePath, response("<lt4:locationName>Haymarket</lt4:locationName>"));
    EXPECT_EQ(cycle(*feed), pairsOf({"Haymarket", "", "", "", "true", ""}, {}));
}
