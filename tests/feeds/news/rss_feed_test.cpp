#include "feeds/news/rss_feed.h"

#include <gtest/gtest.h>

#include "core/feed/symbol_list.h"
#include "tests/support/feed_test.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

namespace {
const SymbolPairs kNoDocument = {{"rss_has_connection", "0"}, {"rss_has_data", "0"}};

std::unique_ptr<RssFeedImpl> makeFeed(const std::string& url, const std::string& moduleParams = "{}") {
    return configuredFeed<RssFeedImpl>(moduleParams, url);
}
}  // namespace

TEST(RssFeed, BbcChannelOverCurlThenFromTheOfflineFile) {
    // tests/data/news/bbc_news.xml (twelve items) as three headlines, titles wrapped at 30, descriptions at 60.
    const SymbolPairs bbc = {
        {"rss_title", "BBC News"},
        {"rss_description", "BBC News - News Front Page"},
        {"rss_copyright", "Copyright: (C) British Broadcasting Corporation, see https://www.bbc.co.uk/usingthebbc/"
                          "terms-of-use/#15metadataandrssfeeds for terms and conditions of reuse."},
        {"rss_category", ""},
        {"rss_link", "https://www.bbc.co.uk/news"},
        {"rss_item_titles", makeList({"Storm warning as heavy rain\nsweeps across the north",
                                      "Rail fares to rise by 4.9% in\nMarch", "Council approves new tram\nextension"})},
        {"rss_item_descriptions",
         makeList({"Forecasters say up to 80mm of rain could fall on high\nground, with flooding likely in places.",
                   "The increase in England is below inflation but passenger\ngroups say it will still 'hurt commuters'.",
                   "The 3.2-mile route will link the city centre with the\nairport & the new business park."})},
        {"rss_has_connection", "1"},
        {"rss_has_data", "1"}};
    TempFileRoot root;
    StubServer server;
    server.reply("/news/rss.xml", readTestData("news/bbc_news.xml"), 200, "application/rss+xml");
    auto feed = makeFeed(server.url("/news/rss.xml?edition=uk"),
                         R"({"rss_item_count": 3, "rss_word_wrap_title": 30, "rss_word_wrap_description": "60"})");
    EXPECT_EQ(cycle(*feed), bbc);
    ASSERT_EQ(server.requestCount(), 1u);
    const RecordedRequest request = server.requests()[0];
    EXPECT_EQ(request.method + " " + request.path + "?" + request.query, "GET /news/rss.xml?edition=uk");

    // A whole channel before trailing garbage is malformed: nothing of it, nor of the last channel, shows.
    server.reply("/news/rss.xml", "<rss><channel><title>T</title><item><title>A</title></item></channel></rss><");
    EXPECT_EQ(cycle(*feed), kNoDocument);
    // The offline file replaces the download.
    root.write(kRssOfflinePath, readTestData("news/bbc_news.xml"));
    EXPECT_EQ(cycle(*feed), bbc);
    EXPECT_EQ(server.requestCount(), 2u);
}

TEST(RssFeed, OnlyItemElementsAreHeadlines) {
    TempFileRoot root;
    StubServer server;
    auto read = [&](const std::string& items) {
        server.reply("/rss.xml", "<rss version=\"2.0\"><channel><title>T</title>" + items + "</channel></rss>");
        return cycle(*makeFeed(server.url("/rss.xml")));
    };
    const std::string atomLink = "<atom:link href=\"https://example.org/rss\" rel=\"self\"/>";
    EXPECT_EQ(valueOf(read("<item><title>One</title></item>" + atomLink + "<item><title>Two</title></item><guid>x</guid>" +
                         atomLink),
                    "rss_item_titles"),
              "\"One\",\"Two\"");
    const SymbolPairs empty = read("");
    EXPECT_EQ(valueOf(empty, "rss_has_connection") + valueOf(empty, "rss_has_data"), "10") << "a channel without items";
    EXPECT_EQ(cycle(*makeFeed("http://127.0.0.1:" + std::to_string(refusedPort()) + "/rss.xml")), kNoDocument)
        << "no answer";
}
