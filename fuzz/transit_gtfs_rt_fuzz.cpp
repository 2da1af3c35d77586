// Fuzzes the GTFS-Realtime parser and the feed's parse of whatever it reads,
// and holds the vehicle list's alert index to the per-alert rule.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "feeds/transit/gtfs_rt_feed.h"
#include "fuzz/temporary_root.h"
#include "platform/debug.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    useTemporaryFileRoot();
    CDebug::setLevelMask(0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    // The first vehicle with a position, or none (which writes the vehicle list).
    const auto everyVehicle = GTFS::GTFS_RT_Parser(bytes, "", true).getVehiclePositions();
    const std::string vehicleId = everyVehicle.empty() ? "" : everyVehicle.front().vehicle.id;
    GTFS::GTFS_RT_Parser parser(bytes, vehicleId, vehicleId.empty() || size % 2 == 1);
    GTFS_RT_FeedImpl feed("");
    const auto tripUpdates = parser.getTripUpdates(parser.vehicleTripId());
    feed.parse(vehicleId, parser.getVehiclePositions(), tripUpdates, parser.getAlerts());

    // Every alert counts as active, so that the fixed clock hides no entity.
    const auto& alerts = parser.getAlerts();
    const AlertIndex index(alerts, std::vector<bool>(alerts.size(), true));
    std::vector<GTFS::TripUpdate> trips(tripUpdates.begin(), tripUpdates.end());
    trips.emplace_back();  // a vehicle without a trip
    for (const auto& trip : trips) {
        int expected = 0;
        for (const auto& alert : alerts) expected += feed.getAlertEntityValidity(alert.informed_entities, trip, alert.id);
        if (index.count(trip.trip.trip_id, trip.trip.route_id) != expected) std::abort();
    }
    return 0;
}
