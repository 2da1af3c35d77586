// The GTFS-Realtime feed as stories: feeds served by a real HTTP server,
// real attribute and timetable databases, the pairs it exports.
#include "feeds/transit/gtfs_rt_feed.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "core/lookups.h"
#include "gtfs_realtime.pb.h"
#include "platform/clock.h"
#include "tests/feeds/transit/feed_cycle.h"
#include "tests/support/log_capture.h"
#include "tests/support/sqlite_builder.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"
#include "util/time_convert.h"

namespace rt = transit_realtime;

namespace {

// 2026-01-01 09:00:00 in London (UTC in winter).
constexpr int64_t kNow = 1767258000;
constexpr int64_t kMidnight = 1767225600;

rt::FeedMessage newFeed() {
    rt::FeedMessage feed;
    feed.mutable_header()->set_gtfs_realtime_version("2.0");
    return feed;
}

rt::VehiclePosition* addVehicle(rt::FeedMessage& feed, const std::string& vehicleId, const std::string& tripId) {
    auto* entity = feed.add_entity();
    entity->set_id("v-" + vehicleId);
    auto* vehicle = entity->mutable_vehicle();
    vehicle->mutable_vehicle()->set_id(vehicleId);
    vehicle->mutable_trip()->set_trip_id(tripId);
    return vehicle;
}

rt::TripUpdate* addTrip(rt::FeedMessage& feed, const std::string& tripId, const std::string& routeId = "") {
    auto* entity = feed.add_entity();
    entity->set_id("t" + std::to_string(feed.entity_size()));
    auto* update = entity->mutable_trip_update();
    if (!tripId.empty()) update->mutable_trip()->set_trip_id(tripId);
    if (!routeId.empty()) update->mutable_trip()->set_route_id(routeId);
    return update;
}

rt::TripUpdate::StopTimeUpdate* addStop(rt::TripUpdate* update, int sequence, const std::string& stopId,
                                        int64_t arrival = 0) {
    auto* stop = update->add_stop_time_update();
    if (sequence > 0) stop->set_stop_sequence(static_cast<uint32_t>(sequence));
    if (!stopId.empty()) stop->set_stop_id(stopId);
    if (arrival != 0) stop->mutable_arrival()->set_time(arrival);
    return stop;
}

Json::Value separateFeeds(const StubServer& server) {
    Json::Value params;
    params["gtfs_rt_vehicle_position_url"] = server.url("/vp");
    params["gtfs_rt_trip_update_url"] = server.url("/tu");
    params["gtfs_rt_alert_url"] = server.url("/al");
    return params;
}

class GtfsRtFeed : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) m_savedTz = tz;
        setProcessTimeZone(":/usr/share/zoneinfo/Europe/London");
        setWallClock([] { return kNow; });
        SqliteBuilder vorn(root.path(kVornDatabasePath));
        for (int i = 1; i <= 4; ++i) vorn.attribute("P" + std::to_string(i), "GTFS_Stop_Id", "S" + std::to_string(i));
        vorn.attribute("V1", "Id", "1007").attribute("V1", "GtfsId", "BUS-7");
    }
    void TearDown() override {
        setWallClock(nullptr);
        if (m_savedTz)
            setenv("TZ", m_savedTz->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

    SymbolPairs run(const std::string& url, const Json::Value& params = Json::objectValue) {
        GTFS_RT_FeedImpl feed(url);
        configure(feed, params);
        return cycle(feed, "--silent --max-time 5");
    }

    std::vector<std::string> tmpFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(root.path("/tmp")))
            names.push_back(entry.path().filename().string());
        return names;
    }

    TempFileRoot root;
    StubServer server;
    std::optional<std::string> m_savedTz;
};

}  // namespace

