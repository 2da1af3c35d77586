// The AVMS feed: three delivery files to their exported pairs, change
// detection, and how each kind of member is type-tested.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "feeds/transit/avms_feed.h"
#include "tests/support/feed_test.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_root.h"

namespace {

using Parser = bool (*)(const std::string&, SymbolPairs&, std::string&, size_t);

// The pairs with prefix put before each name.
SymbolPairs prefixed(const std::string& prefix, SymbolPairs pairs) {
    for (auto& pair : pairs) pair.first = prefix + pair.first;
    return pairs;
}

}  // namespace

TEST(AvmsFeed, ThreeDeliveriesBecomeTheirSymbolsInOrder) {
    TempFileRoot root;
    root.write(kAvmsPlannedPatternPath, readTestData("transit/avms_planned_pattern.json"));
    root.write(kAvmsJourneyMonitoringPath, readTestData("transit/avms_journey_monitoring.json"));
    root.write(kAvmsVehicleMonitoringPath, readTestData("transit/avms_vehicle_monitoring.json"));
    SymbolPairs ppd = prefixed("avms_ppd_", {
        {"recorded_at_time", "1771586820"}, {"pattern_ref", "PAT-42"}, {"vehicle_journey_ref", "VJ-1007"},
        {"operating_day_date", "2026-02-20"}, {"route_ref", "17"}, {"line_ref", "L42"},
        {"published_line_label", "42"}, {"published_tts_line_label", "forty two"}, {"line_short_name", "42"},
        {"line_name", "Airport Express"}, {"long_line_name", "Airport Express via Old Town"},
        {"direction_ref", "outbound"}, {"external_line_ref", "EXT42"}, {"origin_place_ref", "P-STN"},
        {"origin_name", "Station"}, {"origin_short_name", "Stn"}, {"origin_long_name", "Central Station"},
        {"origin_tts_name", "central station"}, {"via_place_ref", R"("P-OLD","P-BRG")"},
        {"destination_place_ref", "P-APT"}, {"destination_name", "Airport"}, {"destination_short_name", "Apt"},
        {"destination_long_name", "Airport Terminal 2"}, {"destination_tts_name", "airport"},
        {"stop_point_refs", R"("S1","S2")"}, {"visit_numbers", R"("1",)"} /* the second is a JSON number */, {"stop_order", R"("1","2")"},
        {"stop_point_names", R"("Central Station","Old 'Town'")"},
        {"stop_point_short_names", R"("Central","Old Town")"},
        {"stop_point_long_names", R"("Central Station Stand A","Old Town Square")"},
        {"stop_point_tts_names", R"("central station","old town")"},
        {"destination_displays", R"("Airport","Airport")"}, {"destination_short_displays", R"("Apt","Apt")"},
        {"destination_long_displays", R"("Airport Terminal 2","Airport Terminal 2")"},
        {"destination_tts_contents", R"("airport","airport")"},
        {"arrival_boarding_activities", R"("noAlighting","alighting")"},
        {"departure_boarding_activities", R"("boarding","boarding")"},
        {"planned_arrival_times", R"("1771587000","1771587600")"},
        {"expected_arrival_times", R"("1771587060","1771587750")"},
    });
    SymbolPairs jmd = prefixed("avms_jmd_", {
        {"recorded_at_time", "1771586820"}, {"item_identifier", "JM-9"}, {"pattern_ref", "PAT-42"},
        {"journey_ref", "VJ-1007"}, {"vehicle_journey_name", "1007"}, {"journey_note", "Express"},
        {"headway_service", "0"}, {"origin_planned_departure_time", "1771587000"},
        {"destination_planned_arrival_time", "1771589100"}, {"in_congestion", "1"}, {"in_panic", "0"},
        {"progress_rate", "normalProgress"}, {"occupancy", "seatsAvailable"}, {"delay", "PT2M"},
        {"progress_status", "onTime"}, {"product_category_ref", "EXP"}, {"service_feature_ref", "wifi"},
        {"vehicle_feature_ref", "lowFloor"}, {"pc_stop_point_refs", R"("S1")"}, {"pc_visit_numbers", R"("1")"},
        {"pc_order", R"("1")"}, {"pc_actual_arrival_times", R"("1771587060")"},
        {"pc_actual_departure_times", R"("1771587120")"}, {"mc_stop_point_ref", "S2"}, {"mc_visit_number", "1"},
        {"mc_order", "2"}, {"mc_vehicle_at_stop", "false"}, {"mc_planned_arrival_time", "1771587600"},
        {"mc_expected_arrival_time", "1771587750"}, {"mc_planned_departure_time", "1771587660"},
        {"mc_expected_departure_time", "1771587780"}, {"oc_stop_point_refs", R"("S3","S4")"},
        {"oc_visit_numbers", R"("1","1")"}, {"oc_order", R"("3","4")"},
        {"oc_planned_arrival_times", R"("1771588200","1771589100")"},
        {"oc_expected_arrival_times", R"("1771588320","1771589220")"},
        {"oc_planned_departure_times", R"("1771588260",)"}, {"oc_expected_departure_times", R"("1771588380",)"},
    });
    SymbolPairs vmd = prefixed("avms_vmd_", {
        {"recorded_at_time", "1771586820"}, {"item_identifier", "VM-3"}, {"journey_pattern_ref", "PAT-42"},
        {"vehicle_journey_ref", "VJ-1007"}, {"pc_stop_point_ref", "S1"}, {"pc_visit_number", "1"}, {"pc_order", "1"},
        {"mc_stop_point_ref", "S2"}, {"mc_visit_number", "1"}, {"mc_order", "2"}, {"mc_vehicle_at_stop", "false"},
        {"link_distance", "850"}, {"percentage", "40.5"},
        {"vehicle_activity_notes", R"("Doors close early","Wheelchair ramp in use")"},
    });
    SymbolPairs expected = ppd;
    expected.insert(expected.end(), jmd.begin(), jmd.end());
    expected.insert(expected.end(), vmd.begin(), vmd.end());
    expected.push_back({"avms_has_data", "1"});
    AVMS_FeedImpl feed;
    EXPECT_EQ(cycle(feed), expected);
}

