// One update cycle of the GTFS-Realtime feed: vehicle identity, downloads,
// the trip and its stops, alerts and the vehicle list.
#include "feeds/transit/gtfs_rt_feed.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <unordered_map>

#include "core/config/config_keys.h"
#include "core/feed/file_write.h"
#include "core/feed/lookups.h"
#include "core/fetch/secrets.h"
#include "core/fetch/downloader.h"
#include "core/feed/symbol_list.h"
#include "platform/clock.h"
#include "platform/file_root.h"
#include "platform/sqlite.h"
#include "platform/strings.h"

namespace {

constexpr const char* kStopIdAttribute = "GTFS_Stop_Id";
// How much of an undecodable download reaches the log: enough to recognise
// an error page, never megabytes of binary.
constexpr size_t kInvalidPreviewBytes = 200;
// Static hours beyond this are nonsense; the bound keeps mktime's fields in range.
constexpr long kMaxStaticHours = 100000;
// How often the vehicle list looks whether shutdown asked it to stop.
constexpr size_t kStopCheckRows = 4096;
// A row of the vehicle list is about this long; the text is reserved once.
constexpr size_t kVehicleRowBytes = 48;

std::string printablePreview(const std::string& bytes) {
    std::string out;
    size_t shown = std::min(bytes.size(), kInvalidPreviewBytes);
    out.reserve(shown + 32);
    for (size_t i = 0; i < shown; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        out += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '.';
    }
    if (shown < bytes.size()) out += "...";
    out += " (" + std::to_string(bytes.size()) + " bytes)";
    return out;
}

// A CSV field as written: quoted only when it holds a separator, a quote or a line break.
std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

bool notAfter(uint64_t t, int64_t now) { return now >= 0 && t <= static_cast<uint64_t>(now); }
bool notBefore(uint64_t t, int64_t now) { return now < 0 || t >= static_cast<uint64_t>(now); }

long clampedNumber(const std::string& text) {
    long value = std::strtol(text.c_str(), nullptr, 10);
    return std::clamp(value, -kMaxStaticHours, kMaxStaticHours);
}

// Algorithm for one arrival or departure: the real-time time, else the
// static time plus the real-time delay, else 0. `found` is set when a time was had.
int64_t stopTime(const std::optional<GTFS::StopTimeEvent>& event, bool arrival, const GTFS::StopTimeUpdate& update,
                 const std::string& tripId, const std::vector<StaticStopTime>& statics, bool& found) {
    int64_t delay = 0;
    if (event) {
        delay = event->delay.value_or(0);
        if (event->time) {
            found = true;
            return *event->time;
        }
    }
    auto timeOf = [&](const StaticStopTime& row) {
        found = true;
        return (arrival ? row.arrival_time : row.departure_time) + delay;
    };
    if (update.stop_sequence) {
        for (const auto& row : statics)
            if (row.trip_id == tripId && static_cast<int64_t>(row.stop_sequence) == *update.stop_sequence)
                return timeOf(row);
    }
    if (update.stop_id) {
        for (const auto& row : statics)
            if (row.stop_id == *update.stop_id) return timeOf(row);
    }
    return 0;
}

std::string timeElement(int64_t t) { return t >= 1 ? std::to_string(t) : ""; }

std::string translationText(const GTFS::TranslatedString& texts, size_t i) {
    return i < texts.size() ? texts[i].text : "";
}
std::string translationText(const std::optional<GTFS::TranslatedString>& texts, size_t i) {
    return texts ? translationText(*texts, i) : "";
}

void appendTranslations(const GTFS::Alert& alert, std::vector<TranslatedAlert>& out) {
    size_t count = std::max(alert.header_text.size(), alert.description_text.size());
    for (const auto* field : {&alert.cause_detail, &alert.effect_detail, &alert.url, &alert.tts_header_text,
                              &alert.tts_description_text})
        if (*field) count = std::max(count, (*field)->size());
    for (size_t i = 0; i < count; ++i) {
        TranslatedAlert t;
        t.id = alert.id;
        t.active_periods = alert.active_periods;
        t.informed_entities = alert.informed_entities;
        t.cause = alert.cause.value_or(GTFS::UNKNOWN_CAUSE);
        t.cause_detail = translationText(alert.cause_detail, i);
        t.effect = alert.effect.value_or(GTFS::UNKNOWN_EFFECT);
        t.effect_detail = translationText(alert.effect_detail, i);
        t.url = translationText(alert.url, i);
        t.header_text = translationText(alert.header_text, i);
        t.description_text = translationText(alert.description_text, i);
        t.tts_header_text = translationText(alert.tts_header_text, i);
        t.tts_description_text = translationText(alert.tts_description_text, i);
        t.severity_level = alert.severity_level.value_or(GTFS::UNKNOWN_SEVERITY);
        out.push_back(std::move(t));
    }
}

// Empties the list and gives its memory back (clear() keeps the capacity).
template <typename T>
void release(std::vector<T>& list) {
    std::vector<T>().swap(list);
}

// The trip id of the vehicle's first position, "" without one.
std::string tripOfVehicle(const std::vector<GTFS::VehiclePosition>& positions, const std::string& vehicleId) {
    if (vehicleId.empty()) return "";
    for (const auto& position : positions)
        if (position.vehicle.id == vehicleId) return position.trip.trip_id;
    return "";
}


}  // namespace

