#include <gtest/gtest.h>

#include "feeds/transit/avms.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_root.h"

namespace {

SymbolPairs takePairs(AVMS_FeedImpl& feed) {
    SymbolPairs pairs = feed.getExportPairs();
    feed.clearExportPairs();
    return pairs;
}

SymbolPairs cycle(AVMS_FeedImpl& feed) {
    feed.downloadData("");
    return takePairs(feed);
}

// The value of the one pair with this name; "<absent>" or "<repeated>" otherwise.
std::string valueOf(const SymbolPairs& pairs, const std::string& name) {
    std::string found = "<absent>";
    for (const auto& pair : pairs) {
        if (pair.first != name) continue;
        if (found != "<absent>") return "<repeated>";
        found = pair.second;
    }
    return found;
}

using Parser = bool (*)(const std::string&, SymbolPairs&, std::string&);

SymbolPairs parsed(Parser parser, const std::string& text) {
    SymbolPairs pairs;
    std::string errors;
    EXPECT_TRUE(parser(text, pairs, errors)) << errors << "\n" << text;
    return pairs;
}

}  // namespace

TEST(AvmsFeed, ThreeDeliveriesBecomeTheirSymbolsInOrder) {
    TempFileRoot root;
    root.write(kAvmsPlannedPatternPath, readTestData("transit/avms_planned_pattern.json"));
    root.write(kAvmsJourneyMonitoringPath, readTestData("transit/avms_journey_monitoring.json"));
    root.write(kAvmsVehicleMonitoringPath, readTestData("transit/avms_vehicle_monitoring.json"));
    AVMS_FeedImpl feed;

    SymbolPairs expected = {
        {"avms_ppd_recorded_at_time", "1771586820"},
        {"avms_ppd_pattern_ref", "PAT-42"},
        {"avms_ppd_vehicle_journey_ref", "VJ-1007"},
        {"avms_ppd_operating_day_date", "2026-02-20"},
        {"avms_ppd_route_ref", "17"},
        {"avms_ppd_line_ref", "L42"},
        {"avms_ppd_published_line_label", "42"},
        {"avms_ppd_published_tts_line_label", "forty two"},
        {"avms_ppd_line_short_name", "42"},
        {"avms_ppd_line_name", "Airport Express"},
        {"avms_ppd_long_line_name", "Airport Express via Old Town"},
        {"avms_ppd_direction_ref", "outbound"},
        {"avms_ppd_external_line_ref", "EXT42"},
        {"avms_ppd_origin_place_ref", "P-STN"},
        {"avms_ppd_origin_name", "Station"},
        {"avms_ppd_origin_short_name", "Stn"},
        {"avms_ppd_origin_long_name", "Central Station"},
        {"avms_ppd_origin_tts_name", "central station"},
        {"avms_ppd_via_place_ref", "\"P-OLD\",\"P-BRG\""},
        {"avms_ppd_destination_place_ref", "P-APT"},
        {"avms_ppd_destination_name", "Airport"},
        {"avms_ppd_destination_short_name", "Apt"},
        {"avms_ppd_destination_long_name", "Airport Terminal 2"},
        {"avms_ppd_destination_tts_name", "airport"},
        {"avms_ppd_stop_point_refs", "\"S1\",\"S2\""},
        {"avms_ppd_visit_numbers", "\"1\""},  // the second stop's number is a JSON number
        {"avms_ppd_stop_order", "\"1\",\"2\""},
        {"avms_ppd_stop_point_names", "\"Central Station\",\"Old 'Town'\""},
        {"avms_ppd_stop_point_short_names", "\"Central\",\"Old Town\""},
        {"avms_ppd_stop_point_long_names", "\"Central Station Stand A\",\"Old Town Square\""},
        {"avms_ppd_stop_point_tts_names", "\"central station\",\"old town\""},
        {"avms_ppd_destination_displays", "\"Airport\",\"Airport\""},
        {"avms_ppd_destination_short_displays", "\"Apt\",\"Apt\""},
        {"avms_ppd_destination_long_displays", "\"Airport Terminal 2\",\"Airport Terminal 2\""},
        {"avms_ppd_destination_tts_contents", "\"airport\",\"airport\""},
        {"avms_ppd_arrival_boarding_activities", "\"noAlighting\",\"alighting\""},
        {"avms_ppd_departure_boarding_activities", "\"boarding\",\"boarding\""},
        {"avms_ppd_planned_arrival_times", "\"1771587000\",\"1771587600\""},
        {"avms_ppd_expected_arrival_times", "\"1771587060\",\"1771587750\""},

        {"avms_jmd_recorded_at_time", "1771586820"},
        {"avms_jmd_item_identifier", "JM-9"},
        {"avms_jmd_pattern_ref", "PAT-42"},
        {"avms_jmd_journey_ref", "VJ-1007"},
        {"avms_jmd_vehicle_journey_name", "1007"},
        {"avms_jmd_journey_note", "Express"},
        {"avms_jmd_headway_service", "0"},
        {"avms_jmd_origin_planned_departure_time", "1771587000"},
        {"avms_jmd_destination_planned_arrival_time", "1771589100"},
        {"avms_jmd_in_congestion", "1"},
        {"avms_jmd_in_panic", "0"},
        {"avms_jmd_progress_rate", "normalProgress"},
        {"avms_jmd_occupancy", "seatsAvailable"},
        {"avms_jmd_delay", "PT2M"},
        {"avms_jmd_progress_status", "onTime"},
        {"avms_jmd_product_category_ref", "EXP"},
        {"avms_jmd_service_feature_ref", "wifi"},
        {"avms_jmd_vehicle_feature_ref", "lowFloor"},
        {"avms_jmd_pc_stop_point_refs", "\"S1\""},
        {"avms_jmd_pc_visit_numbers", "\"1\""},
        {"avms_jmd_pc_order", "\"1\""},
        {"avms_jmd_pc_actual_arrival_times", "\"1771587060\""},
        {"avms_jmd_pc_actual_departure_times", "\"1771587120\""},
        {"avms_jmd_mc_stop_point_ref", "S2"},
        {"avms_jmd_mc_visit_number", "1"},
        {"avms_jmd_mc_order", "2"},
        {"avms_jmd_mc_vehicle_at_stop", "false"},
        {"avms_jmd_mc_planned_arrival_time", "1771587600"},
        {"avms_jmd_mc_expected_arrival_time", "1771587750"},
        {"avms_jmd_mc_planned_departure_time", "1771587660"},
        {"avms_jmd_mc_expected_departure_time", "1771587780"},
        {"avms_jmd_oc_stop_point_refs", "\"S3\",\"S4\""},
        {"avms_jmd_oc_visit_numbers", "\"1\",\"1\""},
        {"avms_jmd_oc_order", "\"3\",\"4\""},
        {"avms_jmd_oc_planned_arrival_times", "\"1771588200\",\"1771589100\""},
        {"avms_jmd_oc_expected_arrival_times", "\"1771588320\",\"1771589220\""},
        {"avms_jmd_oc_planned_departure_times", "\"1771588260\""},
        {"avms_jmd_oc_expected_departure_times", "\"1771588380\""},

        {"avms_vmd_recorded_at_time", "1771586820"},
        {"avms_vmd_item_identifier", "VM-3"},
        {"avms_vmd_journey_pattern_ref", "PAT-42"},
        {"avms_vmd_vehicle_journey_ref", "VJ-1007"},
        {"avms_vmd_pc_stop_point_ref", "S1"},
        {"avms_vmd_pc_visit_number", "1"},
        {"avms_vmd_pc_order", "1"},
        {"avms_vmd_mc_stop_point_ref", "S2"},
        {"avms_vmd_mc_visit_number", "1"},
        {"avms_vmd_mc_order", "2"},
        {"avms_vmd_mc_vehicle_at_stop", "false"},
        {"avms_vmd_link_distance", "850"},
        {"avms_vmd_percentage", "40.5"},
        {"avms_vmd_vehicle_activity_notes", "\"Doors close early\",\"Wheelchair ramp in use\""},

        {"avms_has_data", "1"},
    };
    EXPECT_EQ(cycle(feed), expected);
}

