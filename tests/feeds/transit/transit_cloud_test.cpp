#include <gtest/gtest.h>

#include <filesystem>

#include "feeds/transit/transit_cloud.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

namespace {

// A feed configured as the module does it.
std::unique_ptr<TransitCloud_Onboard_FeedImpl> makeFeed(const std::string& url, const Json::Value& params = {}) {
    auto feed = std::make_unique<TransitCloud_Onboard_FeedImpl>(url);
    Json::Value map(Json::objectValue);
    map["ModuleParams"] = params.isObject() ? params : Json::Value(Json::objectValue);
    feed->updateModuleParmMap(CModuleParmMap(map));
    feed->readModuleParmMap();
    return feed;
}

SymbolPairs cycle(TransitCloud_Onboard_FeedImpl& feed) {
    feed.downloadData("-s --max-time 5");
    SymbolPairs pairs = feed.getExportPairs();
    feed.clearExportPairs();
    return pairs;
}

std::string valueOf(const SymbolPairs& pairs, const std::string& name) {
    for (const auto& pair : pairs)
        if (pair.first == name) return pair.second;
    return "<absent>";
}

// A JSON document padded with blanks to exactly size bytes.
std::string documentOfSize(size_t size) {
    std::string doc = R"({"OM": {"Heading": "padded"}})";
    return doc + std::string(size - doc.size(), ' ');
}

const SymbolPairs kFixturePairs = {
    {"tco_ld_mode", R"("bus","tram")"},
    {"tco_ld_line", R"("42","T1")"},
    {"tco_ld_dest", R"("Airport","Old 'Town'")"},
    {"tco_ld_dir", R"("outbound")"},
    {"tco_ld_stop", R"("Stand B","Platform 1")"},
    {"tco_ld_times", R"(""10:30","10:45"")"},
    {"tco_ld_count", "2"},
    {"tco_ld_status_code", "200"},
    {"tco_ld_heading", "Live departures"},
    {"tco_ld_display", "true"},
    {"tco_ld_message", ""},
    {"tco_ld_destination_name", "Harbour"},
    {"tco_has_train_destinations", "1"},
    {"tco_td_mode", R"("rail")"},
    {"tco_td_line", R"("RE")"},
    {"tco_td_dest", R"("Capital")"},
    {"tco_td_dir", R"("north")"},
    {"tco_td_stop", R"("Platform 3")"},
    {"tco_td_times", R"(""10:52"")"},
    {"tco_td_count", "1"},
    {"tco_td_status_code", "200"},
    {"tco_td_heading", "Trains"},
    {"tco_td_display", "false"},
    {"tco_td_message", "Delays"},
    {"tco_td_destination_name", "Harbour"},
    {"tco_om_headings", R"("Welcome","Works")"},
    {"tco_om_details", R"("Free wifi on board","Diversion after 20:00")"},
    {"tco_om_count", "2"},
    {"tco_om_status_code", "200"},
    {"tco_om_heading", "Messages"},
    {"tco_om_display", "true"},
    {"tco_om_message", ""},
    {"tco_om_destination_name", "Harbour"},
    {"tco_has_following_stops", "1"},
    {"tco_fs_name", R"("Market","Museum","Harbour")"},
    {"tco_fs_time", R"("10:48","10:52","10:58")"},
    {"tco_fs_requested", R"("1","0","0")"},
    {"tco_fs_note", R"("","Step-free")"},
    {"tco_fs_eta", "10:58"},
    {"tco_fs_eta_minutes", "12"},
    {"tco_fs_count", "3"},
    {"tco_fs_status_code", "200"},
    {"tco_fs_heading", "Next stops"},
    {"tco_fs_display", "true"},
    {"tco_fs_message", ""},
    {"tco_fs_destination_name", "Harbour"},
};

}  // namespace

TEST(TransitCloudFeed, OfflineTestFileGivesEverySection) {
    TempFileRoot root;
    root.write(kTransitCloudTestFeedPath, readTestData("transit/tco_document.json"));
    auto feed = makeFeed("http://127.0.0.1:" + std::to_string(refusedPort()));
    LogCapture log;
    SymbolPairs expected = kFixturePairs;
    expected.push_back({"tco_has_connection", "1"});
    expected.push_back({"tco_has_data", "1"});
    EXPECT_EQ(cycle(*feed), expected);
    EXPECT_TRUE(log.contains("TransitCloud_Onboard_FeedImpl::downloadData: using offline data file " +
                                 root.path(kTransitCloudTestFeedPath), 2)) << log.dump();
    EXPECT_FALSE(log.contains("download command")) << "the service is not asked";
}

