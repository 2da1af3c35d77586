#include "feeds/rail_siri/siri_sm_feed.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

namespace {
const char* const kCurlParams = "--connect-timeout 3 --max-time 5 -s";

std::unique_ptr<SIRI_SM_FeedImpl> makeFeed(const std::string& url, const Json::Value& moduleParams) {
    auto feed = std::make_unique<SIRI_SM_FeedImpl>(url);
    Json::Value map(Json::objectValue);
    map["ModuleParams"] = moduleParams;
    feed->updateModuleParmMap(CModuleParmMap(map));
    feed->readModuleParmMap();
    return feed;
}

Json::Value vixParams(const std::string& pointIds) {
    Json::Value params(Json::objectValue);
    params["siri_sm_point_id"] = pointIds;
    params["siri_sm_requestor_ref"] = "VORN_BUS";
    params["siri_sm_feed_provider"] = 1;
    return params;
}

std::string value(const SymbolPairs& pairs, const std::string& name) {
    std::string found = "<absent>";
    for (const auto& pair : pairs)
        if (pair.first == name) found = pair.second;
    return found;
}

// A real HTTP server answering VIX-style POSTs by the stop in their MonitoringRef;
// stops it doesn't know get a short error page.
class StopServer {
public:
    explicit StopServer(std::map<std::string, std::string> answers) : m_answers(std::move(answers)) {
        m_server.Post("/sm", [this](const httplib::Request& req, httplib::Response& res) {
            size_t start = req.body.find("<MonitoringRef>");
            size_t end = req.body.find("</MonitoringRef>");
            std::string stop = start == std::string::npos || end == std::string::npos
                                   ? ""
                                   : req.body.substr(start + 15, end - start - 15);
            std::lock_guard<std::mutex> lock(m_mutex);
            m_asked.push_back(stop);
            auto it = m_answers.find(stop);
            if (it == m_answers.end()) {
                res.status = 500;
                res.set_content("Internal error", "text/plain");
            } else {
                res.set_content(it->second, "text/xml");
            }
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~StopServer() {
        m_server.stop();
        m_thread.join();
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/sm"; }
    std::vector<std::string> asked() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_asked;
    }

private:
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
    std::mutex m_mutex;
    std::map<std::string, std::string> m_answers;
    std::vector<std::string> m_asked;
};
}  // namespace

TEST(SiriSmFeed, TicketerAnswerBecomesTheWholeBoard) {
    TempFileRoot root;
    root.write(kSiriSmOfflinePath, readTestData("rail_siri/siri_sm_ticketer_1_3.xml"));
    auto feed = makeFeed("http://unused.example/siri", Json::Value(Json::objectValue));
    LogCapture log;
    EXPECT_EQ(feed->downloadData(kCurlParams), 1);
    SymbolPairs expected = {
        {"siri_sm_requested_id", ""},
        {"siri_sm_has_connection", "1"},
        {"siri_sm_has_data", "1"},
        {"siri_sm_response_timestamp", "1780563602"},
        {"siri_sm_status", "true"},
        {"siri_sm_valid_until", "1780563662"},
        {"siri_sm_recorded_at_array", "\"1780563591\",\"1780563510\",\"1780563588\""},
        {"siri_sm_line_ref_array", "\"Y5\",\"1\",\"36\""},
        {"siri_sm_direction_ref_array", "\"inbound\",\"outbound\",\"outbound\""},
        {"siri_sm_published_line_name_array", "\"Y5\",\"Skylink 1\",\"36\""},
        {"siri_sm_operator_ref_array", "\"TBTN\",\"TBTN\",\"TBTN\""},
        {"siri_sm_vehicle_feature_ref_array", "\"wheelchairAccessible\",\"lowFloor\",\"lowFloor\""},
        {"siri_sm_origin_ref_array", "\"3390BE02\",\"3390VI05\",\"3390VI05\""},
        {"siri_sm_origin_name_array", "\"Beeston Interchange\",\"Victoria Bus Station\",\"Victoria Bus Station\""},
        {"siri_sm_destination_ref_array", "\"3390VI05\",\"1000DEMA\",\"3390CH01\""},
        {"siri_sm_destination_name_array", "\"City Centre & Victoria\",\"East Midlands 'Airport'\",\"Chilwell\""},
        {"siri_sm_monitored_array", "\"true\",\"false\",\"true\""},
        {"siri_sm_delay_array", "\"PT0S\",\"PT0S\",\"PT2M\""},
        {"siri_sm_vehicle_ref_array", "\"TBTN-702\",\"TBTN-911\",\"TBTN-635\""},
        {"siri_sm_point_name_array", "\"Queens Medical Centre\",\"Queens Medical Centre\",\"Queens Medical Centre\""},
        {"siri_sm_aimed_arrival_time_array", "\"1780563720\",\"1780563900\",\"1780563840\""},
        {"siri_sm_expected_arrival_time_array", "\"1780563720\",\"0\",\"1780563970\""},
        {"siri_sm_aimed_departure_time_array", "\"1780563720\",\"1780563900\",\"1780563840\""},
        {"siri_sm_expected_departure_time_array", "\"1780563720\",\"0\",\"1780563990\""},
        {"siri_sm_departure_platform_name_array", "\"QM4\",\"QM2\",\"QM4\""},
        {"siri_sm_departure_status_array", "\"onTime\",\"onTime\",\"delayed\""},
    };
    EXPECT_EQ(feed->getExportPairs(), expected);
    EXPECT_TRUE(log.contains("SIRI_SM_FeedImpl:downloadData - loaded data from test file: " +
                                 root.path(kSiriSmOfflinePath) + ": " +
                                 std::to_string(readTestData("rail_siri/siri_sm_ticketer_1_3.xml").size()) +
                                 " bytes. The SIRI SM feed won't be contacted.",
                             4))
        << log.dump();
    EXPECT_TRUE(log.contains("SIRI_SM_FeedImpl: Sorting by expected departure time then aimed.", 2));
    EXPECT_TRUE(log.contains("SIRI_SM_FeedImpl:downloadData - parsed sucesfully", 2));
}

TEST(SiriSmFeed, ReadsOtherProvidersAnswerShapes) {
    struct Case {
        const char* fixture;
        std::map<std::string, std::string> expected;
    } cases[] = {
        {"rail_siri/siri_sm_vix_prefixed.xml",  // siri: prefix, BOM, 7-digit fractions, winter +00:00
         {{"siri_sm_response_timestamp", "1768465800"},
          {"siri_sm_valid_until", "1768465860"},
          {"siri_sm_line_ref_array", "\"10\",\"22\""},
          {"siri_sm_recorded_at_array", "\"1768465799\",\"1768465781\""},
          {"siri_sm_aimed_departure_time_array", "\"1768466220\",\"1768466460\""},
          {"siri_sm_expected_departure_time_array", "\"0\",\"1768466370\""},
          {"siri_sm_delay_array", "\"\",\"\""},
          {"siri_sm_departure_status_array", "\"\",\"early\""}}},
        {"rail_siri/siri_sm_r2p_2_0.xml",  // SIRI 2.0, times in Z, repeated elements, CDATA
         {{"siri_sm_response_timestamp", "1780563605"},
          {"siri_sm_valid_until", "1780563665"},
          {"siri_sm_line_ref_array", "\"192\",\"86\""},
          {"siri_sm_published_line_name_array", "\"192\",\"86\""},
          {"siri_sm_vehicle_feature_ref_array", "\"\",\"lowFloor\""},
          {"siri_sm_destination_name_array", "\"Manchester Piccadilly Gardens\",\"Manchester Piccadilly Gardens\""},
          {"siri_sm_point_name_array", "\"Levenshulme, Station\",\"Levenshulme, Station\""},
          {"siri_sm_expected_departure_time_array", "\"1780563960\",\"1780564290\""},
          {"siri_sm_delay_array", "\"\",\"PT1M30S\""}}},
    };
    for (const auto& c : cases) {
        TempFileRoot root;
        root.write(kSiriSmOfflinePath, readTestData(c.fixture));
        auto feed = makeFeed("http://unused.example/siri", Json::Value(Json::objectValue));
        LogCapture log;
        EXPECT_EQ(feed->downloadData(kCurlParams), 1) << c.fixture;
        SymbolPairs pairs = feed->getExportPairs();
        EXPECT_EQ(pairs.size(), 26u) << c.fixture;
        EXPECT_EQ(value(pairs, "siri_sm_has_connection"), "1") << c.fixture;
        EXPECT_EQ(value(pairs, "siri_sm_has_data"), "1") << c.fixture;
        for (const auto& e : c.expected) EXPECT_EQ(value(pairs, e.first), e.second) << c.fixture << " " << e.first;
        EXPECT_FALSE(log.contains("Invalid node value")) << c.fixture << "\n" << log.dump();
    }
}

TEST(SiriSmFeed, LeavesOutVisitsWithoutJourneyCallOrAimedDeparture) {
    TempFileRoot root;
    root.write(kSiriSmOfflinePath, readTestData("rail_siri/siri_sm_vix_prefixed.xml"));
    auto feed = makeFeed("http://unused.example/siri", Json::Value(Json::objectValue));
    LogCapture log;
    feed->downloadData(kCurlParams);
    // X25 has an expected time but no aimed one; N22 has no MonitoredCall.
    EXPECT_EQ(value(feed->getExportPairs(), "siri_sm_vehicle_ref_array"), "\"LOTH-0410\",\"LOTH-0231\"");
    EXPECT_TRUE(log.contains("Missing node: MonitoredStopVisit/MonitoredVehicleJourney/MonitoredCall. Skipping...", 8))
        << log.dump();
    EXPECT_TRUE(log.contains("SIRI_SM_FeedImpl: Missing node:AimedDepartureTime", 8)) << log.dump();
}

TEST(SiriSmFeed, AsksEveryStopInTurnAndKeepsTheBoardsOfThoseThatAnswer) {
    TempFileRoot root;
    StopServer server({{"3390Y4", readTestData("rail_siri/siri_sm_ticketer_1_3.xml")},
                       {"1800SB12781", readTestData("rail_siri/siri_sm_r2p_2_0.xml")}});
    auto feed = makeFeed(server.url(), vixParams("GONE01,3390Y4,1800SB12781"));
    LogCapture log;
    EXPECT_EQ(feed->downloadData(kCurlParams), 1);
    EXPECT_EQ(server.asked(), (std::vector<std::string>{"GONE01", "3390Y4", "1800SB12781"}));
    EXPECT_TRUE(log.contains("SIRI_SM_FeedImpl:downloadData - unable to load data from: GONE01", 8)) << log.dump();
    EXPECT_TRUE(log.contains("SIRI_SM_FeedImpl:downloadData - downloaded data for stop 3390Y4 from server: ", 4));
    SymbolPairs pairs = feed->getExportPairs();
    EXPECT_EQ(value(pairs, "siri_sm_requested_id"), "GONE01,3390Y4,1800SB12781");
    EXPECT_EQ(value(pairs, "siri_sm_has_connection"), "1");
    // Both boards merged and ordered together; the header is the last answer's.
    EXPECT_EQ(value(pairs, "siri_sm_line_ref_array"), "\"Y5\",\"1\",\"192\",\"36\",\"86\"");
    EXPECT_EQ(value(pairs, "siri_sm_response_timestamp"), "1780563605");
}

TEST(SiriSmFeed, ReportsNoConnectionWhenNothingCouldBeRead) {
    TempFileRoot root;
    StubServer server;
    server.reply("/sm", "<html><head><title>502 Bad Gateway</title></head><body>Bad gateway</body></html>");
    struct Case {
        std::string name;
        std::string pointIds;
        std::string log;
        size_t requests;
    } cases[] = {
        {"no stop", "", "SIRI_SM_FeedImpl: Waiting for Stop ID. Unable to download data.", 0},
        {"error page", "3390Y4", "SIRI_SM_FeedImpl:downloadData - unable to parse data. Giving up this attempt.", 1},
    };
    for (const auto& c : cases) {
        auto feed = makeFeed(server.url("/sm"), vixParams(c.pointIds));
        size_t before = server.requestCount();
        LogCapture log;
        EXPECT_EQ(feed->downloadData(kCurlParams), 0) << c.name;
        EXPECT_EQ(feed->getExportPairs(), (SymbolPairs{{"siri_sm_has_connection", "0"}, {"siri_sm_has_data", "0"}}))
            << c.name;
        EXPECT_TRUE(log.contains(c.log, 8)) << c.name << "\n" << log.dump();
        EXPECT_EQ(server.requestCount() - before, c.requests) << c.name;
    }
}

TEST(SiriSmFeed, SortModesOrderByTheirKey) {
    // name, aimed departure, expected departure
    std::vector<SiriStopVisit> visits;
    for (auto v : {std::make_tuple("a", 260, 0), std::make_tuple("b", 300, 150), std::make_tuple("c", 200, 400),
                   std::make_tuple("d", 50, 500), std::make_tuple("e", 0, 250)}) {
        SiriStopVisit visit;
        visit.lineRef = std::get<0>(v);
        visit.aimedDeparture = std::get<1>(v);
        visit.expectedDeparture = std::get<2>(v);
        visits.push_back(visit);
    }
    struct Case {
        int mode;
        std::string order;
        std::string log;
    } cases[] = {
        {4, "edcab", "SIRI_SM_FeedImpl: Sorting by aimed departure time."},
        {6, "dceab", "SIRI_SM_FeedImpl: Sorting by aimed departure time then expected."},
        {8, "abecd", "SIRI_SM_FeedImpl: Sorting by expected departure time."},
        {9, "beacd", "SIRI_SM_FeedImpl: Sorting by expected departure time then aimed."},
        {5, "abcde", "SIRI_SM_FeedImpl: Not sorting entries."},
        {0, "abcde", "SIRI_SM_FeedImpl: Not sorting entries."},
    };
    for (const auto& c : cases) {
        std::vector<SiriStopVisit> sorted = visits;
        LogCapture log;
        SIRI_SM_FeedImpl::sortVisits(sorted, c.mode);
        std::string order;
        for (const auto& v : sorted) order += v.lineRef;
        EXPECT_EQ(order, c.order) << "mode " << c.mode;
        EXPECT_TRUE(log.contains(c.log, 2)) << "mode " << c.mode;
    }
}

TEST(SiriSmFeed, SortAndRowCountAreReadAtEveryUpdate) {
    TempFileRoot root;
    root.write(kSiriSmOfflinePath, readTestData("rail_siri/siri_sm_ticketer_1_3.xml"));
    struct Case {
        Json::Value sort;
        Json::Value rows;
        std::string lines;
    } cases[] = {
        {Json::Value(), Json::Value(), "\"Y5\",\"1\",\"36\""},                 // default: expected then aimed
        {Json::Value("4"), Json::Value(), "\"Y5\",\"36\",\"1\""},              // a text is read with atoi
        {Json::Value(8), Json::Value(2), "\"1\",\"Y5\""},                      // expected time 0 first
        {Json::Value(7), Json::Value(0), "\"36\",\"Y5\",\"1\""},               // not sorted, all rows
        {Json::Value(Json::objectValue), Json::Value(3), "\"Y5\",\"1\",\"36\""},  // unusable: default
        {Json::Value(9), Json::Value(10), "\"Y5\",\"1\",\"36\""},              // more rows than visits
        {Json::Value(9), Json::Value(-2), "\"Y5\",\"1\",\"36\""},              // negative: all rows
        {Json::Value(9), Json::Value("1"), "\"Y5\""},
    };
    for (const auto& c : cases) {
        Json::Value params(Json::objectValue);
        if (!c.sort.isNull()) params["siri_sm_sort"] = c.sort;
        if (!c.rows.isNull()) params["siri_sm_max_row_count"] = c.rows;
        auto feed = makeFeed("http://unused.example/siri", params);
        feed->downloadData(kCurlParams);
        std::string name = "sort " + c.sort.toStyledString() + " rows " + c.rows.toStyledString();
        EXPECT_EQ(value(feed->getExportPairs(), "siri_sm_line_ref_array"), c.lines) << name;
    }
}

TEST(SiriSmFeed, AnAnswerWithoutVisitsStillExportsTheHeader) {
    TempFileRoot root;
    root.write(kSiriSmOfflinePath,
               "<Siri><ServiceDelivery><StopMonitoringDelivery><ResponseTimestamp>2026-06-04T09:00:05Z"
               "</ResponseTimestamp><Status>true</Status></StopMonitoringDelivery></ServiceDelivery></Siri>");
    auto feed = makeFeed("http://unused.example/siri", Json::Value(Json::objectValue));
    EXPECT_EQ(feed->downloadData(kCurlParams), 1);
    SymbolPairs pairs = feed->getExportPairs();
    ASSERT_EQ(pairs.size(), 26u);
    EXPECT_EQ(value(pairs, "siri_sm_has_connection"), "1");
    EXPECT_EQ(value(pairs, "siri_sm_has_data"), "0");
    EXPECT_EQ(value(pairs, "siri_sm_response_timestamp"), "1780563605");
    EXPECT_EQ(value(pairs, "siri_sm_valid_until"), "0");
    for (size_t i = 6; i < pairs.size(); ++i) EXPECT_EQ(pairs[i].second, "") << pairs[i].first;
}

TEST(SiriSmFeed, ANewStopClearsTheBoardOnce) {
    auto feed = makeFeed("http://unused.example/siri", vixParams("3390Y4"));
    LogCapture log;
    EXPECT_TRUE(feed->symbolUpdate("siri_sm_point_id", 0, "3390Y5"));
    EXPECT_EQ(feed->pointIds(), "3390Y5");
    SymbolPairs cleared = feed->getExportPairs();
    ASSERT_EQ(cleared.size(), 23u);
    EXPECT_EQ(cleared[0].first, "siri_sm_response_timestamp");
    EXPECT_EQ(cleared[22].first, "siri_sm_departure_status_array");
    for (const auto& pair : cleared) {
        EXPECT_EQ(pair.second, "") << pair.first;
        EXPECT_NE(pair.first, "siri_sm_has_connection");
        EXPECT_NE(pair.first, "siri_sm_has_data");
    }
    EXPECT_TRUE(log.contains("SIRI_SM_FeedImpl: New stop ID: 3390Y5", 2)) << log.dump();

    feed->clearExportPairs();
    LogCapture quiet;
    EXPECT_FALSE(feed->symbolUpdate("siri_sm_point_id", 0, "3390Y5")) << "same stop";
    EXPECT_FALSE(feed->symbolUpdate("siri_sm_point_id", 0, "")) << "empty stop";
    EXPECT_FALSE(feed->symbolUpdate("siri_sm_terminus_point_id", 0, "3390Y6")) << "other tag";
    EXPECT_TRUE(feed->getExportPairs().empty());
    EXPECT_TRUE(quiet.lines().empty()) << quiet.dump();
    EXPECT_EQ(feed->pointIds(), "3390Y5");
}

TEST(SiriSmFeed, AnImportedStopIdRunsNoCommand) {
    TempFileRoot root;
    StubServer server;
    server.reply("/sm", readTestData("rail_siri/siri_sm_ticketer_1_3.xml"));
    std::string marker = root.path("/tmp/pwned");
    for (int provider : {kSiriProviderVix, kSiriProviderTicketer, kSiriProviderR2p}) {
        Json::Value params = vixParams("");
        params["siri_sm_feed_provider"] = provider;
        auto feed = makeFeed(server.url("/sm"), params);
        std::string hostile = "A1'; touch " + marker + "; echo '$(touch " + marker + ")";
        ASSERT_TRUE(feed->symbolUpdate("siri_sm_point_id", 0, hostile + ",`touch " + marker + "`"));
        feed->clearExportPairs();
        EXPECT_EQ(feed->downloadData(kCurlParams), 1) << "provider " << provider;
        EXPECT_FALSE(root.exists("/tmp/pwned")) << "provider " << provider;
    }
    EXPECT_EQ(server.requestCount(), 6u);
}
