// The on-board service feed: documents from the service (real curl against the
// stub server) or the test file, to their exported pairs.
#include <gtest/gtest.h>

#include <filesystem>

#include "feeds/transit/transit_cloud_feed.h"
#include "tests/support/feed_test.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

namespace {

// One update cycle of a feed configured as the module does it.
SymbolPairs run(const std::string& url, const Json::Value& params = Json::objectValue) {
    TransitCloud_Onboard_FeedImpl feed(url);
    configure(feed, params);
    return cycle(feed, "-s --max-time 5");
}

// A JSON document padded with blanks to exactly size bytes.
std::string documentOfSize(size_t size) {
    std::string doc = R"({"OM": {"Heading": "padded"}})";
    return doc + std::string(size - doc.size(), ' ');
}

SymbolPairs withFlags(SymbolPairs pairs, const char* connection, const char* data) {
    pairs.push_back({"tco_has_connection", connection});
    pairs.push_back({"tco_has_data", data});
    return pairs;
}

// The pairs of tests/data/transit/tco_document.json.
const SymbolPairs kFixturePairs = {
    {"tco_ld_mode", R"("bus","tram")"}, {"tco_ld_line", R"("42","T1")"},
    {"tco_ld_dest", R"("Airport","Old 'Town'")"}, {"tco_ld_dir", R"("outbound",)"},
    {"tco_ld_stop", R"("Stand B","Platform 1")"}, {"tco_ld_times", R"(""10:30","10:45"",)"}, {"tco_ld_count", "2"},
    {"tco_ld_status_code", "200"}, {"tco_ld_heading", "Live departures"}, {"tco_ld_display", "true"},
    {"tco_ld_message", ""}, {"tco_ld_destination_name", "Harbour"}, {"tco_has_train_destinations", "1"},
    {"tco_td_mode", R"("rail")"}, {"tco_td_line", R"("RE")"}, {"tco_td_dest", R"("Capital")"},
    {"tco_td_dir", R"("north")"}, {"tco_td_stop", R"("Platform 3")"}, {"tco_td_times", R"(""10:52"")"},
    {"tco_td_count", "1"}, {"tco_td_status_code", "200"}, {"tco_td_heading", "Trains"}, {"tco_td_display", "false"},
    {"tco_td_message", "Delays"}, {"tco_td_destination_name", "Harbour"},
    {"tco_om_headings", R"("Welcome","Works")"}, {"tco_om_details", R"("Free wifi on board","Diversion after 20:00")"},
    {"tco_om_count", "2"}, {"tco_om_status_code", "200"}, {"tco_om_heading", "Messages"}, {"tco_om_display", "true"},
    {"tco_om_message", ""}, {"tco_om_destination_name", "Harbour"}, {"tco_has_following_stops", "1"},
    {"tco_fs_name", R"("Market","Museum","Harbour")"}, {"tco_fs_time", R"("10:48","10:52","10:58")"},
    {"tco_fs_requested", R"("1","0","0")"}, {"tco_fs_note", R"("","Step-free",)"}, {"tco_fs_eta", "10:58"},
    {"tco_fs_eta_minutes", "12"}, {"tco_fs_count", "3"}, {"tco_fs_status_code", "200"},
    {"tco_fs_heading", "Next stops"}, {"tco_fs_display", "true"}, {"tco_fs_message", ""},
    {"tco_fs_destination_name", "Harbour"},
};

}  // namespace

// A test file longer than 188 bytes stands in for the service; otherwise the
// service is asked for this vehicle. Either document replaces the saved copy whole.
TEST(TransitCloudFeed, DocumentFromServiceOrTestFileIsParsedAndSaved) {
    const std::string fixture = readTestData("transit/tco_document.json");
    struct Case {
        const char* name;
        size_t testFileSize;  // 0: no test file
        bool serviceAsked;
    } cases[] = {{"no test file", 0, true}, {"188-byte test file", 188, true}, {"189-byte test file", 189, false}};
    for (const Case& c : cases) {
        TempFileRoot root;
        StubServer server;
        root.write(kVehicleIdPath, "V1001 spare words\n");
        if (c.testFileSize) root.write(kTransitCloudTestFeedPath, documentOfSize(c.testFileSize));
        root.write("/tmp/saved/tco.json", "an older, longer document" + std::string(2000, '.'));
        server.reply("/tco/V1001", fixture, 200, "application/json");
        Json::Value params;
        params["tco_save_download_path"] = root.path("/tmp/saved/tco.json");

        SymbolPairs pairs = run(server.url("/tco"), params);

        ASSERT_EQ(server.requestCount(), c.serviceAsked ? 1u : 0u) << c.name;
        if (c.serviceAsked) {
            EXPECT_EQ(server.requests()[0].path, "/tco/V1001") << c.name;
            EXPECT_EQ(pairs, withFlags(kFixturePairs, "1", "1")) << c.name;
        }
        EXPECT_EQ(pairs.back(), SymbolPair("tco_has_data", "1")) << c.name;
        EXPECT_EQ(root.read("/tmp/saved/tco.json"), c.serviceAsked ? fixture : documentOfSize(c.testFileSize)) << c.name;
        auto files = std::filesystem::directory_iterator(root.path("/tmp/saved"));
        EXPECT_EQ(std::distance(begin(files), end(files)), 1) << c.name << ": no temporary file is left behind";
    }
}

