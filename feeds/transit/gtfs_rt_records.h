// Records of a GTFS-Realtime feed as the feed reads them: plain values,
// produced by the feed's parser (and by the reference decoder the tests compare it with).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace GTFS {

// Enumerations are numbered by the decoders: each is the position of the
// value in the standard's list of names, counted from 0, so "unknown"
// values and the values a record holds when the feed gives none line up
// (cause 0 = UNKNOWN_CAUSE, effect 7 = UNKNOWN_EFFECT, severity 0 = UNKNOWN_SEVERITY).
enum TripScheduleRelationship {
    TRIP_SCHEDULED = 0,
    TRIP_ADDED = 1,
    TRIP_UNSCHEDULED = 2,
    TRIP_CANCELED = 3,
    TRIP_DUPLICATED = 4,
    TRIP_DELETED = 5,
    TRIP_REPLACEMENT = 6,
    TRIP_NEW = 7,
};
enum StopScheduleRelationship { STOP_SCHEDULED = 0, STOP_SKIPPED = 1, STOP_NO_DATA = 2, STOP_UNSCHEDULED = 3 };
enum VehicleStopStatus { INCOMING_AT = 0, STOPPED_AT = 1, IN_TRANSIT_TO = 2 };
enum Cause {
    UNKNOWN_CAUSE = 0,
    OTHER_CAUSE,
    TECHNICAL_PROBLEM,
    STRIKE,
    DEMONSTRATION,
    ACCIDENT,
    HOLIDAY,
    WEATHER,
    MAINTENANCE,
    CONSTRUCTION,
    POLICE_ACTIVITY,
    MEDICAL_EMERGENCY,
};
enum Effect {
    NO_SERVICE = 0,
    REDUCED_SERVICE,
    SIGNIFICANT_DELAYS,
    DETOUR,
    ADDITIONAL_SERVICE,
    MODIFIED_SERVICE,
    OTHER_EFFECT,
    UNKNOWN_EFFECT,
    STOP_MOVED,
    NO_EFFECT,
    ACCESSIBILITY_ISSUE,
};
enum SeverityLevel { UNKNOWN_SEVERITY = 0, INFO, WARNING, SEVERE };

struct TripDescriptor {
    std::string trip_id;
    std::string route_id;
    std::optional<uint32_t> direction_id;
    std::string start_time;
    std::string start_date;
    int schedule_relationship = TRIP_SCHEDULED;
};

struct VehicleDescriptor {
    std::string id;
    std::string label;
    std::string license_plate;
};

struct Position {
    float latitude = 0;
    float longitude = 0;
    std::optional<float> bearing;
    std::optional<double> odometer;
    std::optional<float> speed;
};

struct VehiclePosition {
    std::string entity_id;
    TripDescriptor trip;
    VehicleDescriptor vehicle;
    std::optional<Position> position;
    std::optional<uint32_t> current_stop_sequence;
    std::optional<int> current_status;  // VehicleStopStatus
    std::optional<std::string> stop_id;
    std::optional<uint64_t> timestamp;
    std::optional<int> congestion_level;
    std::optional<int> occupancy_status;
};

struct StopTimeEvent {
    std::optional<int32_t> delay;
    std::optional<int64_t> time;  // seconds since 1970-01-01 UTC
    std::optional<int32_t> uncertainty;
};

struct StopTimeUpdate {
    std::optional<uint32_t> stop_sequence;
    std::optional<std::string> stop_id;
    std::optional<StopTimeEvent> arrival;
    std::optional<StopTimeEvent> departure;
    int schedule_relationship = STOP_SCHEDULED;
};

struct TripUpdate {
    std::string entity_id;
    TripDescriptor trip;
    std::optional<VehicleDescriptor> vehicle;
    std::vector<StopTimeUpdate> stop_time_updates;
    std::optional<uint64_t> timestamp;
    std::optional<int32_t> delay;
};

struct TimeRange {
    std::optional<uint64_t> start;
    std::optional<uint64_t> end;
};

struct EntitySelector {
    std::optional<std::string> agency_id;
    std::optional<std::string> route_id;
    std::optional<int32_t> route_type;
    std::optional<uint32_t> direction_id;
    std::optional<TripDescriptor> trip;
    std::optional<std::string> stop_id;
};

struct Translation {
    std::string text;
    std::optional<std::string> language;
};
using TranslatedString = std::vector<Translation>;

struct Alert {
    std::string id;  // the feed entity's id
    std::vector<TimeRange> active_periods;
    std::vector<EntitySelector> informed_entities;
    std::optional<int> cause;  // Cause
    std::optional<TranslatedString> cause_detail;
    std::optional<int> effect;  // Effect
    std::optional<TranslatedString> effect_detail;
    std::optional<TranslatedString> url;
    TranslatedString header_text;
    TranslatedString description_text;
    std::optional<TranslatedString> tts_header_text;
    std::optional<TranslatedString> tts_description_text;
    std::optional<int> severity_level;  // SeverityLevel
};

}  // namespace GTFS