// The agency's combined feed: the vehicle (known to the agency by its own id)
// is found by its position report, stops behind it are left out, stop ids
// become point ids, and the route's alert is shown in both its languages.
TEST_F(GtfsRtFeed, CombinedFeedFromVehiclePositionToExportedPairs) {
    root.write(kVehicleIdPath, "1007\n");
    server.reply("/combined", readTestData("transit/gtfs_rt_combined.pb"), 200, "application/x-protobuf");
    Json::Value params = separateFeeds(server);
    params["gtfs_rt_vehicle_id_property"] = "GtfsId";
    params["gtfs_rt_auth_key"] = "s3cr3t-key-123";
    LogCapture log;

    SymbolPairs pairs = run(server.url("/combined"), params);

    SymbolPairs expected = {
        {"gtfs_rt_vehicle_id", "BUS-7"}, {"gtfs_rt_has_connection", "1"}, {"gtfs_trip_id", "T100"},
        {"gtfs_trip_schedule_relationship", "SCHEDULED"}, {"gtfs_rt_point_id_array", R"("P2","P3","P4")"},
        {"gtfs_rt_arrivals_array", "1767258060,,1767258600"}, {"gtfs_rt_departures_array", "1767258120,,1767258660"},
        {"gtfs_rt_schedule_relationships_array", R"("SCHEDULED","SKIPPED","SCHEDULED")"},
        {"gtfs_rt_alerts_cause_array", "9,9"}, {"gtfs_rt_alerts_cause_detail_array", R"("","")"},
        {"gtfs_rt_alerts_effect_array", "3,3"}, {"gtfs_rt_alerts_effect_detail_array", R"("","")"},
        {"gtfs_rt_alerts_linked_url_array", R"("https://example.org/a1","")"},
        {"gtfs_rt_alerts_header_text_array", R"("Diversion on 'High' St","Dargyfeiriad")"},
        {"gtfs_rt_alerts_description_text_array", R"("Buses divert via Low St","")"},
        {"gtfs_rt_alerts_tts_header_text_array", R"("","")"}, {"gtfs_rt_alerts_tts_description_text_array", R"("","")"},
        {"gtfs_rt_alerts_severity_level_array", "2,2"}, {"gtfs_rt_has_data", "1"},
    };
    EXPECT_EQ(pairs, expected);

    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u) << "only the combined feed is fetched";
    EXPECT_EQ(requests[0].path, "/combined");
    EXPECT_EQ(requests[0].header("Authorization"), "s3cr3t-key-123");
    EXPECT_FALSE(log.contains("s3cr3t-key-123")) << log.dump();
    EXPECT_TRUE(tmpFiles().empty()) << "the private download file is removed";
}

