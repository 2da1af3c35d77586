#include "feeds/rail_siri/darwin_feed.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <optional>

#include "core/symbol_list.h"
#include "core/xml_text.h"
#include "platform/clock.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"
#include "util/time_convert.h"

namespace {
constexpr const char* kToken = "0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9";
constexpr const char* kEndpointPath = "/OpenLDBWS/ldb11.asmx";

int64_t utc(int year, int month, int day, int hour, int minute, int second) {
    struct tm t {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return static_cast<int64_t>(timegm(&t));
}

// Departures are read in the vehicle's zone: London for these tests.
class DarwinTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* tz = getenv("TZ")) m_previousZone = tz;
        setProcessTimeZone("Europe/London");
        setNow(utc(2024, 1, 16, 12, 0, 30));
    }
    void TearDown() override {
        setWallClock(nullptr);
        if (m_previousZone) {
            setProcessTimeZone(*m_previousZone);
        } else {
            unsetenv("TZ");
            tzset();
        }
    }
    void setNow(int64_t now) {
        setWallClock([now] { return now; });
    }

    std::unique_ptr<DarwinFeedImpl> makeFeed(Json::Value moduleParams = Json::objectValue) {
        if (!moduleParams.isMember("rail_departures_client_token")) moduleParams["rail_departures_client_token"] = kToken;
        Json::Value map(Json::objectValue);
        map["ModuleParams"] = moduleParams;
        auto feed = std::make_unique<DarwinFeedImpl>();
        feed->updateModuleParmMap(CModuleParmMap(map));
        feed->readModuleParmMap();
        return feed;
    }

    static SymbolPairs cycle(DarwinFeedImpl& feed, const std::string& curlParams = "-s --max-time 5") {
        feed.clearExportPairs();
        EXPECT_EQ(feed.downloadData(curlParams), 1);
        return feed.getExportPairs();
    }

    std::optional<std::string> m_previousZone;
};