TEST(TransitCloudFeed, FailuresReportConnectionAndDataApart) {
    TempFileRoot root;
    root.write(kVehicleIdPath, "V1");
    StubServer server;
    server.reply("/html/V1", "<html>" + std::string(300, 'x') + "</html>");
    server.reply("/short/V1", documentOfSize(188));
    server.reply("/good/V1", readTestData("transit/tco_document.json"));
    Json::Value unsavable;
    unsavable["tco_save_download_path"] = root.path("/tmp/no/such/folder/tco.json");
    LogCapture log;
    EXPECT_EQ(run(server.url("/html")), withFlags({}, "1", "0")) << "an answer that is not JSON";
    EXPECT_TRUE(log.contains("Impl:  Parsing failed: ", 8)) << log.dump();
    EXPECT_EQ(run(server.url("/short")), withFlags({}, "0", "0")) << "a 188-byte answer";
    EXPECT_EQ(run(server.url("/good"), unsavable), withFlags(kFixturePairs, "1", "1")) << "a save that fails";
    EXPECT_TRUE(log.contains("cannot save to", 8)) << log.dump();

    // A transfer that failed is no connection, and the saved copy stays the last good one.
    const std::string partial = R"({"LD": {"Heading": ")" + std::string(400, 'x');
    BrokenReplyServer cutShort(BrokenReplyServer::Ending::kClosed, partial);
    BrokenReplyServer stalled(BrokenReplyServer::Ending::kStalled, partial);
    server.reply("/error/V1", "<html><body>" + std::string(300, 'e') + "</body></html>", 500);
    Json::Value saving;
    saving["tco_save_download_path"] = root.path("/tmp/tco.json");
    for (const std::string& failed : {server.url("/error"), cutShort.url("/tco"), stalled.url("/tco")}) {
        run(server.url("/good"), saving);
        TransitCloud_Onboard_FeedImpl feed(failed);
        configure(feed, saving);
        EXPECT_EQ(cycle(feed, "-s --max-time 1"), withFlags({}, "0", "0")) << failed;
        EXPECT_EQ(root.read("/tmp/tco.json"), readTestData("transit/tco_document.json")) << failed;
    }
}

TEST(TransitCloudFeed, HostileValuesRunNoCommandAndSecretsStayOutOfTheLog) {
    TempFileRoot root;
    std::string marker = root.path("/PWNED");
    std::string vehicle = "$(touch${IFS}" + marker + ")`touch${IFS}" + marker + "`{a,b}?#";
    root.write(kVehicleIdPath, vehicle);
    StubServer server;
    run(server.url("/tco"));
    ASSERT_EQ(server.requestCount(), 1u) << "one request: curl expanded no pattern";
    EXPECT_EQ(server.requests()[0].path, "/tco/" + vehicle) << "the id travels as one path segment";
    run(server.url("/tco") + "'\"; touch " + marker + "; echo '");
    EXPECT_FALSE(root.exists("/PWNED"));

    LogCapture log;
    run(refusedUrl("/tco?key=TOPSECRET99"));
    EXPECT_TRUE(log.contains("TransitCloud_Onboard download command: curl -s --max-time 5 --fail --compressed '-k'", 2))
        << log.dump();
    EXPECT_FALSE(log.contains("TOPSECRET99")) << log.dump();
}

TEST(TransitCloudParse, SectionsThatAreMissingOrSparse) {
    auto parsed = [](const std::string& json) {
        SymbolPairs pairs;
        std::string errors;
        EXPECT_TRUE(TransitCloud_Onboard_FeedImpl::parseDocument(json, pairs, errors)) << json << errors;
        return pairs;
    };
    EXPECT_EQ(parsed(R"({"LD": [], "TD": 1})"),
              (SymbolPairs{{"tco_has_train_destinations", "0"}, {"tco_has_following_stops", "0"}}))
        << "sections absent or not objects";
    expectValues(parsed(R"({"OM": {"Count": 0, "Heading": {"nested": 1}}})"),
                 {{"tco_om_headings", "<absent>"}, {"tco_om_count", "0"}, {"tco_om_heading", ""}});
    // An emptied stop list clears the stops of an earlier document.
    expectValues(parsed(R"({"FS": {"Content": []}})"),
                 {{"tco_has_following_stops", "1"}, {"tco_fs_name", ""}, {"tco_fs_requested", ""}});
    // A member an element lacks (or holds as a structure) keeps its place
    // empty, so the n-th value of every list is the n-th element's.
    expectValues(parsed(R"({"LD": {"Content": [{"Line": "1", "Times": []}, {"Mode": "bus", "Line": "2", "Times": ["t"]},
                                               {"Mode": "tram", "Line": {"n": 3}, "Times": ["u"]}]},
                            "OM": {"Content": [{"Heading": "a"}, {"Detail": "b"}, {"Heading": "c"}]},
                            "FS": {"Content": [{"Name": "X", "Requested": "yes"}, {"Name": "Y", "Requested": true}]}})"),
                 {{"tco_ld_mode", R"(,"bus","tram")"}, {"tco_ld_line", R"("1","2",)"}, {"tco_ld_dir", ""},
                  {"tco_ld_times", R"(,""t"",""u"")"}, {"tco_om_headings", R"("a",,"c")"},
                  {"tco_om_details", R"(,"b",)"}, {"tco_fs_requested", R"(,"1")"}});
}