// Separate feeds; the vehicle sends no position, so its trip update is found
// by the vehicle it names (not by a stranger's update that names no trip), and
// without a current stop the stops already passed are left out by time.
TEST_F(GtfsRtFeed, SeparateFeedsFindTheTripByTheVehicleItNames) {
    rt::FeedMessage positions = newFeed();
    addVehicle(positions, "BUS-8", "T8");
    rt::FeedMessage trips = newFeed();
    auto* stranger = addTrip(trips, "", "R4");
    stranger->mutable_vehicle()->set_id("BUS-4");
    addStop(stranger, 1, "S4", kNow + 60);
    auto* ours = addTrip(trips, "T9", "R9");
    ours->mutable_trip()->set_schedule_relationship(rt::TripDescriptor::CANCELED);
    ours->mutable_vehicle()->set_id("BUS-9");
    addStop(ours, 1, "S1", kNow - 300);  // passed: left out, before any written stop
    addStop(ours, 2, "S2");              // no time at all: stays
    addStop(ours, 3, "S3", kNow + 600);
    addStop(ours, 0, "");  // neither stop id nor sequence: an empty element
    rt::FeedMessage alerts = newFeed();
    auto* agencyWide = alerts.add_entity();
    agencyWide->set_id("agency");
    agencyWide->mutable_alert()->add_informed_entity()->set_agency_id("LB");
    agencyWide->mutable_alert()->mutable_header_text()->add_translation()->set_text("Strike today");
    auto* expired = alerts.add_entity();
    expired->set_id("expired");
    expired->mutable_alert()->add_active_period()->set_end(static_cast<uint64_t>(kNow - 1));
    expired->mutable_alert()->mutable_header_text()->add_translation()->set_text("Old news");

    server.reply("/vp", positions.SerializeAsString());
    server.reply("/tu", trips.SerializeAsString());
    server.reply("/al", alerts.SerializeAsString());
    Json::Value params = separateFeeds(server);
    params["gtfs_rt_test_vehicle_id"] = "BUS-9";

    SymbolPairs expected = {
        {"gtfs_rt_vehicle_id", "BUS-9"}, {"gtfs_rt_has_connection", "1"}, {"gtfs_trip_id", "T9"},
        {"gtfs_trip_schedule_relationship", "CANCELED"}, {"gtfs_rt_point_id_array", R"("P2","P3",)"},
        {"gtfs_rt_arrivals_array", ",1767258600,"}, {"gtfs_rt_departures_array", ",,"},
        {"gtfs_rt_schedule_relationships_array", R"("SCHEDULED","SCHEDULED",)"},
        {"gtfs_rt_alerts_cause_array", "0"} /* UNKNOWN_CAUSE */, {"gtfs_rt_alerts_cause_detail_array", R"("")"},
        {"gtfs_rt_alerts_effect_array", "7"} /* UNKNOWN_EFFECT */, {"gtfs_rt_alerts_effect_detail_array", R"("")"},
        {"gtfs_rt_alerts_linked_url_array", R"("")"}, {"gtfs_rt_alerts_header_text_array", R"("Strike today")"},
        {"gtfs_rt_alerts_description_text_array", R"("")"}, {"gtfs_rt_alerts_tts_header_text_array", R"("")"},
        {"gtfs_rt_alerts_tts_description_text_array", R"("")"}, {"gtfs_rt_alerts_severity_level_array", "0"},
        {"gtfs_rt_has_data", "1"},
    };
    EXPECT_EQ(run("", params), expected);
    EXPECT_EQ(server.requestCount(), 3u);
}

// Real-time data without times is completed from the static timetable, whose
// query takes the trip id as a value: a trip id that is also a column name
// must not select every row.
TEST_F(GtfsRtFeed, StaticTimetableFillsMissingTimesAndStops) {
    SqliteBuilder timetable(root.path(kGtfsStaticDatabasePath));
    timetable.exec("create table stop_time (trip_id text, arrival_time text, departure_time text, stop_id text, "
                   "stop_sequence integer)");
    for (const char* trip : {"T5", "OTHER"}) {
        timetable.insert("insert into stop_time values (?, '09:05:00', '09:06:00', 'S1', 1)", {trip});
        timetable.insert("insert into stop_time values (?, '09:10:00', '09:11:00', 'S2', 2)", {trip});
    }
    struct Case {
        const char* trip;
        const char* points;
        const char* arrivals;
        const char* departures;
        const char* hasData;
    } cases[] = {
        {"T5", R"("P1","P2")", "1767258420,1767258600", "1767258360,1767258660", "1"},
        {"trip_id", R"("P1","")", ",", ",", "0"},
    };
    for (const auto& c : cases) {
        rt::FeedMessage feed = newFeed();
        auto* vehicle = addVehicle(feed, "BUS-5", c.trip);
        vehicle->set_current_stop_sequence(1);  // no current status: nothing is left out
        auto* update = addTrip(feed, c.trip);
        addStop(update, 1, "S1")->mutable_arrival()->set_delay(120);
        addStop(update, 2, "");
        server.reply("/feed", feed.SerializeAsString());
        Json::Value params;
        params["gtfs_rt_test_vehicle_id"] = "BUS-5";

        SymbolPairs pairs = run(server.url("/feed"), params);

        EXPECT_EQ(valueOf(pairs, "gtfs_rt_point_id_array"), c.points) << c.trip;
        EXPECT_EQ(valueOf(pairs, "gtfs_rt_arrivals_array"), c.arrivals) << c.trip;
        EXPECT_EQ(valueOf(pairs, "gtfs_rt_departures_array"), c.departures) << c.trip;
        EXPECT_EQ(pairs.back().second, c.hasData) << c.trip;
    }
}