int64_t gtfsStaticTimeToPosix(const std::string& text, int64_t now) {
    std::vector<std::string> parts = CSVsplit(text, ":");
    if (parts.size() != 3) return now;
    time_t clock = static_cast<time_t>(now);
    struct tm local {};
    if (!localtime_r(&clock, &local)) return now;
    long hours = clampedNumber(parts[0]);
    // A time such as 25:10 belongs to the service day that began yesterday
    // while it is still morning; in the evening it lies ahead, tomorrow.
    if (hours > 23 && local.tm_hour < 12) hours -= 24;
    local.tm_hour = static_cast<int>(hours);
    local.tm_min = static_cast<int>(clampedNumber(parts[1]));
    local.tm_sec = static_cast<int>(clampedNumber(parts[2]));
    local.tm_isdst = -1;
    return static_cast<int64_t>(mktime(&local));
}

std::vector<TranslatedAlert> translateAlerts(const std::vector<GTFS::Alert>& alerts) {
    std::vector<TranslatedAlert> out;
    for (const auto& alert : alerts) appendTranslations(alert, out);
    return out;
}

// Each informed entity is one of: a stop (never shown on board), everything
// (no route and no trip id: the agency, a route type, ...), a route, or a
// trip (with or without a route). An alert with any entity of the second
// kind concerns every trip and is counted once, apart from the others.
AlertIndex::AlertIndex(const std::vector<GTFS::Alert>& alerts, const std::vector<bool>& active) {
    for (uint32_t a = 0; a < alerts.size(); ++a) {
        if (!active[a]) continue;
        const auto& entities = alerts[a].informed_entities;
        auto namesTrip = [](const GTFS::EntitySelector& e) { return e.trip && !e.trip->trip_id.empty(); };
        const bool everyTrip = entities.empty() || std::any_of(entities.begin(), entities.end(), [&](const auto& e) {
                                   return !e.stop_id && !e.route_id && !namesTrip(e);
                               });
        if (everyTrip) {
            ++m_everyTrip;
            continue;
        }
        for (const auto& entity : entities) {
            if (entity.stop_id) continue;
            if (namesTrip(entity)) {
                m_byTrip[entity.trip->trip_id].push_back(TripSelector{a, &entity.route_id, entity.trip->route_id});
            } else {
                auto& byRoute = m_byRoute[*entity.route_id];
                if (byRoute.empty() || byRoute.back() != a) byRoute.push_back(a);
            }
        }
    }
}

