// The GTFS-Realtime decoder against the generated classes, and its rejections.
#include "feeds/transit/gtfs_rt_parser.h"

#include <gtest/gtest.h>

#include "gtfs_realtime.pb.h"
#include "tests/support/temp_root.h"

namespace rt = transit_realtime;

namespace {
template <typename T>
std::optional<T> present(bool has, T value) {
    return has ? std::optional<T>(value) : std::nullopt;
}
}  // namespace

// Every field the feed reads matches the generated classes' view of the same
// bytes (the standard's own decoding), entity by entity.
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
            const auto& id = in.vehicle();
            const auto& decoded = out.vehicle;
            EXPECT_EQ(out.trip.trip_id + "|" + decoded.id + "|" + decoded.label + "|" + decoded.license_plate,
                      in.trip().trip_id() + "|" + id.id() + "|" + id.label() + "|" + id.license_plate());
            EXPECT_EQ(out.current_stop_sequence, present(in.has_current_stop_sequence(), in.current_stop_sequence()));
            EXPECT_EQ(out.current_status, present<int>(in.has_current_status(), in.current_status()));
        } else if (entity.has_trip_update()) {
            const auto& in = entity.trip_update();
            const auto& out = trips.at(t++);
            EXPECT_EQ(out.trip.trip_id + "|" + out.trip.route_id, in.trip().trip_id() + "|" + in.trip().route_id());
            ASSERT_EQ(out.stop_time_updates.size(), static_cast<size_t>(in.stop_time_update_size()));
            for (int i = 0; i < in.stop_time_update_size(); ++i) {
                const auto& s = in.stop_time_update(i);
                const auto& o = out.stop_time_updates[static_cast<size_t>(i)];
                EXPECT_EQ(o.stop_sequence, present(s.has_stop_sequence(), s.stop_sequence()));
                EXPECT_EQ(o.stop_id, present(s.has_stop_id(), s.stop_id()));
                EXPECT_EQ(o.schedule_relationship, static_cast<int>(s.schedule_relationship()));
                ASSERT_EQ(o.arrival.has_value(), s.has_arrival());
                if (o.arrival) {
                    EXPECT_EQ(o.arrival->delay, present(s.arrival().has_delay(), s.arrival().delay()));
                }
            }
        } else if (entity.has_alert()) {
            const auto& in = entity.alert();
            const auto& out = alerts.at(a++);
            ASSERT_EQ(out.header_text.size(), static_cast<size_t>(in.header_text().translation_size()));
            for (int i = 0; i < in.header_text().translation_size(); ++i) {
                const auto& text = in.header_text().translation(i);
                const auto& decoded = out.header_text[static_cast<size_t>(i)];
                EXPECT_EQ(decoded.language, present(text.has_language(), text.language()));
            }
            // Enumerations are counted from 0 by the decoder, from 1 on the wire.
            EXPECT_EQ(out.cause, present<int>(in.has_cause(), in.cause() - 1));
            EXPECT_EQ(out.severity_level, present<int>(in.has_severity_level(), in.severity_level() - 1));
        }
    }
}