// A delivery is parsed only when its file's text changes; a broken text is
// reported once, and the flag stays set once any delivery was good.
TEST(AvmsFeed, OnlyChangedFilesExportTheirSymbols) {
    TempFileRoot root;
    AVMS_FeedImpl feed;
    const SymbolPairs noData = {{"avms_has_data", "0"}}, flagOnly = {{"avms_has_data", "1"}};
    EXPECT_EQ(cycle(feed), noData) << "no files yet";
    {
        LogCapture log;
        root.write(kAvmsJourneyMonitoringPath, R"({"ItemIdentifier": "JM-1", )");
        EXPECT_EQ(cycle(feed), noData) << "broken before any good delivery";
        EXPECT_EQ(cycle(feed), noData);
        auto failures = std::count_if(log.lines().begin(), log.lines().end(), [](const LogLine& line) {
            return line.text.find("updateJourneyMonitoringDelivery:  parsing failed") != std::string::npos;
        });
        EXPECT_EQ(failures, 1) << "the same broken text is not parsed again\n" << log.dump();
    }
    root.write(kAvmsJourneyMonitoringPath, R"({"ItemIdentifier": "JM-1"})");
    root.write(kAvmsVehicleMonitoringPath, R"({"ItemIdentifier":"VM-1"})");
    EXPECT_EQ(cycle(feed), (SymbolPairs{{"avms_jmd_item_identifier", "JM-1"}, {"avms_vmd_item_identifier", "VM-1"},
                                        {"avms_has_data", "1"}}));
    EXPECT_EQ(cycle(feed), flagOnly) << "same content again";
    root.write(kAvmsVehicleMonitoringPath, R"({"ItemIdentifier":"VM-2"})");
    EXPECT_EQ(cycle(feed), (SymbolPairs{{"avms_vmd_item_identifier", "VM-2"}, {"avms_has_data", "1"}}));
    std::remove(root.path(kAvmsJourneyMonitoringPath).c_str());
    EXPECT_EQ(cycle(feed), flagOnly) << "a file that disappears";
    {
        LogCapture log;
        ASSERT_EQ(mkfifo(root.path(kAvmsPlannedPatternPath).c_str(), 0600), 0);
        EXPECT_EQ(cycle(feed), flagOnly) << "a FIFO left under a delivery's name is not waited on";
        EXPECT_TRUE(log.contains("::updatePlannedPatternDelivery: ignored ", 8)) << log.dump();
    }
}

