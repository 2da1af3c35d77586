// The GTFS-Realtime feed as stories: feeds served by a real HTTP server,
// real attribute and timetable databases, the pairs it exports.
#include "feeds/transit/gtfs_rt_feed.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "core/feed/lookups.h"
#include "gtfs_realtime.pb.h"
#include "platform/clock.h"
#include "tests/support/feed_test.h"
#include "tests/support/hostile_input.h"
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

rt::TripUpdate* addTrip(rt::FeedMessage& feed, const std::string& tripId) {
    auto* entity = feed.add_entity();
    entity->set_id("t" + std::to_string(feed.entity_size()));
    auto* update = entity->mutable_trip_update();
    update->mutable_trip()->set_trip_id(tripId);
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

    size_t tmpFileCount() const {
        auto files = std::filesystem::directory_iterator(root.path("/tmp"));
        return static_cast<size_t>(std::distance(begin(files), end(files)));
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
    EXPECT_EQ(tmpFileCount(), 0u) << "the private download file is removed";
}

// The vehicle sends no position, so its trip is the update that names it (not
// a stranger's update that names no trip), and without a current stop the
// stops already passed are left out by time. The records alone decide.
TEST(GtfsRtTripSelection, FindsTheTripByTheVehicleItNames) {
    auto stop = [](uint32_t sequence, const char* stopId, int64_t arrival) {
        GTFS::StopTimeUpdate s;
        if (sequence > 0) s.stop_sequence = sequence;
        if (*stopId) s.stop_id = stopId;
        if (arrival != 0) s.arrival = GTFS::StopTimeEvent{std::nullopt, arrival, std::nullopt};
        return s;
    };
    std::vector<GTFS::TripUpdate> updates(2);
    updates[0].vehicle = GTFS::VehicleDescriptor{"BUS-4", "", ""};
    updates[0].stop_time_updates = {stop(1, "S4", kNow + 60)};
    updates[1].trip.trip_id = "T9";
    updates[1].trip.schedule_relationship = GTFS::TRIP_DELETED;
    updates[1].vehicle = GTFS::VehicleDescriptor{"BUS-9", "", ""};
    updates[1].stop_time_updates = {
        stop(1, "S1", kNow - 300),  // passed: left out, before any shown stop
        stop(2, "S2", 0),           // no time at all: stays
        stop(3, "S3", kNow + 600),
        stop(0, "", 0),  // neither stop id nor sequence: its place is kept
    };
    std::vector<GTFS::VehiclePosition> positions(1);
    positions[0].vehicle.id = "BUS-8";
    positions[0].trip.trip_id = "T8";
    std::vector<GTFS::Alert> alerts(1);
    alerts[0].id = "agency";
    alerts[0].informed_entities.emplace_back().agency_id = "LB";
    alerts[0].header_text = {{"Strike today", std::nullopt}};

    const GtfsTripChoice choice = chooseVehicleTrip("BUS-9", positions, updates);
    EXPECT_FALSE(choice.positionFound);
    ASSERT_EQ(choice.update, &updates[1]);
    EXPECT_TRUE(choice.updateNamesVehicle);
    EXPECT_EQ(tripScheduleRelationshipName(choice.update->trip.schedule_relationship), "DELETED")
        << "beyond the gap in the wire's numbering";

    auto pointOf = [](const std::string& stopId) { return "P" + stopId.substr(1); };
    const GtfsTripSelection selection = selectTripStops(choice, {}, pointOf, alerts, {true}, kNow);
    std::string stops;
    for (const auto& s : selection.stops)
        stops += s ? s->pointId + " " + std::to_string(s->arrival) + " " + std::to_string(s->departure) + " " +
                         stopScheduleRelationshipName(s->scheduleRelationship) + "|"
                   : "-|";
    EXPECT_EQ(stops, "P2 0 0 SCHEDULED|P3 1767258600 0 SCHEDULED|-|");
    EXPECT_TRUE(selection.hasData);
    ASSERT_EQ(selection.alerts.size(), 1u) << "the agency-wide alert";
    EXPECT_EQ(selection.alerts[0].header_text, "Strike today");
    EXPECT_EQ(selection.alerts[0].cause, GTFS::UNKNOWN_CAUSE);
    EXPECT_EQ(selection.alerts[0].effect, GTFS::UNKNOWN_EFFECT);
}

// Separate feeds, each fetched: the trip named by the vehicle's position picks
// its update out of the trip-updates feed, although that update names no
// vehicle. A stop left out after a shown one keeps an empty place in each list.
TEST_F(GtfsRtFeed, SeparateFeedsFindTheTripOfTheVehiclesPosition) {
    rt::FeedMessage positions = newFeed();
    addVehicle(positions, "BUS-9", "T9");
    rt::FeedMessage trips = newFeed();
    addStop(addTrip(trips, "T8"), 1, "S1", kNow + 60);
    auto* ours = addTrip(trips, "T9");
    addStop(ours, 2, "S2", kNow + 120);
    addStop(ours, 0, "");
    server.reply("/vp", positions.SerializeAsString());
    server.reply("/tu", trips.SerializeAsString());
    server.reply("/al", newFeed().SerializeAsString());
    Json::Value params = separateFeeds(server);
    params["gtfs_rt_test_vehicle_id"] = "BUS-9";

    expectValues(run("", params), {{"gtfs_rt_has_connection", "1"}, {"gtfs_trip_id", "T9"},
                                   {"gtfs_rt_point_id_array", R"("P2",)"}, {"gtfs_rt_arrivals_array", "1767258120,"},
                                   {"gtfs_rt_departures_array", ","}, {"gtfs_rt_schedule_relationships_array",
                                                                       R"("SCHEDULED",)"}});
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
    auto runTrip = [&](const char* tripId) {
        rt::FeedMessage feed = newFeed();
        addVehicle(feed, "BUS-5", tripId)->set_current_stop_sequence(1);  // no current status: nothing is left out
        auto* update = addTrip(feed, tripId);
        addStop(update, 1, "S1")->mutable_arrival()->set_delay(120);
        addStop(update, 2, "");
        server.reply("/feed", feed.SerializeAsString());
        Json::Value params;
        params["gtfs_rt_test_vehicle_id"] = "BUS-5";
        return run(server.url("/feed"), params);
    };
    expectValues(runTrip("T5"), {{"gtfs_rt_point_id_array", R"("P1","P2")"},
                                 {"gtfs_rt_arrivals_array", "1767258420,1767258600"},
                                 {"gtfs_rt_departures_array", "1767258360,1767258660"}, {"gtfs_rt_has_data", "1"}});
    expectValues(runTrip("trip_id"), {{"gtfs_rt_point_id_array", R"("P1","")"}, {"gtfs_rt_arrivals_array", ","},
                                      {"gtfs_rt_has_data", "0"}});
}

TEST_F(GtfsRtFeed, StaticTimesPastMidnightBelongToTheRightServiceDay) {
    constexpr int64_t kSummerMidnightUtc = 1782864000;  // 2026-07-01, London on summer time
    // A time past 24:00 lies in the service day that began yesterday until noon.
    EXPECT_EQ(gtfsStaticTimeToPosix("25:10:00", kMidnight + 12 * 3600 - 1), kMidnight + 70 * 60);
    EXPECT_EQ(gtfsStaticTimeToPosix("25:10:00", kMidnight + 12 * 3600), kMidnight + 86400 + 70 * 60);
    EXPECT_EQ(gtfsStaticTimeToPosix("10:00:00", kSummerMidnightUtc + 8 * 3600), kSummerMidnightUtc + 9 * 3600);
    EXPECT_EQ(gtfsStaticTimeToPosix("9:30", kNow), kNow) << "not a time: now";
}

TEST_F(GtfsRtFeed, AlertsConcernTheTripWhenTimeAndEntitiesAgree) {
    GTFS_RT_FeedImpl feed("");
    GTFS::TripUpdate trip;
    trip.trip.trip_id = "T1";
    trip.trip.route_id = "R1";
    auto selector = [](const char* route, const char* tripId = "", const char* tripRoute = "") {
        GTFS::EntitySelector s;
        if (*route) s.route_id = route;
        if (*tripId) s.trip = GTFS::TripDescriptor{tripId, tripRoute, {}, "", "", 0};
        return s;
    };
    GTFS::EntitySelector atStop;
    atStop.stop_id = "S1";
    auto entitiesValid = [&](std::vector<GTFS::EntitySelector> entities) {
        return feed.getAlertEntityValidity(entities, trip, "a");
    };
    // Agency-only, stop-only and our-route selectors are in the feed stories.
    EXPECT_TRUE(entitiesValid({})) << "no informed entity";
    EXPECT_FALSE(entitiesValid({selector("R2")}));
    EXPECT_TRUE(entitiesValid({selector("", "T1")}));
    EXPECT_FALSE(entitiesValid({selector("", "T2")}));
    EXPECT_FALSE(entitiesValid({selector("", "T1", "R2")})) << "our trip on another route";
    EXPECT_TRUE(entitiesValid({atStop, selector("R1")})) << "a stop, then our route";

    // Around now and no period are in the feed stories.
    using Range = GTFS::TimeRange;
    constexpr uint64_t now = kNow;
    EXPECT_TRUE(feed.getAlertTimeValidity({Range{std::nullopt, now}}, "a")) << "ending now";
    EXPECT_FALSE(feed.getAlertTimeValidity({Range{std::nullopt, now - 1}}, "a")) << "ended";
    EXPECT_FALSE(feed.getAlertTimeValidity({Range{now + 1, std::nullopt}}, "a")) << "not yet begun";
    EXPECT_TRUE(feed.getAlertTimeValidity({Range{now - 100, now - 1}, Range{now - 5, std::nullopt}}, "a"))
        << "ended, then open-ended";

    GTFS::Alert alert;
    alert.header_text = {{"Closed", "en"}, {"Ar gau", "cy"}};
    alert.tts_header_text = GTFS::TranslatedString{{"Closed, say it", "en"}, {"a", ""}, {"b", ""}};
    auto translated = translateAlerts({alert, GTFS::Alert{}});
    ASSERT_EQ(translated.size(), 3u) << "the longest field decides; an alert without texts gives none";
    EXPECT_EQ(translated[2].header_text + "|" + translated[2].tts_header_text, "|b");
}

TEST_F(GtfsRtFeed, VehicleListIsWrittenWhenAskedOrWhenTheVehicleIsUnknown) {
    server.reply("/combined", readTestData("transit/gtfs_rt_combined.pb"));
    const std::string list = "id,label,license_plate,active,alerts\n"
                             "BUS-7,\"7, Depot A\",AB12 CDE,1,1\n"
                             "BUS-8,8,,0,0";
    SymbolPairs pairs;
    // The list one cycle leaves, "<none>" when it writes none.
    auto listAfter = [&](const Json::Value& flag, const char* vehicleId) -> std::string {
        std::filesystem::remove(root.path(kGtfsVehicleListPath));
        Json::Value params;
        if (!flag.isNull()) params["gtfs_rt_vehicle_list"] = flag;
        if (*vehicleId) params["gtfs_rt_test_vehicle_id"] = vehicleId;
        pairs = run(server.url("/combined"), params);
        const bool written = root.exists(kGtfsVehicleListPath);
        EXPECT_EQ(tmpFileCount(), written ? 1u : 0u) << "no temporary file stays behind";
        return written ? root.read(kGtfsVehicleListPath) : "<none>";
    };
    EXPECT_EQ(listAfter(1, "BUS-7"), list);
    EXPECT_EQ(listAfter(2, "BUS-7"), "<none>");
    listAfter(0, "BUS-0");
    EXPECT_EQ(valueOf(pairs, "gtfs_rt_has_connection"), "1") << "the feed answered, without this vehicle";
    EXPECT_EQ(listAfter(Json::Value(), ""), list) << "no vehicle id";
    EXPECT_EQ(pairs, (SymbolPairs{{"gtfs_rt_has_connection", "0"}, {"gtfs_rt_has_data", "0"}}));
}

TEST_F(GtfsRtFeed, HostileDownloadRunsNothingAndReportsNoConnection) {
    const std::string planted = root.path("/planted");
    const std::string attack = "'$(touch${IFS}" + planted + ")'";
    std::string junk(100000, '\x07');
    server.reply("/junk", junk);
    LogCapture log;
    Json::Value params;
    params["gtfs_rt_test_vehicle_id"] = "BUS-7";
    params["gtfs_rt_auth_key"] = "k" + attack;

    SymbolPairs pairs = run(server.url("/junk?q=") + attack, params);

    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].header("Authorization"), "k" + attack);
    EXPECT_EQ(pairs.back(), SymbolPair("gtfs_rt_has_connection", "0"));
    EXPECT_TRUE(log.contains("Could not parse response from curl - invalid: ")) << log.dump();
    for (const auto& line : log.lines()) EXPECT_LT(line.text.size(), 2000u) << "log flooded";
    EXPECT_FALSE(std::filesystem::exists(planted)) << "shell text in the URL and the key ran";
    EXPECT_EQ(tmpFileCount(), 0u);
}

