// A large agency's GTFS-Realtime feed (9.5 MB: 2,000 trips of 40 stops, 5,000
// vehicles) at 1x, 2x and 4x its size, read by the feed's one-pass reader and
// by the reference decoder (the protobuf-lite generated classes): one vehicle's
// trip, stops and alerts found and exported, then the same with the list of
// every vehicle written too. Each case also reports its peak memory above the
// resident size it started from (the kernel's high-water mark, reset first).
// Then the vehicle list alone, on records, with 5,000 to 20,000 alerts.
#include <benchmark/benchmark.h>
#include <json/json.h>
#include <malloc.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "feeds/transit/gtfs_rt_feed.h"
#include "gtfs_realtime.pb.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/file_root.h"
#include "tests/reference/gtfs_rt_reference_decoder.h"

namespace {

namespace rt = transit_realtime;

constexpr int kTrips = 2000;
constexpr int kStopsPerTrip = 40;
constexpr int kVehicles = 5000;
constexpr int kAlerts = 20;
constexpr int kAlertsPerScale = 5000;  // the vehicle list's alert cases
constexpr int64_t kNow = 1767258000;

std::string number(int n, int width) {
    std::string digits = std::to_string(n);
    return std::string(width > static_cast<int>(digits.size()) ? width - digits.size() : 0, '0') + digits;
}

std::string vehicleName(int v) { return "fleet-vehicle-" + number(v, 5); }

// The feed at `scale` times the trips and vehicles.
std::string largeFeed(int scale) {
    const int trips = kTrips * scale, vehicles = kVehicles * scale;
    rt::FeedMessage feed;
    feed.mutable_header()->set_gtfs_realtime_version("2.0");
    feed.mutable_header()->set_timestamp(static_cast<uint64_t>(kNow));
    for (int v = 0; v < vehicles; ++v) {
        auto* entity = feed.add_entity();
        entity->set_id("vehicle-position-" + number(v, 5));
        auto* vp = entity->mutable_vehicle();
        vp->mutable_trip()->set_trip_id("trip-" + number(v % trips, 6) + "-weekday-timetable-2026");
        vp->mutable_trip()->set_route_id("route-" + number(v % 120, 3));
        vp->mutable_trip()->set_start_date("20260101");
        vp->mutable_vehicle()->set_id(vehicleName(v));
        vp->mutable_vehicle()->set_label("Bus " + std::to_string(v));
        vp->mutable_vehicle()->set_license_plate("SN" + number(v % 100, 2) + " ABC");
        vp->mutable_position()->set_latitude(55.9f + static_cast<float>(v % 100) / 1000);
        vp->mutable_position()->set_longitude(-3.2f);
        vp->mutable_position()->set_bearing(90);
        vp->set_current_stop_sequence(static_cast<uint32_t>(v % kStopsPerTrip));
        vp->set_current_status(rt::VehiclePosition::IN_TRANSIT_TO);
        vp->set_timestamp(static_cast<uint64_t>(kNow - 5));
    }
    for (int t = 0; t < trips; ++t) {
        auto* entity = feed.add_entity();
        entity->set_id("trip-update-" + number(t, 6));
        auto* tu = entity->mutable_trip_update();
        tu->mutable_trip()->set_trip_id("trip-" + number(t, 6) + "-weekday-timetable-2026");
        tu->mutable_trip()->set_route_id("route-" + number(t % 120, 3));
        tu->mutable_trip()->set_start_time("08:00:00");
        tu->mutable_trip()->set_start_date("20260101");
        tu->mutable_vehicle()->set_id(vehicleName(t));
        tu->set_timestamp(static_cast<uint64_t>(kNow - 5));
        for (int s = 1; s <= kStopsPerTrip; ++s) {
            auto* stop = tu->add_stop_time_update();
            stop->set_stop_sequence(static_cast<uint32_t>(s));
            stop->set_stop_id("stop-area-" + number((t * 7 + s) % 9000, 6) + "-bay-" + number(s % 12, 2) +
                              "-northbound-platform-interchange-shelter-with-display");
            for (auto* event : {stop->mutable_arrival(), stop->mutable_departure()}) {
                event->set_delay(60 + s);
                event->set_time(kNow + s * 90);
                event->set_uncertainty(30);
            }
        }
    }
    for (int a = 0; a < kAlerts; ++a) {
        auto* entity = feed.add_entity();
        entity->set_id("alert-" + std::to_string(a));
        auto* alert = entity->mutable_alert();
        alert->add_active_period()->set_start(static_cast<uint64_t>(kNow - 3600));
        alert->add_informed_entity()->set_route_id("route-" + number(a, 3));
        alert->set_effect(rt::Alert::DETOUR);
        alert->mutable_header_text()->add_translation()->set_text("Diversion on route " + std::to_string(a));
        alert->mutable_description_text()->add_translation()->set_text("Buses divert via the bypass.");
    }
    return feed.SerializeAsString();
}

const std::string& feedBytes(int scale) {
    static std::map<int, std::string> feeds;
    auto it = feeds.find(scale);
    if (it == feeds.end()) it = feeds.emplace(scale, largeFeed(scale)).first;
    return it->second;
}

// A file root of its own (no databases, a /tmp for the vehicle list), a fixed
// clock, logging off. Freed memory stays with the allocator from one iteration
// to the next, so each iteration measures the work rather than how fast this
// machine maps fresh pages (the runner's figures count that, cold).
struct Setup {
    Setup() {
#ifdef __GLIBC__
        // The largest block glibc may take from its heap rather than map afresh.
        constexpr int kHeapBlockLimit = 32 << 20;
        mallopt(M_MMAP_THRESHOLD, kHeapBlockLimit);
        mallopt(M_TRIM_THRESHOLD, INT_MAX);
#endif
        char dir[] = "/tmp/gtfs-bench-XXXXXX";
        if (!mkdtemp(dir)) std::abort();
        root = dir;
        std::filesystem::create_directories(root + "/tmp");
        setFileRoot(root);
        setWallClock([] { return kNow; });
        CDebug::setLevelMask(0);
    }
    ~Setup() {
        setWallClock(nullptr);
        setFileRoot("");
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    std::string root;
};

// A field of /proc/self/status in kB: VmRSS now, VmHWM the peak since the last reset.
long statusKb(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, field.size() + 1, field + ":") == 0) return std::atol(line.c_str() + field.size() + 1);
    return 0;
}

