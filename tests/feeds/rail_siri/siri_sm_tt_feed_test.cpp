#include "feeds/rail_siri/siri_sm_tt_feed.h"

#include <gtest/gtest.h>

#include "tests/support/feed_test.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

namespace {
std::unique_ptr<SIRI_SM_TT_FeedImpl> makeFeed(const std::string& prefix, const std::string& testId = "",
                                              const std::string& terminus = "",
                                              const std::string& url = "http://unused.example/siri") {
    Json::Value p(Json::objectValue);
    p["siri_sm_vehicle_id_prefix"] = prefix;
    p["siri_sm_test_vehicle_id"] = testId;
    p["siri_sm_terminus_point_id"] = terminus;
    p["siri_sm_requestor_ref"] = "VORN_BUS";
    p["siri_sm_feed_provider"] = "2";
    return configuredFeed<SIRI_SM_TT_FeedImpl>(p, url);
}

SymbolPairs found(const std::string& terminus, const std::string& vehicle, const std::string& expected,
                  const std::string& aimed) {
    return {{"siri_sm_tt_requested_id", terminus},
            {"siri_sm_tt_requested_vehicle_id", vehicle},
            {"siri_sm_tt_has_connection", "1"},
            {"siri_sm_tt_expected_arrival_time", expected},
            {"siri_sm_tt_aimed_arrival_time", aimed}};
}
}  // namespace

TEST(SiriSmTtFeed, OfflineAnswersGiveTheFirstVisitOfThisVehicle) {
    TempFileRoot root;
    root.write(kVehicleIdPath, "1234 spare words\n");
    // FBRI-1234 visits twice; the first visit in the answer gives the times. No terminus stop is needed.
    root.write(kSiriSmTtOfflinePath, readTestData("rail_siri/siri_sm_tt_ticketer.xml"));
    EXPECT_EQ(cycle(*makeFeed("FBRI-")), found("", "FBRI-1234", "1780592940", "1780592700"));
    // A winter answer of another provider lacking the expected arrival: exported as 0. The test id wins over the file.
    root.write(kSiriSmTtOfflinePath, readTestData("rail_siri/siri_sm_tt_vix_winter.xml"));
    EXPECT_EQ(cycle(*makeFeed("LOTH-", "7001")), found("", "LOTH-7001", "0", "1768494300"));
    root.write(kVehicleIdPath, "none");
    EXPECT_EQ(makeFeed("FBRI-")->vehicleId(), "none") << "no prefix on \"none\"";
}

TEST(SiriSmTtFeed, AsksTheServiceAboutTheTerminusStop) {
    TempFileRoot root;
    root.write(kVehicleIdPath, "1234");
    StubServer server;
    server.reply("/sm", readTestData("rail_siri/siri_sm_tt_ticketer.xml"));
    auto feed = makeFeed("FBRI-", "", "T1", server.url("/sm"));
    EXPECT_TRUE(feed->symbolUpdate("siri_sm_terminus_point_id", 0, "0100BRP90312"));
    EXPECT_FALSE(feed->symbolUpdate("siri_sm_terminus_point_id", 0, "0100BRP90312")) << "same stop";
    EXPECT_FALSE(feed->symbolUpdate("siri_sm_point_id", 0, "T3")) << "departures stop";
    EXPECT_EQ(cycle(*feed), found("0100BRP90312", "FBRI-1234", "1780592940", "1780592700"));
    ASSERT_EQ(server.requestCount(), 1u);
    const RecordedRequest request = server.requests()[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_NE(request.body.find("<MonitoringRef>0100BRP90312</MonitoringRef>"), std::string::npos) << request.body;
    EXPECT_NE(request.body.find("<PreviewInterval>PT3H</PreviewInterval>"), std::string::npos) << "Ticketer form";
}

TEST(SiriSmTtFeed, EachFailureReportsNoConnectionOnly) {
    StubServer server;
    server.reply("/short", "<error/>");
    server.reply("/other", readTestData("rail_siri/siri_sm_tt_vix_winter.xml"));
    const struct {
        const char* name;
        const char* idFile;  // nullptr: no file
        const char* offline;
        const char* path;
        const char* terminus;
        const char* log;
    } cases[] = {
        {"no vehicle id, even with an offline file", nullptr, "rail_siri/siri_sm_tt_ticketer.xml", "/other", "T1",
         "SIRI_SM_TT_FeedImpl:downloadData: Missing vehicle ID. Unable to proceed."},
        {"no terminus", "1234", nullptr, "/other", "", "SIRI_SM_TT_FeedImpl: Waiting for Stop ID. Unable to download data."},
        {"short answer", "1234", nullptr, "/short", "T1", "SIRI_SM_TT_FeedImpl:downloadData - unable to load data. Will retry."},
        {"vehicle not in the answer", "1234", nullptr, "/other", "T1",
         "SIRI_SM_TT_FeedImpl:downloadData - unable to parse data. Giving up this attempt."},
    };
    for (const auto& c : cases) {
        TempFileRoot root;
        if (c.idFile) root.write(kVehicleIdPath, c.idFile);
        if (c.offline) root.write(kSiriSmTtOfflinePath, readTestData(c.offline));
        LogCapture log;
        EXPECT_EQ(cycle(*makeFeed("FBRI-", "", c.terminus, server.url(c.path))),
                  (SymbolPairs{{"siri_sm_tt_has_connection", "0"}}))
            << c.name;
        EXPECT_TRUE(log.contains(c.log)) << c.name << "\n" << log.dump();
    }
}