// A download that fails tells nothing about the trip: the stops, alerts and
// vehicle list of the last good feed stay shown, and only the connection flag
// changes. A feed that came but no longer holds the vehicle clears them.
TEST_F(GtfsRtFeed, FailedDownloadsKeepTheLastTripAndVehicleList) {
    ScopedDownloadLimits limits;
    server.reply("/combined", readTestData("transit/gtfs_rt_combined.pb"));
    server.reply("/unavailable", "<html>Service unavailable</html>", 503);
    server.reply("/html", "<html>Log in to the hotspot</html>");
    server.reply("/huge", overCapText());
    server.reply("/empty", newFeed().SerializeAsString());
    Json::Value params;
    params["gtfs_rt_test_vehicle_id"] = "BUS-7";
    params["gtfs_rt_vehicle_list"] = 1;
    ASSERT_EQ(valueOf(run(server.url("/combined"), params), "gtfs_rt_point_id_array"), R"("P2","P3","P4")");
    const std::string list = root.read(kGtfsVehicleListPath);
    ASSERT_NE(list.find("BUS-8"), std::string::npos);

    const struct {
        const char* name;
        std::string url;
    } failures[] = {
        {"connection refused", refusedUrl("/combined")},
        {"HTTP error", server.url("/unavailable")},
        {"over the cap", server.url("/huge")},
        {"not a feed", server.url("/html")},
    };
    for (const auto& f : failures) {
        EXPECT_EQ(run(f.url, params), (SymbolPairs{{"gtfs_rt_vehicle_id", "BUS-7"}, {"gtfs_rt_has_connection", "0"}}))
            << f.name;
        EXPECT_EQ(root.read(kGtfsVehicleListPath), list) << f.name;
    }

    expectValues(run(server.url("/empty"), params),
                 {{"gtfs_rt_has_connection", "0"}, {"gtfs_rt_point_id_array", ""},
                  {"gtfs_rt_alerts_header_text_array", ""}, {"gtfs_rt_has_data", "0"}});
    EXPECT_EQ(root.read(kGtfsVehicleListPath), "id,label,license_plate,active,alerts");
}