// Returns freed memory to the kernel and restarts the high-water mark, so a
// case's peak is its own: getrusage's maximum only rises.
long resetPeak() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
    std::ofstream("/proc/self/clear_refs") << "5";
    return statusKb("VmRSS");
}

enum class Decoder { kReader, kReference };

// One cycle after the download: decode, find the last vehicle, its trip, its
// 40 stops and the alerts, export the pairs; with vehicleList, also write the
// list of every vehicle, as the runner does with gtfs_rt_vehicle_list = 1.
void cycle(benchmark::State& state, Decoder decoder, bool vehicleList) {
    const int scale = static_cast<int>(state.range(0));
    const std::string& bytes = feedBytes(scale);
    const std::string vehicle = vehicleName(kVehicles * scale - 1);
    Setup setup;
    Json::Value map(Json::objectValue);
    map["ModuleParams"]["gtfs_rt_vehicle_list"] = vehicleList ? 1 : 0;
    const long startKb = resetPeak();
    auto once = [&] {
        GTFS_RT_FeedImpl feed("");
        feed.updateModuleParmMap(CModuleParmMap(map));
        feed.readModuleParmMap();
        if (decoder == Decoder::kReader) {
            GTFS::GTFS_RT_Parser reader(bytes, vehicle, vehicleList);
            feed.parse(vehicle, reader.getVehiclePositions(), reader.getTripUpdates(reader.vehicleTripId()),
                       reader.getAlerts());
        } else {
            GTFS::GtfsRtReferenceDecoder reference(bytes);
            feed.parse(vehicle, reference.getVehiclePositions(), reference.getTripUpdates(), reference.getAlerts());
        }
        return feed.getExportPairs().size();
    };
    // One untimed run first: a case that takes a single timed iteration would
    // otherwise time the allocator mapping its memory rather than the work.
    if (once() < 10) state.SkipWithError("the vehicle was not found");
    for (auto _ : state) benchmark::DoNotOptimize(once());
    state.counters["peak_MB"] = static_cast<double>(statusKb("VmHWM") - startKb) / 1024;
    state.counters["feed_MB"] = static_cast<double>(bytes.size()) / 1e6;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}