int AlertIndex::count(std::string_view tripId, std::string_view routeId) const {
    size_t n = static_cast<size_t>(m_everyTrip);
    auto route = m_byRoute.find(routeId);
    const std::vector<uint32_t>* byRoute = route == m_byRoute.end() ? nullptr : &route->second;
    if (byRoute) n += byRoute->size();
    auto trip = tripId.empty() ? m_byTrip.end() : m_byTrip.find(tripId);
    if (trip == m_byTrip.end()) return static_cast<int>(n);
    const TripSelector* counted = nullptr;
    for (const auto& selector : trip->second) {
        if (counted && counted->alert == selector.alert) continue;
        if (*selector.routeId && **selector.routeId != routeId) continue;
        if (!selector.tripRouteId.empty() && !routeId.empty() && selector.tripRouteId != routeId) continue;
        counted = &selector;
        if (!byRoute || !std::binary_search(byRoute->begin(), byRoute->end(), selector.alert)) ++n;
    }
    return static_cast<int>(n);
}

std::string tripScheduleRelationshipName(int value) {
    static const char* const names[] = {"SCHEDULED", "ADDED", "UNSCHEDULED", "CANCELED", "DUPLICATED", "DELETED"};
    return value >= 0 && value < 6 ? names[value] : "UNKNOWN";
}

// A stop has its own list of relationships: read through the trip's names,
// a skipped stop would be shown as "ADDED" and one without data as "UNSCHEDULED".
std::string stopScheduleRelationshipName(int value) {
    static const char* const names[] = {"SCHEDULED", "SKIPPED", "NO_DATA", "UNSCHEDULED"};
    return value >= 0 && value < 4 ? names[value] : "UNKNOWN";
}

GTFS_RT_FeedImpl::GTFS_RT_FeedImpl(const std::string& url) : m_url(url) {
    logLine(2, "GTFS_RT_FeedImpl::GTFS_RT_FeedImpl: feed: ", maskUrlSecrets(url));
}

GTFS_RT_FeedImpl::~GTFS_RT_FeedImpl() { logLine(2, "GTFS_RT_FeedImpl::~GTFS_RT_FeedImpl"); }

void GTFS_RT_FeedImpl::readModuleParmMap() {
    const Json::Value& params = moduleParams();
    m_testVehicleId = readStringKey(params, "gtfs_rt_test_vehicle_id");
    m_vehiclePositionUrl = readStringKey(params, "gtfs_rt_vehicle_position_url");
    m_tripUpdateUrl = readStringKey(params, "gtfs_rt_trip_update_url");
    m_alertUrl = readStringKey(params, "gtfs_rt_alert_url");
    m_vehicleList = readIntKey(params, "gtfs_rt_vehicle_list") == 1;
    m_authKey = readStringKey(params, "gtfs_rt_auth_key");
    m_vehicleIdProperty = readStringKey(params, "gtfs_rt_vehicle_id_property");

    if (!m_testVehicleId.empty())
        logLine(2, "GTFS_RT_FeedImpl::readModuleParmMap: test vehicle ID:", m_testVehicleId);
    if (!m_vehiclePositionUrl.empty())
        logLine(2, "GTFS_RT_FeedImpl::readModuleParmMap: vehicle position feed:", maskUrlSecrets(m_vehiclePositionUrl));
    if (!m_tripUpdateUrl.empty())
        logLine(2, "GTFS_RT_FeedImpl::readModuleParmMap: trip update feed:", maskUrlSecrets(m_tripUpdateUrl));
    if (!m_alertUrl.empty())
        logLine(2, "GTFS_RT_FeedImpl::readModuleParmMap: alert feed:", maskUrlSecrets(m_alertUrl));
    if (!m_authKey.empty())
        logLine(2, "GTFS_RT_FeedImpl::readModuleParmMap: authorisation key:", maskSecret(m_authKey));
    if (!m_vehicleIdProperty.empty())
        logLine(2, "GTFS_RT_FeedImpl::readModuleParmMap: vehicle ID property: ", m_vehicleIdProperty);
    if (m_vehicleList)
        logLine(2, "GTFS_RT_FeedImpl::readModuleParmMap: a vehicle list will be output to :",
                rootedPath(kGtfsVehicleListPath));
}

