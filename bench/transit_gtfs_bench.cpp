// A large agency's GTFS-Realtime feed (about 10 MB: 2,000 trips of 40 stops,
// 5,000 vehicles): decoding it, finding one vehicle's trip and stops in it,
// and writing the list of all its vehicles.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "feeds/transit/gtfs_rt_feed.h"
#include "gtfs_realtime.pb.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/file_root.h"

namespace {

namespace rt = transit_realtime;

constexpr int kTrips = 2000;
constexpr int kStopsPerTrip = 40;
constexpr int kVehicles = 5000;
constexpr int64_t kNow = 1767258000;

std::string number(int n, int width) {
    std::string digits = std::to_string(n);
    return std::string(width > static_cast<int>(digits.size()) ? width - digits.size() : 0, '0') + digits;
}

std::string largeFeed() {
    rt::FeedMessage feed;
    feed.mutable_header()->set_gtfs_realtime_version("2.0");
    feed.mutable_header()->set_timestamp(static_cast<uint64_t>(kNow));
    for (int v = 0; v < kVehicles; ++v) {
        auto* entity = feed.add_entity();
        entity->set_id("vehicle-position-" + number(v, 5));
        auto* vp = entity->mutable_vehicle();
        vp->mutable_trip()->set_trip_id("trip-" + number(v % kTrips, 6) + "-weekday-timetable-2026");
        vp->mutable_trip()->set_route_id("route-" + number(v % 120, 3));
        vp->mutable_trip()->set_start_date("20260101");
        vp->mutable_vehicle()->set_id("fleet-vehicle-" + number(v, 5));
        vp->mutable_vehicle()->set_label("Bus " + std::to_string(v));
        vp->mutable_vehicle()->set_license_plate("SN" + number(v % 100, 2) + " ABC");
        vp->mutable_position()->set_latitude(55.9f + static_cast<float>(v % 100) / 1000);
        vp->mutable_position()->set_longitude(-3.2f);
        vp->mutable_position()->set_bearing(90);
        vp->set_current_stop_sequence(static_cast<uint32_t>(v % kStopsPerTrip));
        vp->set_current_status(rt::VehiclePosition::IN_TRANSIT_TO);
        vp->set_timestamp(static_cast<uint64_t>(kNow - 5));
    }
    for (int t = 0; t < kTrips; ++t) {
        auto* entity = feed.add_entity();
        entity->set_id("trip-update-" + number(t, 6));
        auto* tu = entity->mutable_trip_update();
        tu->mutable_trip()->set_trip_id("trip-" + number(t, 6) + "-weekday-timetable-2026");
        tu->mutable_trip()->set_route_id("route-" + number(t % 120, 3));
        tu->mutable_trip()->set_start_time("08:00:00");
        tu->mutable_trip()->set_start_date("20260101");
        tu->mutable_vehicle()->set_id("fleet-vehicle-" + number(t, 5));
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
    for (int a = 0; a < 20; ++a) {
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

const std::string& feedBytes() {
    static const std::string bytes = largeFeed();
    return bytes;
}

// A file root of its own (no databases, a /tmp for the vehicle list), logging off.
struct Setup {
    Setup() {
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

void BM_DecodeFeed(benchmark::State& state) {
    const std::string& bytes = feedBytes();
    for (auto _ : state) {
        GTFS::GTFS_RT_Parser parser(bytes);
        auto trips = parser.getTripUpdates();
        auto positions = parser.getVehiclePositions();
        benchmark::DoNotOptimize(trips.data());
        benchmark::DoNotOptimize(positions.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
    state.counters["feed_MB"] = static_cast<double>(bytes.size()) / 1e6;
}
BENCHMARK(BM_DecodeFeed)->Unit(benchmark::kMillisecond);

// One whole cycle after the download: decode, then find the last vehicle,
// its trip and its stops, and the alerts.
void BM_DecodeAndFindVehicle(benchmark::State& state) {
    Setup setup;
    const std::string& bytes = feedBytes();
    const std::string vehicle = "fleet-vehicle-" + number(kTrips - 1, 5);
    for (auto _ : state) {
        GTFS::GTFS_RT_Parser parser(bytes);
        GTFS_RT_FeedImpl feed("");
        feed.parse(vehicle, parser.getVehiclePositions(), parser.getTripUpdates(), parser.getAlerts());
        benchmark::DoNotOptimize(feed.getExportPairs().size());
    }
    state.counters["feed_MB"] = static_cast<double>(bytes.size()) / 1e6;
}
BENCHMARK(BM_DecodeAndFindVehicle)->Unit(benchmark::kMillisecond);

// The vehicle list alone, from decoded records: 5,000 rows written and renamed into place.
void BM_VehicleList(benchmark::State& state) {
    Setup setup;
    GTFS::GTFS_RT_Parser parser(feedBytes());
    const auto positions = parser.getVehiclePositions();
    const auto trips = parser.getTripUpdates();
    const auto alerts = parser.getAlerts();
    for (auto _ : state) {
        GTFS_RT_FeedImpl feed("");
        feed.parse("", positions, trips, alerts);  // no vehicle id: the list only
    }
    state.counters["vehicles"] = static_cast<double>(positions.size());
}
BENCHMARK(BM_VehicleList)->Unit(benchmark::kMillisecond);

}  // namespace
