// One pass over a FeedMessage's wire format. Every message of the schema is
// walked and checked as protobuf-lite checks it, so both accept and refuse the
// same bytes; only the fields the feed reads are kept, as views into the bytes.
#include "feeds/transit/gtfs_rt_parser.h"

#include <algorithm>
#include <climits>

namespace GTFS {
namespace {

// protobuf's default recursion limit: how many messages and groups may nest
// below the FeedMessage.
constexpr int kMaxDepth = 100;
// protobuf reads tags and lengths in at most 5 bytes and other varints in at
// most 10; a length's fifth byte holds at most 3 bits, and a length must also
// leave protobuf's 16 bytes of look-ahead below INT_MAX.
constexpr int kMaxTagBytes = 5;
constexpr int kMaxLengthBytes = 5;
constexpr int kMaxVarintBytes = 10;
constexpr uint8_t kLengthFifthByteLimit = 8;
constexpr uint32_t kMaxLength = INT_MAX - 16;
// Entities sit one level below the FeedMessage.
constexpr int kEntityDepth = 1;
// How often the stop flag is looked at: a few microseconds of reading apart.
constexpr size_t kStopCheckEntities = 1024;

enum WireType : uint32_t {
    kVarint = 0,
    kFixed64 = 1,
    kLengthDelimited = 2,
    kStartGroup = 3,
    kEndGroup = 4,
    kFixed32 = 5,
};

constexpr uint32_t key(uint32_t field, WireType type) { return field << 3 | type; }

// The bytes of one message, read from the front. No read goes past the end:
// a value that would is a failure, as it is for protobuf.
class Input {
public:
    Input() = default;
    Input(std::string_view bytes, int depth) : m_p(bytes.data()), m_end(bytes.data() + bytes.size()), m_depth(depth) {}

    // The bytes not read yet.
    std::string_view rest() const { return {m_p, static_cast<size_t>(m_end - m_p)}; }

    // Reads the next field's tag. False at the end of the bytes, and on a tag
    // that no message may hold (then failed()): field number 0, an end-group
    // tag outside a group, wire types 6 and 7.
    bool next() {
        if (m_p == m_end) return false;
        if (static_cast<uint8_t>(*m_p) < 0x80) {
            m_tag = static_cast<uint8_t>(*m_p++);
        } else if (!readTag(m_tag)) {
            return fail();
        }
        const uint32_t type = m_tag & 7;
        if ((m_tag >> 3) == 0 || type == kEndGroup || type > kFixed32) return fail();
        return true;
    }
    uint32_t tag() const { return m_tag; }
    bool failed() const { return m_failed; }

    bool varint(uint64_t& value) {
        if (m_p != m_end && static_cast<uint8_t>(*m_p) < 0x80) {
            value = static_cast<uint8_t>(*m_p++);
            return true;
        }
        uint64_t v = 0;
        for (int i = 0; i < kMaxVarintBytes; ++i) {
            if (m_p == m_end) return false;
            const uint8_t byte = static_cast<uint8_t>(*m_p++);
            v |= static_cast<uint64_t>(byte & 0x7f) << (7 * i);
            if (byte < 0x80) {
                value = v;
                return true;
            }
        }
        return false;
    }
    // 32-bit fields and enumerations keep the low 32 bits of the varint.
    bool uint32(std::optional<uint32_t>& value) {
        uint64_t v;
        if (!varint(v)) return false;
        value = static_cast<uint32_t>(v);
        return true;
    }
    bool int32(int32_t& value) {
        uint64_t v;
        if (!varint(v)) return false;
        value = static_cast<int32_t>(static_cast<uint32_t>(v));
        return true;
    }
    bool int32(std::optional<int32_t>& value) {
        int32_t v;
        if (!int32(v)) return false;
        value = v;
        return true;
    }
    bool int64(std::optional<int64_t>& value) {
        uint64_t v;
        if (!varint(v)) return false;
        value = static_cast<int64_t>(v);
        return true;
    }
    bool uint64(std::optional<uint64_t>& value) {
        uint64_t v;
        if (!varint(v)) return false;
        value = v;
        return true;
    }

    bool bytes(std::string_view& value) {
        size_t size;
        if (!length(size)) return false;
        value = std::string_view(m_p, size);
        m_p += size;
        return true;
    }
    bool bytes(std::string& value) {
        std::string_view view;
        if (!bytes(view)) return false;
        value.assign(view.data(), view.size());
        return true;
    }
    bool bytes(std::optional<std::string>& value) {
        std::string_view view;
        if (!bytes(view)) return false;
        value.emplace(view);
        return true;
    }

