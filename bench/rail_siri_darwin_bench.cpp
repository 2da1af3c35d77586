// Departure board parse and export of a large station's 150-service board.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "feeds/rail_siri/darwin_feed.h"

namespace {
std::string makeBoard(int services) {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope "
        "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body><GetDepartureBoardResponse "
        "xmlns=\"http://thalesgroup.com/RTTI/2017-10-01/ldb/\"><GetStationBoardResult "
        "xmlns:lt=\"http://thalesgroup.com/RTTI/2012-01-13/ldb/types\" "
        "xmlns:lt7=\"http://thalesgroup.com/RTTI/2017-10-01/ldb/types\" "
        "xmlns:lt4=\"http://thalesgroup.com/RTTI/2015-11-27/ldb/types\" "
        "xmlns:lt5=\"http://thalesgroup.com/RTTI/2016-02-16/ldb/types\"><lt4:generatedAt>2024-01-16T12:00:05+00:00"
        "</lt4:generatedAt><lt4:locationName>London Waterloo</lt4:locationName><lt4:crs>WAT</lt4:crs>"
        "<lt4:nrccMessages><lt:message>Disruption between A and B. More details can be found in &lt;A "
        "href=\"https://example.org/x\"&gt;Latest Travel News&lt;/A&gt;.</lt:message></lt4:nrccMessages>"
        "<lt4:platformAvailable>true</lt4:platformAvailable><lt7:trainServices>";
    for (int i = 0; i < services; ++i) {
        char time[6];
        std::snprintf(time, sizeof time, "%02d:%02d", (12 + i / 60) % 24, i % 60);
        text += std::string("<lt7:service><lt4:std>") + time + "</lt4:std><lt4:etd>On time</lt4:etd><lt4:platform>" +
                std::to_string(1 + i % 24) +
                "</lt4:platform><lt4:operator>South Western Railway</lt4:operator><lt4:operatorCode>SW"
                "</lt4:operatorCode><lt4:serviceType>train</lt4:serviceType><lt4:length>10</lt4:length>"
                "<lt4:serviceID>" + std::to_string(1000000 + i) + "WATRLMN_</lt4:serviceID><lt5:origin><lt4:location>"
                "<lt4:locationName>London Waterloo</lt4:locationName><lt4:crs>WAT</lt4:crs></lt4:location>"
                "</lt5:origin><lt5:destination><lt4:location><lt4:locationName>Portsmouth Harbour</lt4:locationName>"
                "<lt4:crs>PMH</lt4:crs><lt4:via>via Guildford</lt4:via></lt4:location></lt5:destination>"
                "</lt7:service>";
    }
    return text + "</lt7:trainServices></GetStationBoardResult></GetDepartureBoardResponse></soap:Body>"
                  "</soap:Envelope>";
}

void BM_DarwinParse150Services(benchmark::State& state) {
    const std::string text = makeBoard(150);
    DarwinFeedImpl feed;
    for (auto _ : state) benchmark::DoNotOptimize(feed.parse(text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void BM_DarwinParseAndExport150Services(benchmark::State& state) {
    const std::string text = makeBoard(150);
    DarwinFeedImpl feed;
    feed.symbolUpdate("crs_xmins", 0, "10");
    for (auto _ : state) {
        feed.clearExportPairs();
        if (feed.parse(text)) feed.prepareExportsymbols();
        benchmark::DoNotOptimize(feed.getExportPairs());
    }
}
}  // namespace

BENCHMARK(BM_DarwinParse150Services);
BENCHMARK(BM_DarwinParseAndExport150Services);