// Separate feeds fail one at a time: each list is taken from its own download
// when that came, and only a list whose download failed is the last one of its
// kind (none before the first). Alerts never make a connection, nor move the
// time of the data.
TEST_F(GtfsRtFeed, SeparateFeedsThatFailGiveOnlyTheirOwnListFromBefore) {
    rt::FeedMessage positions = newFeed();
    addVehicle(positions, "BUS-9", "T9");
    addVehicle(positions, "BUS-4", "T4");
    rt::FeedMessage trips = newFeed();
    addStop(addTrip(trips, "T9"), 2, "S2", kNow + 120);
    addStop(addTrip(trips, "T4"), 3, "S3", kNow + 300);
    auto alertsSaying = [](const char* text) {
        rt::FeedMessage alerts = newFeed();
        auto* entity = alerts.add_entity();
        entity->set_id("agency");
        entity->mutable_alert()->add_informed_entity()->set_agency_id("LB");
        entity->mutable_alert()->mutable_header_text()->add_translation()->set_text(text);
        return alerts.SerializeAsString();
    };
    const std::string down = "<html>Service unavailable</html>";
    server.reply("/vp", positions.SerializeAsString());
    server.reply("/tu", trips.SerializeAsString());
    server.reply("/al", down, 503);
    Json::Value params = separateFeeds(server);
    params["gtfs_rt_test_vehicle_id"] = "BUS-9";
    params["gtfs_rt_vehicle_list"] = 1;
    GTFS_RT_FeedImpl feed("");
    configure(feed, params);
    const std::string listHeader = "id,label,license_plate,active,alerts\n";

    // The very first cycle, alerts down: everything else is fresh, no alert yet.
    EXPECT_EQ(cycle(feed, ""), (SymbolPairs{
        {"gtfs_rt_vehicle_id", "BUS-9"}, {"gtfs_rt_has_connection", "1"}, {"gtfs_trip_id", "T9"},
        {"gtfs_trip_schedule_relationship", "SCHEDULED"}, {"gtfs_rt_point_id_array", R"("P2")"},
        {"gtfs_rt_arrivals_array", "1767258120"}, {"gtfs_rt_departures_array", ""},
        {"gtfs_rt_schedule_relationships_array", R"("SCHEDULED")"}, {"gtfs_rt_alerts_cause_array", ""},
        {"gtfs_rt_alerts_cause_detail_array", ""}, {"gtfs_rt_alerts_effect_array", ""},
        {"gtfs_rt_alerts_effect_detail_array", ""}, {"gtfs_rt_alerts_linked_url_array", ""},
        {"gtfs_rt_alerts_header_text_array", ""}, {"gtfs_rt_alerts_description_text_array", ""},
        {"gtfs_rt_alerts_tts_header_text_array", ""}, {"gtfs_rt_alerts_tts_description_text_array", ""},
        {"gtfs_rt_alerts_severity_level_array", ""}, {"gtfs_rt_has_data", "1"},
    }));
    EXPECT_EQ(root.read(kGtfsVehicleListPath), listHeader + "BUS-9,,,1,0\nBUS-4,,,1,0");
    EXPECT_EQ(feed.usableDataAt(), kNow);

    server.reply("/al", alertsSaying("Strike today"));
    expectValues(cycle(feed, ""), {{"gtfs_rt_alerts_header_text_array", R"("Strike today")"}});
    EXPECT_EQ(root.read(kGtfsVehicleListPath), listHeader + "BUS-9,,,1,1\nBUS-4,,,1,1");

    // Alerts down again while the vehicle has moved on to another trip.
    setWallClock([] { return kNow + 20; });
    server.reply("/al", down, 503);
    addVehicle(positions, "BUS-5", "T5");
    positions.mutable_entity(0)->mutable_vehicle()->mutable_trip()->set_trip_id("T4");
    server.reply("/vp", positions.SerializeAsString());
    expectValues(cycle(feed, ""), {{"gtfs_rt_has_connection", "1"}, {"gtfs_trip_id", "T4"},
                                   {"gtfs_rt_point_id_array", R"("P3")"},
                                   {"gtfs_rt_alerts_header_text_array", R"("Strike today")"}});
    EXPECT_EQ(root.read(kGtfsVehicleListPath), listHeader + "BUS-9,,,1,1\nBUS-4,,,1,1\nBUS-5,,,0,1");
    EXPECT_EQ(feed.usableDataAt(), kNow + 20);

    // Only the alerts came: the trip is the last one, the alerts are new, and
    // there is no connection.
    setWallClock([] { return kNow + 40; });
    server.reply("/vp", down, 503);
    server.reply("/tu", down, 503);
    server.reply("/al", alertsSaying("Strike over"));
    expectValues(cycle(feed, ""), {{"gtfs_rt_has_connection", "0"}, {"gtfs_trip_id", "T4"},
                                   {"gtfs_rt_point_id_array", R"("P3")"},
                                   {"gtfs_rt_alerts_header_text_array", R"("Strike over")"}});
    EXPECT_EQ(feed.usableDataAt(), kNow + 20);
    const std::string list = root.read(kGtfsVehicleListPath);
    EXPECT_EQ(list, listHeader + "BUS-9,,,1,1\nBUS-4,,,1,1\nBUS-5,,,0,1");

    // Nothing came: nothing changes.
    server.reply("/al", down, 503);
    EXPECT_EQ(cycle(feed, ""), (SymbolPairs{{"gtfs_rt_vehicle_id", "BUS-9"}, {"gtfs_rt_has_connection", "0"}}));
    EXPECT_EQ(root.read(kGtfsVehicleListPath), list);
    EXPECT_EQ(feed.usableDataAt(), kNow + 20);
}