    // A nested message's bytes, one level deeper.
    bool message(Input& nested) {
        std::string_view view;
        if (!bytes(view) || m_depth + 1 > kMaxDepth) return false;
        nested = Input(view, m_depth + 1);
        return true;
    }
    // A nested message none of whose fields is kept or nests a message:
    // checked as a message, every field read as an unknown one.
    bool opaqueMessage() {
        Input nested;
        if (!message(nested)) return false;
        while (nested.next())
            if (!nested.skip()) return false;
        return !nested.failed();
    }

    // Passes over the current field's value as over an unknown field's.
    bool skip() { return skipField(m_tag, m_depth); }

private:
    // depth: that of the message or group that holds the field.
    bool skipField(uint32_t tag, int depth) {
        switch (tag & 7) {
            case kVarint: return skipVarint();
            case kFixed64: return advance(8);
            case kLengthDelimited: {
                size_t size;
                return length(size) && advance(size);
            }
            case kFixed32: return advance(4);
        }
        return skipGroup(tag, depth + 1);
    }

    bool fail() {
        m_failed = true;
        return false;
    }

    bool readTag(uint32_t& tag) {
        uint32_t v = 0;
        for (int i = 0; i < kMaxTagBytes; ++i) {
            if (m_p == m_end) return false;
            const uint8_t byte = static_cast<uint8_t>(*m_p++);
            v |= static_cast<uint32_t>(byte & 0x7f) << (7 * i);  // beyond 32 bits is lost, as in protobuf
            if (byte < 0x80) {
                tag = v;
                return true;
            }
        }
        return false;
    }

    bool length(size_t& size) {
        if (m_p != m_end && static_cast<uint8_t>(*m_p) < 0x80) {
            size = static_cast<uint8_t>(*m_p++);
            return size <= static_cast<size_t>(m_end - m_p);
        }
        uint32_t v = 0;
        for (int i = 0; i < kMaxLengthBytes; ++i) {
            if (m_p == m_end) return false;
            const uint8_t byte = static_cast<uint8_t>(*m_p++);
            if (i == kMaxLengthBytes - 1 && byte >= kLengthFifthByteLimit) return false;
            v |= static_cast<uint32_t>(byte & 0x7f) << (7 * i);
            if (byte < 0x80) break;
        }
        if (v > kMaxLength || v > static_cast<size_t>(m_end - m_p)) return false;
        size = v;
        return true;
    }

    bool advance(size_t count) {
        if (count > static_cast<size_t>(m_end - m_p)) return false;
        m_p += count;
        return true;
    }

    bool skipVarint() {
        const size_t available = static_cast<size_t>(m_end - m_p);
        const char* last = m_p + std::min(available, static_cast<size_t>(kMaxVarintBytes));
        for (const char* p = m_p; p != last; ++p) {
            if (static_cast<uint8_t>(*p) < 0x80) {
                m_p = p + 1;
                return true;
            }
        }
        return false;
    }

    // An unknown group ends with the end tag of its own field number, inside
    // the bytes of the message that holds it. depth: the group's own.
    bool skipGroup(uint32_t startTag, int depth) {
        if (depth > kMaxDepth) return false;
        for (;;) {
            uint32_t tag;
            if (!readTag(tag)) return false;
            const uint32_t type = tag & 7;
            if (type == kEndGroup) return tag == startTag + 1;
            if ((tag >> 3) == 0 || type > kFixed32 || !skipField(tag, depth)) return false;
        }
    }