int GTFS_RT_FeedImpl::downloadData(std::string curlParams) {
    try {
        logLine(2, "GTFS_RT_FeedImpl::downloadData");
        std::string rawId = m_testVehicleId.empty() ? readVehicleId(0) : m_testVehicleId;
        std::string vehicleId;
        if (!rawId.empty()) {
            CVehicleDataLookup vehicles(rootedPath(kVornDatabasePath));
            vehicleId = vehicles.GetSymbolValue(rawId, m_vehicleIdProperty);
            if (vehicleId.empty()) vehicleId = rawId;
            logLine(2, "GTFS_RT_FeedImpl::downloadData: Using vehicle ID property ", vehicleId);
            addPair("gtfs_rt_vehicle_id", vehicleId);
        } else {
            logLine(16, "GTFS_RT_FeedImpl::downloadData: Missing vehicle ID. Proceeding only to download the "
                        "vehicle list.");
        }

        // Records are built for this vehicle only, unless the vehicle list needs every vehicle.
        const bool allVehicles = m_vehicleList || vehicleId.empty();
        size_t positionCount = 0, tripUpdateCount = 0;  // entities in this cycle's downloads
        bool anyCame = false, anyFailed = false;
        // Downloads and reads one feed and hands the parser to take; a failed
        // download (logged) or a reading that shutdown stopped hands nothing.
        auto read = [&](const std::string& url, const char* urlKey, auto take) {
            std::string bytes = getData(url, urlKey, curlParams);
            GTFS::GTFS_RT_Parser parser(bytes, vehicleId, allVehicles, &stopFlag());
            if (parser.stopped() || !usable(parser, bytes)) {
                anyFailed = true;
                return;
            }
            anyCame = true;
            take(parser);
        };
        // Each list is replaced only by a download that came; the old one is
        // freed first, so that two city-sized lists are never held at once.
        auto takePositions = [&](GTFS::GTFS_RT_Parser& parser) {
            release(m_positions);
            m_positions = parser.getVehiclePositions();
            positionCount = parser.vehiclePositionCount();
        };
        auto takeTripUpdates = [&](GTFS::GTFS_RT_Parser& parser, const std::string& tripId) {
            release(m_tripUpdates);
            m_tripUpdates = parser.getTripUpdates(tripId);
            tripUpdateCount = parser.tripUpdateCount();
        };
        auto takeAlerts = [&](GTFS::GTFS_RT_Parser& parser) {
            release(m_alerts);
            m_alerts = parser.takeAlerts();
        };
        if (!m_url.empty()) {
            read(m_url, "gtfs_rt_url", [&](GTFS::GTFS_RT_Parser& parser) {
                takePositions(parser);
                takeTripUpdates(parser, parser.vehicleTripId());
                takeAlerts(parser);
            });
        } else {
            // The vehicle's trip, from its position (the last one that came),
            // picks its trip updates from the next feed.
            if (!m_vehiclePositionUrl.empty())
                read(m_vehiclePositionUrl, "gtfs_rt_vehicle_position_url", takePositions);
            const std::string vehicleTripId = tripOfVehicle(m_positions, vehicleId);
            if (!m_tripUpdateUrl.empty() && !stopRequested())
                read(m_tripUpdateUrl, "gtfs_rt_trip_update_url",
                     [&](GTFS::GTFS_RT_Parser& parser) { takeTripUpdates(parser, vehicleTripId); });
            if (!m_alertUrl.empty() && !stopRequested()) read(m_alertUrl, "gtfs_rt_alert_url", takeAlerts);
        }
        if (stopRequested()) return 1;

        // A failed download says nothing about the trip. When nothing came,
        // the last trip, its stops and alerts and the vehicle list stay as
        // they were, as every other feed keeps its data; when some of the
        // separate feeds came, only the lists that failed are the last ones.
        // A feed that came and no longer holds the vehicle clears them.
        if (anyFailed && !anyCame) {
            logLine(8, "GTFS_RT_FeedImpl::downloadData: download failed - keeping the last trip, stops, alerts "
                       "and vehicle list");
            addPair("gtfs_rt_has_connection", "0");
            return 1;
        }
        bool connected = !vehicleId.empty() && (positionCount > 0 || tripUpdateCount > 0);
        addPair("gtfs_rt_has_connection", connected ? "1" : "0");
        if (connected) markUsableData();
        const int result = parse(vehicleId, m_positions, m_tripUpdates, m_alerts);
        // The combined feed never mixes old lists with new ones: nothing is kept.
        if (!m_url.empty()) {
            release(m_positions);
            release(m_tripUpdates);
            release(m_alerts);
        }
        return result;
    } catch (const std::exception& e) {
        logLine(16, "GTFS_RT_FeedImpl::downloadData: exception: ", e.what());
        return 1;
    }
}