TEST(AvmsFeed, UnchangedFilesExportOnlyTheFlag) {
    TempFileRoot root;
    AVMS_FeedImpl feed;
    EXPECT_EQ(cycle(feed), (SymbolPairs{{"avms_has_data", "0"}})) << "no files yet";

    root.write(kAvmsVehicleMonitoringPath, R"({"ItemIdentifier":"VM-1"})");
    EXPECT_EQ(cycle(feed), (SymbolPairs{{"avms_vmd_item_identifier", "VM-1"}, {"avms_has_data", "1"}}));

    LogCapture log;
    EXPECT_EQ(cycle(feed), (SymbolPairs{{"avms_has_data", "1"}})) << "same content again";
    EXPECT_TRUE(log.contains("AVMS_FeedImpl::updateVehicleMonitoringDelivery: no change to feed", 1)) << log.dump();
    EXPECT_TRUE(log.contains("AVMS_FeedImpl::updatePlannedPatternDelivery: no change to feed", 1)) << log.dump();

    root.write(kAvmsVehicleMonitoringPath, R"({"ItemIdentifier":"VM-2"})");
    EXPECT_EQ(cycle(feed), (SymbolPairs{{"avms_vmd_item_identifier", "VM-2"}, {"avms_has_data", "1"}}));
}