    const char* m_p = nullptr;
    const char* m_end = nullptr;
    int m_depth = 0;
    uint32_t m_tag = 0;
    bool m_failed = false;
};

// Views of the descriptors, merged field by field when a message names them twice.
struct TripView {
    std::string_view tripId, routeId, startTime, startDate;
    std::optional<uint32_t> directionId;
    int scheduleRelationship = TRIP_SCHEDULED;
};
struct VehicleView {
    std::string_view id, label, licensePlate;
};

// The wire's trip relationships, with a gap at 4, in the records' numbering;
// -1 for values outside the enumeration, which protobuf sets aside as unknown.
int tripRelationship(int32_t wire) {
    switch (wire) {
        case 0: return TRIP_SCHEDULED;
        case 1: return TRIP_ADDED;
        case 2: return TRIP_UNSCHEDULED;
        case 3: return TRIP_CANCELED;
        case 5: return TRIP_REPLACEMENT;
        case 6: return TRIP_DUPLICATED;
        case 7: return TRIP_DELETED;
        case 8: return TRIP_NEW;
    }
    return -1;
}

// Reads each field of one message: readField(tag) reads or skips it and is
// false when it is malformed. True when the whole message is well formed.
template <typename ReadField>
bool readFields(Input& in, ReadField readField) {
    while (in.next())
        if (!readField(in.tag())) return false;
    return !in.failed();
}

bool readTrip(Input in, TripView& out) {
    return readFields(in, [&](uint32_t tag) {
        switch (tag) {
            case key(1, kLengthDelimited): return in.bytes(out.tripId);
            case key(2, kLengthDelimited): return in.bytes(out.startTime);
            case key(3, kLengthDelimited): return in.bytes(out.startDate);
            case key(4, kVarint): {
                int32_t wire;
                const bool ok = in.int32(wire);
                const int relationship = ok ? tripRelationship(wire) : -1;
                if (relationship >= 0) out.scheduleRelationship = relationship;
                return ok;
            }
            case key(5, kLengthDelimited): return in.bytes(out.routeId);
            case key(6, kVarint): return in.uint32(out.directionId);
            default: return in.skip();
        }
    });
}

bool readVehicle(Input in, VehicleView& out) {
    return readFields(in, [&](uint32_t tag) {
        switch (tag) {
            case key(1, kLengthDelimited): return in.bytes(out.id);
            case key(2, kLengthDelimited): return in.bytes(out.label);
            case key(3, kLengthDelimited): return in.bytes(out.licensePlate);
            default: return in.skip();
        }
    });
}

TripDescriptor toRecord(const TripView& view) {
    TripDescriptor out;
    out.trip_id = view.tripId;
    out.route_id = view.routeId;
    out.direction_id = view.directionId;
    out.start_time = view.startTime;
    out.start_date = view.startDate;
    out.schedule_relationship = view.scheduleRelationship;
    return out;
}

VehicleDescriptor toRecord(const VehicleView& view) {
    return VehicleDescriptor{std::string(view.id), std::string(view.label), std::string(view.licensePlate)};
}

bool readStopTimeEvent(Input in, StopTimeEvent& out) {
    return readFields(in, [&](uint32_t tag) {
        switch (tag) {
            case key(1, kVarint): return in.int32(out.delay);
            case key(2, kVarint): return in.int64(out.time);
            case key(3, kVarint): return in.int32(out.uncertainty);
            default: return in.skip();
        }
    });
}

// out: nullptr to check the stop without keeping it.
bool readStopTimeUpdate(Input in, StopTimeUpdate* out) {
    return readFields(in, [&](uint32_t tag) {
        if (!out) {
            // arrival, departure, stop_time_properties
            const bool nested = tag == key(2, kLengthDelimited) || tag == key(3, kLengthDelimited) ||
                                tag == key(6, kLengthDelimited);
            return nested ? in.opaqueMessage() : in.skip();
        }
        switch (tag) {
            case key(1, kVarint): return in.uint32(out->stop_sequence);
            case key(2, kLengthDelimited):
            case key(3, kLengthDelimited): {
                auto& event = tag == key(2, kLengthDelimited) ? out->arrival : out->departure;
                if (!event) event.emplace();
                Input nested;
                return in.message(nested) && readStopTimeEvent(nested, *event);
            }
            case key(4, kLengthDelimited): return in.bytes(out->stop_id);
            case key(5, kVarint): {
                int32_t wire;
                const bool ok = in.int32(wire);
                if (ok && wire >= STOP_SCHEDULED && wire <= STOP_UNSCHEDULED) out->schedule_relationship = wire;
                return ok;
            }
            case key(6, kLengthDelimited): return in.opaqueMessage();  // stop_time_properties
            default: return in.skip();
        }
    });
}

// A trip update's descriptors, whatever else is read of it.
struct TripUpdateView {
    bool hasTrip = false;  // required
    TripView trip;
    std::optional<VehicleView> vehicle;
};

// full: nullptr to check the stops, timestamp and delay without keeping them.
bool readTripUpdate(Input in, TripUpdateView& view, TripUpdate* full) {
    return readFields(in, [&](uint32_t tag) {
        Input nested;
        switch (tag) {
            case key(1, kLengthDelimited):  // trip
                view.hasTrip = true;
                return in.message(nested) && readTrip(nested, view.trip);
            case key(2, kLengthDelimited):  // stop_time_update
                return in.message(nested) &&
                       readStopTimeUpdate(nested, full ? &full->stop_time_updates.emplace_back() : nullptr);
            case key(3, kLengthDelimited):  // vehicle
                if (!view.vehicle) view.vehicle.emplace();
                return in.message(nested) && readVehicle(nested, *view.vehicle);
            case key(4, kVarint): return full ? in.uint64(full->timestamp) : in.skip();
            case key(5, kVarint): return full ? in.int32(full->delay) : in.skip();
            case key(6, kLengthDelimited): return in.opaqueMessage();  // trip_properties
            default: return in.skip();
        }
    });
}

// Both required coordinates, which may come in different copies of the position.
struct PositionCheck {
    bool present = false;
    bool latitude = false;
    bool longitude = false;
    bool complete() const { return !present || (latitude && longitude); }
};

bool readPosition(Input in, PositionCheck& check) {
    check.present = true;
    return readFields(in, [&](uint32_t tag) {
        if (tag == key(1, kFixed32)) check.latitude = true;   // a float
        if (tag == key(2, kFixed32)) check.longitude = true;  // a float
        return in.skip();
    });
}

struct PositionView {
    TripView trip;
    VehicleView vehicle;
    std::optional<uint32_t> currentStopSequence;
    std::optional<int> currentStatus;
};

bool readVehiclePosition(Input in, PositionView& out, PositionCheck& position) {
    return readFields(in, [&](uint32_t tag) {
        Input nested;
        switch (tag) {
            case key(1, kLengthDelimited): return in.message(nested) && readTrip(nested, out.trip);
            case key(2, kLengthDelimited): return in.message(nested) && readPosition(nested, position);
            case key(3, kVarint): return in.uint32(out.currentStopSequence);
            case key(4, kVarint): {  // current_status
                int32_t wire;
                const bool ok = in.int32(wire);
                if (ok && wire >= INCOMING_AT && wire <= IN_TRANSIT_TO) out.currentStatus = wire;
                return ok;
            }
            case key(8, kLengthDelimited): return in.message(nested) && readVehicle(nested, out.vehicle);
            default: return in.skip();
        }
    });
}

// out: nullptr to check the translations without keeping them.
bool readTranslatedString(Input in, TranslatedString* out) {
    return readFields(in, [&](uint32_t tag) {
        if (tag != key(1, kLengthDelimited)) return in.skip();  // not a translation
        Input translation;
        if (!in.message(translation)) return false;
        Translation* kept = out ? &out->emplace_back() : nullptr;
        bool hasText = false;  // required
        const bool ok = readFields(translation, [&](uint32_t field) {
            if (field == key(1, kLengthDelimited)) {  // text
                hasText = true;
                return kept ? translation.bytes(kept->text) : translation.skip();
            }
            if (field == key(2, kLengthDelimited) && kept) return translation.bytes(kept->language);
            return translation.skip();
        });
        return ok && hasText;
    });
}

// An alert's optional text: present once named, even without translations.
bool readOptionalText(Input& in, std::optional<TranslatedString>& out) {
    Input nested;
    if (!in.message(nested)) return false;
    if (!out) out.emplace();
    return readTranslatedString(nested, &*out);
}

// Images are not shown, but each must have its required url and media type.
bool checkTranslatedImage(Input in) {
    return readFields(in, [&](uint32_t tag) {
        if (tag != key(1, kLengthDelimited)) return in.skip();  // not a localized_image
        Input image;
        if (!in.message(image)) return false;
        bool hasUrl = false, hasMediaType = false;
        const bool ok = readFields(image, [&](uint32_t field) {
            if (field == key(1, kLengthDelimited)) hasUrl = true;        // url
            if (field == key(2, kLengthDelimited)) hasMediaType = true;  // media_type
            return image.skip();
        });
        return ok && hasUrl && hasMediaType;
    });
}

bool readTimeRange(Input in, TimeRange& out) {
    return readFields(in, [&](uint32_t tag) {
        switch (tag) {
            case key(1, kVarint): return in.uint64(out.start);
            case key(2, kVarint): return in.uint64(out.end);
            default: return in.skip();
        }
    });
}

bool readEntitySelector(Input in, EntitySelector& out) {
    std::optional<TripView> trip;
    const bool ok = readFields(in, [&](uint32_t tag) {
        Input nested;
        switch (tag) {
            case key(1, kLengthDelimited): return in.bytes(out.agency_id);
            case key(2, kLengthDelimited): return in.bytes(out.route_id);
            case key(3, kVarint): return in.int32(out.route_type);
            case key(4, kLengthDelimited):
                if (!trip) trip.emplace();
                return in.message(nested) && readTrip(nested, *trip);
            case key(5, kLengthDelimited): return in.bytes(out.stop_id);
            case key(6, kVarint): return in.uint32(out.direction_id);
            default: return in.skip();
        }
    });
    if (trip) out.trip = toRecord(*trip);
    return ok;
}

// The standard numbers cause, effect and severity from 1; the records from 0.
bool readFromOne(Input& in, int32_t last, std::optional<int>& out) {
    int32_t wire;
    if (!in.int32(wire)) return false;
    if (wire >= 1 && wire <= last) out = wire - 1;
    return true;
}

bool readAlert(Input in, Alert& out) {
    return readFields(in, [&](uint32_t tag) {
        Input nested;
        switch (tag) {
            case key(1, kLengthDelimited):  // active_period
                return in.message(nested) && readTimeRange(nested, out.active_periods.emplace_back());
            case key(5, kLengthDelimited):  // informed_entity
                return in.message(nested) && readEntitySelector(nested, out.informed_entities.emplace_back());
            case key(6, kVarint): return readFromOne(in, MEDICAL_EMERGENCY + 1, out.cause);
            case key(7, kVarint): return readFromOne(in, ACCESSIBILITY_ISSUE + 1, out.effect);
            case key(8, kLengthDelimited): return readOptionalText(in, out.url);
            case key(10, kLengthDelimited): return in.message(nested) && readTranslatedString(nested, &out.header_text);
            case key(11, kLengthDelimited):
                return in.message(nested) && readTranslatedString(nested, &out.description_text);
            case key(12, kLengthDelimited): return readOptionalText(in, out.tts_header_text);
            case key(13, kLengthDelimited): return readOptionalText(in, out.tts_description_text);
            case key(14, kVarint): return readFromOne(in, SEVERE + 1, out.severity_level);
            case key(15, kLengthDelimited): return in.message(nested) && checkTranslatedImage(nested);  // image
            case key(16, kLengthDelimited):  // image_alternative_text
                return in.message(nested) && readTranslatedString(nested, nullptr);
            case key(17, kLengthDelimited): return readOptionalText(in, out.cause_detail);
            case key(18, kLengthDelimited): return readOptionalText(in, out.effect_detail);
            default: return in.skip();
        }
    });
}

// The header is not kept, but it must be there with its required version.
bool readHeader(Input in, bool& hasVersion) {
    return readFields(in, [&](uint32_t tag) {
        if (tag == key(1, kLengthDelimited)) hasVersion = true;  // gtfs_realtime_version
        return in.skip();
    });
}

// A wanted trip update in full, from its entity's bytes (checked already).
TripUpdate readFullTripUpdate(std::string_view entity) {
    Input in(entity, kEntityDepth);
    TripUpdate out;
    TripUpdateView view;
    readFields(in, [&](uint32_t tag) {
        Input nested;
        switch (tag) {
            case key(1, kLengthDelimited): return in.bytes(out.entity_id);
            case key(3, kLengthDelimited):  // trip_update
                return in.message(nested) && readTripUpdate(nested, view, &out);
            default: return in.skip();
        }
    });
    out.trip = toRecord(view.trip);
    if (view.vehicle) out.vehicle = toRecord(*view.vehicle);
    return out;
}

}  // namespace

GTFS_RT_Parser::GTFS_RT_Parser(std::string_view bytes, const std::string& vehicleId, bool allVehicles,
                               const std::atomic<bool>* stop)
    : m_bytes(bytes), m_vehicleId(vehicleId), m_allVehicles(allVehicles), m_stop(stop) {
    m_valid = readFeed();
    if (!m_valid) {
        m_positionCount = 0;
        m_positions.clear();
        m_tripUpdates.clear();
        m_alerts.clear();
    }
}

bool GTFS_RT_Parser::readFeed() {
    Input in(m_bytes, 0);
    bool hasHeader = false, hasVersion = false;  // both required
    const bool ok = readFields(in, [&](uint32_t tag) {
        Input nested;
        switch (tag) {
            case key(1, kLengthDelimited):  // header
                hasHeader = true;
                return in.message(nested) && readHeader(nested, hasVersion);
            case key(2, kLengthDelimited):  // entity
                if (m_stop && ++m_entityCount % kStopCheckEntities == 0 && m_stop->load(std::memory_order_relaxed)) {
                    m_stopped = true;
                    return false;
                }
                return in.message(nested) && readEntity(nested.rest());
            default: return in.skip();
        }
    });
    return ok && hasHeader && hasVersion;
}

bool GTFS_RT_Parser::readEntity(std::string_view entity) {
    Input in(entity, kEntityDepth);
    std::string_view id;
    bool hasId = false;  // required
    bool hasTripUpdate = false, hasPosition = false;
    TripUpdateView tripUpdate;
    PositionView position;
    PositionCheck coordinates;
    std::optional<Alert> alert;
    const bool ok = readFields(in, [&](uint32_t tag) {
        Input nested;
        switch (tag) {
            case key(1, kLengthDelimited):  // id
                hasId = true;
                return in.bytes(id);
            case key(3, kLengthDelimited):  // trip_update
                hasTripUpdate = true;
                return in.message(nested) && readTripUpdate(nested, tripUpdate, nullptr);
            case key(4, kLengthDelimited):  // vehicle
                hasPosition = true;
                return in.message(nested) && readVehiclePosition(nested, position, coordinates);
            case key(5, kLengthDelimited):  // alert
                if (!alert) alert.emplace();
                return in.message(nested) && readAlert(nested, *alert);
            default: return in.skip();
        }
    });
    if (!ok || !hasId || (hasTripUpdate && !tripUpdate.hasTrip) || !coordinates.complete()) return false;

    if (hasPosition) {
        ++m_positionCount;
        const bool wanted = !m_vehicleId.empty() && position.vehicle.id == m_vehicleId && m_positions.empty();
        if (m_allVehicles || wanted)
            m_positions.push_back(PositionEntry{position.trip.tripId, position.vehicle.id, position.vehicle.label,
                                                position.vehicle.licensePlate, position.currentStopSequence,
                                                position.currentStatus});
    }
    if (hasTripUpdate) {
        TripUpdateEntry entry{tripUpdate.trip.tripId, tripUpdate.trip.routeId, std::nullopt, entity};
        if (tripUpdate.vehicle) entry.vehicleId = tripUpdate.vehicle->id;
        m_tripUpdates.push_back(entry);
    }
    if (alert) {
        alert->id = id;
        m_alerts.push_back(std::move(*alert));
    }
    return true;
}

std::string GTFS_RT_Parser::vehicleTripId() const {
    if (m_vehicleId.empty()) return "";
    for (const auto& position : m_positions)
        if (position.vehicleId == m_vehicleId) return std::string(position.tripId);
    return "";
}

std::vector<VehiclePosition> GTFS_RT_Parser::getVehiclePositions() const {
    std::vector<VehiclePosition> out;
    out.reserve(m_positions.size());
    for (const auto& entry : m_positions) {
        VehiclePosition& position = out.emplace_back();
        position.trip.trip_id = entry.tripId;
        position.vehicle.id = entry.vehicleId;
        position.vehicle.label = entry.label;
        position.vehicle.license_plate = entry.licensePlate;
        position.current_stop_sequence = entry.currentStopSequence;
        position.current_status = entry.currentStatus;
    }
    return out;
}

std::vector<TripUpdate> GTFS_RT_Parser::getTripUpdates(const std::string& tripId) const {
    std::vector<TripUpdate> out;
    if (m_allVehicles) out.reserve(m_tripUpdates.size());
    for (const auto& entry : m_tripUpdates) {
        const bool wanted = (!tripId.empty() && entry.tripId == tripId) ||
                            (!m_vehicleId.empty() && entry.vehicleId && *entry.vehicleId == m_vehicleId);
        if (wanted) {
            out.push_back(readFullTripUpdate(entry.entity));
        } else if (m_allVehicles) {
            TripUpdate& ids = out.emplace_back();
            ids.trip.trip_id = entry.tripId;
            ids.trip.route_id = entry.routeId;
        }
    }
    return out;
}

}  // namespace GTFS
