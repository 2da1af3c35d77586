// The vehicle bus on loopback with a real mosquitto broker: how long the
// demo's broadcasts take to reach a subscriber, and what publishing costs.
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include "core/module/web_services.h"
#include "host/vehicle_bus.h"
#include "platform/debug.h"
#include "platform/file_root.h"
#include "tests/support/demo_map.h"
#include "tests/support/mqtt_broker.h"

namespace {
using namespace std::chrono_literals;
using Broadcast = std::vector<SymbolValue>;

// Every broadcast of one demo cycle, in order.
const std::vector<Broadcast>& demoBroadcasts() {
    static const std::vector<Broadcast> broadcasts = [] {
        CDebug::setLevelMask(CDebug::kError);
        TempFileRoot root;
        CModuleParmMap parmMap;
        std::string error;
        CModuleParmMap::fromJsonText(demoParameterMap(root).toStyledString(), parmMap, error);
        setFileRoot(root.dir());
        std::vector<Broadcast> captured;
        CWebServices module(parmMap);
        module.setBroadcastSink([&](const Broadcast& pairs) { captured.push_back(pairs); });
        module.updateAllFeeds();
        module.Shutdown();
        return captured;
    }();
    return broadcasts;
}

double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

double percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(fraction * values.size()))];
}

struct Bus {
    MqttBroker broker;
    VehicleBus bus{parseBusUrl(broker.url("bench"))};
    Bus() {
        bus.start();
        bus.waitConnected(5s);
    }
};

// From publishBroadcast to the subscriber's callback, one broadcast at a time.
void BM_BroadcastToSubscriber(benchmark::State& state) {
    const auto& broadcasts = demoBroadcasts();
    Bus bus;
    MqttSubscriber display(bus.broker.port(), "bench/broadcast");
    std::vector<double> latencies;
    size_t sent = 0;
    for (auto _ : state) {
        const Broadcast& broadcast = broadcasts[sent % broadcasts.size()];
        auto start = std::chrono::steady_clock::now();
        bus.bus.publishBroadcast(broadcast);
        ++sent;
        if (!display.waitFor([&](const auto& m) { return m.size() >= sent; }, 5s)) {
            state.SkipWithError("a broadcast did not arrive within 5 s");
            break;
        }
        latencies.push_back(std::chrono::duration<double, std::milli>(display.messages().back().at - start).count());
    }
    if (latencies.empty()) return;
    state.counters["p50_ms"] = percentile(latencies, 0.50);
    state.counters["p99_ms"] = percentile(latencies, 0.99);
    state.counters["broadcasts"] = static_cast<double>(broadcasts.size());
}
BENCHMARK(BM_BroadcastToSubscriber)->Unit(benchmark::kMillisecond)->Iterations(2000)->UseRealTime();

// One whole demo cycle handed over back to back, until the broker has
// acknowledged all of it: messages per second and the runner side's CPU.
void BM_DemoCycleAcknowledged(benchmark::State& state) {
    const auto& broadcasts = demoBroadcasts();
    Bus bus;
    size_t messages = 0;
    double cpu = 0;
    for (auto _ : state) {
        double cpuBefore = cpuSeconds();
        for (const auto& broadcast : broadcasts) {
            bus.bus.publishBroadcast(broadcast);
            messages += broadcast.size() + 1;
        }
        if (!bus.bus.waitDelivered(10s)) {
            state.SkipWithError("not acknowledged within 10 s");
            break;
        }
        cpu += cpuSeconds() - cpuBefore;
    }
    state.counters["messages_per_s"] = benchmark::Counter(static_cast<double>(messages), benchmark::Counter::kIsRate);
    state.counters["cpu_us_per_broadcast"] =
        cpu * 1e6 / static_cast<double>(state.iterations() * broadcasts.size());
}
BENCHMARK(BM_DemoCycleAcknowledged)->Unit(benchmark::kMillisecond)->UseRealTime();
}  // namespace