// The fifteen fields of the six departures of tests/data/rail_siri/darwin_board.xml.
const std::vector<std::vector<std::string>> kBoardColumns = {
    {"12:04", "12:12", "12:15", "12:28", "12:33", "12:40"},
    {"London Kings Cross", "Glasgow Queen Street via Falkirk High", "North Berwick", "Plymouth",
     "Tweedbank & Edinburgh via Fife Circle", "Dunbar"},
    {"London Kings Cross", "Glasgow Queen Street", "North Berwick", "Plymouth", "Tweedbank & Edinburgh", "Dunbar"},
    {"KGX", "GLQ", "NBW", "PLY", "TWB & EDB", "DUN"},
    {"2", "12", "19", "8", " ", " "},
    {"On time", "12:19", "Cancelled", "On time", "On time", "On time"},
    {"LNER", "ScotRail", "ScotRail", "CrossCountry", "ScotRail", "ScotRail"},
    {"Edinburgh", "Edinburgh", "Edinburgh", "Glasgow Central", "Edinburgh", "Edinburgh"},
    {"EDB", "EDB", "EDB", "GLC", "EDB", "EDB"},
    {"GR", "SR", "SR", "XC", "SR", "SR"},
    {"false", "false", "false", "false", "true", "false"},
    {"false", "false", "true", "false", "false", "false"},
    {"", "", "This train has been cancelled because of a shortage of train crew", "", "", ""},
    {"", "This train has been delayed by a fault with the signalling system", "", "", "", ""},
    {"", "", "", "", "", ""},
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

struct Board {
    std::string location = "Edinburgh";
    std::string generatedAt = "2024-01-16T12:00:05.3370936+00:00";
    std::string crs = "EDB";
    std::string platformAvailable = "true";
    std::string servicesAvailable = "true";
    std::string messages =
        "Disruption between Haymarket and Glasgow Queen Street. More details can be found in Latest Travel News. "
        "Lifts are out of order at platform 12. ";
};

// The board's pairs with the departures at the kept indexes, then the connection flag.
SymbolPairs boardPairs(const std::vector<size_t>& kept, const Board& board = Board()) {
    SymbolPairs pairs = {{"departures_station_board_location_name", board.location},
                         {"departures_station_board_generated_at", board.generatedAt},
                         {"departures_station_board_crs", board.crs},
                         {"departures_station_board_platform_available", board.platformAvailable},
                         {"departures_station_board_services_available", board.servicesAvailable},
                         {"departures_station_board_messages", board.messages}};
    for (size_t column = 0; column < kBoardColumns.size(); ++column) {
        std::vector<std::string> elements;
        for (size_t index : kept) elements.push_back(kBoardColumns[column][index]);
        pairs.emplace_back(kListNames[column], makeList(elements));
    }
    pairs.emplace_back("rail_departures_has_connection", "1");
    return pairs;
}

const SymbolPairs kNoConnection = {{"rail_departures_has_connection", "0"}};

std::string expectedRequest(const std::string& token, const std::string& rows, const std::string& crs) {
    return "<?xml version=\"1.0\"?>  <SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "xmlns:ns1=\"http://thalesgroup.com/RTTI/2017-10-01/ldb/\" "
           "xmlns:ns2=\"http://thalesgroup.com/RTTI/2013-11-28/Token/types\">     <SOAP-ENV:Header>         "
           "<ns2:AccessToken>             <ns2:TokenValue>" +
           token +
           "</ns2:TokenValue>         </ns2:AccessToken>     </SOAP-ENV:Header>     <SOAP-ENV:Body>         "
           "<ns1:GetDepartureBoardRequest>             <ns1:numRows>" +
           rows + "</ns1:numRows>             <ns1:crs>" + crs +
           "</ns1:crs>         </ns1:GetDepartureBoardRequest>     </SOAP-ENV:Body> </SOAP-ENV:Envelope>";
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
           "</lt4:location></lt5:destination>" +
           extra + "</lt7:service>";
}
}  // namespace

TEST_F(DarwinTest, RealBoardExportsEveryDepartureInOrder) {
    auto feed = makeFeed();
    ASSERT_TRUE(feed->parse(readTestData("rail_siri/darwin_board.xml")));
    feed->prepareExportsymbols();
    SymbolPairs pairs = feed->getExportPairs();
    pairs.emplace_back("rail_departures_has_connection", "1");
    EXPECT_EQ(pairs, boardPairs({0, 1, 2, 3, 4, 5}));
}

TEST_F(DarwinTest, DeparturesTooSoonToCatchAreLeftOutInWinterAndSummer) {
    TempFileRoot root;
    root.write(kDarwinOfflinePath, readTestData("rail_siri/darwin_board.xml"));
    struct Case {
        const char* name;
        int64_t now;
        const char* window;
        std::vector<size_t> kept;
    } cases[] = {
        {"winter 12:00:30 GMT, 10 minutes", utc(2024, 1, 16, 12, 0, 30), "10", {1, 2, 3, 4, 5}},
        {"summer 12:00:30 BST, 10 minutes", utc(2024, 7, 16, 11, 0, 30), "10", {1, 2, 3, 4, 5}},
        {"summer 12:00:30 BST, 15 minutes", utc(2024, 7, 16, 11, 0, 30), "15", {3, 4, 5}},
        {"12:13:30, 15 minutes: 12:12 left 90 s ago", utc(2024, 1, 16, 12, 13, 30), "15", {0, 1, 4, 5}},
        {"window 0 keeps everything", utc(2024, 1, 16, 12, 0, 30), "0", {0, 1, 2, 3, 4, 5}},
        {"last departures all left out", utc(2024, 1, 16, 12, 30, 0), "15", {0, 1, 2, 3}},
    };
    for (const auto& c : cases) {
        setNow(c.now);
        auto feed = makeFeed();
        EXPECT_TRUE(feed->symbolUpdate("crs_xmins", 0, c.window));
        EXPECT_EQ(cycle(*feed), boardPairs(c.kept)) << c.name;
    }
}

