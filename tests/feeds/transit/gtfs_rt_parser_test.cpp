// The GTFS-Realtime decoder against the generated classes, and its rejections.
#include "feeds/transit/gtfs_rt_parser.h"

#include <gtest/gtest.h>

#include "feeds/transit/gtfs_rt_feed.h"
#include "gtfs_realtime.pb.h"
#include "tests/support/temp_root.h"

namespace rt = transit_realtime;

namespace {
template <typename T>
std::optional<T> present(bool has, T value) {
    return has ? std::optional<T>(value) : std::nullopt;
}
}  // namespace

// Every field the decoder hands over matches the generated classes' view of
// the same bytes (the standard's own decoding), entity by entity.
TEST(GtfsRtParser, DecodesAgencyFeedLikeTheGeneratedClasses) {
    const std::string bytes = readTestData("transit/gtfs_rt_combined.pb");
    rt::FeedMessage reference;
    ASSERT_TRUE(reference.ParseFromString(bytes));
    GTFS::GTFS_RT_Parser parser(bytes);
    ASSERT_TRUE(parser.isValidData());

    auto vehicles = parser.getVehiclePositions();
    auto trips = parser.getTripUpdates();
    auto alerts = parser.getAlerts();
    size_t v = 0, t = 0, a = 0;
    for (const auto& entity : reference.entity()) {
        SCOPED_TRACE("entity " + entity.id());
        if (entity.has_vehicle()) {
            ASSERT_LT(v, vehicles.size());
            const auto& in = entity.vehicle();
            const auto& out = vehicles[v++];
            EXPECT_EQ(out.entity_id, entity.id());
            EXPECT_EQ(out.trip.trip_id, in.trip().trip_id());
            EXPECT_EQ(out.trip.route_id, in.trip().route_id());
            EXPECT_EQ(out.vehicle.id, in.vehicle().id());
            EXPECT_EQ(out.vehicle.label, in.vehicle().label());
            EXPECT_EQ(out.vehicle.license_plate, in.vehicle().license_plate());
            EXPECT_EQ(out.current_stop_sequence, present(in.has_current_stop_sequence(), in.current_stop_sequence()));
            EXPECT_EQ(out.current_status, present<int>(in.has_current_status(), in.current_status()));
            EXPECT_EQ(out.timestamp, present(in.has_timestamp(), in.timestamp()));
            EXPECT_EQ(out.position.has_value(), in.has_position());
            if (out.position) {
                EXPECT_EQ(out.position->latitude, in.position().latitude());
            }
        }
        if (entity.has_trip_update()) {
            ASSERT_LT(t, trips.size());
            const auto& in = entity.trip_update();
            const auto& out = trips[t++];
            EXPECT_EQ(out.trip.trip_id, in.trip().trip_id());
            EXPECT_EQ(out.trip.route_id, in.trip().route_id());
            EXPECT_EQ(out.vehicle.has_value(), in.has_vehicle());
            EXPECT_EQ(out.delay, present(in.has_delay(), in.delay()));
            ASSERT_EQ(out.stop_time_updates.size(), static_cast<size_t>(in.stop_time_update_size()));
            for (int i = 0; i < in.stop_time_update_size(); ++i) {
                const auto& s = in.stop_time_update(i);
                const auto& o = out.stop_time_updates[static_cast<size_t>(i)];
                EXPECT_EQ(o.stop_sequence, present(s.has_stop_sequence(), s.stop_sequence()));
                EXPECT_EQ(o.stop_id, present(s.has_stop_id(), s.stop_id()));
                EXPECT_EQ(o.schedule_relationship, static_cast<int>(s.schedule_relationship()));
                EXPECT_EQ(o.arrival.has_value(), s.has_arrival());
                if (o.arrival) {
                    EXPECT_EQ(o.arrival->time, present(s.arrival().has_time(), s.arrival().time()));
                    EXPECT_EQ(o.arrival->delay, present(s.arrival().has_delay(), s.arrival().delay()));
                    EXPECT_EQ(o.arrival->uncertainty, present(s.arrival().has_uncertainty(), s.arrival().uncertainty()));
                }
                EXPECT_EQ(o.departure.has_value(), s.has_departure());
            }
        }
        if (entity.has_alert()) {
            ASSERT_LT(a, alerts.size());
            const auto& in = entity.alert();
            const auto& out = alerts[a++];
            EXPECT_EQ(out.id, entity.id());
            ASSERT_EQ(out.active_periods.size(), static_cast<size_t>(in.active_period_size()));
            ASSERT_EQ(out.informed_entities.size(), static_cast<size_t>(in.informed_entity_size()));
            ASSERT_EQ(out.header_text.size(), static_cast<size_t>(in.header_text().translation_size()));
            for (int i = 0; i < in.header_text().translation_size(); ++i) {
                EXPECT_EQ(out.header_text[static_cast<size_t>(i)].text, in.header_text().translation(i).text());
                EXPECT_EQ(out.header_text[static_cast<size_t>(i)].language,
                          present(in.header_text().translation(i).has_language(),
                                  in.header_text().translation(i).language()));
            }
            EXPECT_EQ(out.url.has_value(), in.has_url());
            EXPECT_EQ(out.cause_detail.has_value(), in.has_cause_detail());
            // Enumerations are counted from 0 by the decoder, from 1 on the wire.
            EXPECT_EQ(out.cause, present<int>(in.has_cause(), in.cause() - 1));
            EXPECT_EQ(out.effect, present<int>(in.has_effect(), in.effect() - 1));
            EXPECT_EQ(out.severity_level, present<int>(in.has_severity_level(), in.severity_level() - 1));
        }
    }
    EXPECT_EQ(v, vehicles.size());
    EXPECT_EQ(t, trips.size());
    EXPECT_EQ(a, alerts.size());
    EXPECT_EQ(alerts[0].cause, GTFS::CONSTRUCTION);
    EXPECT_EQ(alerts[0].effect, GTFS::DETOUR);
    EXPECT_EQ(alerts[0].severity_level, GTFS::WARNING);
    EXPECT_EQ(trips[1].trip.schedule_relationship, GTFS::TRIP_DUPLICATED);
}

