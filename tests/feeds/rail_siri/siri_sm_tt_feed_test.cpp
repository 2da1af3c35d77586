#include "feeds/rail_siri/siri_sm_tt_feed.h"

#include <gtest/gtest.h>

#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

namespace {
const char* const kCurlParams = "--connect-timeout 3 --max-time 5 -s";

std::unique_ptr<SIRI_SM_TT_FeedImpl> makeFeed(const std::string& url, const Json::Value& moduleParams) {
    auto feed = std::make_unique<SIRI_SM_TT_FeedImpl>(url);
    Json::Value map(Json::objectValue);
    map["ModuleParams"] = moduleParams;
    feed->updateModuleParmMap(CModuleParmMap(map));
    feed->readModuleParmMap();
    return feed;
}

Json::Value params(const std::string& prefix, const std::string& testId = "", const std::string& terminus = "") {
    Json::Value p(Json::objectValue);
    p["siri_sm_vehicle_id_prefix"] = prefix;
    p["siri_sm_test_vehicle_id"] = testId;
    p["siri_sm_terminus_point_id"] = terminus;
    p["siri_sm_requestor_ref"] = "VORN_BUS";
    p["siri_sm_feed_provider"] = "2";
    return p;
}

SymbolPairs found(const std::string& terminus, const std::string& vehicle, const std::string& expected,
                  const std::string& aimed) {
    return {{"siri_sm_tt_requested_id", terminus},
            {"siri_sm_tt_requested_vehicle_id", vehicle},
            {"siri_sm_tt_has_connection", "1"},
            {"siri_sm_tt_expected_arrival_time", expected},
            {"siri_sm_tt_aimed_arrival_time", aimed}};
}
const SymbolPairs kNoConnection = {{"siri_sm_tt_has_connection", "0"}};
}  // namespace

TEST(SiriSmTtFeed, FindsTheFirstVisitOfThisVehicleFromTheIdFile) {
    TempFileRoot root;
    root.write(kVehicleIdPath, "1234\n");
    root.write(kSiriSmTtOfflinePath, readTestData("rail_siri/siri_sm_tt_ticketer.xml"));
    auto feed = makeFeed("http://unused.example/siri", params("FBRI-"));
    LogCapture log;
    EXPECT_EQ(feed->downloadData(kCurlParams), 1);
    // FBRI-1234 visits twice; the first visit in the answer gives the times.
    EXPECT_EQ(feed->getExportPairs(), found("", "FBRI-1234", "1780592940", "1780592700"));
    EXPECT_TRUE(log.contains("SIRI_SM_TT_FeedImpl::parse: Got VehicleRef: FBRI-69412", 2)) << log.dump();
    EXPECT_TRUE(log.contains("Missing node: MonitoredStopVisit/MonitoredVehicleJourney. Skipping...", 8));
    EXPECT_TRUE(log.contains("SIRI_SM_TT_FeedImpl:downloadData - parsed sucesfully", 2));
}

TEST(SiriSmTtFeed, WorksOutTheVehicleIdentifier) {
    struct Case {
        std::string name;
        const char* file;  // nullptr: no id file
        std::string prefix;
        std::string testId;
        std::string expected;
    } cases[] = {
        {"prefix + file word", "1234 spare words\n", "FBRI-", "", "FBRI-1234"},
        {"none unchanged", "none", "FBRI-", "", "none"},
        {"NONE unchanged", "NONE\n", "FBRI-", "", "NONE"},
        {"test id wins", "1234", "FBRI-", "69412", "FBRI-69412"},
        {"test id without file", nullptr, "", "69412", "69412"},
        {"no file", nullptr, "FBRI-", "", ""},
        {"empty file", "  \n", "FBRI-", "", ""},
    };
    for (const auto& c : cases) {
        TempFileRoot root;
        if (c.file) root.write(kVehicleIdPath, c.file);
        auto feed = makeFeed("http://unused.example/siri", params(c.prefix, c.testId));
        EXPECT_EQ(feed->vehicleId(), c.expected) << c.name;
    }
}

TEST(SiriSmTtFeed, AMissingArrivalTimeIsExportedAsZero) {
    TempFileRoot root;
    root.write(kSiriSmTtOfflinePath, readTestData("rail_siri/siri_sm_tt_vix_winter.xml"));
    auto feed = makeFeed("http://unused.example/siri", params("LOTH-", "7001"));
    LogCapture log;
    EXPECT_EQ(feed->downloadData(kCurlParams), 1);
    EXPECT_EQ(feed->getExportPairs(), found("", "LOTH-7001", "0", "1768494300"));
    EXPECT_TRUE(log.contains("SIRI_SM_TT_FeedImpl: Missing node:ExpectedArrivalTime", 8)) << log.dump();
}

