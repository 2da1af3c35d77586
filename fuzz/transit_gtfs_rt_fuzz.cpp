// Fuzzes the GTFS-Realtime reader and the feed's parse of whatever it reads.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "feeds/transit/gtfs_rt_feed.h"
#include "platform/debug.h"
#include "platform/file_root.h"

namespace {

// A file root of its own: parse finds no databases there and its vehicle
// list lands in the root's /tmp, never in the real one.
std::string g_root;

void removeRoot() {
    std::error_code ignored;
    std::filesystem::remove_all(g_root, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char dir[] = "/tmp/gtfs-rt-fuzz-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    g_root = dir;
    std::filesystem::create_directories(g_root + "/tmp");
    setFileRoot(g_root);
    std::atexit(removeRoot);
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
