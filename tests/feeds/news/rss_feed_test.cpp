#include "feeds/news/rss_feed.h"

#include <gtest/gtest.h>

#include "core/symbol_list.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

namespace {
const SymbolPairs kNoDocument = {{"rss_has_connection", "0"}, {"rss_has_data", "0"}};

Json::Value params(const Json::Value& moduleParams) {
    Json::Value map(Json::objectValue);
    map["ModuleParams"] = moduleParams;
    return map;
}

// A feed configured with the given "ModuleParams" keys.
std::unique_ptr<RssFeedImpl> makeFeed(const std::string& url, const Json::Value& moduleParams = Json::objectValue) {
    auto feed = std::make_unique<RssFeedImpl>(url);
    feed->updateModuleParmMap(CModuleParmMap(params(moduleParams)));
    feed->readModuleParmMap();
    return feed;
}

SymbolPairs parsePairs(RssFeedImpl& feed, const std::string& text) {
    feed.clearExportPairs();
    feed.parse(text);
    return feed.getExportPairs();
}

std::string channel(const std::string& items, const std::string& extra = "") {
    return "<rss version=\"2.0\"><channel><title>T</title><description>D</description><link>L</link>" + extra +
           items + "</channel></rss>";
}

SymbolPairs channelPairs(const std::string& titles, const std::string& descriptions, const std::string& hasData,
                         const std::string& copyright = "", const std::string& category = "") {
    return {{"rss_title", "T"},
            {"rss_description", "D"},
            {"rss_copyright", copyright},
            {"rss_category", category},
            {"rss_link", "L"},
            {"rss_item_titles", titles},
            {"rss_item_descriptions", descriptions},
            {"rss_has_connection", "1"},
            {"rss_has_data", hasData}};
}

const std::vector<std::string> kBbcTitles = {
    "Storm warning as heavy rain sweeps across the north",
    "Rail fares to rise by 4.9% in March",
    "Council approves new tram extension",
    "Hospital waiting lists fall for third month",
    "Six Nations: Scotland name unchanged side",
    "Museum returns artefacts to Nigeria",
    "Energy price cap to fall in April",
    "Bus drivers vote to accept pay offer",
    "Scientists map the deepest shipwreck",
    "Festival line-up revealed",
};
const std::vector<std::string> kBbcDescriptions = {
    "Forecasters say up to 80mm of rain could fall on high ground, with flooding likely in places.",
    "The increase in England is below inflation but passenger groups say it will still 'hurt commuters'.",
    "The 3.2-mile route will link the city centre with the airport & the new business park.",
    "Figures show 7.6 million treatments were waiting to start at the end of November.",
    "Head coach keeps faith with the team that beat Wales <b>last weekend</b>.",
    "Seventy-two objects taken in 1897 are being handed back in a ceremony in Benin City.",
    "The typical household bill will drop by about \xC2\xA3" "238 a year, the regulator says.",
    "Strikes planned for next week across the region have been called off.",
    "The wreck lies 6,895m below the surface of the Philippine Sea.",
    "Organisers say tickets sold out within 40 minutes of going on sale.",
};

SymbolPairs bbcPairs() {
    return {{"rss_title", "BBC News"},
            {"rss_description", "BBC News - News Front Page"},
            {"rss_copyright",
             "Copyright: (C) British Broadcasting Corporation, see "
             "https://www.bbc.co.uk/usingthebbc/terms-of-use/#15metadataandrssfeeds for terms and conditions of "
             "reuse."},
            {"rss_category", ""},
            {"rss_link", "https://www.bbc.co.uk/news"},
            {"rss_item_titles", makeList(kBbcTitles)},
            {"rss_item_descriptions", makeList(kBbcDescriptions)},
            {"rss_has_connection", "1"},
            {"rss_has_data", "1"}};
}
}  // namespace

TEST(RssFeed, BbcChannelExportsChannelFieldsAndFirstTenItems) {
    auto feed = makeFeed("unused");
    EXPECT_EQ(parsePairs(*feed, readTestData("news/bbc_news.xml")), bbcPairs());
    // The reused document storage gives the same answer on the next cycle.
    EXPECT_EQ(parsePairs(*feed, readTestData("news/bbc_news.xml")), bbcPairs());
}