bool GTFS_RT_FeedImpl::usable(const GTFS::GTFS_RT_Parser& parser, const std::string& bytes) {
    if (parser.isValidData()) return true;
    logLine(16, "GTFS_RT_FeedImpl::parse: Could not parse response from curl - invalid: ", printablePreview(bytes));
    return false;
}

std::string GTFS_RT_FeedImpl::getData(const std::string& url, const char* urlKey, const std::string& curlParams) {
    CurlCommand command = downloader().command(curlParams);
    command.carriesCredential();
    if (!m_authKey.empty()) command.secretHeader("Authorization", m_authKey, "gtfs_rt_auth_key");
    command.arg("--silent").arg("--show-error").url(url, urlKey);
    logLine(4, "GTFS_RT_FeedImpl::getData: ", command.logText());
    std::string bytes = downloader().fetch(command, downloader().limits().gtfsRtMaxDownloadBytes);
    if (bytes.empty()) {
        logLine(8, "GTFS_RT_FeedImpl::getData: unable to download file from feed (offline?)");
        return "";
    }
    return bytes;
}

std::vector<StaticStopTime> GTFS_RT_FeedImpl::getStaticRecords(const std::string& tripId) {
    std::vector<StaticStopTime> rows;
    const std::string path = rootedPath(kGtfsStaticDatabasePath);
    if (!FileExists(path)) {
        logLine(16, "getStaticRecords: no GTFS static database found at path: ", path);
        return rows;
    }
    Csqlite db;
    if (!db.Open(path, false)) {
        logLine(16, "getStaticRecords: cannot open GTFS static database: ", path);
        return rows;
    }
    CsqliteQuerySelect query(
        "select trip_id, arrival_time, departure_time, stop_id, stop_sequence from stop_time where trip_id = ?", db);
    if (!query.IsValid()) {
        logLine(16, "getStaticRecords: query failed: ", query.Error());
        return rows;
    }
    query.Bind(1, tripId);
    const int64_t now = wallClockSeconds();
    while (query.Step()) {
        StaticStopTime row;
        row.trip_id = query.GetColumnAsString(0, "");
        row.arrival_time = gtfsStaticTimeToPosix(query.GetColumnAsString(1, ""), now);
        row.departure_time = gtfsStaticTimeToPosix(query.GetColumnAsString(2, ""), now);
        row.stop_id = query.GetColumnAsString(3, "");
        row.stop_sequence = query.GetColumnAsInt(4, 0);
        rows.push_back(std::move(row));
    }
    return rows;
}

bool GTFS_RT_FeedImpl::getAlertTimeValidity(const std::vector<GTFS::TimeRange>& activePeriods,
                                            const std::string& alertId) const {
    if (activePeriods.empty()) return true;
    const int64_t now = wallClockSeconds();
    for (const auto& period : activePeriods) {
        if ((!period.start || notAfter(*period.start, now)) && (!period.end || notBefore(*period.end, now))) {
            logLine(2, "GTFS_RT_FeedImpl::getAlertTimeValidity: matched alert ", alertId, " for time validity ");
            return true;
        }
    }
    return false;
}