TEST_F(GtfsRtFeed, StaticTimesPastMidnightBelongToTheRightServiceDay) {
    constexpr int64_t kSummerMidnightUtc = 1782864000;  // 2026-07-01, London on summer time
    struct Case {
        const char* text;
        int64_t now;
        int64_t expected;
    } cases[] = {
        {"25:10:00", kMidnight + 9 * 3600, kMidnight + 70 * 60},
        {"25:10:00", kMidnight + 20 * 3600, kMidnight + 86400 + 70 * 60},
        {"08:30:00", kMidnight + 9 * 3600, kMidnight + 8 * 3600 + 1800},
        {"10:00:00", kSummerMidnightUtc + 8 * 3600, kSummerMidnightUtc + 9 * 3600},
        {"", kNow, kNow},
        {"9:30", kNow, kNow},
    };
    for (const auto& c : cases)
        EXPECT_EQ(gtfsStaticTimeToPosix(c.text, c.now), c.expected) << "'" << c.text << "' at " << c.now;
}

TEST_F(GtfsRtFeed, AlertsConcernTheTripWhenTimeAndEntitiesAgree) {
    GTFS_RT_FeedImpl feed("");
    GTFS::TripUpdate trip;
    trip.trip.trip_id = "T1";
    trip.trip.route_id = "R1";
    // An empty text leaves the field out.
    auto sel = [](std::string agency, std::string route, std::string tripId, std::string tripRoute, std::string stop) {
        GTFS::EntitySelector s;
        if (!agency.empty()) s.agency_id = agency;
        if (!route.empty()) s.route_id = route;
        if (!tripId.empty()) s.trip = GTFS::TripDescriptor{tripId, tripRoute, {}, "", "", 0};
        if (!stop.empty()) s.stop_id = stop;
        return s;
    };
    struct EntityCase {
        const char* name;
        std::vector<GTFS::EntitySelector> entities;
        bool valid;
    } entityCases[] = {
        // Agency-only, stop-only and our-route selectors are in the feed stories.
        {"no informed entity", {}, true},           {"our route at a stop", {sel("", "R1", "", "", "S1")}, false},
        {"another route", {sel("", "R2", "", "", "")}, false}, {"our trip", {sel("", "", "T1", "", "")}, true},
        {"another trip", {sel("", "", "T2", "", "")}, false},
        {"our trip on another route", {sel("", "", "T1", "R2", "")}, false},
        {"a stop, then our route", {sel("", "", "", "", "S1"), sel("", "R1", "", "", "")}, true},
    };
    for (const auto& c : entityCases)
        EXPECT_EQ(feed.getAlertEntityValidity(c.entities, trip, "a"), c.valid) << c.name;

    auto range = [](std::optional<int64_t> start, std::optional<int64_t> end) {
        GTFS::TimeRange r;
        if (start) r.start = static_cast<uint64_t>(*start);
        if (end) r.end = static_cast<uint64_t>(*end);
        return r;
    };
    struct TimeCase {
        const char* name;
        std::vector<GTFS::TimeRange> periods;
        bool valid;
    } timeCases[] = {
        // Around now and ended are in the feed stories.
        {"no period", {}, true}, {"ending now", {range(std::nullopt, kNow)}, true},
        {"not yet begun", {range(kNow + 1, std::nullopt)}, false},
        {"ended, then open-ended", {range(kNow - 100, kNow - 1), range(kNow - 5, std::nullopt)}, true},
    };
    for (const auto& c : timeCases) EXPECT_EQ(feed.getAlertTimeValidity(c.periods, "a"), c.valid) << c.name;

    GTFS::Alert alert;
    alert.header_text = {{"Closed", "en"}, {"Ar gau", "cy"}};
    alert.description_text = {{"Use stop B", "en"}};
    alert.tts_header_text = GTFS::TranslatedString{{"Closed, say it", "en"}, {"a", ""}, {"b", ""}};
    auto translated = translateAlerts({alert, GTFS::Alert{}});
    ASSERT_EQ(translated.size(), 3u) << "the longest field decides; an alert without texts gives none";
    EXPECT_EQ(translated[1].header_text + "|" + translated[1].description_text, "Ar gau|");
    EXPECT_EQ(translated[2].header_text + "|" + translated[2].tts_header_text, "|b");
}

