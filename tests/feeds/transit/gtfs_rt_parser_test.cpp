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
    ASSERT_EQ(vehicles.size() + trips.size() + alerts.size(), static_cast<size_t>(reference.entity_size()));
    size_t v = 0, t = 0, a = 0;
    for (const auto& entity : reference.entity()) {
        SCOPED_TRACE("entity " + entity.id());
        if (entity.has_vehicle()) {
            const auto& in = entity.vehicle();
            const auto& out = vehicles.at(v++);
            EXPECT_EQ(out.entity_id, entity.id());
            EXPECT_EQ(out.trip.trip_id + "|" + out.trip.route_id, in.trip().trip_id() + "|" + in.trip().route_id());
            EXPECT_EQ(out.vehicle.id + "|" + out.vehicle.label + "|" + out.vehicle.license_plate,
                      in.vehicle().id() + "|" + in.vehicle().label() + "|" + in.vehicle().license_plate());
            EXPECT_EQ(out.current_stop_sequence, present(in.has_current_stop_sequence(), in.current_stop_sequence()));
            EXPECT_EQ(out.current_status, present<int>(in.has_current_status(), in.current_status()));
            EXPECT_EQ(out.timestamp, present(in.has_timestamp(), in.timestamp()));
            EXPECT_EQ(out.position ? std::optional<float>(out.position->latitude) : std::nullopt,
                      present(in.has_position(), in.position().latitude()));
        } else if (entity.has_trip_update()) {
            const auto& in = entity.trip_update();
            const auto& out = trips.at(t++);
            EXPECT_EQ(out.trip.trip_id + "|" + out.trip.route_id, in.trip().trip_id() + "|" + in.trip().route_id());
            EXPECT_EQ(out.vehicle.has_value(), in.has_vehicle());
            EXPECT_EQ(out.delay, present(in.has_delay(), in.delay()));
            ASSERT_EQ(out.stop_time_updates.size(), static_cast<size_t>(in.stop_time_update_size()));
            for (int i = 0; i < in.stop_time_update_size(); ++i) {
                const auto& s = in.stop_time_update(i);
                const auto& o = out.stop_time_updates[static_cast<size_t>(i)];
                EXPECT_EQ(o.stop_sequence, present(s.has_stop_sequence(), s.stop_sequence()));
                EXPECT_EQ(o.stop_id, present(s.has_stop_id(), s.stop_id()));
                EXPECT_EQ(o.schedule_relationship, static_cast<int>(s.schedule_relationship()));
                EXPECT_EQ(o.departure.has_value(), s.has_departure());
                ASSERT_EQ(o.arrival.has_value(), s.has_arrival());
                if (!o.arrival) continue;
                EXPECT_EQ(o.arrival->time, present(s.arrival().has_time(), s.arrival().time()));
                EXPECT_EQ(o.arrival->delay, present(s.arrival().has_delay(), s.arrival().delay()));
                EXPECT_EQ(o.arrival->uncertainty, present(s.arrival().has_uncertainty(), s.arrival().uncertainty()));
            }
        } else if (entity.has_alert()) {
            const auto& in = entity.alert();
            const auto& out = alerts.at(a++);
            EXPECT_EQ(out.id, entity.id());
            EXPECT_EQ(out.active_periods.size(), static_cast<size_t>(in.active_period_size()));
            EXPECT_EQ(out.informed_entities.size(), static_cast<size_t>(in.informed_entity_size()));
            ASSERT_EQ(out.header_text.size(), static_cast<size_t>(in.header_text().translation_size()));
            for (int i = 0; i < in.header_text().translation_size(); ++i) {
                const auto& text = in.header_text().translation(i);
                EXPECT_EQ(out.header_text[static_cast<size_t>(i)].text, text.text());
                EXPECT_EQ(out.header_text[static_cast<size_t>(i)].language, present(text.has_language(), text.language()));
            }
            EXPECT_EQ(out.url.has_value(), in.has_url());
            EXPECT_EQ(out.cause_detail.has_value(), in.has_cause_detail());
            // Enumerations are counted from 0 by the decoder, from 1 on the wire.
            EXPECT_EQ(out.cause, present<int>(in.has_cause(), in.cause() - 1));
            EXPECT_EQ(out.effect, present<int>(in.has_effect(), in.effect() - 1));
            EXPECT_EQ(out.severity_level, present<int>(in.has_severity_level(), in.severity_level() - 1));
        }
    }
    EXPECT_EQ(alerts[0].cause, GTFS::CONSTRUCTION);
    EXPECT_EQ(alerts[0].effect, GTFS::DETOUR);
    EXPECT_EQ(alerts[0].severity_level, GTFS::WARNING);
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
        EXPECT_TRUE(parser.getVehiclePositions().empty() && parser.getTripUpdates().empty() &&
                    parser.getAlerts().empty()) << c.name;
    }
}

// The wire numbers trip relationships with a gap; the names follow the decoder's count.
TEST(GtfsRtParser, NamesEveryScheduleRelationshipOfTheWire) {
    using Trip = rt::TripDescriptor;
    using Stop = rt::TripUpdate::StopTimeUpdate;
    struct Case {
        Trip::ScheduleRelationship wire;
        const char* name;
    } cases[] = {{Trip::SCHEDULED, "SCHEDULED"}, {Trip::ADDED, "ADDED"},         {Trip::UNSCHEDULED, "UNSCHEDULED"},
                 {Trip::CANCELED, "CANCELED"},   {Trip::DUPLICATED, "DUPLICATED"}, {Trip::DELETED, "DELETED"},
                 {Trip::REPLACEMENT, "UNKNOWN"}, {Trip::NEW, "UNKNOWN"}};
    rt::FeedMessage feed;
    feed.mutable_header()->set_gtfs_realtime_version("2.0");
    for (const auto& c : cases) {
        auto* entity = feed.add_entity();
        entity->set_id(c.name);
        entity->mutable_trip_update()->mutable_trip()->set_schedule_relationship(c.wire);
    }
    auto* first = feed.mutable_entity(0)->mutable_trip_update();
    for (auto stop : {Stop::SCHEDULED, Stop::SKIPPED, Stop::NO_DATA, Stop::UNSCHEDULED})
        first->add_stop_time_update()->set_schedule_relationship(stop);
    auto decoded = GTFS::GTFS_RT_Parser(feed.SerializeAsString()).getTripUpdates();
    ASSERT_EQ(decoded.size(), std::size(cases));
    for (size_t i = 0; i < decoded.size(); ++i)
        EXPECT_EQ(tripScheduleRelationshipName(decoded[i].trip.schedule_relationship), cases[i].name)
            << "wire " << cases[i].wire;
    std::string stops;
    for (const auto& stop : decoded[0].stop_time_updates) stops += stopScheduleRelationshipName(stop.schedule_relationship) + " ";
    EXPECT_EQ(stops, "SCHEDULED SKIPPED NO_DATA UNSCHEDULED ");
    EXPECT_EQ(stopScheduleRelationshipName(9), "UNKNOWN");
}