TEST(GtfsRtParser, RejectsBytesThatAreNotACompleteFeed) {
    const std::string fixture = readTestData("transit/gtfs_rt_combined.pb");
    rt::FeedMessage headerless;
    headerless.add_entity()->set_id("e1");
    rt::FeedMessage textless;
    textless.mutable_header()->set_gtfs_realtime_version("2.0");
    textless.add_entity()->set_id("a");
    textless.mutable_entity(0)->mutable_alert()->mutable_header_text()->add_translation()->set_language("en");
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty download", ""},
        {"an HTML error page", "<html><body>502 Bad Gateway</body></html>"},
        {"a truncated feed", fixture.substr(0, fixture.size() / 2)},
        {"a feed without its header", headerless.SerializePartialAsString()},
        {"a translation without its text", textless.SerializePartialAsString()},
    };
    for (const auto& c : cases) {
        GTFS::GTFS_RT_Parser parser(c.bytes);
        EXPECT_FALSE(parser.isValidData()) << c.name;
        EXPECT_TRUE(parser.getVehiclePositions().empty()) << c.name;
        EXPECT_TRUE(parser.getTripUpdates().empty()) << c.name;
        EXPECT_TRUE(parser.getAlerts().empty()) << c.name;
    }
}

TEST(GtfsRtParser, NamesEveryScheduleRelationshipOfTheWire) {
    struct Case {
        rt::TripDescriptor::ScheduleRelationship wire;
        const char* name;
    } trips[] = {
        {rt::TripDescriptor::SCHEDULED, "SCHEDULED"}, {rt::TripDescriptor::ADDED, "ADDED"},
        {rt::TripDescriptor::UNSCHEDULED, "UNSCHEDULED"}, {rt::TripDescriptor::CANCELED, "CANCELED"},
        {rt::TripDescriptor::DUPLICATED, "DUPLICATED"}, {rt::TripDescriptor::DELETED, "DELETED"},
        {rt::TripDescriptor::REPLACEMENT, "UNKNOWN"}, {rt::TripDescriptor::NEW, "UNKNOWN"},
    };
    for (const auto& c : trips) {
        rt::FeedMessage feed;
        feed.mutable_header()->set_gtfs_realtime_version("2.0");
        auto* update = feed.add_entity()->mutable_trip_update();
        feed.mutable_entity(0)->set_id("t");
        update->mutable_trip()->set_schedule_relationship(c.wire);
        auto* stop = update->add_stop_time_update();
        stop->set_schedule_relationship(rt::TripUpdate::StopTimeUpdate::SKIPPED);
        GTFS::GTFS_RT_Parser parser(feed.SerializeAsString());
        auto decoded = parser.getTripUpdates();
        ASSERT_EQ(decoded.size(), 1u) << c.name;
        EXPECT_EQ(tripScheduleRelationshipName(decoded[0].trip.schedule_relationship), c.name) << "wire " << c.wire;
        EXPECT_EQ(stopScheduleRelationshipName(decoded[0].stop_time_updates[0].schedule_relationship), "SKIPPED");
    }
    EXPECT_EQ(stopScheduleRelationshipName(GTFS::STOP_NO_DATA), "NO_DATA");
    EXPECT_EQ(stopScheduleRelationshipName(GTFS::STOP_UNSCHEDULED), "UNSCHEDULED");
    EXPECT_EQ(stopScheduleRelationshipName(9), "UNKNOWN");
}