TEST(AvmsParse, MembersAndListsAreTypeTested) {
    const Parser jm = AVMS_FeedImpl::parseJourneyMonitoring, pp = AVMS_FeedImpl::parsePlannedPattern,
                 vm = AVMS_FeedImpl::parseVehicleMonitoring;
    const char* oneCall = R"({"OnwardCalls": {"OnwardCall":
        {"StopPointRef": "S9", "VisitNumber": "1", "Order": "9", "PlannedArrivalTime": "2026-02-20T12:50:00+01:00"}}})";
    // Each call lacks another field; every array keeps one place per call.
    const char* gappedCalls = R"({"OnwardCalls": {"OnwardCall": [
        {"VisitNumber": "1", "ExpectedDepartureTime": "2026-02-20T12:53:00+01:00"},
        {"VisitNumber": 2, "ExpectedArrivalTime": "2026-02-20T13:07:00+01:00"},
        {"VisitNumber": "3", "ExpectedArrivalTime": "2026-02-20T13:20:00+01:00",
         "ExpectedDepartureTime": "2026-02-20T13:21:00+01:00"}]}})";
    struct Case {
        const char* name;
        Parser parser;
        const char* json;
        const char* symbol;
        const char* expected;
    } cases[] = {
        {"single call as an object", jm, oneCall, "avms_jmd_oc_stop_point_refs", R"("S9")"},
        {"present list, field never given", jm, oneCall, "avms_jmd_oc_expected_departure_times", ""},
        {"absent list exports nothing", jm, oneCall, "avms_jmd_pc_stop_point_refs", "<absent>"},
        {"array without the element key", jm, R"({"PreviousCalls": [{"StopPointRef": "A"}, {"StopPointRef": "B"}]})",
         "avms_jmd_pc_stop_point_refs", R"("A","B")"},
        {"first call missing its field", jm, gappedCalls, "avms_jmd_oc_expected_arrival_times",
         R"(,"1771589220","1771590000")"},
        {"middle call missing its field", jm, gappedCalls, "avms_jmd_oc_expected_departure_times",
         R"("1771588380",,"1771590060")"},
        {"middle call failing the type test", jm, gappedCalls, "avms_jmd_oc_visit_numbers", R"("1",,"3")"},
        {"no call has the field", jm, gappedCalls, "avms_jmd_oc_planned_arrival_times", ""},
        {"time without any zone", jm, R"({"RecordedAtTime": "2026-02-20T11:27:00"})", "avms_jmd_recorded_at_time", "0"},
        {"flag given as a string", jm, R"({"HeadwayService": "true"})", "avms_jmd_headway_service", "<absent>"},
        {"text given an object", pp, R"({"OriginName": {"en": "Station"}})", "avms_ppd_origin_name", "<absent>"},
        {"monitored call that is no object", jm, R"({"MonitoredCall": "S2"})", "avms_jmd_mc_stop_point_ref", "<absent>"},
        {"notes as an array", vm, R"({"VehicleActivityNote": ["a", 2, {"x": 1}, "say \"hi\""]})",
         "avms_vmd_vehicle_activity_notes", R"("a","2","say 'hi'")"},
        {"one note as an object", vm, R"({"VehicleActivityNote": {"x": "a"}})", "avms_vmd_vehicle_activity_notes",
         "<absent>"},
        {"progress path cut short", vm, R"({"ProgressBetweenStops": {"PreviousCallRef": "S1"}})",
         "avms_vmd_pc_stop_point_ref", "<absent>"},
        {"only the inner key", vm, R"({"VehicleActivity": {"ItemIdentifier": "V"}})", "avms_vmd_item_identifier", "V"},
        {"root that is an array", vm, R"([{"ItemIdentifier": "VM"}])", "avms_vmd_item_identifier", "<absent>"},
    };
    for (const Case& c : cases) {
        SymbolPairs pairs;
        std::string errors;
        EXPECT_TRUE(c.parser(c.json, pairs, errors, kDefaultJsonValueBudget)) << c.name << ": " << errors;
        EXPECT_EQ(valueOf(pairs, c.symbol), c.expected) << c.name;
    }
    SymbolPairs pairs;
    std::string errors;
    EXPECT_FALSE(jm(std::string(5000, '['), pairs, errors, kDefaultJsonValueBudget));
    EXPECT_FALSE(errors.empty()) << "deep nesting is refused, not recursed into";
    EXPECT_TRUE(pairs.empty());
}
