#include "feeds/rail_siri/siri_sm_feed.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "tests/support/feed_test.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

namespace {
std::unique_ptr<SIRI_SM_FeedImpl> makeFeed(const Json::Value& moduleParams = "{}",
                                           const std::string& url = "http://unused.example/siri") {
    return configuredFeed<SIRI_SM_FeedImpl>(moduleParams, url);
}

std::string vixParams(const std::string& pointIds, int provider = kSiriProviderVix) {
    return R"({"siri_sm_requestor_ref": "VORN_BUS", "siri_sm_point_id": ")" + pointIds +
           R"(", "siri_sm_feed_provider": )" + std::to_string(provider) + "}";
}

const SymbolPairs kNoConnection = {{"siri_sm_has_connection", "0"}, {"siri_sm_has_data", "0"}};

// A real HTTP server answering VIX-style POSTs by the stop in their MonitoringRef;
// stops it doesn't know get an error page.
struct StopServer {
    explicit StopServer(std::map<std::string, std::string> stopAnswers) : answers(std::move(stopAnswers)) {
        server.Post("/sm", [this](const httplib::Request& req, httplib::Response& res) {
            size_t start = req.body.find("<MonitoringRef>") + 15;
            std::string stop = req.body.substr(start, req.body.find("</MonitoringRef>") - start);
            std::lock_guard<std::mutex> lock(mutex);
            asked.push_back(stop);
            res.status = answers.count(stop) ? 200 : 500;
            res.set_content(answers.count(stop) ? answers[stop] : "Internal error", "text/xml");
        });
        port = server.bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~StopServer() {
        server.stop();
        thread.join();
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port) + "/sm"; }

    httplib::Server server;
    std::thread thread;
    int port = 0;
    std::mutex mutex;
    std::map<std::string, std::string> answers;
    std::vector<std::string> asked;
};
}  // namespace

