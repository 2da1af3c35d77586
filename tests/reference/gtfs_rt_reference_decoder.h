// Reference decoder of GTFS-Realtime feeds: the protobuf-lite generated
// classes decode the whole FeedMessage, then every entity becomes a record.
// The feed reads with GTFS_RT_Parser; the tests, the differential fuzz target
// and the benchmarks hold it to this decoder's decisions and records.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "feeds/transit/gtfs_rt_records.h"

namespace transit_realtime {
class FeedMessage;
}

namespace GTFS {

// One decoded FeedMessage. Bytes that are not a complete, valid message
// (required fields included) make an invalid decoder whose lists are empty.
class GtfsRtReferenceDecoder {
public:
    explicit GtfsRtReferenceDecoder(const std::string& bytes);
    ~GtfsRtReferenceDecoder();
    GtfsRtReferenceDecoder(const GtfsRtReferenceDecoder&) = delete;
    GtfsRtReferenceDecoder& operator=(const GtfsRtReferenceDecoder&) = delete;

    bool isValidData() const { return m_valid; }
    // The entities of each kind, in feed order.
    std::vector<VehiclePosition> getVehiclePositions() const;
    std::vector<TripUpdate> getTripUpdates() const;
    std::vector<Alert> getAlerts() const;

private:
    std::unique_ptr<transit_realtime::FeedMessage> m_message;
    bool m_valid = false;
};

}  // namespace GTFS
