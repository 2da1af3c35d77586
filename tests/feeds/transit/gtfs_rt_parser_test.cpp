// The one-pass GTFS-Realtime parser against the reference decoder: the same
// decision and the same records on feeds built with the generated classes and
// on hand-made wire bytes at every edge of the format.
#include "feeds/transit/gtfs_rt_parser.h"

#include <gtest/gtest.h>

#include <atomic>

#include "gtfs_realtime.pb.h"
#include "tests/feeds/transit/gtfs_rt_outcome.h"
#include "tests/support/temp_root.h"

namespace rt = transit_realtime;

namespace {

// Wire-format pieces.
std::string varint(uint64_t value) {
    std::string out;
    do {
        const uint8_t low = value & 0x7f;
        value >>= 7;
        out += static_cast<char>(value ? low | 0x80 : low);
    } while (value);
    return out;
}
std::string tag(uint32_t field, int wireType) { return varint(uint64_t{field} << 3 | wireType); }
std::string num(uint32_t field, uint64_t value) { return tag(field, 0) + varint(value); }
std::string len(uint32_t field, const std::string& body) { return tag(field, 2) + varint(body.size()) + body; }
std::string group(uint32_t field, const std::string& body) { return tag(field, 3) + body + tag(field, 4); }
std::string fixed32(uint32_t field) { return tag(field, 5) + std::string(4, '\x01'); }
std::string nestedGroups(int depth) { return depth == 0 ? "" : group(7, nestedGroups(depth - 1)); }

const std::string kHeader = len(1, len(1, "2.0"));
std::string feedOf(const std::string& entities) { return kHeader + entities; }
std::string entity(const std::string& id, const std::string& body) { return len(2, len(1, id) + body); }
std::string position(const std::string& vehicleId, const std::string& tripId, const std::string& more = "") {
    return len(4, len(1, len(1, tripId)) + len(8, len(1, vehicleId)) + more);
}
std::string text(uint32_t field, const std::string& words) { return len(field, len(1, len(1, words))); }

// Unknown fields of every wire type, extensions among them, and a length
// and a varint in their longest encodings.
const std::string kUnknowns = num(99, 5) + tag(98, 1) + std::string(8, 'x') + len(97, "opaque") +
                              group(96, num(1, 1) + group(2, len(3, "in"))) + fixed32(95) + num(1000, 1) +
                              len(9000, "extension") + group(1500, fixed32(1)) + tag(94, 2) +
                              "\x83\x80\x80\x80" + '\0' + "abc" + tag(93, 0) + "\x81" + std::string(8, '\x80') + '\0';

rt::FeedMessage newFeed() {
    rt::FeedMessage feed;
    feed.mutable_header()->set_gtfs_realtime_version("2.0");
    return feed;
}

// Trip updates first, then positions: the parser learns the vehicle's trip last.
std::string fleet(int vehicles) {
    rt::FeedMessage feed = newFeed();
    for (int i = 0; i < vehicles; ++i) {
        auto* update = feed.add_entity();
        update->set_id("t" + std::to_string(i));
        update->mutable_trip_update()->mutable_trip()->set_trip_id("T" + std::to_string(i));
        update->mutable_trip_update()->mutable_trip()->set_route_id("R" + std::to_string(i % 3));
        for (int s = 1; s <= 3; ++s) {
            auto* stop = update->mutable_trip_update()->add_stop_time_update();
            stop->set_stop_sequence(static_cast<uint32_t>(s));
            stop->mutable_arrival()->set_time(1767258000 + s * 60);
        }
    }
    for (int i = 0; i < vehicles; ++i) {
        auto* vehicle = feed.add_entity();
        vehicle->set_id("v" + std::to_string(i));
        vehicle->mutable_vehicle()->mutable_vehicle()->set_id("V" + std::to_string(i));
        vehicle->mutable_vehicle()->mutable_trip()->set_trip_id("T" + std::to_string(i));
        vehicle->mutable_vehicle()->set_current_stop_sequence(2);
    }
    auto* alert = feed.add_entity();
    alert->set_id("a");
    alert->mutable_alert()->add_informed_entity()->set_route_id("R1");
    alert->mutable_alert()->mutable_header_text()->add_translation()->set_text("Diversion");
    return feed.SerializeAsString();
}

struct Case {
    const char* name;
    std::string bytes;
    bool accepted;
    std::string vehicleId = "V1";
};

}  // namespace

