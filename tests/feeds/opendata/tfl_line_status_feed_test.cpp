// The TfL line-status feed: per-mode requests from the mask, the status
// records, the three sort columns and the nested status arrays.
#include "feeds/opendata/tfl_line_status_feed.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/feeds/opendata/opendata_test_util.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

using namespace opendata_test;

namespace {
const std::string kAppKey = "9b8c7d6e5f4a3b2c1d0e9f8a7b6c5d4e";

class LineStatusTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.reply("/Line/Mode/tube/Status", readTestData("opendata/tfl_line_status_tube.json"));
        server.reply("/Line/Mode/overground/Status", readTestData("opendata/tfl_line_status_overground.json"));
        server.reply("/Line/Mode/dlr/Status", readTestData("opendata/tfl_line_status_dlr.json"));
        server.reply("/Line/Mode/elizabeth-line/Status", R"([{"id":"elizabeth","name":"Elizabeth line",
            "modeName":"elizabeth-line","lineStatuses":[{"statusSeverity":10,"statusSeverityDescription":"Good Service"}]}])");
        server.reply("/Line/Mode/tram/Status", "Service Unavailable: please retry later");
    }
    TFL_Line_Status_FeedImpl& makeFeed(Json::Value params) {
        params["tfl_line_status_app_id"] = "vornapp";
        params["tfl_line_status_app_key"] = kAppKey;
        m_feed = std::make_unique<TFL_Line_Status_FeedImpl>(
            server.url("/Line/Mode/tube/Status"), server.url("/Line/Mode/overground/Status"),
            server.url("/Line/Mode/elizabeth-line/Status"), server.url("/Line/Mode/dlr/Status"),
            server.url("/Line/Mode/tram/Status"));
        configure(*m_feed, params);
        return *m_feed;
    }
    SymbolPairs cycle() {
        m_feed->clearExportPairs();
        m_feed->downloadData(kCurlParams);
        return m_feed->getExportPairs();
    }
    static Json::Value mask(int bits) {
        Json::Value params(Json::objectValue);
        params["tfl_line_status_lines"] = bits;
        return params;
    }

    StubServer server;
    std::unique_ptr<TFL_Line_Status_FeedImpl> m_feed;
};

std::vector<std::string> lineIds(const std::vector<LineStatusRecord>& lines) {
    std::vector<std::string> ids;
    for (const auto& line : lines) ids.push_back(line.id);
    return ids;
}
}  // namespace

TEST_F(LineStatusTest, ThreeModesSortedByModeThenName) {
    makeFeed(mask(1 | 4 | 8));
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
    EXPECT_EQ(cycle(), expected);
    EXPECT_FALSE(log.contains(kAppKey)) << log.dump();
    EXPECT_TRUE(log.contains("TFL line status download command: curl -k -s --max-time 5 '", 2));
}

TEST_F(LineStatusTest, MaskChoosesTheRequests) {
    struct Case {
        const char* name;
        int mask;
        std::vector<std::string> paths;
        const char* hasConnection;
    } cases[] = {
        {"tube and overground", 5, {"/Line/Mode/tube/Status", "/Line/Mode/overground/Status"}, "1"},
        {"elizabeth line", 2, {"/Line/Mode/elizabeth-line/Status"}, "1"},
        {"tram fails alone", 16, {"/Line/Mode/tram/Status"}, "0"},
        {"every mode", 31,
         {"/Line/Mode/tube/Status", "/Line/Mode/elizabeth-line/Status", "/Line/Mode/overground/Status",
          "/Line/Mode/dlr/Status", "/Line/Mode/tram/Status"},
         "1"},
        {"nothing", 0, {}, "0"},
    };
    for (const auto& c : cases) {
        makeFeed(mask(c.mask));
        size_t before = server.requestCount();
        SymbolPairs pairs = cycle();
        std::vector<RecordedRequest> requests = server.requests();
        std::vector<std::string> paths;
        for (size_t i = before; i < requests.size(); ++i) {
            paths.push_back(requests[i].path);
            EXPECT_EQ(requests[i].query, "app_id=vornapp&app_key=" + kAppKey) << c.name;
        }
        EXPECT_EQ(paths, c.paths) << c.name;
        EXPECT_EQ(value(pairs, "tfl_line_status_has_connection"), c.hasConnection) << c.name;
        EXPECT_EQ(pairs.size(), 13u) << c.name;
    }
}

TEST_F(LineStatusTest, FailedCycleExportsThePreviousLinesWhole) {
    makeFeed(mask(1));
    SymbolPairs first = cycle();
    server.reply("/Line/Mode/tube/Status", "[]");
    SymbolPairs second = cycle();
    EXPECT_EQ(value(second, "tfl_line_status_has_connection"), "0");
    ASSERT_EQ(first.size(), second.size());
    for (size_t i = 1; i < first.size(); ++i) EXPECT_EQ(second[i], first[i]) << first[i].first;
    EXPECT_EQ(value(second, "tfl_line_status_status_severity_array_array"), R"("10","9,6","10")");
}