TEST(AvmsFeed, BrokenFileIsReportedOnceAndTheFlagStaysSet) {
    TempFileRoot root;
    AVMS_FeedImpl feed;
    {
        LogCapture log;
        root.write(kAvmsJourneyMonitoringPath, R"({"ItemIdentifier": "JM-1", )");
        EXPECT_EQ(cycle(feed), (SymbolPairs{{"avms_has_data", "0"}})) << "broken before any good delivery";
        EXPECT_TRUE(log.contains("AVMS_FeedImpl::updateJourneyMonitoringDelivery:  parsing failed: ", 8))
            << log.dump();
    }
    {
        LogCapture log;
        EXPECT_EQ(cycle(feed), (SymbolPairs{{"avms_has_data", "0"}}));
        EXPECT_FALSE(log.contains("parsing failed")) << "the same broken text is not parsed again";
    }
    root.write(kAvmsJourneyMonitoringPath, R"({"ItemIdentifier": "JM-1"})");
    EXPECT_EQ(cycle(feed), (SymbolPairs{{"avms_jmd_item_identifier", "JM-1"}, {"avms_has_data", "1"}}));

    LogCapture log;
    std::remove(root.path(kAvmsJourneyMonitoringPath).c_str());
    EXPECT_EQ(cycle(feed), (SymbolPairs{{"avms_has_data", "1"}})) << "a file that disappears";
    EXPECT_TRUE(log.contains("updateJourneyMonitoringDelivery:  parsing failed", 8)) << log.dump();
    EXPECT_EQ(cycle(feed), (SymbolPairs{{"avms_has_data", "1"}})) << "and stays away";
}

TEST(AvmsParse, SingleObjectsAndArraysReadAlike) {
    SymbolPairs one = parsed(AVMS_FeedImpl::parseJourneyMonitoring, R"({"OnwardCalls": {"OnwardCall":
        {"StopPointRef": "S9", "VisitNumber": "1", "Order": "9", "PlannedArrivalTime": "2026-02-20T12:50:00+01:00"}}})");
    EXPECT_EQ(valueOf(one, "avms_jmd_oc_stop_point_refs"), "\"S9\"");
    EXPECT_EQ(valueOf(one, "avms_jmd_oc_planned_arrival_times"), "\"1771588200\"");
    EXPECT_EQ(valueOf(one, "avms_jmd_oc_expected_departure_times"), "") << "present container, field never given";
    EXPECT_EQ(valueOf(one, "avms_jmd_pc_stop_point_refs"), "<absent>") << "absent container exports nothing";

    SymbolPairs bare = parsed(AVMS_FeedImpl::parseJourneyMonitoring,
                              R"({"PreviousCalls": [{"StopPointRef": "A"}, {"StopPointRef": "B"}]})");
    EXPECT_EQ(valueOf(bare, "avms_jmd_pc_stop_point_refs"), "\"A\",\"B\"") << "array without the element key";

    SymbolPairs firstLacks = parsed(AVMS_FeedImpl::parsePlannedPattern,
        R"({"PatternStops": {"PatternStop": [{"StopPointRef": "S1"}, {"StopPointRef": "S2", "VisitNumber": "2"}]}})");
    EXPECT_EQ(valueOf(firstLacks, "avms_ppd_visit_numbers"), "\"2\"") << "no leading comma for a missing first field";
}