bool GTFS_RT_FeedImpl::getAlertEntityValidity(const std::vector<GTFS::EntitySelector>& informedEntities,
                                              const GTFS::TripUpdate& tripUpdate, const std::string& alertId) {
    if (informedEntities.empty()) return true;
    for (const auto& entity : informedEntities) {
        if (entity.route_id) {
            if (*entity.route_id != tripUpdate.trip.route_id) continue;
            logLine(2, "GTFS_RT_FeedImpl::getAlertEntityValidity: matched alert ", alertId, " for route ID ",
                    *entity.route_id);
        }
        if (entity.trip && !entity.trip->trip_id.empty()) {
            if (entity.trip->trip_id != tripUpdate.trip.trip_id) continue;
            logLine(2, "GTFS_RT_FeedImpl::getAlertEntityValidity: matched alert ", alertId, " for trip ID ",
                    entity.trip->trip_id);
            if (!entity.trip->route_id.empty() && !tripUpdate.trip.route_id.empty()) {
                if (entity.trip->route_id != tripUpdate.trip.route_id) continue;
                logLine(2, "GTFS_RT_FeedImpl::getAlertEntityValidity: matched alert ", alertId, " for trip route ID ",
                        entity.trip->route_id);
            }
        }
        // Alerts for single stops are not shown on board.
        if (entity.stop_id) continue;
        logLine(2, "GTFS_RT_FeedImpl::getAlertEntityValidity: matched alert entity validity for alert ", alertId);
        return true;
    }
    return false;
}

void GTFS_RT_FeedImpl::writeVehicleList(const std::vector<GTFS::VehiclePosition>& vehiclePositions,
                                        const std::vector<GTFS::TripUpdate>& tripUpdates,
                                        const std::vector<GTFS::Alert>& alerts,
                                        const std::vector<bool>& activeAlerts) {
    // The first trip update of each trip, and the number of alerts that
    // concern it once a vehicle asks: vehicles share trips, and each count
    // is a lookup in the index, so the list costs vehicles plus alerts.
    struct Trip {
        const GTFS::TripUpdate* update;
        int alerts;
    };
    std::unordered_map<std::string_view, Trip> byTrip;
    byTrip.reserve(tripUpdates.size());
    for (const auto& update : tripUpdates)
        if (!update.trip.trip_id.empty()) byTrip.emplace(update.trip.trip_id, Trip{&update, -1});
    const AlertIndex index(alerts, activeAlerts);
    const int noTripAlerts = index.count("", "");

    std::string text = "id,label,license_plate,active,alerts";
    text.reserve(text.size() + vehiclePositions.size() * kVehicleRowBytes);
    size_t row = 0;
    for (const auto& vehicle : vehiclePositions) {
        if (++row % kStopCheckRows == 0 && stopRequested()) return;
        auto it = vehicle.trip.trip_id.empty() ? byTrip.end() : byTrip.find(vehicle.trip.trip_id);
        const bool active = it != byTrip.end();
        int count = noTripAlerts;
        if (active) {
            Trip& trip = it->second;
            if (trip.alerts < 0) trip.alerts = index.count(trip.update->trip.trip_id, trip.update->trip.route_id);
            count = trip.alerts;
        }
        text += '\n';
        text += csvField(vehicle.vehicle.id);
        text += ',';
        text += csvField(vehicle.vehicle.label);
        text += ',';
        text += csvField(vehicle.vehicle.license_plate);
        text += active ? ",1," : ",0,";
        text += std::to_string(count);
    }
    const std::string path = rootedPath(kGtfsVehicleListPath);
    if (!replaceFileContent(path, text))
        logLine(8, "GTFS_RT_FeedImpl::parse: could not write the vehicle list to ", path, ": ", std::strerror(errno));
}

GtfsTripChoice chooseVehicleTrip(const std::string& vehicleId, const std::vector<GTFS::VehiclePosition>& vehiclePositions,
                                 const std::vector<GTFS::TripUpdate>& tripUpdates) {
    GtfsTripChoice choice;
    // The vehicle's own position report names its trip and how far along it is.
    for (const auto& vehicle : vehiclePositions) {
        if (vehicle.vehicle.id != vehicleId) continue;
        choice.positionFound = true;
        choice.positionTripId = vehicle.trip.trip_id;
        choice.currentStopSequence = vehicle.current_stop_sequence;
        choice.currentStatusPresent = vehicle.current_status.has_value();
        break;
    }
    // An empty trip id names no trip: without one, only a trip update that
    // names this vehicle is ours.
    const std::string& tripId = choice.positionTripId;
    for (const auto& update : tripUpdates) {
        if (!tripId.empty() && update.trip.trip_id == tripId) {
            choice.update = &update;
            break;
        }
        if (tripId.empty() && update.vehicle && update.vehicle->id == vehicleId) {
            choice.update = &update;
            choice.updateNamesVehicle = true;
            break;
        }
    }
    return choice;
}

