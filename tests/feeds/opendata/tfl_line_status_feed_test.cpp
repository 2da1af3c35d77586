// The TfL line-status feed: per-mode requests from the mask, the status
// records, the three sort columns and the nested status arrays.
#include "feeds/opendata/tfl_line_status_feed.h"

#include "tests/support/feed_test.h"

namespace {
const std::string kAppKey = "9b8c7d6e5f4a3b2c1d0e9f8a7b6c5d4e";

class LineStatusTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* mode : {"tube", "overground", "dlr"})
            server.reply(path(mode), readTestData(std::string("opendata/tfl_line_status_") + mode + ".json"));
        server.reply(path("elizabeth-line"), R"([{"id":"elizabeth","name":"Elizabeth line",
            "modeName":"elizabeth-line","lineStatuses":[{"statusSeverity":10,"statusSeverityDescription":"Good Service"}]}])");
        server.reply(path("tram"), "Service Unavailable: please retry later");
    }
    static std::string path(const std::string& mode) { return "/Line/Mode/" + mode + "/Status"; }
    // A new feed, or with fresh false the last one (keeping its lines), set up with this mask.
    void makeFeed(int mask, Json::Value params = Json::Value(Json::objectValue), bool fresh = true) {
        params["tfl_line_status_app_id"] = "vornapp";
        params["tfl_line_status_app_key"] = kAppKey;
        params["tfl_line_status_lines"] = mask;
        if (fresh)
            feed = std::make_unique<TFL_Line_Status_FeedImpl>(server.url(path("tube")), server.url(path("overground")),
                                                              server.url(path("elizabeth-line")),
                                                              server.url(path("dlr")), server.url(path("tram")));
        configure(*feed, params);
    }
    // One cycle; the paths it asked for.
    std::vector<std::string> pathsAsked() {
        const size_t before = server.requestCount();
        pairs = cycle(*feed, kPlainCurlParams);
        return pathsSince(server, before, "app_id=vornapp&app_key=" + kAppKey);
    }

    StubServer server;
    std::unique_ptr<TFL_Line_Status_FeedImpl> feed;
    SymbolPairs pairs;
};

}  // namespace

