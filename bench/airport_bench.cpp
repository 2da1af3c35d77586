// Parse times of the airport and service-alert feeds on realistic and large replies.
#include <benchmark/benchmark.h>

#include <string>

#include "feeds/airport/flight_departures_azinq_feed.h"
#include "feeds/airport/flight_departures_feed.h"
#include "feeds/airport/flight_security_feed.h"
#include "feeds/airport/service_alerts_feed.h"

namespace {
const char* const kStatuses[] = {"Boarding", "Gate Open", "Departed - AIRBORNE", "Delayed 16:30", "TAXIED", "On Time"};

std::string departures(int count) {
    std::string text = "[";
    for (int i = 0; i < count; ++i) {
        if (i) text += ",\n";
        text += R"({"Time":")" + std::to_string(10 + i % 12) + ":" + std::to_string(10 + i % 50) +
                R"(","PortOfCallA":"Destination )" + std::to_string(i) + R"(","FlightNo":"XY)" + std::to_string(1000 + i) +
                R"(","Airline":"Example Airways","Status":")" + kStatuses[i % 6] + R"(","Gate":")" +
                std::to_string(i % 40) + R"("})";
    }
    return text + "]";
}

std::string azinq(int count) {
    const char* const codes[] = {"S", "S", "X", "T", "D", "N"};
    const char* const gates[] = {"B", "", "", "", "", "F"};
    std::string text = "[";
    for (int i = 0; i < count; ++i) {
        if (i) text += ",\n";
        text += R"({"FlightStatus":")" + std::string(codes[i % 6]) + R"(","DepartureArrivalType":")" +
                (i % 7 == 0 ? "A" : "D") + R"(","ScheduledDateTime":"2024-05-01T)" + std::to_string(10 + i % 12) +
                ":" + std::to_string(10 + i % 50) + R"(:00","OriginDestAirportDescFormatted":"Destination )" +
                std::to_string(i) + R"(","AirlineIATA":"XY","FlightNumber":")" + std::to_string(1000 + i) +
                R"(","GateActionCode":")" + gates[i % 6] + R"(","GateCode":")" + std::to_string(i % 40) + R"("})";
    }
    return text + "]";
}

std::string alerts(int count) {
    std::string text = R"({"alerts":[)";
    for (int i = 0; i < count; ++i) {
        if (i) text += ",\n";
        text += R"({"alert_id":")" + std::to_string(i) +
                R"(","category":"Diversion","severity":"Severe","description":"Services are diverted via Leith Walk )"
                R"(while tram works continue on Princes Street. Please allow extra time for your journey and check )"
                R"(the stop notices.","services":[{"name":"1"},{"name":"22"},{"name":"25"},{"name":"X25"},{"name":"N26"}]})";
    }
    return text + "]}";
}

// Every row kept, as a worst case; the feed's default keeps 30.
void BM_FlightDepartures(benchmark::State& state) {
    std::string text = departures(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(parseFlightDepartures(text, 0));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_FlightDepartures)->Arg(40)->Arg(1000);

void BM_AzinqDepartures(benchmark::State& state) {
    std::string text = azinq(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(parseAzinqDepartures(text, 0, true));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_AzinqDepartures)->Arg(40)->Arg(1000);

void BM_FlightSecurity(benchmark::State& state) {
    std::string text = R"({"queue": 421, "updated": "2024-05-01T14:02:11Z"})";
    for (auto _ : state) benchmark::DoNotOptimize(parseFlightSecurity(text));
}
BENCHMARK(BM_FlightSecurity);

void BM_ServiceAlerts(benchmark::State& state) {
    std::string text = alerts(static_cast<int>(state.range(0)));
    int index = 0;
    for (auto _ : state) benchmark::DoNotOptimize(parseServiceAlerts(text, index));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ServiceAlerts)->Arg(5)->Arg(200);
}  // namespace