// The vehicle list alone, on records: 5,000 vehicles on 2,000 trips and
// `scale` times 5,000 alerts of every kind of selector (a route, a trip of a
// route, a stop only, the whole agency, a route but over already). Each row
// counts the alerts that concern the vehicle's trip; the work must grow with
// the alerts, not with alerts times vehicles.
void BM_VehicleListAlerts(benchmark::State& state) {
    const int alertCount = kAlertsPerScale * static_cast<int>(state.range(0));
    std::vector<GTFS::VehiclePosition> positions(kVehicles);
    for (int v = 0; v < kVehicles; ++v) {
        positions[v].vehicle.id = vehicleName(v);
        positions[v].vehicle.label = "Bus " + std::to_string(v);
        if (v % 10 != 9) positions[v].trip.trip_id = "trip-" + number(v % kTrips, 6);  // a tenth run no trip
    }
    std::vector<GTFS::TripUpdate> updates(kTrips);
    for (int t = 0; t < kTrips; ++t) {
        updates[t].trip.trip_id = "trip-" + number(t, 6);
        updates[t].trip.route_id = "route-" + number(t % 120, 3);
    }
    std::vector<GTFS::Alert> alerts(alertCount);
    for (int a = 0; a < alertCount; ++a) {
        GTFS::Alert& alert = alerts[a];
        alert.id = "alert-" + std::to_string(a);
        alert.active_periods.push_back({static_cast<uint64_t>(kNow - 3600), std::nullopt});
        GTFS::EntitySelector& entity = alert.informed_entities.emplace_back();
        switch (a % 10) {
            case 6: entity.trip = GTFS::TripDescriptor{"trip-" + number(a % kTrips, 6), "", {}, "", "", 0}; break;
            case 7: entity.stop_id = "stop-" + std::to_string(a); break;
            case 8: entity.agency_id = "agency"; break;
            case 9: alert.active_periods.front().end = static_cast<uint64_t>(kNow - 60); [[fallthrough]];
            default: entity.route_id = "route-" + number(a % 120, 3);
        }
        alert.header_text.push_back({"Diversion " + std::to_string(a), "en"});
    }
    Setup setup;
    Json::Value map(Json::objectValue);
    map["ModuleParams"]["gtfs_rt_vehicle_list"] = 1;
    GTFS_RT_FeedImpl feed("");
    feed.updateModuleParmMap(CModuleParmMap(map));
    feed.readModuleParmMap();
    const std::string vehicle = vehicleName(0);
    for (auto _ : state) {
        feed.parse(vehicle, positions, updates, alerts);
        feed.clearExportPairs();
    }
    state.counters["alerts"] = alertCount;
}

void BM_SearchReader(benchmark::State& state) { cycle(state, Decoder::kReader, false); }
void BM_SearchReference(benchmark::State& state) { cycle(state, Decoder::kReference, false); }
void BM_VehicleListReader(benchmark::State& state) { cycle(state, Decoder::kReader, true); }
void BM_VehicleListReference(benchmark::State& state) { cycle(state, Decoder::kReference, true); }
// The feed at 1x, 2x and 4x; on a shared machine the fastest repetition is
// the one least disturbed, so it is reported beside the median.
void scales(benchmark::internal::Benchmark* cases) {
    cases->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond);
    cases->ComputeStatistics("min", [](const std::vector<double>& times) {
        return *std::min_element(times.begin(), times.end());
    });
}
BENCHMARK(BM_SearchReader)->Apply(scales);
BENCHMARK(BM_SearchReference)->Apply(scales);
BENCHMARK(BM_VehicleListReader)->Apply(scales);
BENCHMARK(BM_VehicleListReference)->Apply(scales);
BENCHMARK(BM_VehicleListAlerts)->Apply(scales);

}  // namespace