TEST_F(DarwinTest, SkipTestAroundMidnightAndClockChanges) {
    struct Case {
        const char* name;
        int64_t now;
        const char* std;
        int window;
        bool skipped;
    } cases[] = {
        {"due now", utc(2024, 1, 16, 12, 0, 30), "12:00", 10, true},
        {"end of window", utc(2024, 1, 16, 12, 0, 30), "12:10", 10, true},
        {"left 90 s ago", utc(2024, 1, 16, 12, 0, 30), "11:59", 10, false},
        {"just past window", utc(2024, 1, 16, 12, 0, 30), "12:11", 10, false},
        {"window 0", utc(2024, 1, 16, 12, 0, 30), "12:00", 0, false},
        {"negative window", utc(2024, 1, 16, 12, 0, 30), "12:00", -5, false},
        {"winter 23:55, after midnight", utc(2024, 1, 16, 23, 55, 0), "00:03", 10, true},
        {"winter 23:55, after the window", utc(2024, 1, 16, 23, 55, 0), "00:06", 10, false},
        {"winter 23:55, left a minute ago", utc(2024, 1, 16, 23, 55, 0), "23:54", 10, false},
        {"summer 23:55 BST, after midnight", utc(2024, 7, 16, 22, 55, 0), "00:03", 10, true},
        {"summer 23:55 BST, after the window", utc(2024, 7, 16, 22, 55, 0), "00:06", 10, false},
        {"summer 00:30 BST, read as UTC would be 23:30", utc(2024, 7, 16, 23, 30, 0), "00:35", 10, true},
        {"new year's eve", utc(2024, 12, 31, 23, 58, 0), "00:05", 10, true},
        {"clocks go forward: 00:55 GMT to 02:03 BST", utc(2024, 3, 31, 0, 55, 0), "02:03", 10, true},
        {"clocks go back: 01:55 GMT to 02:03 GMT", utc(2024, 10, 27, 1, 55, 0), "02:03", 10, true},
        {"empty", utc(2024, 1, 16, 12, 0, 30), "", 10, false},
        {"words", utc(2024, 1, 16, 12, 0, 30), "On time", 10, false},
        {"letters around a colon", utc(2024, 1, 16, 0, 0, 30), "ab:cd", 10, false},
        {"one part", utc(2024, 1, 16, 12, 0, 30), "1200", 10, false},
        {"three parts", utc(2024, 1, 16, 12, 0, 30), "12:00:00", 10, false},
        {"huge numbers", utc(2024, 1, 16, 12, 0, 30), "99999999999:99999999999", 10, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DarwinFeedImpl::isWithinMinutes(c.std, c.window, c.now), c.skipped) << c.name;
}

TEST_F(DarwinTest, RequestsTheBoardOverSoapWithCurl) {
    TempFileRoot root;
    StubServer server;
    server.reply(kEndpointPath, readTestData("rail_siri/darwin_board.xml"), 200, "text/xml; charset=utf-8");
    Json::Value params(Json::objectValue);
    params["rail_departures_url"] = server.url(kEndpointPath);
    params["rail_departures_test_crs"] = "WAV";
    auto feed = makeFeed(params);
    EXPECT_TRUE(feed->symbolUpdate("crs", 0, "EDB"));
    LogCapture log;
    EXPECT_EQ(cycle(*feed), boardPairs({0, 1, 2, 3, 4, 5}));

    ASSERT_EQ(server.requestCount(), 1u);
    const RecordedRequest request = server.requests()[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, kEndpointPath);
    EXPECT_EQ(request.header("Content-Type"), "text/xml");
    EXPECT_EQ(request.body, expectedRequest(kToken, "30", "EDB"));

    for (const auto& line : log.lines()) EXPECT_EQ(line.text.find(kToken), std::string::npos) << line.text;
    EXPECT_TRUE(log.contains("DarwinFeedImpl: AuthToken: 0a***(36)", 2)) << log.dump();
    EXPECT_TRUE(log.contains("<ns2:TokenValue>0a***(36)</ns2:TokenValue>", 2)) << log.dump();
    EXPECT_TRUE(log.contains("DarwinFeedImpl:downloadData accessing Darwin feed for EDB", 2));
}

TEST_F(DarwinTest, TestStationAndRowCountFromTheParameters) {
    TempFileRoot root;
    StubServer server;
    server.reply(kEndpointPath, readTestData("rail_siri/darwin_board.xml"));
    Json::Value params(Json::objectValue);
    params["rail_departures_url"] = server.url(kEndpointPath);
    params["rail_departures_test_crs"] = "WAV";
    params["rail_departures_max_row_count"] = "12";
    params["rail_departures_client_token"] = "";
    auto feed = makeFeed(params);
    LogCapture log;
    cycle(*feed);
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].body, expectedRequest("", "12", "WAV"));
    EXPECT_TRUE(log.contains("DarwinFeedImpl: Missing Authentication Token.", 16));
}

