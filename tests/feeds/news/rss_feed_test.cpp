#include "feeds/news/rss_feed.h"

#include <gtest/gtest.h>

#include "core/symbol_list.h"
#include "tests/feeds/news/news_test_util.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

namespace {
const SymbolPairs kNoDocument = {{"rss_has_connection", "0"}, {"rss_has_data", "0"}};

std::unique_ptr<RssFeedImpl> makeFeed(const std::string& url, const std::string& moduleParams = "{}") {
    return configuredFeed<RssFeedImpl>(moduleParams, url);
}

SymbolPairs pairs(const std::string& title, const std::string& description, const std::string& copyright,
                  const std::string& category, const std::string& link, const std::string& titles,
                  const std::string& descriptions) {
    return {{"rss_title", title},         {"rss_description", description},
            {"rss_copyright", copyright}, {"rss_category", category},
            {"rss_link", link},           {"rss_item_titles", titles},
            {"rss_item_descriptions", descriptions}, {"rss_has_connection", "1"},
            {"rss_has_data", titles.empty() ? "0" : "1"}};
}

// tests/data/news/bbc_news.xml (twelve items) as the displays get it: the first ten items.
SymbolPairs bbcPairs() {
    return pairs(
        "BBC News", "BBC News - News Front Page",
        "Copyright: (C) British Broadcasting Corporation, see https://www.bbc.co.uk/usingthebbc/terms-of-use/"
        "#15metadataandrssfeeds for terms and conditions of reuse.",
        "", "https://www.bbc.co.uk/news",
        makeList({"Storm warning as heavy rain sweeps across the north", "Rail fares to rise by 4.9% in March",
                  "Council approves new tram extension", "Hospital waiting lists fall for third month",
                  "Six Nations: Scotland name unchanged side", "Museum returns artefacts to Nigeria",
                  "Energy price cap to fall in April", "Bus drivers vote to accept pay offer",
                  "Scientists map the deepest shipwreck", "Festival line-up revealed"}),
        makeList({"Forecasters say up to 80mm of rain could fall on high ground, with flooding likely in places.",
                  "The increase in England is below inflation but passenger groups say it will still 'hurt "
                  "commuters'.",
                  "The 3.2-mile route will link the city centre with the airport & the new business park.",
                  "Figures show 7.6 million treatments were waiting to start at the end of November.",
                  "Head coach keeps faith with the team that beat Wales <b>last weekend</b>.",
                  "Seventy-two objects taken in 1897 are being handed back in a ceremony in Benin City.",
                  "The typical household bill will drop by about \xC2\xA3" "238 a year, the regulator says.",
                  "Strikes planned for next week across the region have been called off.",
                  "The wreck lies 6,895m below the surface of the Philippine Sea.",
                  "Organisers say tickets sold out within 40 minutes of going on sale."}));
}
}  // namespace

TEST(RssFeed, BbcChannelOverCurlThenFromTheOfflineFile) {
    TempFileRoot root;
    StubServer server;
    server.reply("/news/rss.xml", readTestData("news/bbc_news.xml"), 200, "application/rss+xml");
    // The configured URL is one literal argument: its quote, $() and backticks run nothing.
    const std::string query = "edition=uk&x=';touch${IFS}" + root.path("/tmp/a") + ";'$(touch${IFS}" +
                              root.path("/tmp/b") + ")`touch${IFS}" + root.path("/tmp/c") + "`";
    auto feed = makeFeed(server.url("/news/rss.xml?" + query));
    EXPECT_EQ(cycle(*feed), bbcPairs());
    ASSERT_EQ(server.requestCount(), 1u);
    const RecordedRequest request = server.requests()[0];
    EXPECT_EQ(request.method + " " + request.path + "?" + request.query, "GET /news/rss.xml?" + query);
    for (const char* marker : {"/tmp/a", "/tmp/b", "/tmp/c"}) EXPECT_FALSE(root.exists(marker)) << marker;

    // The offline file replaces the download; the reused document storage reads it alike.
    root.write(kRssOfflinePath, readTestData("news/bbc_news.xml"));
    EXPECT_EQ(cycle(*feed), bbcPairs());
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST(RssFeed, DownloadedDocumentsToPairs) {
    TempFileRoot root;
    StubServer server;
    auto channel = [](const std::string& items, const std::string& extra = "") {
        return "<rss version=\"2.0\"><channel><title>T</title><description>D</description><link>L</link>" + extra +
               items + "</channel></rss>";
    };
    auto channelPairs = [](const std::string& titles, const std::string& descriptions, const std::string& copyright = "",
                           const std::string& category = "") {
        return pairs("T", "D", copyright, category, "L", titles, descriptions);
    };
    const std::string one = "<item><title>One</title><description>First</description></item>";
    const std::string two = "<item><title>Two</title><description>Second</description></item>";
    const std::string atomLink = "<atom:link href=\"https://example.org/rss\" rel=\"self\"/>";
    const struct {
        const char* name;
        const char* moduleParams;
        std::string document;
        SymbolPairs expected;
    } cases[] = {
        {"elements between and after the items are no headlines", "{}",
         channel(one + atomLink + two + "<guid>x</guid>" + atomLink),
         channelPairs("\"One\",\"Two\"", "\"First\",\"Second\"")},
        {"item count as text; copyright and category", R"({"rss_item_count": "1"})",
         channel(one + two, "<copyright>(C) Us</copyright><category><![CDATA[News & more]]></category>"),
         channelPairs("\"One\"", "\"First\"", "(C) Us", "News & more")},
        {"channel without items", "{}", channel(""), channelPairs("", "")},
        {"double quotes become apostrophes; missing fields are empty elements", "{}",
         channel("<item><title>Say &quot;hi&quot;</title></item><item/>"),
         channelPairs("\"Say 'hi'\",\"\"", "\"\",\"\"")},
        {"title and description wrapped", R"({"rss_word_wrap_title": 10, "rss_word_wrap_description": "12"})",
         channel("<item><title>abc def ghi jkl</title><description>one two three four</description></item>"),
         channelPairs("\"abc def\nghi jkl\"", "\"one two\nthree four\"")},
        {"empty reply", "{}", "", kNoDocument},
        {"html error page", "{}", "<html><body><h1>502 Bad Gateway</h1></body></html>", kNoDocument},
        {"malformed: a whole channel before trailing garbage", "{}", channel(one) + "<", kNoDocument},
    };
    for (const auto& c : cases) {
        server.reply("/rss.xml", c.document);
        EXPECT_EQ(cycle(*makeFeed(server.url("/rss.xml"), c.moduleParams)), c.expected) << c.name;
    }
    EXPECT_EQ(cycle(*makeFeed("http://127.0.0.1:" + std::to_string(refusedPort()) + "/rss.xml")), kNoDocument)
        << "no answer";
}