TEST(LineStatusParse, SeverityChoiceAndLargestStatusCount) {
    const char* doc = R"([
        {"id":"a","lineStatuses":[{"statusSeverity":9,"statusSeverityDescription":"Minor","reason":"r1"},
                                  {"statusSeverity":6,"statusSeverityDescription":"Severe","reason":"r2"},
                                  {"statusSeverity":7}]},
        {"id":"b","lineStatuses":[{"statusSeverity":6,"statusSeverityDescription":"first"}]},
        {"id":"c","lineStatuses":[{"statusSeverity":6,"statusSeverityDescription":"first"},
                                  {"statusSeverity":6,"statusSeverityDescription":"second"}]},
        {"id":"d","lineStatuses":[{"statusSeverityDescription":"no severity"}]},
        {"id":"e"}])";
    std::vector<LineStatusRecord> lines;
    int32_t largest = 0;
    LogCapture log;
    ASSERT_TRUE(TFL_Line_Status_FeedImpl::parse(doc, lines, largest));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(largest, 3);
    EXPECT_EQ(lines[0].severity, 6);
    EXPECT_EQ(lines[0].severityDescription, "Severe");
    EXPECT_EQ(lines[0].reason, "r2");
    EXPECT_EQ(lines[0].severities, (std::vector<int32_t>{9, 6, 7}));
    EXPECT_EQ(lines[0].reasons, (std::vector<std::string>{"r1", "r2", ""}));
    EXPECT_EQ(lines[2].severityDescription, "first") << "equal severities keep the first";
    EXPECT_EQ(lines[3].severity, 1) << "a status without severity counts as 1";
    EXPECT_EQ(lines[4].severity, -1) << "no lineStatuses at all";
    EXPECT_TRUE(lines[4].severities.empty());
    EXPECT_TRUE(log.contains("TFL_Line_Status_FeedImpl::parse: setting max severity array size to 3", 2));
    EXPECT_EQ(lines[0].lineColour, "");

    std::vector<LineStatusRecord> counted;
    int32_t countedLargest = 0;
    LogCapture countLog;
    TFL_Line_Status_FeedImpl::parse(R"([{"lineStatuses":[{}]},{"lineStatuses":[{},{},{}]},{"lineStatuses":[{},{}]}])",
                                    counted, countedLargest);
    size_t raised = std::count_if(countLog.lines().begin(), countLog.lines().end(), [](const LogLine& l) {
        return l.text.find("setting max severity array size to") != std::string::npos;
    });
    EXPECT_EQ(raised, 2u) << countLog.dump();

    for (const char* bad : {"", "{}", "[]", "nonsense text", R"([{"lineStatuses":[{"statusSeverity":"high"}]}])",
                            R"([{"id":{"x":1}}])", "[1,2]"}) {
        std::vector<LineStatusRecord> kept(2);
        int32_t keptLargest = 4;
        EXPECT_FALSE(TFL_Line_Status_FeedImpl::parse(bad, kept, keptLargest)) << bad;
        EXPECT_EQ(kept.size(), 2u) << bad;
        EXPECT_EQ(keptLargest, 4) << bad;
    }
}

TEST(LineStatusSort, ColumnsOrderTheLines) {
    auto line = [](const char* id, const char* mode, int severity) {
        LineStatusRecord r;
        r.id = id;
        r.name = id;
        r.modeName = mode;
        r.severity = severity;
        return r;
    };
    const std::vector<LineStatusRecord> lines = {line("victoria", "tube", 10), line("dlr", "dlr", 6),
                                                 line("bakerloo", "tube", 6), line("liberty", "overground", -1),
                                                 line("central", "tube", 9)};
    struct Case {
        const char* name;
        const char* c1;
        const char* c2;
        const char* c3;
        std::vector<std::string> order;
    } cases[] = {
        {"mode, name", "mode", "name", "", {"dlr", "liberty", "bakerloo", "central", "victoria"}},
        {"severity, name", "severity", "name", "", {"liberty", "bakerloo", "dlr", "central", "victoria"}},
        {"unknown first column is skipped", "colour", "severity", "name",
         {"liberty", "bakerloo", "dlr", "central", "victoria"}},
        {"mode, severity", "mode", "severity", "", {"dlr", "liberty", "bakerloo", "central", "victoria"}},
        {"name only in third", "", "bogus", "name", {"bakerloo", "central", "dlr", "liberty", "victoria"}},
    };
    for (const auto& c : cases) {
        std::vector<LineStatusRecord> sorted = lines;
        TFL_Line_Status_FeedImpl::sortLines(sorted, c.c1, c.c2, c.c3);
        EXPECT_EQ(lineIds(sorted), c.order) << c.name;
    }
    // No known column at all: a valid ordering that keeps every line.
    std::vector<LineStatusRecord> many;
    for (int i = 0; i < 100; ++i) many.push_back(line(std::to_string(i).c_str(), "tube", i % 7));
    TFL_Line_Status_FeedImpl::sortLines(many, "x", "y", "z");
    EXPECT_EQ(many.size(), 100u);
}
