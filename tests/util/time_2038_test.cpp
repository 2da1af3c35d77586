// Times after 2038 through the time routines and every parser that reads
// times. On a 32-bit C library they need a 64-bit time_t; these tests fail on
// a build without one.
#include <gtest/gtest.h>

#include <regex>

#include "feeds/opendata/open_data_tfl_feed.h"
#include "feeds/rail_siri/siri_sm_feed.h"
#include "feeds/rail_siri/siri_sm_tt_feed.h"
#include "feeds/transit/avms_feed.h"
#include "feeds/transit/gtfs_rt_feed.h"
#include "gtfs_realtime.pb.h"
#include "tests/support/feed_test.h"
#include "tests/support/temp_root.h"
#include "util/time_convert.h"

namespace {

constexpr int kYears = 16;
// Any 16 years from one date to the same date, this century, hold four leap days.
constexpr int64_t kLater = (kYears * 365 + 4) * int64_t{86400};

// The text with each match of pattern replaced by replace(match).
template <typename Replace>
std::string replaceEach(const std::string& text, const std::regex& pattern, Replace replace) {
    std::string out;
    auto tail = text.cbegin();
    for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it) {
        out.append(tail, (*it)[0].first);
        out += replace(*it);
        tail = (*it)[0].second;
    }
    return out.append(tail, text.cend());
}

// The text with every date "YYYY-MM-DD" 16 years later.
std::string later(const std::string& text) {
    static const std::regex date("\\b(20[0-9][0-9])(-[0-9][0-9]-[0-9][0-9])");
    return replaceEach(text, date,
                       [](const std::smatch& m) { return std::to_string(std::stoi(m[1]) + kYears) + m[2].str(); });
}

// What the pairs of a document must become when its dates are 16 years later:
// dates as in later(), every POSIX time (ten digits, 2001 to 2033) kLater
// seconds on, everything else the same. times counts the times moved.
SymbolPairs laterPairs(const SymbolPairs& pairs, int& times) {
    static const std::regex posix("\\b1[0-9]{9}\\b");
    SymbolPairs out;
    for (const auto& [name, value] : pairs)
        out.emplace_back(name, replaceEach(later(value), posix, [&](const std::smatch& m) {
                             ++times;
                             return std::to_string(std::stoll(m.str()) + kLater);
                         }));
    return out;
}

using Parse = SymbolPairs (*)(const std::string& document);

SymbolPairs siriDepartures(const std::string& document) {
    TempFileRoot root;
    root.write(kSiriSmOfflinePath, document);
    return cycle(*configuredFeed<SIRI_SM_FeedImpl>("{}", "http://unused.example/siri"));
}

SymbolPairs siriTerminus(const std::string& document) {
    TempFileRoot root;
    root.write(kSiriSmTtOfflinePath, document);
    Json::Value params(Json::objectValue);
    params["siri_sm_test_vehicle_id"] = "1234";
    params["siri_sm_vehicle_id_prefix"] = "FBRI-";
    return cycle(*configuredFeed<SIRI_SM_TT_FeedImpl>(params, "http://unused.example/siri"));
}

template <bool (*parser)(const std::string&, SymbolPairs&, std::string&, size_t)>
SymbolPairs avms(const std::string& document) {
    SymbolPairs pairs;
    std::string errors;
    parser(document, pairs, errors, kDefaultJsonValueBudget);
    return pairs;
}

SymbolPairs tflArrivals(const std::string& document) {
    SymbolPairs pairs;
    for (const auto& record : OpenDataTFL_FeedImpl::parsePredictions(document, false, 6).arrivals.arrivals)
        pairs.emplace_back(record.stopName, record.scheduledArrivalTime + " " + record.expectedArrivalTime);
    return pairs;
}

}  // namespace

TEST(Time2038, RoutinesReadAndWriteTimesPastThe32BitEnd) {
    ZoneScope gmt("GMT");
    // 2038-01-19 03:14:08 UTC is 2^31 seconds, the first a 32-bit time_t cannot hold.
    EXPECT_EQ(convert_iso8601_local_to_posix("2038-01-19T03:14:08+00:00"), int64_t{1} << 31);
    EXPECT_EQ(convert_iso8601_local_to_posix("2040-06-04T10:00:00+01:00"), 2222413200);
    EXPECT_EQ(convert_iso8601_local_to_posix("2040-06-04T04:00:00-05:00"), 2222413200);
    EXPECT_EQ(convert_ymdhms_local_to_posix("2040-06-04 10:00:00", 3600), 2222413200);
    EXPECT_EQ(convert_posix_to_ymdhms_local(2222413200, 3600), "2040-06-04 10:00:00");
    EXPECT_EQ(formatPosixTimeUtc(2222413200), "04/06/40 09:00:00");

    const struct {
        const char* zone;
        int32_t summer, winter;  // 2040-06-04 and 2040-01-15
    } zones[] = {
        {":/usr/share/zoneinfo/Europe/London", 3600, 0},
        {":/usr/share/zoneinfo/Europe/Sarajevo", 7200, 3600},
        {":/usr/share/zoneinfo/America/Buenos_Aires", -10800, -10800},
        {":/usr/share/zoneinfo/Australia/LHI", 37800, 39600},
    };
    for (const auto& z : zones) {
        ZoneScope scope(z.zone);
        EXPECT_EQ(get_tz_offset_from_utc(2222413200), z.summer) << z.zone;
        EXPECT_EQ(get_tz_offset_from_utc(2210229000), z.winter) << z.zone;
    }
}

