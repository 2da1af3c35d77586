// RSS parse of a news channel: a realistic 50-item channel and a 1 MB one.
#include <benchmark/benchmark.h>

#include <string>

#include "feeds/news/rss_feed.h"

namespace {
// A channel shaped like a national broadcaster's front page feed.
std::string makeChannel(int items) {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><rss xmlns:atom=\"http://www.w3.org/2005/Atom\" "
        "xmlns:media=\"http://search.yahoo.com/mrss/\" version=\"2.0\"><channel><title><![CDATA[News]]></title>"
        "<description><![CDATA[News - Front Page]]></description><link>https://news.example/</link>"
        "<atom:link href=\"https://news.example/rss.xml\" rel=\"self\" type=\"application/rss+xml\"/>"
        "<copyright><![CDATA[Copyright: (C) News Example]]></copyright><ttl>15</ttl>\n";
    for (int i = 0; i < items; ++i) {
        const std::string n = std::to_string(i);
        text += "<item><title><![CDATA[Headline number " + n +
                " about a storm, a rail fare rise and a new tram line]]></title><description><![CDATA[The story "
                "in a sentence or two, as a news channel writes it, with &quot;quotes&quot; and figures " +
                n + ".]]></description><link>https://news.example/story-" + n +
                "?at_medium=RSS&amp;at_campaign=rss</link><guid isPermaLink=\"false\">https://news.example/story-" +
                n + "#0</guid><pubDate>Tue, 16 Jan 2024 08:13:47 GMT</pubDate><media:thumbnail width=\"240\" "
                "height=\"135\" url=\"https://img.example/240/" + n + ".jpg\"/></item>\n";
    }
    return text + "</channel></rss>\n";
}

void parseChannel(benchmark::State& state, const std::string& text, int itemCount) {
    RssFeedImpl feed("unused");
    Json::Value map(Json::objectValue);
    map["ModuleParams"]["rss_item_count"] = itemCount;
    feed.updateModuleParmMap(CModuleParmMap(map));
    feed.readModuleParmMap();
    for (auto _ : state) {
        feed.clearExportPairs();
        benchmark::DoNotOptimize(feed.parse(text));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void BM_RssParse50Items(benchmark::State& state) { parseChannel(state, makeChannel(50), 10); }
void BM_RssParse1MB(benchmark::State& state) {
    std::string text = makeChannel(1);
    int items = 1;
    while (text.size() < (1u << 20)) text = makeChannel(items *= 2);
    parseChannel(state, text, 10);
}
void BM_RssParse1MBAllItems(benchmark::State& state) {
    std::string text = makeChannel(1);
    int items = 1;
    while (text.size() < (1u << 20)) text = makeChannel(items *= 2);
    parseChannel(state, text, 1 << 20);
}
}  // namespace

BENCHMARK(BM_RssParse50Items);
BENCHMARK(BM_RssParse1MB);
BENCHMARK(BM_RssParse1MBAllItems);
