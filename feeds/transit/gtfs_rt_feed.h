// GTFS-Realtime feed: finds the trip this vehicle runs in an agency's
// real-time feeds, exports its remaining stops (static timetable as fallback)
// and the alerts that concern it, and can list every vehicle of the feed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/feed/data_feed.h"
#include "feeds/transit/gtfs_rt_parser.h"
#include "platform/file_root.h"

// Static timetable (table stop_time) and the CSV list of the feed's vehicles.
constexpr const char* kGtfsStaticDatabasePath = "/vorn/database/GTFS_S.db";
constexpr const char* kGtfsVehicleListPath = "/tmp/gtfs_vehicles.csv";

// One row of the static timetable; times are POSIX seconds (gtfsStaticTimeToPosix).
struct StaticStopTime {
    std::string trip_id;
    int64_t arrival_time = 0;
    int64_t departure_time = 0;
    std::string stop_id;
    int stop_sequence = 0;
};

// One alert in one of its translations; texts are "" where the alert has
// fewer translations of that field.
struct TranslatedAlert {
    std::string id;
    std::vector<GTFS::TimeRange> active_periods;
    std::vector<GTFS::EntitySelector> informed_entities;
    int cause = GTFS::UNKNOWN_CAUSE;
    std::string cause_detail;
    int effect = GTFS::UNKNOWN_EFFECT;
    std::string effect_detail;
    std::string url;
    std::string header_text;
    std::string description_text;
    std::string tts_header_text;
    std::string tts_description_text;
    int severity_level = GTFS::UNKNOWN_SEVERITY;
};

// A static timetable time "H:MM:SS" on the local date of `now` (process time
// zone). Hours past 23 belong to the previous service day while the local
// hour of `now` is before noon. Text not made of three ':'-separated parts
// yields `now`.
int64_t gtfsStaticTimeToPosix(const std::string& text, int64_t now);

// Each alert once per translation index (the longest of its text fields).
std::vector<TranslatedAlert> translateAlerts(const std::vector<GTFS::Alert>& alerts);

// The alerts active now, indexed by what their informed entities select (a
// route, a trip, everything), so that the number concerning one trip is a
// lookup rather than a pass over every alert. count() gives exactly the
// number of active alerts that GTFS_RT_FeedImpl::getAlertEntityValidity
// accepts for a trip update of that trip and route id. Keeps views into the
// alerts, which must outlive it.
class AlertIndex {
public:
    // active[i]: alert i is active now (getAlertTimeValidity); same size as alerts.
    AlertIndex(const std::vector<GTFS::Alert>& alerts, const std::vector<bool>& active);
    int count(std::string_view tripId, std::string_view routeId) const;

private:
    // One informed entity naming a trip: the trip's own route and the
    // entity's route, when given, must agree with the trip update's too.
    struct TripSelector {
        uint32_t alert;
        const std::optional<std::string>* routeId;
        std::string_view tripRouteId;
    };
    int m_everyTrip = 0;  // alerts with no informed entity or one that selects everything
    std::unordered_map<std::string_view, std::vector<uint32_t>> m_byRoute;   // ascending, once each
    std::unordered_map<std::string_view, std::vector<TripSelector>> m_byTrip;  // one alert's together
};

// One stop of the vehicle's trip as shown; times are POSIX seconds, 0 for none.
struct GtfsTripStop {
    std::string pointId;
    int64_t arrival = 0;
    int64_t departure = 0;
    int scheduleRelationship = GTFS::STOP_SCHEDULED;
};

// Which trip is the vehicle's: the one its position names, else (when the
// position names none) a trip update that names the vehicle.
struct GtfsTripChoice {
    bool positionFound = false;  // the vehicle's own position is in the feed
    std::string positionTripId;  // the trip it names, "" for none
    std::optional<uint32_t> currentStopSequence;
    bool currentStatusPresent = false;
    const GTFS::TripUpdate* update = nullptr;  // into the trip updates; nullptr when none is the vehicle's
    bool updateNamesVehicle = false;           // found by its vehicle descriptor
};