GtfsTripSelection selectTripStops(const GtfsTripChoice& choice, const std::vector<StaticStopTime>& statics,
                                  const std::function<std::string(const std::string& stopId)>& pointOf,
                                  const std::vector<GTFS::Alert>& alerts, const std::vector<bool>& activeAlerts,
                                  int64_t now) {
    GtfsTripSelection out;
    const GTFS::TripUpdate none{};
    const GTFS::TripUpdate& trip = choice.update ? *choice.update : none;
    const std::string& takenTripId = trip.trip.trip_id;
    const std::optional<uint32_t>& currentStopSequence = choice.currentStopSequence;
    const bool skipBehind = currentStopSequence && choice.currentStatusPresent;
    auto leaveOut = [&] {
        if (!out.stops.empty()) out.stops.emplace_back();
    };
    for (const auto& update : trip.stop_time_updates) {
        if (skipBehind && update.stop_sequence && *update.stop_sequence < *currentStopSequence) {
            leaveOut();
            continue;
        }
        std::string pointId;
        if (update.stop_id) {
            pointId = pointOf(*update.stop_id);
            logLine(2, "GTFS_RT_FeedImpl::parse: matched GTFS Stop ID ", *update.stop_id, " to point ID ", pointId);
        } else if (update.stop_sequence && !takenTripId.empty()) {
            logLine(2, "GTFS_RT_FeedImpl::parse: looking up stop in static database for trip ID ", takenTripId,
                    " and stop sequence ", *update.stop_sequence);
            for (const auto& row : statics) {
                if (static_cast<int64_t>(row.stop_sequence) == *update.stop_sequence && row.trip_id == takenTripId) {
                    pointId = pointOf(row.stop_id);
                    logLine(2, "GTFS_RT_FeedImpl::parse: matched point ID ", pointId);
                    break;
                }
            }
        } else {
            logLine(2, "GTFS_RT_FeedImpl::parse: no stop ID or stop sequence for this stop");
            leaveOut();
            continue;
        }

        bool found = false;
        const int64_t arrival = stopTime(update.arrival, true, update, takenTripId, statics, found);
        const int64_t departure = stopTime(update.departure, false, update, takenTripId, statics, found);
        if (found) out.hasData = true;
        if (!currentStopSequence && arrival >= 1 && arrival < now) {
            leaveOut();
            continue;
        }
        out.stops.push_back(GtfsTripStop{pointId, arrival, departure, update.schedule_relationship});
    }

    // Only the alerts that concern the trip are translated: a city's feed may hold thousands.
    for (size_t i = 0; i < alerts.size(); ++i)
        if (activeAlerts[i] && GTFS_RT_FeedImpl::getAlertEntityValidity(alerts[i].informed_entities, trip, alerts[i].id))
            appendTranslations(alerts[i], out.alerts);
    return out;
}