TEST(SiriSmTtFeed, AsksTheServiceAboutTheTerminusStop) {
    TempFileRoot root;
    root.write(kVehicleIdPath, "1234");
    StubServer server;
    server.reply("/sm", readTestData("rail_siri/siri_sm_tt_ticketer.xml"));
    auto feed = makeFeed(server.url("/sm"), params("FBRI-", "", "0100BRP90312"));
    LogCapture log;
    EXPECT_EQ(feed->downloadData(kCurlParams), 1);
    EXPECT_EQ(feed->getExportPairs(), found("0100BRP90312", "FBRI-1234", "1780592940", "1780592700"));
    ASSERT_EQ(server.requestCount(), 1u);
    RecordedRequest request = server.requests()[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_NE(request.body.find("<MonitoringRef>0100BRP90312</MonitoringRef>"), std::string::npos) << request.body;
    EXPECT_NE(request.body.find("<PreviewInterval>PT3H</PreviewInterval>"), std::string::npos) << "Ticketer form";
    EXPECT_TRUE(log.contains("SIRI_SM_TT_FeedImpl:downloadData - downloaded data from server: ", 4)) << log.dump();
}

TEST(SiriSmTtFeed, EachFailureReportsNoConnectionOnly) {
    StubServer server;
    server.reply("/short", "<error/>");
    server.reply("/other", readTestData("rail_siri/siri_sm_tt_vix_winter.xml"));
    struct Case {
        std::string name;
        const char* idFile;
        const char* offline;
        std::string path;
        std::string terminus;
        std::string log;
        int level;
    } cases[] = {
        {"no vehicle id, even with an offline file", nullptr, "rail_siri/siri_sm_tt_ticketer.xml", "/other", "T1",
         "SIRI_SM_TT_FeedImpl:downloadData: Missing vehicle ID. Unable to proceed.", 16},
        {"no terminus", "1234", nullptr, "/other", "", "SIRI_SM_TT_FeedImpl: Waiting for Stop ID. Unable to download data.",
         8},
        {"short answer", "1234", nullptr, "/short", "T1",
         "SIRI_SM_TT_FeedImpl:downloadData - unable to load data. Will retry.", 8},
        {"vehicle not in the answer", "1234", nullptr, "/other", "T1",
         "SIRI_SM_TT_FeedImpl:downloadData - unable to parse data. Giving up this attempt.", 8},
        {"none is still asked for", "none", nullptr, "/other", "T1",
         "SIRI_SM_TT_FeedImpl:downloadData - unable to parse data. Giving up this attempt.", 8},
    };
    for (const auto& c : cases) {
        TempFileRoot root;
        if (c.idFile) root.write(kVehicleIdPath, c.idFile);
        if (c.offline) root.write(kSiriSmTtOfflinePath, readTestData(c.offline));
        auto feed = makeFeed(server.url(c.path), params("FBRI-", "", c.terminus));
        LogCapture log;
        EXPECT_EQ(feed->downloadData(kCurlParams), 0) << c.name;
        EXPECT_EQ(feed->getExportPairs(), kNoConnection) << c.name;
        EXPECT_TRUE(log.contains(c.log, c.level)) << c.name << "\n" << log.dump();
    }
}

TEST(SiriSmTtFeed, UsesTheOfflineFileWithoutATerminusStop) {
    TempFileRoot root;
    root.write(kVehicleIdPath, "1234");
    root.write(kSiriSmTtOfflinePath, readTestData("rail_siri/siri_sm_tt_ticketer.xml"));
    auto feed = makeFeed("http://127.0.0.1:" + std::to_string(refusedPort()) + "/sm", params("FBRI-"));
    LogCapture log;
    EXPECT_EQ(feed->downloadData(kCurlParams), 1);
    EXPECT_TRUE(log.contains("SIRI_SM_TT_FeedImpl:downloadData - loaded data from test file: " +
                                 root.path(kSiriSmTtOfflinePath) + ": ",
                             4))
        << log.dump();
}

TEST(SiriSmTtFeed, TakesOnlyANewTerminusStop) {
    auto feed = makeFeed("http://unused.example/siri", params("", "", "T1"));
    LogCapture log;
    EXPECT_TRUE(feed->symbolUpdate("siri_sm_terminus_point_id", 0, "T2"));
    EXPECT_TRUE(log.contains("SIRI_SM_TT_FeedImpl: New stop ID: T2", 2));
    EXPECT_FALSE(feed->symbolUpdate("siri_sm_terminus_point_id", 0, "T2")) << "same stop";
    EXPECT_FALSE(feed->symbolUpdate("siri_sm_terminus_point_id", 0, "")) << "empty";
    EXPECT_FALSE(feed->symbolUpdate("siri_sm_remaining_stop_count", 0, "4")) << "unused import";
    EXPECT_FALSE(feed->symbolUpdate("siri_sm_point_id", 0, "T3")) << "departures stop";
    EXPECT_EQ(feed->terminusPointId(), "T2");
    EXPECT_TRUE(feed->getExportPairs().empty()) << "nothing is cleared";
}
