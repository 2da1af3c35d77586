// Conversion of the generated GTFS-Realtime messages into the decoder's records.
#include "tests/reference/gtfs_rt_reference_decoder.h"

#include "gtfs_realtime.pb.h"

namespace GTFS {
namespace {

namespace rt = transit_realtime;

int tripRelationship(rt::TripDescriptor::ScheduleRelationship value) {
    switch (value) {
        case rt::TripDescriptor::SCHEDULED: return TRIP_SCHEDULED;
        case rt::TripDescriptor::ADDED: return TRIP_ADDED;
        case rt::TripDescriptor::UNSCHEDULED: return TRIP_UNSCHEDULED;
        case rt::TripDescriptor::CANCELED: return TRIP_CANCELED;
        case rt::TripDescriptor::DUPLICATED: return TRIP_DUPLICATED;
        case rt::TripDescriptor::DELETED: return TRIP_DELETED;
        case rt::TripDescriptor::REPLACEMENT: return TRIP_REPLACEMENT;
        case rt::TripDescriptor::NEW: return TRIP_NEW;
    }
    return TRIP_SCHEDULED;
}

TripDescriptor convert(const rt::TripDescriptor& in) {
    TripDescriptor out;
    out.trip_id = in.trip_id();
    out.route_id = in.route_id();
    if (in.has_direction_id()) out.direction_id = in.direction_id();
    out.start_time = in.start_time();
    out.start_date = in.start_date();
    out.schedule_relationship = tripRelationship(in.schedule_relationship());
    return out;
}

VehicleDescriptor convert(const rt::VehicleDescriptor& in) {
    VehicleDescriptor out;
    out.id = in.id();
    out.label = in.label();
    out.license_plate = in.license_plate();
    return out;
}

Position convert(const rt::Position& in) {
    Position out;
    out.latitude = in.latitude();
    out.longitude = in.longitude();
    if (in.has_bearing()) out.bearing = in.bearing();
    if (in.has_odometer()) out.odometer = in.odometer();
    if (in.has_speed()) out.speed = in.speed();
    return out;
}

StopTimeEvent convert(const rt::TripUpdate::StopTimeEvent& in) {
    StopTimeEvent out;
    if (in.has_delay()) out.delay = in.delay();
    if (in.has_time()) out.time = in.time();
    if (in.has_uncertainty()) out.uncertainty = in.uncertainty();
    return out;
}

StopTimeUpdate convert(const rt::TripUpdate::StopTimeUpdate& in) {
    StopTimeUpdate out;
    if (in.has_stop_sequence()) out.stop_sequence = in.stop_sequence();
    if (in.has_stop_id()) out.stop_id = in.stop_id();
    if (in.has_arrival()) out.arrival = convert(in.arrival());
    if (in.has_departure()) out.departure = convert(in.departure());
    // The stop-level names are listed from 0 on the wire already.
    out.schedule_relationship = static_cast<int>(in.schedule_relationship());
    return out;
}

TranslatedString convert(const rt::TranslatedString& in) {
    TranslatedString out;
    out.reserve(static_cast<size_t>(in.translation_size()));
    for (const auto& t : in.translation()) {
        Translation translation;
        translation.text = t.text();
        if (t.has_language()) translation.language = t.language();
        out.push_back(std::move(translation));
    }
    return out;
}

EntitySelector convert(const rt::EntitySelector& in) {
    EntitySelector out;
    if (in.has_agency_id()) out.agency_id = in.agency_id();
    if (in.has_route_id()) out.route_id = in.route_id();
    if (in.has_route_type()) out.route_type = in.route_type();
    if (in.has_direction_id()) out.direction_id = in.direction_id();
    if (in.has_trip()) out.trip = convert(in.trip());
    if (in.has_stop_id()) out.stop_id = in.stop_id();
    return out;
}

// The standard numbers these lists from 1; the decoder counts from 0.
int fromOne(int wireValue) { return wireValue - 1; }

}  // namespace

GtfsRtReferenceDecoder::GtfsRtReferenceDecoder(const std::string& bytes)
    : m_message(std::make_unique<rt::FeedMessage>()) {
    // Parsing partially and checking the required fields here keeps the
    // library from printing its own complaint about incomplete feeds.
    m_valid = m_message->ParsePartialFromString(bytes) && m_message->IsInitialized();
    if (!m_valid) m_message->Clear();
}

GtfsRtReferenceDecoder::~GtfsRtReferenceDecoder() = default;

std::vector<VehiclePosition> GtfsRtReferenceDecoder::getVehiclePositions() const {
    std::vector<VehiclePosition> out;
    if (!m_valid) return out;
    for (const auto& entity : m_message->entity()) {
        if (!entity.has_vehicle()) continue;
        const auto& in = entity.vehicle();
        VehiclePosition vp;
        vp.entity_id = entity.id();
        if (in.has_trip()) vp.trip = convert(in.trip());
        if (in.has_vehicle()) vp.vehicle = convert(in.vehicle());
        if (in.has_position()) vp.position = convert(in.position());
        if (in.has_current_stop_sequence()) vp.current_stop_sequence = in.current_stop_sequence();
        if (in.has_current_status()) vp.current_status = static_cast<int>(in.current_status());
        if (in.has_stop_id()) vp.stop_id = in.stop_id();
        if (in.has_timestamp()) vp.timestamp = in.timestamp();
        if (in.has_congestion_level()) vp.congestion_level = static_cast<int>(in.congestion_level());
        if (in.has_occupancy_status()) vp.occupancy_status = static_cast<int>(in.occupancy_status());
        out.push_back(std::move(vp));
    }
    return out;
}

std::vector<TripUpdate> GtfsRtReferenceDecoder::getTripUpdates() const {
    std::vector<TripUpdate> out;
    if (!m_valid) return out;
    for (const auto& entity : m_message->entity()) {
        if (!entity.has_trip_update()) continue;
        const auto& in = entity.trip_update();
        TripUpdate tu;
        tu.entity_id = entity.id();
        tu.trip = convert(in.trip());
        if (in.has_vehicle()) tu.vehicle = convert(in.vehicle());
        tu.stop_time_updates.reserve(static_cast<size_t>(in.stop_time_update_size()));
        for (const auto& stu : in.stop_time_update()) tu.stop_time_updates.push_back(convert(stu));
        if (in.has_timestamp()) tu.timestamp = in.timestamp();
        if (in.has_delay()) tu.delay = in.delay();
        out.push_back(std::move(tu));
    }
    return out;
}

std::vector<Alert> GtfsRtReferenceDecoder::getAlerts() const {
    std::vector<Alert> out;
    if (!m_valid) return out;
    for (const auto& entity : m_message->entity()) {
        if (!entity.has_alert()) continue;
        const auto& in = entity.alert();
        Alert alert;
        alert.id = entity.id();
        for (const auto& period : in.active_period()) {
            TimeRange range;
            if (period.has_start()) range.start = period.start();
            if (period.has_end()) range.end = period.end();
            alert.active_periods.push_back(range);
        }
        for (const auto& selector : in.informed_entity()) alert.informed_entities.push_back(convert(selector));
        if (in.has_cause()) alert.cause = fromOne(in.cause());
        if (in.has_cause_detail()) alert.cause_detail = convert(in.cause_detail());
        if (in.has_effect()) alert.effect = fromOne(in.effect());
        if (in.has_effect_detail()) alert.effect_detail = convert(in.effect_detail());
        if (in.has_url()) alert.url = convert(in.url());
        alert.header_text = convert(in.header_text());
        alert.description_text = convert(in.description_text());
        if (in.has_tts_header_text()) alert.tts_header_text = convert(in.tts_header_text());
        if (in.has_tts_description_text()) alert.tts_description_text = convert(in.tts_description_text());
        if (in.has_severity_level()) alert.severity_level = fromOne(in.severity_level());
        out.push_back(std::move(alert));
    }
    return out;
}

}  // namespace GTFS
