// The parser held to the reference decoder: what a reading gives the feed
// (decision, counts, the records it keeps, each field the feed reads) as one
// text, once from the parser and once as the reference decoder says it must be.
// Used by the parser's tests and by the differential fuzz target.
#pragma once

#include <optional>
#include <string>
#include <type_traits>

#include "feeds/transit/gtfs_rt_parser.h"
#include "tests/reference/gtfs_rt_reference_decoder.h"

namespace gtfs_rt_outcome {

template <typename T>
std::string opt(const std::optional<T>& value) {
    if (!value) return "-";
    if constexpr (std::is_same_v<T, std::string>)
        return "'" + *value + "'";
    else
        return std::to_string(*value);
}

inline std::string text(const GTFS::TripDescriptor& trip) {
    return "trip '" + trip.trip_id + "' route '" + trip.route_id + "' dir " + opt(trip.direction_id) + " start '" +
           trip.start_time + "' '" + trip.start_date + "' rel " + std::to_string(trip.schedule_relationship);
}

inline std::string text(const GTFS::TranslatedString& texts) {
    std::string out = "[";
    for (const auto& t : texts) out += "'" + t.text + "'@" + opt(t.language) + " ";
    return out + "]";
}

inline std::string text(const std::optional<GTFS::TranslatedString>& texts) { return texts ? text(*texts) : "-"; }

inline std::string text(const std::optional<GTFS::StopTimeEvent>& event) {
    if (!event) return "-";
    return "(" + opt(event->delay) + " " + opt(event->time) + " " + opt(event->uncertainty) + ")";
}

inline std::string text(const GTFS::VehiclePosition& position) {
    return "position '" + position.trip.trip_id + "' vehicle '" + position.vehicle.id + "' '" +
           position.vehicle.label + "' '" + position.vehicle.license_plate + "' at " +
           opt(position.current_stop_sequence) + " status " + opt(position.current_status) + "\n";
}

// A trip update the feed may take, in full; any other only by its ids.
inline std::string text(const GTFS::TripUpdate& update, bool full) {
    if (!full) return "ids '" + update.trip.trip_id + "' '" + update.trip.route_id + "'\n";
    std::string out = "update " + update.entity_id + " " + text(update.trip) + " vehicle ";
    out += update.vehicle ? "'" + update.vehicle->id + "' '" + update.vehicle->label + "' '" +
                                update.vehicle->license_plate + "'"
                          : "-";
    out += " at " + opt(update.timestamp) + " delay " + opt(update.delay) + "\n";
    for (const auto& stop : update.stop_time_updates)
        out += "  stop " + opt(stop.stop_sequence) + " " + opt(stop.stop_id) + " " + text(stop.arrival) + " " +
               text(stop.departure) + " rel " + std::to_string(stop.schedule_relationship) + "\n";
    return out;
}

inline std::string text(const GTFS::Alert& alert) {
    std::string out = "alert '" + alert.id + "' cause " + opt(alert.cause) + " effect " + opt(alert.effect) +
                      " severity " + opt(alert.severity_level) + "\n";
    for (const auto& period : alert.active_periods)
        out += "  period " + opt(period.start) + " " + opt(period.end) + "\n";
    for (const auto& e : alert.informed_entities)
        out += "  entity " + opt(e.agency_id) + " " + opt(e.route_id) + " " + opt(e.route_type) + " " +
               opt(e.direction_id) + " " + (e.trip ? text(*e.trip) : "-") + " " + opt(e.stop_id) + "\n";
    out += "  texts " + text(alert.cause_detail) + " " + text(alert.effect_detail) + " " + text(alert.url) + " " +
           text(alert.header_text) + " " + text(alert.description_text) + " " + text(alert.tts_header_text) + " " +
           text(alert.tts_description_text) + "\n";
    return out;
}

// A trip update the parser builds in full for this vehicle and trip.
inline bool wanted(const GTFS::TripUpdate& update, const std::string& vehicleId, const std::string& tripId) {
    return (!tripId.empty() && update.trip.trip_id == tripId) ||
           (!vehicleId.empty() && update.vehicle && update.vehicle->id == vehicleId);
}

// What the parser gives the feed for these bytes.
inline std::string ofParser(const std::string& bytes, const std::string& vehicleId, bool allVehicles) {
    GTFS::GTFS_RT_Parser parser(bytes, vehicleId, allVehicles);
    if (!parser.isValidData()) return "refused\n";
    const std::string tripId = parser.vehicleTripId();
    std::string out = "accepted: " + std::to_string(parser.vehiclePositionCount()) + " positions, " +
                      std::to_string(parser.tripUpdateCount()) + " trip updates, vehicle trip '" + tripId + "'\n";
    for (const auto& position : parser.getVehiclePositions()) out += text(position);
    for (const auto& update : parser.getTripUpdates(tripId)) out += text(update, wanted(update, vehicleId, tripId));
    for (const auto& alert : parser.getAlerts()) out += text(alert);
    return out;
}

// What the parser must give, from the reference decoder's records.
inline std::string ofReference(const std::string& bytes, const std::string& vehicleId, bool allVehicles) {
    GTFS::GtfsRtReferenceDecoder reference(bytes);
    if (!reference.isValidData()) return "refused\n";
    const auto positions = reference.getVehiclePositions();
    const auto updates = reference.getTripUpdates();
    std::string tripId, kept;
    bool found = false;
    for (const auto& position : positions) {
        const bool vehicle = !found && !vehicleId.empty() && position.vehicle.id == vehicleId;
        if (vehicle) tripId = position.trip.trip_id;
        if (vehicle || allVehicles) kept += text(position);
        found = found || vehicle;
    }
    std::string out = "accepted: " + std::to_string(positions.size()) + " positions, " +
                      std::to_string(updates.size()) + " trip updates, vehicle trip '" + tripId + "'\n" + kept;
    for (const auto& update : updates) {
        const bool full = wanted(update, vehicleId, tripId);
        if (full || allVehicles) out += text(update, full);
    }
    for (const auto& alert : reference.getAlerts()) out += text(alert);
    return out;
}

}  // namespace gtfs_rt_outcome
