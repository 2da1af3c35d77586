// The feed's decoder of GTFS-Realtime feeds: walks the protocol-buffer bytes of one
// FeedMessage once and keeps only what the feed uses, so a city-sized feed
// costs neither a copy of itself in objects nor the allocator's time.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "feeds/transit/gtfs_rt_records.h"

namespace GTFS {

// One FeedMessage read from its bytes. It accepts exactly the bytes that
// protobuf-lite parses into a complete FeedMessage of our schema: the wire
// format, unknown fields and extensions, groups, nesting depth, required
// fields, and a singular message field given twice merged, not replaced.
// Refused bytes make an invalid parser whose counts are 0 and lists empty.
//
// The records hold the fields the feed reads, named with each getter; the
// other fields keep their defaults. Nothing is copied out of the bytes until
// a getter asks, and the bytes must outlive the parser.
class GTFS_RT_Parser {
public:
    // vehicleId: the vehicle whose position and trip updates are wanted ("" for
    // none). allVehicles: also every position and every trip update's ids, for
    // the vehicle list. stop, when given, is polled as the entities are read:
    // once it is true the reading ends, invalid and stopped().
    GTFS_RT_Parser(std::string_view bytes, const std::string& vehicleId, bool allVehicles,
                   const std::atomic<bool>* stop = nullptr);
    GTFS_RT_Parser(std::string&& bytes, const std::string& vehicleId, bool allVehicles,
                   const std::atomic<bool>* stop = nullptr) = delete;

    bool isValidData() const { return m_valid; }
    bool stopped() const { return m_stopped; }
    // Entities of each kind in the feed, kept or not.
    size_t vehiclePositionCount() const { return m_positionCount; }
    size_t tripUpdateCount() const { return m_tripUpdates.size(); }
    // The trip id of the wanted vehicle's first position, "" without one.
    std::string vehicleTripId() const;

    // Every position with allVehicles, else the wanted vehicle's first: trip
    // id, vehicle id, label, licence plate, current stop sequence and status.
    std::vector<VehiclePosition> getVehiclePositions() const;
    // In feed order, each trip update that could be the vehicle's (its trip id
    // equals a non-empty tripId, or its vehicle descriptor names the wanted
    // vehicle) in full; with allVehicles, every other one with its trip id and
    // route id only.
    std::vector<TripUpdate> getTripUpdates(const std::string& tripId) const;
    // Every alert, in full; takeAlerts hands them over rather than copying them.
    const std::vector<Alert>& getAlerts() const { return m_alerts; }
    std::vector<Alert> takeAlerts() { return std::move(m_alerts); }

private:
    // What the walk keeps of each entity: views into the bytes.
    struct PositionEntry {
        std::string_view tripId, vehicleId, label, licensePlate;
        std::optional<uint32_t> currentStopSequence;
        std::optional<int> currentStatus;
    };
    struct TripUpdateEntry {
        std::string_view tripId, routeId;
        std::optional<std::string_view> vehicleId;
        std::string_view entity;  // read again in full when the trip update is wanted
    };

    bool readFeed();
    bool readEntity(std::string_view entity);

    std::string_view m_bytes;
    std::string m_vehicleId;
    bool m_allVehicles;
    const std::atomic<bool>* m_stop;
    size_t m_entityCount = 0;
    bool m_valid = false;
    bool m_stopped = false;
    size_t m_positionCount = 0;
    std::vector<PositionEntry> m_positions;
    std::vector<TripUpdateEntry> m_tripUpdates;
    std::vector<Alert> m_alerts;
};

}  // namespace GTFS