TEST(GtfsRtParser, DecidesAndReadsLikeTheReferenceDecoder) {
    const std::string agency = readTestData("transit/gtfs_rt_combined.pb");
    // Each singular message given in parts: the header's version, the
    // position's coordinates, the trip update's trip, vehicle and stops, the
    // alert's texts.
    const std::string merged =
        len(1, num(3, 1767258000)) + kHeader +
        entity("e", len(4, len(2, fixed32(1))) + position("V1", "T1", len(2, fixed32(2))) +
                        len(3, len(1, len(1, "T1") + num(4, 5))) + len(3, len(2, num(1, 1)) + len(3, len(2, "V1"))) +
                        len(3, len(1, len(5, "R1") + num(4, 4)) + len(2, num(1, 2) + len(2, num(2, 9)))) +
                        len(3, len(3, len(1, "V9"))) + len(5, text(8, "a") + num(6, 3)) +
                        len(5, text(8, "b") + text(10, "header")));
    constexpr uint64_t k2To32 = uint64_t{1} << 32;
    const std::string enums =
        entity("v", position("V1", "T1", num(4, k2To32 + 1) + num(4, 7) + num(3, k2To32 + 70007))) +
        entity("t", len(3, len(1, len(1, "T1") + num(4, 5) + num(4, 4)) +
                               len(2, num(5, 9) + len(2, num(1, k2To32 - 5) + num(2, ~uint64_t{0}))))) +
        entity("a", len(5, num(6, 0) + num(7, 13) + num(14, ~uint64_t{0}) + num(6, 12) + text(10, "x")));
    const std::string wideTag = "\x8a\x80\x80\x80\x10";  // field 1, wire type 2, with a bit above 32 that is lost
    const std::string tooLongVarint = std::string(10, '\xff') + '\x01';

    const Case cases[] = {
        {"agency feed", agency, true, "BUS-7"},
        {"agency feed, a vehicle not in it", agency, true, "BUS-0"},
        {"trip updates before positions", fleet(5), true, "V3"},
        {"singular messages given twice are merged", feedOf(merged), true},
        {"unknown fields and extensions everywhere",
         kHeader + kUnknowns +
             entity("e", kUnknowns + position("V1", "T1", kUnknowns + len(2, fixed32(1) + fixed32(2) + kUnknowns)) +
                             len(3, len(1, len(1, "T1") + kUnknowns) + len(2, kUnknowns + len(2, kUnknowns))) +
                             len(5, kUnknowns + len(1, kUnknowns) + len(10, len(1, len(1, "h") + kUnknowns)))),
         true},
        {"enumeration values outside the schema, integers cut to 32 bits", feedOf(enums), true},
        {"a known field with another wire type is unknown", feedOf(entity("e", num(3, 1) + position("V1", "T1"))),
         true},
        {"a tag's bits beyond 32 are lost", wideTag + varint(5) + len(1, "2.0"), true},
        {"groups nested to the depth limit", kHeader + nestedGroups(100), true},
        {"messages and groups nested to the depth limit", feedOf(entity("e", position("V1", "T1", nestedGroups(98)))),
         true},

        {"empty", "", false},
        {"no header", entity("e", position("V1", "T1")), false},
        {"header without version", len(1, num(3, 1)) + entity("e", position("V1", "T1")), false},
        {"entity without id", kHeader + len(2, position("V1", "T1")), false},
        {"trip update without trip", feedOf(entity("e", len(3, len(2, num(1, 1))) + len(3, num(4, 1)))), false},
        {"position with one coordinate", feedOf(entity("e", position("V1", "T1", len(2, fixed32(1))))), false},
        {"translation without text", feedOf(entity("a", len(5, len(10, len(1, len(2, "en")))))), false},
        {"image without media type", feedOf(entity("a", len(5, len(15, len(1, len(1, "u")))))), false},
        {"half the agency feed", agency.substr(0, agency.size() / 2), false},
        {"end-group tag outside a group", kHeader + tag(5, 4), false},
        {"tag 0", feedOf(entity("e", position("V1", "T1") + '\0')), false},
        {"field number 0", kHeader + tag(0, 2) + varint(0), false},
        {"wire type 6", kHeader + tag(5, 6) + varint(1), false},
        {"wire type 7", kHeader + tag(5, 7) + varint(1), false},
        {"group closed by another field's end tag", kHeader + tag(7, 3) + tag(8, 4), false},
        {"group never closed", kHeader + tag(7, 3) + num(1, 1), false},
        {"groups nested past the depth limit", kHeader + nestedGroups(101), false},
        {"messages and groups nested past the depth limit",
         feedOf(entity("e", position("V1", "T1", nestedGroups(99)))), false},
        {"varint of 11 bytes", kHeader + tag(5, 0) + tooLongVarint, false},
        {"tag of 6 bytes", kHeader + "\x80\x80\x80\x80\x80\x01", false},
        {"length past the end", kHeader + tag(5, 2) + varint(10) + "short", false},
        {"message past its parent's end", kHeader + len(2, len(1, "e") + tag(4, 2) + varint(5) + "ab") + "cde", false},
    };
    for (const auto& c : cases) {
        for (bool allVehicles : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (allVehicles ? ", every vehicle" : ", one vehicle"));
            const std::string reference = gtfs_rt_outcome::ofReference(c.bytes, c.vehicleId, allVehicles);
            EXPECT_EQ(reference != "refused\n", c.accepted) << "the case itself is wrong";
            EXPECT_EQ(gtfs_rt_outcome::ofParser(c.bytes, c.vehicleId, allVehicles), reference);
        }
    }
}

// Shutdown stops a long reading, and what was read of the feed is not taken for one.
TEST(GtfsRtParser, StopsReadingWhenShutdownAsks) {
    const std::string bytes = fleet(600);  // 1,200 entities
    std::atomic<bool> stop{false};
    EXPECT_TRUE(GTFS::GTFS_RT_Parser(bytes, "V7", true, &stop).isValidData());
    stop = true;
    GTFS::GTFS_RT_Parser stopped(bytes, "V7", true, &stop);
    EXPECT_TRUE(stopped.stopped());
    EXPECT_FALSE(stopped.isValidData());
    EXPECT_EQ(stopped.vehiclePositionCount() + stopped.getVehiclePositions().size(), 0u);
}