TEST_F(DarwinTest, HostileStationCodeAndTokenRunNoCommand) {
    TempFileRoot root;
    StubServer server;
    server.reply(kEndpointPath, readTestData("rail_siri/darwin_board.xml"));
    const std::string crs = "EDB'; touch " + root.path("/tmp/crs") + "; echo '</ns1:crs><x>";
    const std::string token = "$(touch " + root.path("/tmp/token") + ")`touch " + root.path("/tmp/tick") + "`'\"&<";
    const std::string rows = "30' ; touch " + root.path("/tmp/rows") + " ; '";
    Json::Value params(Json::objectValue);
    params["rail_departures_url"] = server.url(kEndpointPath) + "?x=';touch${IFS}" + root.path("/tmp/url") + ";'";
    params["rail_departures_client_token"] = token;
    params["rail_departures_max_row_count"] = rows;
    auto feed = makeFeed(params);
    EXPECT_TRUE(feed->symbolUpdate("crs", 0, crs));
    cycle(*feed, "-s -g --max-time 5");
    for (const char* marker : {"/tmp/crs", "/tmp/token", "/tmp/tick", "/tmp/rows", "/tmp/url"})
        EXPECT_FALSE(root.exists(marker)) << marker;
    ASSERT_EQ(server.requestCount(), 1u);
    const std::string body = server.requests()[0].body;
    EXPECT_EQ(body, expectedRequest(xmlEscape(token), xmlEscape(rows), xmlEscape(crs)));
    EXPECT_NE(body.find("<ns1:crs>EDB&apos;; touch "), std::string::npos) << body;
}

TEST_F(DarwinTest, FailedRequestsReportNoConnection) {
    TempFileRoot root;
    StubServer server;
    const std::string board = readTestData("rail_siri/darwin_board.xml");
    const std::pair<std::string, std::string> replies[] = {
        {"empty reply", ""},
        {"truncated board", board.substr(0, board.size() / 2)},
        {"soap fault",
         "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope "
         "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body><soap:Fault><faultcode>soap:Client"
         "</faultcode><faultstring>Unauthorized</faultstring></soap:Fault></soap:Body></soap:Envelope>"},
        {"html error page", "<html><head><title>503 Service Unavailable</title></head></html>"},
        {"json", "{\"error\":\"nope\"}"},
    };
    for (const auto& reply : replies) {
        server.reply(kEndpointPath, reply.second, 500);
        Json::Value params(Json::objectValue);
        params["rail_departures_url"] = server.url(kEndpointPath);
        params["rail_departures_test_crs"] = "EDB";
        auto feed = makeFeed(params);
        LogCapture log;
        EXPECT_EQ(cycle(*feed), kNoConnection) << reply.first;
        EXPECT_TRUE(log.contains("DarwinFeedImpl:downloadData - connection failed", 8)) << reply.first;
    }
    Json::Value params(Json::objectValue);
    params["rail_departures_url"] = "http://127.0.0.1:" + std::to_string(refusedPort()) + kEndpointPath;
    params["rail_departures_test_crs"] = "EDB";
    auto feed = makeFeed(params);
    EXPECT_EQ(cycle(*feed), kNoConnection) << "connection refused";
}