TEST(AvmsParse, KindsTestTheirMemberTypes) {
    struct Case {
        const char* name;
        Parser parser;
        const char* json;
        const char* symbol;
        const char* expected;
    };
    const Case cases[] = {
        {"time with numeric offset", AVMS_FeedImpl::parseJourneyMonitoring,
         R"({"RecordedAtTime": "2026-02-20T04:27:00-07:00"})", "avms_jmd_recorded_at_time", "1771586820"},
        {"time in UTC written Z", AVMS_FeedImpl::parseJourneyMonitoring,
         R"({"RecordedAtTime": "2026-02-20T11:27:00Z"})", "avms_jmd_recorded_at_time", "1771586820"},
        {"time with fractional seconds", AVMS_FeedImpl::parseJourneyMonitoring,
         R"({"RecordedAtTime": "2026-02-20T16:57:00.125+05:30"})", "avms_jmd_recorded_at_time", "1771586820"},
        {"time without any zone", AVMS_FeedImpl::parseJourneyMonitoring,
         R"({"RecordedAtTime": "2026-02-20T11:27:00"})", "avms_jmd_recorded_at_time", "0"},
        {"time that is no date", AVMS_FeedImpl::parseJourneyMonitoring, R"({"RecordedAtTime": "soon"})",
         "avms_jmd_recorded_at_time", "0"},
        {"time given as a number", AVMS_FeedImpl::parseJourneyMonitoring, R"({"RecordedAtTime": 1771586820})",
         "avms_jmd_recorded_at_time", "0"},
        {"flag given as a string", AVMS_FeedImpl::parseJourneyMonitoring, R"({"HeadwayService": "true"})",
         "avms_jmd_headway_service", "<absent>"},
        {"flag true", AVMS_FeedImpl::parseJourneyMonitoring, R"({"InPanic": true})", "avms_jmd_in_panic", "1"},
        {"text-if-string given a number", AVMS_FeedImpl::parseJourneyMonitoring, R"({"Occupancy": 3})",
         "avms_jmd_occupancy", "<absent>"},
        {"text given a number", AVMS_FeedImpl::parseJourneyMonitoring, R"({"Delay": 120})", "avms_jmd_delay", "120"},
        {"text given a fraction", AVMS_FeedImpl::parseJourneyMonitoring, R"({"Delay": 0.1})", "avms_jmd_delay",
         "0.1"},
        {"text given a boolean", AVMS_FeedImpl::parseJourneyMonitoring, R"({"Delay": true})", "avms_jmd_delay",
         "true"},
        {"text given an object", AVMS_FeedImpl::parsePlannedPattern, R"({"OriginName": {"en": "Station"}})",
         "avms_ppd_origin_name", "<absent>"},
        {"text given null", AVMS_FeedImpl::parsePlannedPattern, R"({"OriginName": null})", "avms_ppd_origin_name",
         "<absent>"},
        {"monitored call that is no object", AVMS_FeedImpl::parseJourneyMonitoring, R"({"MonitoredCall": "S2"})",
         "avms_jmd_mc_stop_point_ref", "<absent>"},
        {"notes as an array", AVMS_FeedImpl::parseVehicleMonitoring,
         R"({"VehicleActivityNote": ["a", 2, {"x": 1}, "say \"hi\""]})", "avms_vmd_vehicle_activity_notes",
         "\"a\",\"2\",\"say 'hi'\""},
        {"one note as an object", AVMS_FeedImpl::parseVehicleMonitoring, R"({"VehicleActivityNote": {"x": "a"}})",
         "avms_vmd_vehicle_activity_notes", "<absent>"},
        {"progress path cut short", AVMS_FeedImpl::parseVehicleMonitoring,
         R"({"ProgressBetweenStops": {"PreviousCallRef": "S1"}})", "avms_vmd_pc_stop_point_ref", "<absent>"},
        {"root without outer keys", AVMS_FeedImpl::parseVehicleMonitoring, R"({"ItemIdentifier": "VM"})",
         "avms_vmd_item_identifier", "VM"},
        {"only the inner key", AVMS_FeedImpl::parseVehicleMonitoring, R"({"VehicleActivity": {"ItemIdentifier": "V"}})",
         "avms_vmd_item_identifier", "V"},
        {"root that is an array", AVMS_FeedImpl::parseVehicleMonitoring, R"([{"ItemIdentifier": "VM"}])",
         "avms_vmd_item_identifier", "<absent>"},
        {"comments allowed", AVMS_FeedImpl::parseVehicleMonitoring, "// note\n{\"ItemIdentifier\": \"C\"}",
         "avms_vmd_item_identifier", "C"},
    };
    for (const Case& c : cases) {
        SymbolPairs pairs = parsed(c.parser, c.json);
        EXPECT_EQ(valueOf(pairs, c.symbol), c.expected) << c.name;
    }
}

TEST(AvmsParse, TextThatIsNotJsonGivesTheReadersMessages) {
    const std::string broken[] = {"", "{", "{\"a\": }", "[1, 2", std::string(5000, '[')};
    for (const std::string& text : broken) {
        SymbolPairs pairs;
        std::string errors;
        EXPECT_FALSE(AVMS_FeedImpl::parseJourneyMonitoring(text, pairs, errors)) << text;
        EXPECT_FALSE(errors.empty()) << text;
        EXPECT_TRUE(pairs.empty()) << text;
    }
}