TEST(TransitCloudFeed, ServiceIsAskedForThisVehicle) {
    TempFileRoot root;
    root.write(kVehicleIdPath, "V1001 spare words\n");
    StubServer server;
    server.reply("/tco/V1001", readTestData("transit/tco_document.json"), 200, "application/json");
    auto feed = makeFeed(server.url("/tco"));
    SymbolPairs pairs = cycle(*feed);
    EXPECT_EQ(valueOf(pairs, "tco_has_connection"), "1");
    EXPECT_EQ(valueOf(pairs, "tco_has_data"), "1");
    EXPECT_EQ(valueOf(pairs, "tco_fs_name"), R"("Market","Museum","Harbour")");
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].path, "/tco/V1001");
}

TEST(TransitCloudFeed, UsableDocumentsAreLongerThan188Bytes) {
    struct Case {
        const char* name;
        size_t fileSize;  // 0: no test file
        bool serviceAsked;
    };
    const Case cases[] = {{"no test file", 0, true}, {"188-byte test file", 188, true}, {"189-byte test file", 189, false}};
    for (const Case& c : cases) {
        TempFileRoot root;
        root.write(kVehicleIdPath, "V1");
        if (c.fileSize) root.write(kTransitCloudTestFeedPath, documentOfSize(c.fileSize));
        StubServer server;
        std::string served = documentOfSize(300);
        server.reply("/tco/V1", served);
        Json::Value params;
        params["tco_save_download_path"] = root.path("/tmp/tco_saved.json");
        auto feed = makeFeed(server.url("/tco"), params);
        SymbolPairs pairs = cycle(*feed);
        EXPECT_EQ(server.requestCount(), c.serviceAsked ? 1u : 0u) << c.name;
        EXPECT_EQ(valueOf(pairs, "tco_has_connection"), "1") << c.name;
        EXPECT_EQ(root.read("/tmp/tco_saved.json"), c.serviceAsked ? served : documentOfSize(c.fileSize)) << c.name;
    }

    TempFileRoot root;
    root.write(kVehicleIdPath, "V1");
    StubServer server;
    server.reply("/tco/V1", documentOfSize(188));
    auto feed = makeFeed(server.url("/tco"));
    LogCapture log;
    EXPECT_EQ(cycle(*feed), (SymbolPairs{{"tco_has_connection", "0"}, {"tco_has_data", "0"}})) << "188-byte answer";
    EXPECT_TRUE(log.contains("TransitCloud_Onboard_FeedImpl::downloadData: no feed downloaded", 2));
}

TEST(TransitCloudFeed, FailuresReportConnectionAndDataApart) {
    struct Case {
        const char* name;
        std::string reply;  // "" : nothing listens
        SymbolPairs expected;
        const char* logText;
        int level;
    };
    const Case cases[] = {
        {"unreachable service", "", {{"tco_has_connection", "0"}, {"tco_has_data", "0"}},
         "TransitCloud_Onboard_FeedImpl::downloadData: no feed downloaded", 2},
        {"answer that is not JSON", "<html>" + std::string(300, 'x') + "</html>",
         {{"tco_has_connection", "1"}, {"tco_has_data", "0"}}, "TransitCloud_Onboard_FeedImpl:  Parsing failed: ", 8},
    };
    for (const Case& c : cases) {
        TempFileRoot root;
        root.write(kVehicleIdPath, "V1");
        StubServer server;
        if (!c.reply.empty()) server.reply("/tco/V1", c.reply);
        std::string url = c.reply.empty() ? "http://127.0.0.1:" + std::to_string(refusedPort()) + "/tco"
                                          : server.url("/tco");
        auto feed = makeFeed(url);
        LogCapture log;
        EXPECT_EQ(cycle(*feed), c.expected) << c.name;
        EXPECT_TRUE(log.contains(c.logText, c.level)) << c.name << "\n" << log.dump();
    }

    TempFileRoot root;
    LogCapture log;
    auto feed = makeFeed("");
    EXPECT_EQ(cycle(*feed), (SymbolPairs{{"tco_has_connection", "0"}, {"tco_has_data", "0"}})) << "no URL";
    EXPECT_TRUE(log.contains("no service URL configured", 8)) << log.dump();
}

TEST(TransitCloudFeed, HostileUrlAndVehicleIdRunNoCommand) {
    TempFileRoot root;
    std::string marker = root.path("/PWNED");
    std::string vehicle = "$(touch${IFS}" + marker + ")`touch${IFS}" + marker + "`{a,b}?#";
    root.write(kVehicleIdPath, vehicle);
    StubServer server;
    auto feed = makeFeed(server.url("/tco"));
    cycle(*feed);
    ASSERT_EQ(server.requestCount(), 1u) << "one request: curl expanded no pattern";
    EXPECT_EQ(server.requests()[0].path, "/tco/" + vehicle) << "the id travels as one path segment";

    auto hostileUrl = makeFeed(server.url("/tco") + "'\"; touch " + marker + "; echo '");
    cycle(*hostileUrl);
    EXPECT_FALSE(root.exists("/PWNED"));
}

