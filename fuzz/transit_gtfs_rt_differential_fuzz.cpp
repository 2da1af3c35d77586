// Differential fuzzing of the GTFS-Realtime parser against the reference
// decoder (the protobuf-lite generated classes): the same bytes must be
// accepted or refused alike, give the same records for every field the feed
// reads, and make the feed export the same pairs and the same vehicle list.
// Any difference aborts with both sides printed.
#include <json/json.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "feeds/transit/gtfs_rt_feed.h"
#include "fuzz/temporary_root.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "tests/feeds/transit/gtfs_rt_outcome.h"

namespace {

constexpr int64_t kNow = 1767258000;  // fixed, so alert periods judge both runs alike

// The pairs and the vehicle list one parse exports.
std::string exported(const std::string& vehicleId, bool vehicleList,
                     const std::vector<GTFS::VehiclePosition>& positions, const std::vector<GTFS::TripUpdate>& updates,
                     const std::vector<GTFS::Alert>& alerts) {
    Json::Value map(Json::objectValue);
    map["ModuleParams"]["gtfs_rt_vehicle_list"] = vehicleList ? 1 : 0;
    GTFS_RT_FeedImpl feed("");
    feed.updateModuleParmMap(CModuleParmMap(map));
    feed.readModuleParmMap();
    const std::string listPath = rootedPath(kGtfsVehicleListPath);
    std::filesystem::remove(listPath);
    feed.parse(vehicleId, positions, updates, alerts);
    std::string out;
    for (const auto& pair : feed.getExportPairs()) out += pair.first + " = " + pair.second + "\n";
    std::ifstream list(listPath, std::ios::binary);
    std::ostringstream content;
    content << list.rdbuf();
    return out + "list:\n" + content.str() + "\n";
}

[[noreturn]] void differ(const char* what, const std::string& parser, const std::string& reference) {
    std::fprintf(stderr, "GTFS-Realtime parser and reference differ in %s\n--- parser:\n%s\n--- reference:\n%s\n", what,
                 parser.c_str(), reference.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    useTemporaryFileRoot();
    setWallClock([] { return kNow; });
    CDebug::setLevelMask(0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    GTFS::GtfsRtReferenceDecoder reference(bytes);
    const auto positions = reference.getVehiclePositions();
    const auto updates = reference.getTripUpdates();
    const auto alerts = reference.getAlerts();

    // The vehicle: one the input names, picked by its length, or none (which
    // makes the feed write the vehicle list, as downloadData does).
    std::string vehicleId;
    if (!positions.empty())
        vehicleId = positions[size % positions.size()].vehicle.id;
    else if (!updates.empty() && updates[size % updates.size()].vehicle)
        vehicleId = updates[size % updates.size()].vehicle->id;
    const bool allVehicles = (size / 2) % 2 == 1 || vehicleId.empty();

    const std::string fromParser = gtfs_rt_outcome::ofParser(bytes, vehicleId, allVehicles);
    const std::string fromReference = gtfs_rt_outcome::ofReference(bytes, vehicleId, allVehicles);
    if (fromParser != fromReference) differ("the records", fromParser, fromReference);
    if (!reference.isValidData()) return 0;

    GTFS::GTFS_RT_Parser parser(bytes, vehicleId, allVehicles);
    const std::string pairsFromParser = exported(vehicleId, allVehicles, parser.getVehiclePositions(),
                                                 parser.getTripUpdates(parser.vehicleTripId()), parser.getAlerts());
    const std::string pairsFromReference = exported(vehicleId, allVehicles, positions, updates, alerts);
    if (pairsFromParser != pairsFromReference) differ("the exported pairs", pairsFromParser, pairsFromReference);
    return 0;
}