TEST(SiriSmFeed, TicketerAnswerBecomesTheWholeBoard) {
    TempFileRoot root;
    root.write(kSiriSmOfflinePath, readTestData("rail_siri/siri_sm_ticketer_1_3.xml"));
    const SymbolPairs expected = {
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
    EXPECT_EQ(cycle(*makeFeed()), expected);
}

TEST(SiriSmFeed, ReadsOtherProvidersAnswerShapes) {
    const struct {
        const char* fixture;
        std::map<std::string, std::string> expected;
    } cases[] = {
        // siri: prefix, BOM, 7-digit fractions, winter +00:00; X25 lacks an aimed
        // departure and N22 its MonitoredCall, so both are left out.
        {"rail_siri/siri_sm_vix_prefixed.xml",
         {{"siri_sm_response_timestamp", "1768465800"},
          {"siri_sm_line_ref_array", "\"10\",\"22\""},
          {"siri_sm_expected_departure_time_array", "\"0\",\"1768466370\""},
          {"siri_sm_delay_array", "\"\",\"\""},
          {"siri_sm_departure_status_array", "\"\",\"early\""}}},
        {"rail_siri/siri_sm_r2p_2_0.xml",  // SIRI 2.0, times in Z, repeated elements, CDATA
         {{"siri_sm_response_timestamp", "1780563605"},
          {"siri_sm_line_ref_array", "\"192\",\"86\""},
          {"siri_sm_vehicle_feature_ref_array", "\"\",\"lowFloor\""},
          {"siri_sm_destination_name_array", "\"Manchester Piccadilly Gardens\",\"Manchester Piccadilly Gardens\""},
          {"siri_sm_delay_array", "\"\",\"PT1M30S\""}}},
    };
    for (const auto& c : cases) {
        TempFileRoot root;
        root.write(kSiriSmOfflinePath, readTestData(c.fixture));
        const SymbolPairs pairs = cycle(*makeFeed());
        EXPECT_EQ(pairs.size(), 26u) << c.fixture;
        EXPECT_EQ(valueOf(pairs, "siri_sm_has_connection") + valueOf(pairs, "siri_sm_has_data"), "11") << c.fixture;
        for (const auto& e : c.expected) EXPECT_EQ(valueOf(pairs, e.first), e.second) << c.fixture << " " << e.first;
    }
}

// Several stops in one update, one of which fails; the answers are merged and sorted together.
TEST(SiriSmFeed, AsksEveryStopInTurnAndKeepsTheBoardsOfThoseThatAnswer) {
    TempFileRoot root;
    StopServer server({{"3390Y4", readTestData("rail_siri/siri_sm_ticketer_1_3.xml")},
                       {"1800SB12781", readTestData("rail_siri/siri_sm_r2p_2_0.xml")}});
    const SymbolPairs pairs = cycle(*makeFeed(vixParams("GONE01,3390Y4,1800SB12781"), server.url()));
    std::lock_guard<std::mutex> lock(server.mutex);
    EXPECT_EQ(server.asked, (std::vector<std::string>{"GONE01", "3390Y4", "1800SB12781"}));
    EXPECT_EQ(valueOf(pairs, "siri_sm_requested_id"), "GONE01,3390Y4,1800SB12781");
    EXPECT_EQ(valueOf(pairs, "siri_sm_has_connection"), "1");
    // Both boards merged and ordered together; the header is the last answer's.
    EXPECT_EQ(valueOf(pairs, "siri_sm_line_ref_array"), "\"Y5\",\"1\",\"192\",\"36\",\"86\"");
    EXPECT_EQ(valueOf(pairs, "siri_sm_response_timestamp"), "1780563605");
}

TEST(SiriSmFeed, ReportsNoConnectionWhenNothingCouldBeRead) {
    TempFileRoot root;
    StubServer server;
    server.reply("/sm", "<html><head><title>502 Bad Gateway</title></head><body>Bad gateway</body></html>");
    EXPECT_EQ(cycle(*makeFeed(vixParams(""), server.url("/sm"))), kNoConnection) << "no stop";
    EXPECT_EQ(server.requestCount(), 0u) << "no stop";
    EXPECT_EQ(cycle(*makeFeed(vixParams("3390Y4"), server.url("/sm"))), kNoConnection) << "error page";
    EXPECT_EQ(server.requestCount(), 1u) << "error page";
}

TEST(SiriSmFeed, SortModesOrderByTheirKey) {
    std::vector<SiriStopVisit> visits;  // line, aimed departure, expected departure
    for (auto v : {std::make_tuple("a", 260, 0), std::make_tuple("b", 300, 150), std::make_tuple("c", 200, 400),
                   std::make_tuple("d", 50, 500), std::make_tuple("e", 0, 250)}) {
        visits.emplace_back();
        std::tie(visits.back().lineRef, visits.back().aimedDeparture, visits.back().expectedDeparture) = v;
    }
    for (const auto& [mode, expected] : std::map<int, std::string>{
             {4, "edcab"}, {6, "dceab"}, {8, "abecd"}, {9, "beacd"}, {5, "abcde"}}) {
        std::vector<SiriStopVisit> sorted = visits;
        SIRI_SM_FeedImpl::sortVisits(sorted, mode);
        std::string order;
        for (const auto& v : sorted) order += v.lineRef;
        EXPECT_EQ(order, expected) << "mode " << mode;
    }
}

TEST(SiriSmFeed, SortAndRowCountFromTheParametersAndAnAnswerWithoutVisits) {
    TempFileRoot root;
    root.write(kSiriSmOfflinePath, readTestData("rail_siri/siri_sm_ticketer_1_3.xml"));
    for (const auto& [params, lines] : std::vector<std::pair<std::string, std::string>>{
             {R"({"siri_sm_sort": 8, "siri_sm_max_row_count": 2})", "\"1\",\"Y5\""},  // expected time 0 first
             {R"({"siri_sm_max_row_count": -2})", "\"Y5\",\"1\",\"36\""}})           // negative: all rows
        EXPECT_EQ(valueOf(cycle(*makeFeed(params)), "siri_sm_line_ref_array"), lines) << params;

    // Connected without data: the header, and every list empty.
    root.write(kSiriSmOfflinePath,
               "<Siri><ServiceDelivery><StopMonitoringDelivery><ResponseTimestamp>2026-06-04T09:00:05Z"
               "</ResponseTimestamp><Status>true</Status></StopMonitoringDelivery></ServiceDelivery></Siri>");
    const SymbolPairs pairs = cycle(*makeFeed());
    ASSERT_EQ(pairs.size(), 26u);
    EXPECT_EQ(valueOf(pairs, "siri_sm_has_connection") + valueOf(pairs, "siri_sm_has_data") + valueOf(pairs, "siri_sm_status"),
              "10true");
    for (size_t i = 6; i < pairs.size(); ++i) EXPECT_EQ(pairs[i].second, "") << pairs[i].first;
}

TEST(SiriSmFeed, ANewStopClearsTheBoardOnce) {
    auto feed = makeFeed(vixParams("3390Y4"));
    EXPECT_TRUE(feed->symbolUpdate("siri_sm_point_id", 0, "3390Y5"));
    const SymbolPairs cleared = feed->getExportPairs();
    ASSERT_EQ(cleared.size(), 23u);
    EXPECT_EQ(cleared[0].first + " " + cleared[22].first, "siri_sm_response_timestamp siri_sm_departure_status_array");
    for (const auto& pair : cleared) EXPECT_EQ(pair.second, "") << pair.first;

    feed->clearExportPairs();
    EXPECT_FALSE(feed->symbolUpdate("siri_sm_point_id", 0, "3390Y5")) << "same stop";
    EXPECT_FALSE(feed->symbolUpdate("siri_sm_terminus_point_id", 0, "3390Y6")) << "other tag";
    EXPECT_TRUE(feed->getExportPairs().empty());
}