int GTFS_RT_FeedImpl::parse(const std::string& feedVehicleId, const std::vector<GTFS::VehiclePosition>& vehiclePositions,
                            const std::vector<GTFS::TripUpdate>& tripUpdates, const std::vector<GTFS::Alert>& alerts) {
    // Whether each alert is active now, decided once for the list and the trip.
    std::vector<bool> activeAlerts(alerts.size());
    for (size_t i = 0; i < alerts.size(); ++i)
        activeAlerts[i] = getAlertTimeValidity(alerts[i].active_periods, alerts[i].id);
    if (m_vehicleList || feedVehicleId.empty()) writeVehicleList(vehiclePositions, tripUpdates, alerts, activeAlerts);
    if (stopRequested()) return 1;
    if (feedVehicleId.empty()) {
        logLine(16, "GTFS_RT_FeedImpl::parse: Missing vehicle ID - stopping here");
        addPair("gtfs_rt_has_data", "0");
        return 1;
    }

    const GtfsTripChoice choice = chooseVehicleTrip(feedVehicleId, vehiclePositions, tripUpdates);
    if (choice.positionFound) {
        logLine(2, "GTFS_RT_FeedImpl::parse: Found vehicle ID in feed - associated trip ID is ", choice.positionTripId);
        addPair("gtfs_trip_id", choice.positionTripId);
    }
    if (choice.update && !choice.updateNamesVehicle) logLine(2, "GTFS_RT_FeedImpl::parse: Found trip ID in trip updates");
    if (choice.update && choice.updateNamesVehicle) {
        logLine(2, "GTFS_RT_FeedImpl::parse: Found vehicle ID in trip updates");
        addPair("gtfs_trip_id", choice.update->trip.trip_id);
    }
    const std::string tripId = choice.update ? choice.update->trip.trip_id : "";
    addPair("gtfs_trip_schedule_relationship",
            tripScheduleRelationshipName(choice.update ? choice.update->trip.schedule_relationship : GTFS::TRIP_SCHEDULED));

    CPointDataLookup points(rootedPath(kVornDatabasePath));
    const std::vector<StaticStopTime> statics = getStaticRecords(tripId);
    const GtfsTripSelection selection = selectTripStops(
        choice, statics, [&](const std::string& stopId) { return points.LookupPoint(stopId, kStopIdAttribute); },
        alerts, activeAlerts, wallClockSeconds());

    ListBuilder pointIds, arrivals, departures, relationships;
    for (const auto& stop : selection.stops) {
        if (!stop) {
            pointIds.addBare("");
            arrivals.addBare("");
            departures.addBare("");
            relationships.addBare("");
            continue;
        }
        pointIds.add(stop->pointId);
        arrivals.addBare(timeElement(stop->arrival));
        departures.addBare(timeElement(stop->departure));
        relationships.add(stopScheduleRelationshipName(stop->scheduleRelationship));
    }

    ListBuilder cause, causeDetail, effect, effectDetail, url, header, description, ttsHeader, ttsDescription, severity;
    for (const auto& alert : selection.alerts) {
        logLine(2, "GTFS_RT_FeedImpl::parse: adding alert ", alert.id, " to output");
        cause.addBare(std::to_string(alert.cause));
        causeDetail.add(alert.cause_detail);
        effect.addBare(std::to_string(alert.effect));
        effectDetail.add(alert.effect_detail);
        url.add(alert.url);
        header.add(alert.header_text);
        description.add(alert.description_text);
        ttsHeader.add(alert.tts_header_text);
        ttsDescription.add(alert.tts_description_text);
        severity.addBare(std::to_string(alert.severity_level));
    }

    addPair("gtfs_rt_point_id_array", pointIds.str());
    addPair("gtfs_rt_arrivals_array", arrivals.str());
    addPair("gtfs_rt_departures_array", departures.str());
    addPair("gtfs_rt_schedule_relationships_array", relationships.str());
    addPair("gtfs_rt_alerts_cause_array", cause.str());
    addPair("gtfs_rt_alerts_cause_detail_array", causeDetail.str());
    addPair("gtfs_rt_alerts_effect_array", effect.str());
    addPair("gtfs_rt_alerts_effect_detail_array", effectDetail.str());
    addPair("gtfs_rt_alerts_linked_url_array", url.str());
    addPair("gtfs_rt_alerts_header_text_array", header.str());
    addPair("gtfs_rt_alerts_description_text_array", description.str());
    addPair("gtfs_rt_alerts_tts_header_text_array", ttsHeader.str());
    addPair("gtfs_rt_alerts_tts_description_text_array", ttsDescription.str());
    addPair("gtfs_rt_alerts_severity_level_array", severity.str());
    addPair("gtfs_rt_has_data", selection.hasData ? "1" : "0");
    return 1;
}