TEST_F(LineStatusTest, ThreeModesSortedByModeThenName) {
    makeFeed(1 | 4 | 8);
    LogCapture log;
    SymbolPairs expected = {
        {"tfl_line_status_has_connection", "1"},
        {"tfl_line_status_has_data", "1"},
        {"tfl_line_status_id_array", R"("dlr","liberty","mildmay","windrush","bakerloo","central","circle")"},
        {"tfl_line_status_name_array", R"("DLR","Liberty","Mildmay","Windrush","Bakerloo","Central","Circle")"},
        {"tfl_line_status_mode_name_array",
         R"("dlr","overground","overground","overground","tube","tube","tube")"},
        {"tfl_line_status_line_colour_array",
         R"("#00AFAAFF","#61686BFF","#006FE6FF","#DC241FFF","#A65A2AFF","#E1251BFF","#FFCD00FF")"},
        {"tfl_line_status_text_colour_array",
         R"("#FFFFFFFF","#FFFFFFFF","#FFFFFFFF","#FFFFFFFF","#FFFFFFFF","#FFFFFFFF","#000F9FFF")"},
        {"tfl_line_status_status_severity_array", "5,-1,10,-1,10,6,10"},
        {"tfl_line_status_status_severity_description_array",
         R"("Part Closure","","Good Service","","Good Service","Severe Delays","Good Service")"},
        {"tfl_line_status_reason_array",
         R"("No service between Canning Town and Beckton due to planned engineering work.","","","","",)"
         R"("Central Line: Severe delays between Liverpool Street and Epping.","")"},
        {"tfl_line_status_status_severity_array_array", R"("5","","10","","10","9,6","10")"},
        {"tfl_line_status_status_severity_description_array_array",
         R"(""Part Closure"","",""Good Service"","",""Good Service"",""Minor Delays","Severe Delays"",""Good Service"")"},
        {"tfl_line_status_reason_array_array",
         R"(""No service between Canning Town and Beckton due to planned engineering work."","","""","","""",)"
         R"(""Central Line: Minor delays due to an earlier signal failure at Leytonstone.",)"
         R"("Central Line: Severe delays between Liverpool Street and Epping."","""")"},
    };
    EXPECT_EQ(cycle(*feed, kPlainCurlParams), expected);
    EXPECT_FALSE(log.contains(kAppKey)) << log.dump();
}

TEST_F(LineStatusTest, MaskChoosesTheRequestsAndAFailedCycleKeepsTheLastLines) {
    makeFeed(31);
    EXPECT_EQ(pathsAsked(), (std::vector<std::string>{path("tube"), path("elizabeth-line"), path("overground"),
                                                      path("dlr"), path("tram")}));
    EXPECT_EQ(valueOf(pairs, "tfl_line_status_has_connection"), "1") << "the tram failure costs only its own lines";
    SymbolPairs last = pairs;
    makeFeed(16, Json::Value(Json::objectValue), false);
    EXPECT_EQ(pathsAsked(), std::vector<std::string>{path("tram")});
    last[0].second = "0";  // only the connection flag changes
    EXPECT_EQ(pairs, last);
}

TEST(LineStatusParse, SeverityChoiceKeepsTheFirstAndFailuresKeepTheLines) {
    const char* doc = R"([{"lineStatuses":[{"statusSeverity":6,"statusSeverityDescription":"first"},
                                          {"statusSeverity":6,"statusSeverityDescription":"second"}]},
                          {"lineStatuses":[{"statusSeverityDescription":"no severity"}]}])";
    std::vector<LineStatusRecord> lines;
    int32_t largest = 0;
    ASSERT_TRUE(TFL_Line_Status_FeedImpl::parse(doc, lines, largest));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].severityDescription, "first") << "equal severities keep the first";
    EXPECT_EQ(lines[1].severity, 1) << "a status without severity counts as 1";
    for (const char* bad : {"", "{}", "[]", R"([{"id":"x"},{"lineStatuses":[{"statusSeverity":"high"}]}])"}) {
        EXPECT_FALSE(TFL_Line_Status_FeedImpl::parse(bad, lines, largest)) << bad;
        EXPECT_EQ(lines.size(), 2u) << bad;
    }
}

TEST_F(LineStatusTest, SortColumnsOrderTheLines) {
    const std::pair<std::vector<const char*>, const char*> cases[] = {
        {{"severity", "name", ""}, R"("liberty","windrush","dlr","central","bakerloo","circle","mildmay")"},
        {{"", "bogus", "name"}, R"("bakerloo","central","circle","dlr","liberty","mildmay","windrush")"},
    };
    for (const auto& [columns, ids] : cases) {
        Json::Value params(Json::objectValue);
        for (int i = 0; i < 3; ++i) params["tfl_line_status_sort_column_" + std::to_string(i + 1)] = columns[i];
        makeFeed(1 | 4 | 8, params);
        EXPECT_EQ(valueOf(cycle(*feed, kPlainCurlParams), "tfl_line_status_id_array"), ids) << columns[0] << "," << columns[1];
    }
}

TEST(LineStatusParse, EmptyElementsAreNoLinesAndOneReplyKeepsAtMostAHundred) {
    std::vector<LineStatusRecord> lines;
    int32_t largest = 0;
    EXPECT_TRUE(TFL_Line_Status_FeedImpl::parse(R"([{}, null, {}])", lines, largest));
    EXPECT_TRUE(lines.empty());
    std::string many = "[";
    for (int i = 0; i < 150; ++i) many += std::string(i ? "," : "") + R"({"id":"l)" + std::to_string(i) + "\"}";
    LogCapture log;
    EXPECT_TRUE(TFL_Line_Status_FeedImpl::parse(many + "]", lines, largest));
    ASSERT_EQ(lines.size(), 100u);
    EXPECT_EQ(lines.back().id, "l99");
    EXPECT_TRUE(log.contains("more than 100 lines in one reply", 8)) << log.dump();
}