TEST(TransitCloudFeed, SecretsInTheUrlAreMaskedInTheLog) {
    TempFileRoot root;
    root.write(kVehicleIdPath, "V1");
    auto feed = makeFeed("http://127.0.0.1:" + std::to_string(refusedPort()) + "/tco?key=TOPSECRET99");
    LogCapture log;
    cycle(*feed);
    EXPECT_TRUE(log.contains("TransitCloud_Onboard download command: curl -k -s --max-time 5", 2)) << log.dump();
    EXPECT_FALSE(log.contains("TOPSECRET99")) << log.dump();
}

TEST(TransitCloudFeed, SavedFileIsReplacedWholeAndUnsavableOnesAreSkipped) {
    TempFileRoot root;
    std::string doc = readTestData("transit/tco_document.json");
    root.write(kTransitCloudTestFeedPath, doc);
    root.write("/tmp/saved/tco.json", "an older, longer document that must be replaced entirely" + std::string(2000, '.'));
    Json::Value params;
    params["tco_save_download_path"] = root.path("/tmp/saved/tco.json");
    auto feed = makeFeed("", params);
    EXPECT_EQ(valueOf(cycle(*feed), "tco_has_data"), "1");
    EXPECT_EQ(root.read("/tmp/saved/tco.json"), doc);
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(root.path("/tmp/saved"))) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1u) << "no temporary file is left behind";

    params["tco_save_download_path"] = root.path("/tmp/no/such/folder/tco.json");
    auto unsaved = makeFeed("", params);
    LogCapture log;
    EXPECT_EQ(valueOf(cycle(*unsaved), "tco_has_data"), "1") << "a save that fails does not stop the parse";
    EXPECT_TRUE(log.contains("cannot save to", 8)) << log.dump();
}

TEST(TransitCloudParse, SectionsThatAreMissingOrSparse) {
    struct Case {
        const char* name;
        const char* json;
        SymbolPairs expected;
    };
    const Case cases[] = {
        {"empty document", "{}", {{"tco_has_train_destinations", "0"}, {"tco_has_following_stops", "0"}}},
        {"departure without times and empty times",
         R"({"LD": {"Content": [{"Line": "1", "Times": []}, {"Line": "2", "Times": ["x", 5]}]}})",
         {{"tco_ld_mode", ""}, {"tco_ld_line", R"("1","2")"}, {"tco_ld_dest", ""}, {"tco_ld_dir", ""},
          {"tco_ld_stop", ""}, {"tco_ld_times", R"(""x","5"")"}, {"tco_ld_count", ""}, {"tco_ld_status_code", ""},
          {"tco_ld_heading", ""}, {"tco_ld_display", ""}, {"tco_ld_message", ""}, {"tco_ld_destination_name", ""},
          {"tco_has_train_destinations", "0"}, {"tco_has_following_stops", "0"}}},
        {"section without content",
         R"({"OM": {"Count": 0, "Heading": {"nested": 1}}})",
         {{"tco_has_train_destinations", "0"}, {"tco_om_count", "0"}, {"tco_om_status_code", ""},
          {"tco_om_heading", ""}, {"tco_om_display", ""}, {"tco_om_message", ""}, {"tco_om_destination_name", ""},
          {"tco_has_following_stops", "0"}}},
        {"following stops emptied",
         R"({"FS": {"Content": []}})",
         {{"tco_has_train_destinations", "0"}, {"tco_has_following_stops", "1"}, {"tco_fs_name", ""},
          {"tco_fs_time", ""}, {"tco_fs_requested", ""}, {"tco_fs_note", ""}, {"tco_fs_count", ""},
          {"tco_fs_status_code", ""}, {"tco_fs_heading", ""}, {"tco_fs_display", ""}, {"tco_fs_message", ""},
          {"tco_fs_destination_name", ""}}},
        {"sections that are not objects", R"({"LD": [], "TD": 1, "FS": "x"})",
         {{"tco_has_train_destinations", "0"}, {"tco_has_following_stops", "0"}}},
    };
    for (const Case& c : cases) {
        SymbolPairs pairs;
        std::string errors;
        EXPECT_TRUE(TransitCloud_Onboard_FeedImpl::parseDocument(c.json, pairs, errors)) << c.name << errors;
        EXPECT_EQ(pairs, c.expected) << c.name;
    }
    SymbolPairs pairs;
    std::string errors;
    EXPECT_FALSE(TransitCloud_Onboard_FeedImpl::parseDocument(std::string(100000, '['), pairs, errors));
    EXPECT_FALSE(errors.empty()) << "deep nesting is refused, not recursed into";
}