TEST(RssFeed, DocumentsToPairs) {
    const std::string item1 = "<item><title>One</title><description>First</description></item>";
    const std::string item2 = "<item><title>Two</title><description>Second</description></item>";
    const std::string item3 = "<item><title>Three</title><description>Third</description></item>";
    const std::string atomLink = "<atom:link href=\"https://example.org/rss\" rel=\"self\"/>";
    struct Case {
        const char* name;
        Json::Value moduleParams;
        std::string document;
        SymbolPairs expected;
    };
    Json::Value countTwo(Json::objectValue);
    countTwo["rss_item_count"] = "2";
    Json::Value countZero(Json::objectValue);
    countZero["rss_item_count"] = 0;
    Json::Value countNegative(Json::objectValue);
    countNegative["rss_item_count"] = -3;
    Json::Value wrapTitle(Json::objectValue);
    wrapTitle["rss_word_wrap_title"] = 20;
    Json::Value wrapBoth(Json::objectValue);
    wrapBoth["rss_word_wrap_title"] = 10;
    wrapBoth["rss_word_wrap_description"] = "12";
    const Case cases[] = {
        {"elements after and between items are not headlines", Json::objectValue,
         channel(item1 + atomLink + item2 + "<guid>x</guid>" + atomLink),
         channelPairs("\"One\",\"Two\"", "\"First\",\"Second\"", "1")},
        {"item count as a string", countTwo, channel(item1 + item2 + item3),
         channelPairs("\"One\",\"Two\"", "\"First\",\"Second\"", "1")},
        {"item count 0", countZero, channel(item1), channelPairs("", "", "0")},
        {"negative item count", countNegative, channel(item1), channelPairs("", "", "0")},
        {"channel without items", Json::objectValue, channel(""), channelPairs("", "", "0")},
        {"double quotes become apostrophes", Json::objectValue,
         channel("<item><title>Say &quot;hi&quot;</title><description>\"quoted\"</description></item>"),
         channelPairs("\"Say 'hi'\"", "\"'quoted'\"", "1")},
        {"missing item fields are empty elements", Json::objectValue,
         channel("<item><title>Only title</title></item><item/>"),
         channelPairs("\"Only title\",\"\"", "\"\",\"\"", "1")},
        {"copyright and category", Json::objectValue,
         channel(item1, "<copyright>(C) Us</copyright><category><![CDATA[News & more]]></category>"),
         channelPairs("\"One\"", "\"First\"", "1", "(C) Us", "News & more")},
        {"title wrapped at 20", wrapTitle,
         channel("<item><title>Council approves new tram extension today</title><description>x</description>"
                 "</item>"),
         channelPairs("\"Council approves\nnew tram extension\ntoday\"", "\"x\"", "1")},
        {"title and description wrapped", wrapBoth,
         channel("<item><title>abc def ghi jkl</title><description>one two three four</description></item>"),
         channelPairs("\"abc def\nghi jkl\"", "\"one two\nthree four\"", "1")},
        {"byte-order mark skipped", Json::objectValue, "\xEF\xBB\xBF" + channel(item1),
         channelPairs("\"One\"", "\"First\"", "1")},
        {"empty text", Json::objectValue, "", kNoDocument},
        {"blank text", Json::objectValue, "  \n ", kNoDocument},
        {"no rss element", Json::objectValue, "<feed><channel><item/></channel></feed>", kNoDocument},
        {"rss without channel", Json::objectValue, "<rss><item><title>x</title></item></rss>", kNoDocument},
        {"truncated document", Json::objectValue, channel(item1).substr(0, 60), kNoDocument},
        {"html error page", Json::objectValue, "<html><body><h1>502 Bad Gateway</h1></html>", kNoDocument},
        {"not xml at all", Json::objectValue, "{\"error\": \"rate limited\"}", kNoDocument},
        {"trailing garbage after the channel", Json::objectValue, channel(item1) + "<", kNoDocument},
    };
    for (const auto& c : cases) {
        auto feed = makeFeed("unused", c.moduleParams);
        EXPECT_EQ(parsePairs(*feed, c.document), c.expected) << c.name;
    }
}