// The chosen trip's stops still ahead and the alerts that concern it.
struct GtfsTripSelection {
    // From the first stop shown on; a stop left out after it keeps its place
    // as nullopt, so that lists built from them stay aligned.
    std::vector<std::optional<GtfsTripStop>> stops;
    std::vector<TranslatedAlert> alerts;  // each alert once per translation
    bool hasData = false;                 // some stop had a time, real-time or static
};

// Finds the vehicle's position and trip update; no log, no look-up.
GtfsTripChoice chooseVehicleTrip(const std::string& vehicleId, const std::vector<GTFS::VehiclePosition>& vehiclePositions,
                                 const std::vector<GTFS::TripUpdate>& tripUpdates);

// The chosen trip's stops not yet passed at `now`, completed from its static
// timetable rows (statics), each stop id made a point id by pointOf ("" when
// unknown), and the alerts that concern the trip among the active ones
// (activeAlerts[i] for alerts[i]). No database, file or clock of its own;
// logs its matches at level 2.
GtfsTripSelection selectTripStops(const GtfsTripChoice& choice, const std::vector<StaticStopTime>& statics,
                                  const std::function<std::string(const std::string& stopId)>& pointOf,
                                  const std::vector<GTFS::Alert>& alerts, const std::vector<bool>& activeAlerts,
                                  int64_t now);

// The names exported for schedule relationships; "UNKNOWN" for other values.
std::string tripScheduleRelationshipName(int value);
std::string stopScheduleRelationshipName(int value);

class GTFS_RT_FeedImpl : public DataFeedImpl {
public:
    explicit GTFS_RT_FeedImpl(const std::string& url);
    ~GTFS_RT_FeedImpl() override;

    int downloadData(std::string curlParams) override;
    void readModuleParmMap() override;
    std::vector<std::string> filesWritten() const override { return {rootedPath(kGtfsVehicleListPath)}; }

    // One feed's bytes, downloaded with curl into a private file; "" on failure.
    std::string getData(const std::string& url, const char* urlKey, const std::string& curlParams);
    // Everything after the download: writes the vehicle list, chooses the
    // trip, reads the point and timetable databases for selectTripStops and
    // exports the result.
    // Returns 1; a shutdown (stopRequested) ends it early, its pairs incomplete.
    int parse(const std::string& feedVehicleId, const std::vector<GTFS::VehiclePosition>& vehiclePositions,
              const std::vector<GTFS::TripUpdate>& tripUpdates, const std::vector<GTFS::Alert>& alerts);
    // The static timetable rows of one trip; empty without the database.
    std::vector<StaticStopTime> getStaticRecords(const std::string& tripId);
    bool getAlertTimeValidity(const std::vector<GTFS::TimeRange>& activePeriods, const std::string& alertId) const;
    static bool getAlertEntityValidity(const std::vector<GTFS::EntitySelector>& informedEntities,
                                       const GTFS::TripUpdate& tripUpdate, const std::string& alertId);

private:
    void writeVehicleList(const std::vector<GTFS::VehiclePosition>& vehiclePositions,
                          const std::vector<GTFS::TripUpdate>& tripUpdates, const std::vector<GTFS::Alert>& alerts,
                          const std::vector<bool>& activeAlerts);
    // True when the download is a valid feed. Anything else (nothing came:
    // refused, HTTP error without a body, over the cap; or not a feed) is logged.
    static bool usable(const GTFS::GTFS_RT_Parser& parser, const std::string& bytes);

    std::string m_url;
    std::string m_vehiclePositionUrl;
    std::string m_tripUpdateUrl;
    std::string m_alertUrl;
    std::string m_testVehicleId;
    bool m_vehicleList = false;
    std::string m_authKey;
    std::string m_vehicleIdProperty;
    // The last list of each kind that came: with separate feeds, a list whose
    // download failed is taken from here while the others are fresh.
    std::vector<GTFS::VehiclePosition> m_positions;
    std::vector<GTFS::TripUpdate> m_tripUpdates;
    std::vector<GTFS::Alert> m_alerts;
};

class GTFS_RT_Feed : public DataFeed {
public:
    explicit GTFS_RT_Feed(const std::string& url) : DataFeed(std::make_unique<GTFS_RT_FeedImpl>(url)) {}
};
