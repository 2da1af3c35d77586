// Parse times of the on-board monitoring deliveries and the TransitCloud
// document: a journey of 60 calls, its 60-stop pattern, one departures board.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "feeds/transit/avms_feed.h"
#include "feeds/transit/transit_cloud_feed.h"

namespace {

// "2026-02-20T12:mm:00+01:00" for minute index i past noon.
std::string stamp(int minutes) {
    char text[40];
    std::snprintf(text, sizeof text, "2026-02-20T%02d:%02d:00+01:00", 12 + minutes / 60, minutes % 60);
    return text;
}

std::string call(int i, bool past) {
    std::string n = std::to_string(i);
    std::string text = R"({"StopPointRef": "SP)" + n + R"(", "VisitNumber": "1", "Order": ")" + n + R"(", )";
    if (past) {
        return text + R"("ActualArrivalTime": ")" + stamp(2 * i) + R"(", "ActualDepartureTime": ")" +
               stamp(2 * i + 1) + R"("})";
    }
    return text + R"("PlannedArrivalTime": ")" + stamp(2 * i) + R"(", "ExpectedArrivalTime": ")" + stamp(2 * i + 1) +
           R"(", "PlannedDepartureTime": ")" + stamp(2 * i) + R"(", "ExpectedDepartureTime": ")" +
           stamp(2 * i + 1) + R"("})";
}

// 20 previous calls, the monitored call and 39 onward calls.
std::string journeyMonitoring() {
    std::string text = R"({"JourneyMonitoringDelivery": {"MonitoredJourney": {
        "RecordedAtTime": "2026-02-20T12:40:00.125Z", "ItemIdentifier": "JM-1", "PatternRef": "PAT-42",
        "JourneyRef": "VJ-1007", "HeadwayService": false, "InCongestion": false, "InPanic": false,
        "Delay": "PT1M", "Occupancy": "seatsAvailable", "PreviousCalls": {"PreviousCall": [)";
    for (int i = 0; i < 20; ++i) text += (i ? ",\n" : "") + call(i, true);
    text += R"(]}, "MonitoredCall": )";
    std::string monitored = call(20, false);
    text += monitored.substr(0, monitored.size() - 1) + R"(, "VehicleAtStop": "true"}, "OnwardCalls": {"OnwardCall": [)";
    for (int i = 21; i < 60; ++i) text += (i > 21 ? ",\n" : "") + call(i, false);
    return text + "]}}}}";
}

std::string plannedPattern() {
    std::string text = R"({"PlannedPatternDelivery": {"PlannedPattern": {"RecordedAtTime": "2026-02-20T12:00:00+01:00",
        "PatternRef": "PAT-42", "LineRef": "L42", "DestinationName": "Airport", "PatternStops": {"PatternStop": [)";
    for (int i = 0; i < 60; ++i) {
        std::string n = std::to_string(i);
        text += (i ? ",\n" : "") + std::string(R"({"StopPointRef": "SP)") + n + R"(", "VisitNumber": "1", "Order": )" +
                n + R"(, "StopPointName": "Stop number )" + n + R"(", "StopPointShortName": "Stop )" + n +
                R"(", "DestinationDisplay": "Airport", "ArrivalBoardingActivity": "alighting",
                "DepartureBoardingActivity": "boarding", "PlannedArrivalTime": ")" + stamp(2 * i) +
                R"(", "ExpectedArrivalTime": ")" + stamp(2 * i + 1) + R"("})";
    }
    return text + "]}}}}";
}

std::string transitCloud() {
    std::string text = R"({"LD": {"Count": 40, "StatusCode": 200, "Heading": "Live departures", "Content": [)";
    for (int i = 0; i < 40; ++i) {
        text += (i ? ",\n" : "") + std::string(R"({"Mode": "bus", "Line": ")") + std::to_string(i) +
                R"(", "Dest": "Destination )" + std::to_string(i) +
                R"(", "Dir": "out", "Stop": "Stand A", "Times": ["10:30", "10:45", "11:00"]})";
    }
    text += R"(]}, "FS": {"ETA": "11:20", "Content": [)";
    for (int i = 0; i < 20; ++i) {
        text += (i ? ",\n" : "") + std::string(R"({"Name": "Stop )") + std::to_string(i) +
                R"(", "Time": "10:5)" + std::to_string(i % 10) + R"(", "Requested": false, "Note": ""})";
    }
    return text + "]}}";
}

void runAvms(benchmark::State& state, const std::string& text,
             bool (*parser)(const std::string&, SymbolPairs&, std::string&, size_t)) {
    for (auto _ : state) {
        SymbolPairs pairs;
        std::string errors;
        if (!parser(text, pairs, errors, kDefaultJsonValueBudget)) state.SkipWithError(errors.c_str());
        benchmark::DoNotOptimize(pairs);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void BM_AvmsJourneyMonitoring60Calls(benchmark::State& state) {
    runAvms(state, journeyMonitoring(), AVMS_FeedImpl::parseJourneyMonitoring);
}
BENCHMARK(BM_AvmsJourneyMonitoring60Calls);

void BM_AvmsPlannedPattern60Stops(benchmark::State& state) {
    runAvms(state, plannedPattern(), AVMS_FeedImpl::parsePlannedPattern);
}
BENCHMARK(BM_AvmsPlannedPattern60Stops);

void BM_TransitCloud40Departures20Stops(benchmark::State& state) {
    std::string text = transitCloud();
    for (auto _ : state) {
        SymbolPairs pairs;
        std::string errors;
        if (!TransitCloud_Onboard_FeedImpl::parseDocument(text, pairs, errors)) state.SkipWithError(errors.c_str());
        benchmark::DoNotOptimize(pairs);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_TransitCloud40Departures20Stops);

}  // namespace