TEST(RssFeed, ParseReportsConnectionAndLogsFailures) {
    auto feed = makeFeed("unused");
    LogCapture log;
    EXPECT_EQ(feed->parse(channel("")), 1);
    EXPECT_EQ(feed->parse("<rss><channel>"), 0);
    EXPECT_TRUE(log.contains("RSS: RssFeedImpl::parse - parsing failed (", 8)) << log.dump();
    EXPECT_EQ(feed->parse(""), 1) << "an empty text is an empty document, not a parse error";
}

TEST(RssFeed, DeeplyNestedDocumentIsRefusedWithoutCrashing) {
    auto feed = makeFeed("unused");
    std::string deep = "<rss><channel>";
    for (int i = 0; i < 200000; ++i) deep += "<item>";
    LogCapture log;
    EXPECT_EQ(parsePairs(*feed, deep), kNoDocument);
    EXPECT_TRUE(log.contains("nesting deeper than", 8)) << log.dump();
}

TEST(RssFeed, OfflineFileReplacesTheDownloadEveryCycle) {
    TempFileRoot root;
    StubServer server;
    server.reply("/rss.xml", channel("<item><title>Live</title></item>"));
    root.write(kRssOfflinePath, readTestData("news/bbc_news.xml"));
    auto feed = makeFeed(server.url("/rss.xml"));
    LogCapture log;
    for (int cycle = 0; cycle < 2; ++cycle) {
        feed->clearExportPairs();
        feed->downloadData("-s");
        EXPECT_EQ(feed->getExportPairs(), bbcPairs()) << "cycle " << cycle;
    }
    EXPECT_EQ(server.requestCount(), 0u);
    int offlineLines = 0;
    for (const auto& line : log.lines())
        if (line.level == 4 && line.text == "RSS:downloadData - Offline test file used. ") ++offlineLines;
    EXPECT_EQ(offlineLines, 2) << log.dump();
}

TEST(RssFeed, DownloadsTheChannelWithCurl) {
    TempFileRoot root;
    StubServer server;
    server.reply("/news/rss.xml", readTestData("news/bbc_news.xml"), 200, "application/rss+xml");
    auto feed = makeFeed(server.url("/news/rss.xml?edition=uk"));
    feed->downloadData("-s --max-time 5");
    EXPECT_EQ(feed->getExportPairs(), bbcPairs());
    ASSERT_EQ(server.requestCount(), 1u);
    const RecordedRequest request = server.requests()[0];
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.path, "/news/rss.xml");
    EXPECT_EQ(request.query, "edition=uk");
}

TEST(RssFeed, FailedDownloadsExportBothFlagsOff) {
    TempFileRoot root;
    StubServer server;
    server.reply("/empty", "");
    server.reply("/error", "<html><body>Service Unavailable</body></html>", 503, "text/html");
    server.reply("/truncated", readTestData("news/bbc_news.xml").substr(0, 900), 200, "application/rss+xml");
    const std::string urls[] = {server.url("/empty"), server.url("/error"), server.url("/truncated"),
                                "http://127.0.0.1:" + std::to_string(refusedPort()) + "/rss.xml"};
    for (const auto& url : urls) {
        auto feed = makeFeed(url);
        feed->downloadData("-s --max-time 5");
        EXPECT_EQ(feed->getExportPairs(), kNoDocument) << url;
    }
}

TEST(RssFeed, UrlCannotRunCommands) {
    TempFileRoot root;
    StubServer server;
    server.reply("/rss.xml", channel("<item><title>One</title></item>"));
    const std::string marker = root.path("/tmp/pwned");
    const std::string hostile[] = {
        server.url("/rss.xml?a=1';touch${IFS}" + marker + ";'"),
        server.url("/rss.xml?a=$(touch${IFS}" + marker + ")"),
        server.url("/rss.xml?a=`touch${IFS}" + marker + "`"),
    };
    for (const auto& url : hostile) {
        auto feed = makeFeed(url);
        feed->downloadData("-s --max-time 5 -g");
        EXPECT_FALSE(root.exists("/tmp/pwned")) << url;
    }
    EXPECT_EQ(server.requestCount(), 3u);
}
