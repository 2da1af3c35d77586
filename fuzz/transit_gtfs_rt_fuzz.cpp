// Fuzzes the GTFS-Realtime reader and the feed's parse of whatever it reads.
#include <cstdint>
#include <string>

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
    const auto everyVehicle = GTFS::GTFS_RT_Reader(bytes, "", true).getVehiclePositions();
    const std::string vehicleId = everyVehicle.empty() ? "" : everyVehicle.front().vehicle.id;
    GTFS::GTFS_RT_Reader reader(bytes, vehicleId, vehicleId.empty() || size % 2 == 1);
    GTFS_RT_FeedImpl feed("");
    feed.parse(vehicleId, reader.getVehiclePositions(), reader.getTripUpdates(reader.vehicleTripId()),
               reader.getAlerts());
    return 0;
}