// Each parser on a document and on the same document 16 years later: the same
// pairs, with every time 16 years on. The process zone is one with summer
// time, so that a time read through the local zone would show.
TEST(Time2038, EveryParserMovesItsTimesWithTheDocumentsDates) {
    ZoneScope london(":/usr/share/zoneinfo/Europe/London");
    const struct {
        const char* fixture;
        Parse parse;
    } cases[] = {
        {"rail_siri/siri_sm_ticketer_1_3.xml", siriDepartures},
        {"rail_siri/siri_sm_r2p_2_0.xml", siriDepartures},
        {"rail_siri/siri_sm_vix_prefixed.xml", siriDepartures},
        {"rail_siri/siri_sm_tt_ticketer.xml", siriTerminus},
        {"transit/avms_planned_pattern.json", avms<AVMS_FeedImpl::parsePlannedPattern>},
        {"transit/avms_journey_monitoring.json", avms<AVMS_FeedImpl::parseJourneyMonitoring>},
        {"transit/avms_vehicle_monitoring.json", avms<AVMS_FeedImpl::parseVehicleMonitoring>},
        {"opendata/tfl_arrivals.json", tflArrivals},
    };
    for (const auto& c : cases) {
        const std::string document = readTestData(c.fixture);
        int times = 0;
        const SymbolPairs expected = laterPairs(c.parse(document), times);
        EXPECT_GT(times, 0) << c.fixture << ": the document's times are not exported";
        EXPECT_EQ(c.parse(later(document)), expected) << c.fixture;
    }
}

// GTFS-Realtime carries 64-bit times; the static timetable's are read on the
// local date of the current time.
TEST(Time2038, GtfsTimesStayWholeAndStaticTimesFallOnTheDay) {
    const int64_t arrival = 2222413200;    // 2040-06-04 09:00 UTC
    const uint64_t alertEnd = 4102444800;  // 2100-01-01
    transit_realtime::FeedMessage feed;
    feed.mutable_header()->set_gtfs_realtime_version("2.0");
    auto* entity = feed.add_entity();
    entity->set_id("t");
    auto* update = entity->mutable_trip_update();
    update->mutable_trip()->set_trip_id("T1");
    update->mutable_vehicle()->set_id("V1");
    update->set_timestamp(arrival - 60);
    auto* stop = update->add_stop_time_update();
    stop->set_stop_sequence(1);
    stop->mutable_arrival()->set_time(arrival);
    auto* alert = feed.add_entity();
    alert->set_id("a");
    alert->mutable_alert()->add_active_period()->set_end(alertEnd);
    alert->mutable_alert()->mutable_header_text()->add_translation()->set_text("Works");
    const std::string bytes = feed.SerializeAsString();

    GTFS::GTFS_RT_Parser reader(bytes, "V1", false);
    ASSERT_TRUE(reader.isValidData());
    const auto updates = reader.getTripUpdates("T1");
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(updates[0].timestamp, std::optional<uint64_t>(arrival - 60));
    ASSERT_EQ(updates[0].stop_time_updates.size(), 1u);
    EXPECT_EQ(updates[0].stop_time_updates[0].arrival->time, std::optional<int64_t>(arrival));
    const auto alerts = reader.getAlerts();
    ASSERT_EQ(alerts.size(), 1u);
    ASSERT_EQ(alerts[0].active_periods.size(), 1u);
    EXPECT_EQ(alerts[0].active_periods[0].end, std::optional<uint64_t>(alertEnd));

    ZoneScope london(":/usr/share/zoneinfo/Europe/London");
    const struct {
        const char* text;
        int64_t now;
        int64_t expected;
    } cases[] = {
        {"08:15:00", 2222402400, 2222406900},  // at 07:00 BST, 08:15 BST that day
        {"25:10:00", 2222402400, 2222381400},  // in the morning, 25:10 of the service day begun yesterday: 01:10
        {"12:57:00", 2210229000, 2210245020},  // at 08:30 GMT in winter, 12:57 GMT
    };
    for (const auto& c : cases) EXPECT_EQ(gtfsStaticTimeToPosix(c.text, c.now), c.expected) << c.text;
}
