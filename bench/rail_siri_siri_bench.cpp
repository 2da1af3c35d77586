// SIRI stop-monitoring answers parsed, sorted and exported as the departures
// board, and the terminus-time search; a provider-shaped answer and a 500-visit one.
#include <benchmark/benchmark.h>

#include <fstream>
#include <sstream>
#include <string>

#include "feeds/rail_siri/siri_sm_feed.h"
#include "feeds/rail_siri/siri_sm_tt_feed.h"
#include "platform/debug.h"

namespace {
std::string fixture(const char* name) {
    std::ifstream in(std::string(WEBSERVICES_TEST_DATA) + "/rail_siri/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string twoDigits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

// A busy interchange: visits visits, every element present, times out of order.
std::string largeAnswer(int visits) {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Siri xmlns=\"http://www.siri.org.uk/siri\" version=\"1.3\">"
        "<ServiceDelivery><ResponseTimestamp>2026-06-04T10:00:02+01:00</ResponseTimestamp>"
        "<StopMonitoringDelivery version=\"1.3\"><ResponseTimestamp>2026-06-04T10:00:02+01:00</ResponseTimestamp>"
        "<Status>true</Status><ValidUntil>2026-06-04T10:01:02+01:00</ValidUntil>\n";
    for (int i = 0; i < visits; ++i) {
        int minute = (i * 37) % 600;
        std::string at = "2026-06-04T" + twoDigits(10 + minute / 60) + ":" + twoDigits(minute % 60) + ":00+01:00";
        std::string expected = "2026-06-04T" + twoDigits(10 + minute / 60) + ":" + twoDigits(minute % 60) + ":30+01:00";
        text += "<MonitoredStopVisit><RecordedAtTime>2026-06-04T09:59:48.123+01:00</RecordedAtTime>"
                "<MonitoringRef>3390Y4</MonitoringRef><MonitoredVehicleJourney><LineRef>" + std::to_string(i % 90) +
                "</LineRef><DirectionRef>outbound</DirectionRef><PublishedLineName>" + std::to_string(i % 90) +
                "</PublishedLineName><OperatorRef>TBTN</OperatorRef><VehicleFeatureRef>lowFloor</VehicleFeatureRef>"
                "<OriginRef>3390VI05</OriginRef><OriginName>Victoria Bus Station</OriginName>"
                "<DestinationRef>3390CH01</DestinationRef><DestinationName>Chilwell &amp; Toton</DestinationName>"
                "<Monitored>true</Monitored><Delay>PT30S</Delay><VehicleRef>TBTN-" + std::to_string(600 + i) +
                "</VehicleRef><MonitoredCall><StopPointName>Queens Medical Centre</StopPointName>"
                "<AimedArrivalTime>" + at + "</AimedArrivalTime><ExpectedArrivalTime>" + expected +
                "</ExpectedArrivalTime><AimedDepartureTime>" + at + "</AimedDepartureTime><ExpectedDepartureTime>" +
                expected + "</ExpectedDepartureTime><DeparturePlatformName>QM4</DeparturePlatformName>"
                "<DepartureStatus>onTime</DepartureStatus></MonitoredCall></MonitoredVehicleJourney>"
                "</MonitoredStopVisit>\n";
    }
    return text + "</StopMonitoringDelivery></ServiceDelivery></Siri>\n";
}

void board(benchmark::State& state, const std::string& text) {
    CDebug::setLevelMask(CDebug::kError);
    SIRI_SM_FeedImpl feed("http://bench.invalid/siri");
    SiriLoadResult answer = SIRI_SM_Request::makeResult(text);
    for (auto _ : state) {
        SiriStopMonitoring monitoring;
        SIRI_SM_FeedImpl::parse(answer, monitoring);
        SIRI_SM_FeedImpl::sortVisits(monitoring.visits, kSiriSortExpectedThenAimed);
        feed.prepareExportsymbols(monitoring, 0);
        benchmark::DoNotOptimize(feed.getExportPairs().size());
        feed.clearExportPairs();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
    CDebug::setLevelMask(CDebug::kDefaultLevelMask);
}

void BM_SiriBoardProviderAnswer(benchmark::State& state) { board(state, fixture("siri_sm_ticketer_1_3.xml")); }
void BM_SiriBoard500Visits(benchmark::State& state) { board(state, largeAnswer(500)); }

void BM_SiriTerminus500Visits(benchmark::State& state) {
    CDebug::setLevelMask(CDebug::kError);
    // The vehicle is the last of the visits: the whole answer is searched.
    SiriLoadResult answer = SIRI_SM_Request::makeResult(largeAnswer(500));
    for (auto _ : state) benchmark::DoNotOptimize(SIRI_SM_TT_FeedImpl::parse(answer, "TBTN-1099").found);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(answer.data.size()));
    CDebug::setLevelMask(CDebug::kDefaultLevelMask);
}
}  // namespace

BENCHMARK(BM_SiriBoardProviderAnswer);
BENCHMARK(BM_SiriBoard500Visits);
BENCHMARK(BM_SiriTerminus500Visits);
