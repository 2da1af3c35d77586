// Text cleaning of a large news text and the time conversions.
#include <benchmark/benchmark.h>

#include <string>

#include "util/text_clean.h"
#include "util/time_convert.h"

namespace {
// About 1 MB of news paragraphs with character references, links and anchors.
const std::string& newsText() {
    static const std::string text = [] {
        const std::string paragraph =
            "<p>Passengers on the 22 &amp; 25 routes face delays of up to 20&nbsp;minutes after a burst "
            "water main on Princes Street &#8211; see https://news.example/travel/2026/12/06/roads?id=42 for "
            "details. <a href=\"https://news.example/live\">Live updates</a> &mdash; the council said "
            "&ldquo;crews are on site&rdquo; and expects the road to reopen by 18:00.</p>\n";
        std::string out;
        while (out.size() < (1 << 20)) out += paragraph;
        return out;
    }();
    return text;
}

void BM_DecodeHtmlEntities_1MB(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(decodeHtmlEntities(newsText()));
    state.SetBytesProcessed(state.iterations() * newsText().size());
}
BENCHMARK(BM_DecodeHtmlEntities_1MB)->Unit(benchmark::kMillisecond);

void BM_RemoveUrls_1MB(benchmark::State& state) {
    for (auto _ : state) {
        std::string text = newsText();
        removeURLs(text);
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(state.iterations() * newsText().size());
}
BENCHMARK(BM_RemoveUrls_1MB)->Unit(benchmark::kMillisecond);

// News items are cleaned one at a time; this is the per-item cost.
void BM_CleanNewsItem(benchmark::State& state) {
    const std::string item = newsText().substr(0, newsText().find('\n'));
    for (auto _ : state) {
        std::string text = decodeHtmlEntities(item);
        removeHTMLtags(text);
        removeURLs(text);
        replaceLineFeeds(text);
        wordWrap(text, 40);
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_CleanNewsItem)->Unit(benchmark::kMicrosecond);

void BM_WordWrap_1MB(benchmark::State& state) {
    for (auto _ : state) {
        std::string text = newsText();
        wordWrap(text, 40);
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(state.iterations() * newsText().size());
}
BENCHMARK(BM_WordWrap_1MB)->Unit(benchmark::kMillisecond);

void BM_Iso8601ToPosix(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(convert_iso8601_local_to_posix("2026-02-20T04:27:00-07:00"));
}
BENCHMARK(BM_Iso8601ToPosix);

void BM_LocalTextRoundTrip(benchmark::State& state) {
    setProcessTimeZone("GMT");
    for (auto _ : state) {
        std::string text = convert_posix_to_ymdhms_local(1615492551, 3600);
        benchmark::DoNotOptimize(convert_ymdhms_local_to_posix(text, 3600));
    }
}
BENCHMARK(BM_LocalTextRoundTrip);

void BM_TzOffset(benchmark::State& state) {
    setProcessTimeZone(":/usr/share/zoneinfo/Europe/London");
    for (auto _ : state) benchmark::DoNotOptimize(get_tz_offset_from_utc(1654961938));
}
BENCHMARK(BM_TzOffset);
}  // namespace