TEST_F(DarwinTest, NoStationMeansNoRequestButTheOfflineFileStillWorks) {
    TempFileRoot root;
    StubServer server;
    Json::Value params(Json::objectValue);
    params["rail_departures_url"] = server.url(kEndpointPath);
    auto feed = makeFeed(params);
    LogCapture log;
    EXPECT_EQ(cycle(*feed), kNoConnection);
    EXPECT_TRUE(log.contains("DarwinFeedImpl:downloadData skipping empty crs request", 2));

    root.write(kDarwinOfflinePath, readTestData("rail_siri/darwin_board.xml"));
    EXPECT_EQ(cycle(*feed), boardPairs({0, 1, 2, 3, 4, 5}));
    EXPECT_TRUE(log.contains(
        "DarwinFeedImpl:downloadData - Offline test file used. The Darwin server won't be contacted.", 4));
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(DarwinTest, BoardStories) {
    TempFileRoot root;
    const std::string header =
        "<lt4:generatedAt>G</lt4:generatedAt><lt4:locationName>Haymarket</lt4:locationName><lt4:crs>HYM</lt4:crs>";
    struct Case {
        const char* name;
        std::string document;
        SymbolPairs expected;
    };
    auto pairsFor = [](const std::string& platformAvailable, const std::string& servicesAvailable,
                       const std::string& messages, const std::vector<std::vector<std::string>>& departures) {
        SymbolPairs pairs = {{"departures_station_board_location_name", "Haymarket"},
                             {"departures_station_board_generated_at", "G"},
                             {"departures_station_board_crs", "HYM"},
                             {"departures_station_board_platform_available", platformAvailable},
                             {"departures_station_board_services_available", servicesAvailable},
                             {"departures_station_board_messages", messages}};
        for (size_t column = 0; column < 15; ++column) {
            ListBuilder list;
            for (const auto& departure : departures) list.add(departure[column]);
            pairs.emplace_back(kListNames[column], list.str());
        }
        pairs.emplace_back("rail_departures_has_connection", "1");
        return pairs;
    };
    auto departure = [](const std::string& std, const std::string& etd, const std::string& platform = " ") {
        return std::vector<std::string>{std, "B", "B", "BBB", platform, etd, "", "A", "AAA", "", "false", "false",
                                        "", "", ""};
    };
    const Case cases[] = {
        {"no services at night: an empty board, still connected",
         response(header + "<lt4:areServicesAvailable>false</lt4:areServicesAvailable>"),
         pairsFor("", "false", "", {})},
        {"a departure without etd keeps the board from being exported",
         response(header + "<lt7:trainServices>" + service("12:00", "On time") + service("12:05", "") +
                  "</lt7:trainServices>"),
         {{"rail_departures_has_connection", "1"}}},
        {"incomplete trains are not hidden by complete buses",
         response(header + "<lt7:trainServices>" + service("", "On time") + "</lt7:trainServices><lt7:busServices>" +
                  service("12:30", "On time") + "</lt7:busServices>"),
         {{"rail_departures_has_connection", "1"}}},
        {"only message elements are messages; double quotes in lists become apostrophes",
         response(header +
                  "<lt4:nrccMessages><lt:message>One</lt:message><lt:other>x</lt:other>"
                  "<lt:message><![CDATA[Two <a href=\"https://x.example/\">here</a>]]></lt:message>"
                  "</lt4:nrccMessages><lt4:platformAvailable>true</lt4:platformAvailable><lt7:trainServices>" +
                  service("12:00", "\"Delayed\"", "<lt4:platform>1</lt4:platform>") + "<lt4:note/>" +
                  "</lt7:trainServices>"),
         pairsFor("true", "true", "One Two here ", {departure("12:00", "'Delayed'", "1")})},
        {"a truncated envelope is no board", response(header).substr(0, response(header).size() - 20), kNoConnection},
        {"a complete envelope before trailing garbage is still read", response(header) + "<",
         pairsFor("", "true", "", {})},
        {"wrong envelope prefix", "<Envelope><soap:Body/></Envelope>", kNoConnection},
    };
    for (const auto& c : cases) {
        root.write(kDarwinOfflinePath, c.document);
        auto feed = makeFeed();
        EXPECT_EQ(cycle(*feed), c.expected) << c.name;
    }
}

TEST_F(DarwinTest, BoardFieldsComeFromTheLatestResponseOnly) {
    TempFileRoot root;
    auto feed = makeFeed();
    root.write(kDarwinOfflinePath, readTestData("rail_siri/darwin_board.xml"));
    cycle(*feed);
    root.write(kDarwinOfflinePath,
               response("<lt4:locationName>Haymarket</lt4:locationName><lt7:trainServices>" +
                        service("12:00", "On time") + "</lt7:trainServices>"));
    const SymbolPairs pairs = cycle(*feed);
    ASSERT_EQ(pairs.size(), 22u);
    EXPECT_EQ(pairs[0], (SymbolPair{"departures_station_board_location_name", "Haymarket"}));
    EXPECT_EQ(pairs[1], (SymbolPair{"departures_station_board_generated_at", ""}));
    EXPECT_EQ(pairs[2], (SymbolPair{"departures_station_board_crs", ""}));
    EXPECT_EQ(pairs[3], (SymbolPair{"departures_station_board_platform_available", ""}));
    EXPECT_EQ(pairs[5], (SymbolPair{"departures_station_board_messages", ""}));
}

TEST_F(DarwinTest, ImportedSymbols) {
    TempFileRoot root;
    root.write(kDarwinOfflinePath, readTestData("rail_siri/darwin_board.xml"));
    auto feed = makeFeed();
    EXPECT_TRUE(feed->symbolUpdate("crs", 0, "EDB"));
    EXPECT_TRUE(feed->symbolUpdate("crs", 0, "EDB")) << "unchanged station still refreshes";
    EXPECT_FALSE(feed->symbolUpdate("crs", 0, ""));
    EXPECT_FALSE(feed->symbolUpdate("siri_sm_point_id", 0, "EDB"));
    EXPECT_TRUE(feed->symbolUpdate("crs_xmins", 0, "10"));
    EXPECT_EQ(cycle(*feed), boardPairs({1, 2, 3, 4, 5}));
    EXPECT_TRUE(feed->symbolUpdate("crs_xmins", 0, "99999999999999"));
    EXPECT_EQ(cycle(*feed), boardPairs({})) << "a huge window leaves everything out";

    // A window in the parameters overrides the imported one at every update.
    Json::Value params(Json::objectValue);
    params["rail_departures_test_crs_xmins"] = "0";
    auto configured = makeFeed(params);
    EXPECT_TRUE(configured->symbolUpdate("crs_xmins", 0, "10"));
    EXPECT_EQ(cycle(*configured), boardPairs({0, 1, 2, 3, 4, 5}));
}

TEST_F(DarwinTest, DeeplyNestedResponseIsRefusedWithoutCrashing) {
    auto feed = makeFeed();
    std::string deep = "<soap:Envelope><soap:Body>";
    for (int i = 0; i < 300000; ++i) deep += "<x>";
    LogCapture log;
    EXPECT_FALSE(feed->parse(deep));
    EXPECT_TRUE(log.contains("DarwinFeedImpl::parse - parsing failed (nesting deeper than 256 levels)", 8));
}