TEST_F(GtfsRtFeed, VehicleListIsWrittenWhenAskedOrWhenTheVehicleIsUnknown) {
    server.reply("/combined", readTestData("transit/gtfs_rt_combined.pb"));
    const std::string list = "id,label,license_plate,active,alerts\n"
                             "BUS-7,\"7, Depot A\",AB12 CDE,1,1\n"
                             "BUS-8,8,,0,0";
    struct Case {
        const char* name;
        Json::Value flag;
        bool vehicleKnown;
        bool written;
    } cases[] = {
        {"flag 1", 1, true, true}, {"flag 2", 2, true, false}, {"no flag", Json::Value(), true, false},
        {"no vehicle id", Json::Value(), false, true},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(root.path(kGtfsVehicleListPath));
        Json::Value params;
        if (!c.flag.isNull()) params["gtfs_rt_vehicle_list"] = c.flag;
        if (c.vehicleKnown) params["gtfs_rt_test_vehicle_id"] = "BUS-7";

        SymbolPairs pairs = run(server.url("/combined"), params);

        EXPECT_EQ(root.exists(kGtfsVehicleListPath) ? root.read(kGtfsVehicleListPath) : "<none>",
                  c.written ? list : "<none>") << c.name;
        EXPECT_EQ(tmpFiles().size(), c.written ? 1u : 0u) << c.name << ": no temporary file stays behind";
        if (!c.vehicleKnown) {
            EXPECT_EQ(pairs, (SymbolPairs{{"gtfs_rt_has_connection", "0"}, {"gtfs_rt_has_data", "0"}})) << c.name;
        }
    }
}

TEST_F(GtfsRtFeed, FailedOrHostileDownloadsRunNothingAndReportNoConnection) {
    const std::string planted = root.path("/planted");
    const std::string attack = "';touch " + planted + ";'";
    std::string junk(100000, '\x07');
    server.reply("/junk", junk);
    struct Case {
        const char* name;
        std::string url;
        std::string authKey;
        const char* logText;
    } cases[] = {
        {"refused connection", refusedUrl("/feed"), "", "unable to download file from feed (offline?)"},
        {"not a feed", server.url("/junk"), "", "Could not parse response from curl - invalid: "},
        {"shell text in the URL", server.url("/junk") + attack, "", "Could not parse response"},
        {"shell text in the key", server.url("/junk"), "k" + attack, "Could not parse response"},
    };
    for (const auto& c : cases) {
        LogCapture log;
        Json::Value params;
        params["gtfs_rt_test_vehicle_id"] = "BUS-7";
        if (!c.authKey.empty()) params["gtfs_rt_auth_key"] = c.authKey;

        SymbolPairs pairs = run(c.url, params);

        EXPECT_EQ(valueOf(pairs, "gtfs_rt_has_connection"), "0") << c.name;
        EXPECT_EQ(pairs.back(), SymbolPair("gtfs_rt_has_data", "0")) << c.name;
        EXPECT_TRUE(log.contains(c.logText)) << c.name << "\n" << log.dump();
        for (const auto& line : log.lines()) EXPECT_LT(line.text.size(), 2000u) << c.name << ": log flooded";
        EXPECT_FALSE(std::filesystem::exists(planted)) << c.name;
        EXPECT_TRUE(tmpFiles().empty()) << c.name;
    }
}
