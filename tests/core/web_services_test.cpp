#include "core/module/web_services.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "core/config/config_keys.h"
#include "core/feed/file_write.h"
#include "core/feed/json_document.h"
#include "core/feed/xml_dom.h"
#include "platform/clock.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"
#include "util/time_convert.h"

namespace {
// A feed that exports what it is told to and counts its refreshes.
class ScriptedFeedImpl : public DataFeedImpl {
public:
    ScriptedFeedImpl(std::string name, int* refreshes) : m_name(std::move(name)), m_refreshes(refreshes) {}
    int downloadData(std::string) override {
        ++*m_refreshes;
        addPair(m_name + "_count", std::to_string(*m_refreshes));
        return 0;
    }
    bool symbolUpdate(const std::string& name, int, const std::string& value) override {
        return takeImportedSymbol(name, value, m_name + "_stop", m_stop, "ScriptedFeedImpl: New stop ID: ");
    }
    void readModuleParmMap() override { m_poll = readIntKey(moduleParams(), "poll_interval"); }
    std::string m_name;
    int* m_refreshes;
    std::string m_stop;
    int m_poll = 0;
};

class ScriptedFeed : public DataFeed {
public:
    ScriptedFeed(const std::string& name, int* refreshes)
        : DataFeed(std::make_unique<ScriptedFeedImpl>(name, refreshes)) {}
};

CModuleParmMap paramsWith(Json::Value moduleParams) {
    Json::Value map(Json::objectValue);
    map["ModuleParams"] = moduleParams;
    return CModuleParmMap(map);
}

class WebServicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        setMonotonicClock([this] { return m_now; });
    }
    void TearDown() override {
        setMonotonicClock(nullptr);
        setProcessTimeZone(kDefaultTimeZone);
    }
    int64_t m_now = 5;  // freshly booted: uptime below the poll interval
    TempFileRoot m_root;
};
}  // namespace

TEST_F(WebServicesTest, UpdatesAtTheFirstTickThenAfterEachInterval) {
    LogCapture log;
    CWebServices module(paramsWith(Json::Value(Json::objectValue)));
    EXPECT_TRUE(module.feeds().empty());
    int refreshes = 0;
    module.addFeed(std::make_unique<ScriptedFeed>("a", &refreshes));
    const int64_t start = m_now;
    struct Tick {
        int64_t at;
        int expectedRefreshes;
    } ticks[] = {{start, 1}, {start + 2, 1}, {start + 60, 1}, {start + 61, 2}, {start + 62, 2}, {start + 122, 3}};
    for (const auto& tick : ticks) {
        m_now = tick.at;
        module.Update();
        module.waitUntilIdle();
        EXPECT_EQ(refreshes, tick.expectedRefreshes) << "tick at +" << tick.at - start;
    }
    EXPECT_TRUE(log.contains("CWebServices: Updating data from webservices...", 2));
}

TEST_F(WebServicesTest, ParameterUpdateForcesTheNextTick) {
    CWebServices module(paramsWith(Json::Value(Json::objectValue)));
    int refreshes = 0;
    module.addFeed(std::make_unique<ScriptedFeed>("a", &refreshes));
    module.Update();
    module.waitUntilIdle();
    module.Update();
    module.waitUntilIdle();
    EXPECT_EQ(refreshes, 1);
    module.ParametersUpdate(CParameters());
    m_now += 2;
    module.Update();
    module.waitUntilIdle();
    EXPECT_EQ(refreshes, 2);
}

TEST_F(WebServicesTest, ExportsEachFeedWithOneBroadcastAndClearsItsPairs) {
    CWebServices module(paramsWith(Json::Value(Json::objectValue)));
    std::vector<std::vector<SymbolValue>> broadcasts;
    module.setBroadcastSink([&](const std::vector<SymbolValue>& s) { broadcasts.push_back(s); });
    int a = 0, b = 0;
    module.addFeed(std::make_unique<ScriptedFeed>("a", &a));
    module.addFeed(std::make_unique<ScriptedFeed>("b", &b));
    module.updateAllFeeds();
    ASSERT_EQ(broadcasts.size(), 2u);
    EXPECT_EQ(broadcasts[0], (std::vector<SymbolValue>{{"a_count", "1"}}));
    EXPECT_EQ(broadcasts[1], (std::vector<SymbolValue>{{"b_count", "1"}}));
    EXPECT_TRUE(module.feeds()[0]->getExportPairs().empty());
    EXPECT_EQ(module.Tags().GetValueByTag("b_count"), "1");
}

TEST_F(WebServicesTest, ImportedSymbolRefreshesOnlyTheFeedThatTakesIt) {
    LogCapture log;
    CWebServices module(paramsWith(Json::Value(Json::objectValue)));
    int a = 0, b = 0;
    std::vector<std::vector<SymbolValue>> broadcasts;
    module.setBroadcastSink([&](const std::vector<SymbolValue>& s) { broadcasts.push_back(s); });
    module.addFeed(std::make_unique<ScriptedFeed>("a", &a));
    module.addFeed(std::make_unique<ScriptedFeed>("b", &b));
    module.SymbolUpdate("b_stop", 0, "S1");
    module.SymbolUpdate("b_stop", 0, "S1");  // unchanged: nothing
    module.SymbolUpdate("b_stop", 0, "");    // empty: nothing
    module.SymbolUpdate("other", 0, "S2");
    module.waitUntilIdle();
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(broadcasts.size(), 1u);
    EXPECT_TRUE(log.contains("ScriptedFeedImpl: New stop ID: S1", 2));
}

TEST_F(WebServicesTest, ReadsItsKeysAndHandsTheMapToEveryFeed) {
    Json::Value params;
    params["poll_interval"] = "30";
    params["CurlParams"] = "--max-time 1";
    params["TimeZone"] = ":/usr/share/zoneinfo/America/Buenos_Aires";
    CWebServices module(paramsWith(params));
    EXPECT_EQ(module.settings().pollIntervalSeconds, 30);
    EXPECT_EQ(module.settings().curlParams, "--max-time 1");
    EXPECT_STREQ(getenv("TZ"), ":/usr/share/zoneinfo/America/Buenos_Aires");
    int refreshes = 0;
    auto feed = std::make_unique<ScriptedFeed>("a", &refreshes);
    auto* impl = static_cast<ScriptedFeedImpl*>(&feed->impl());
    module.addFeed(std::move(feed));
    EXPECT_EQ(impl->m_poll, 30);
}

// Nothing is process-wide: two modules in one process keep their own options,
// limits and download edge, and shutting one down leaves the other's
// downloads running.
TEST_F(WebServicesTest, TwoModulesKeepTheirOwnOptionsLimitsAndDownloads) {
    StalledServer stalled;
    Json::Value params;
    params["rss_enable"] = 1;
    params["rss_url"] = stalled.url("/rss");
    params["CurlParams"] = "--max-time 10 -s";
    params["max_download_bytes"] = 1000;
    CWebServices first(paramsWith(params));
    params["CurlParams"] = "--max-time 20 -s";
    params["max_download_bytes"] = 2000;
    CWebServices second(paramsWith(params));
    EXPECT_EQ(first.settings().curlParams, "--max-time 10 -s");
    EXPECT_EQ(second.settings().curlParams, "--max-time 20 -s");
    Downloader& firstEdge = first.feeds().front()->impl().downloader();
    Downloader& secondEdge = second.feeds().front()->impl().downloader();
    EXPECT_NE(&firstEdge, &secondEdge);
    EXPECT_EQ(firstEdge.limits().maxDownloadBytes, 1000u);
    EXPECT_EQ(secondEdge.limits().maxDownloadBytes, 2000u);

    first.Update();  // each starts its first cycle on its own workers
    second.Update();
    auto openConnectionsReach = [&](int wanted) {
        for (int i = 0; i < 300 && stalled.openConnections() != wanted; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return stalled.openConnections() == wanted;
    };
    EXPECT_TRUE(openConnectionsReach(2));
    const auto start = std::chrono::steady_clock::now();
    first.Shutdown();  // ends its download and joins its workers
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_TRUE(openConnectionsReach(1)) << "the other module's download was ended too";
    second.Shutdown();
    EXPECT_TRUE(openConnectionsReach(0));
}

TEST_F(WebServicesTest, RefusesTfeAndR2pTogether) {
    LogCapture log;
    Json::Value params;
    params["open_data_tfe_enable"] = 1;
    params["open_data_r2p_enable"] = "1";
    CWebServices module(paramsWith(params));
    EXPECT_TRUE(module.feeds().empty());
    EXPECT_TRUE(log.contains(
        "CWebServices: Open Data TfE Lothian and Open Data R2P Oxford can't be used together.", 16));
    EXPECT_TRUE(log.contains("CWebServices: Action: both disabled.", 16));
}

TEST_F(WebServicesTest, ShutdownLeavesNoFeedsForLaterEvents) {
    CWebServices module(paramsWith(Json::Value(Json::objectValue)));
    int refreshes = 0;
    module.addFeed(std::make_unique<ScriptedFeed>("a", &refreshes));
    module.Shutdown();
    module.Update();
    module.SymbolUpdate("a_stop", 0, "S");
    module.waitUntilIdle();
    EXPECT_EQ(refreshes, 0);
}

TEST_F(WebServicesTest, EveryFlagCreatesItsFeedsInTheFixedOrder) {
    LogCapture log;
    const char* flags[] = {"twitter_enable",          "rss_enable",          "open_data_tfl_enable",
                           "rail_departures_enable",  "flight_departures_enable", "flight_security_enable",
                           "flight_departures_azinq_enable", "service_alerts_enable", "siri_sm_enable",
                           "txc_st_enable",           "gtfs_rt_enable",      "tfl_line_status_enable",
                           "tco_enable",              "avms_enable",         "open_data_tfe_enable"};
    Json::Value params;
    for (const char* flag : flags) params[flag] = 1;
    CWebServices module(paramsWith(params));
    // siri_sm_enable creates two feeds; nothing is reported missing.
    EXPECT_EQ(module.feeds().size(), 16u);
    EXPECT_FALSE(log.contains("no feed is built for the enabled flag")) << log.dump();

    Json::Value r2p;
    r2p["open_data_r2p_enable"] = "1";
    r2p["rss_enable"] = true;
    r2p["twitter_enable"] = "yes";
    EXPECT_EQ(CWebServices(paramsWith(r2p)).feeds().size(), 2u);
}

// A write killed midway leaves its temporary; the next start removes those of
// the files the enabled feeds write, and nothing else in their folders.
TEST_F(WebServicesTest, StartRemovesWhatKilledWritesLeftAndNothingElse) {
    const std::string saved = m_root.path("/tmp/saved/tco.json");
    const std::string targets[] = {m_root.path("/tmp/gtfs_vehicles.csv"), m_root.path("/tmp/flight_departures_azinq.json"),
                                   m_root.path("/tmp/service_alerts.json"), saved};
    std::filesystem::create_directories(m_root.path("/tmp/saved"));
    const std::string content(1 << 20, 'x');
    for (int i = 0; i < 20; ++i) {
        pid_t child = fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            // The write stops at a quarter of the content, and the writer is killed right there.
            struct rlimit limit = {content.size() / 4, content.size() / 4};
            setrlimit(RLIMIT_FSIZE, &limit);
            signal(SIGXFSZ, [](int) { kill(getpid(), SIGKILL); });
            replaceFileContent(targets[i % 4], content);
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "writer " << i << " was not killed";
    }
    auto leftovers = [&] {
        int count = 0;
        for (const std::string& folder : {m_root.path("/tmp"), m_root.path("/tmp/saved")})
            for (const auto& entry : std::filesystem::directory_iterator(folder))
                for (const std::string& target : targets) {
                    const std::string name = entry.path().string(), prefix = temporaryFilePrefix(target);
                    count += name.size() == prefix.size() + 6 && name.rfind(prefix, 0) == 0;
                }
        return count;
    };
    ASSERT_EQ(leftovers(), 20);
    // Near misses: another file's temporary, a wrong length, a link and a
    // folder under a temporary's name, the file itself.
    const std::string prefix = temporaryFilePrefix(targets[0]);
    const std::string bystanders[] = {temporaryFilePrefix(m_root.path("/tmp/other.csv")) + "abc123", prefix + "abc12",
                                      prefix + "abc1234", m_root.path("/tmp/gtfs_vehicles.csv.abc123"),
                                      targets[0]};
    for (const std::string& path : bystanders) std::ofstream(path) << "keep";
    ASSERT_EQ(symlink(targets[0].c_str(), (prefix + "link01").c_str()), 0);
    std::filesystem::create_directory(prefix + "dir001");

    Json::Value params;
    for (const char* flag : {"gtfs_rt_enable", "flight_departures_azinq_enable", "service_alerts_enable", "tco_enable"})
        params[flag] = 1;
    params["tco_save_download_path"] = saved;
    LogCapture log;
    CWebServices module(paramsWith(params));
    EXPECT_TRUE(log.contains("left by a write that was cut short", 4)) << log.dump();
    EXPECT_EQ(leftovers(), 2) << "only the link and the folder are left";
    for (const std::string& path : bystanders) EXPECT_TRUE(std::filesystem::exists(path)) << path;
    EXPECT_TRUE(std::filesystem::is_symlink(prefix + "link01"));
    EXPECT_TRUE(std::filesystem::is_directory(prefix + "dir001"));
}

// A URL that would start a new line of curl's config is refused, and the
// operator is told which key to mend.
TEST_F(WebServicesTest, EveryRefusedUrlNamesItsKey) {
    const char* const keys[] = {"flight_departures_url", "flight_security_url", "service_alerts_url",
                                "open_data_tfl_url", "open_data_tfe_url", "tfl_line_status_tube_url",
                                "tfl_line_status_overground_url", "tfl_line_status_elizabeth_url",
                                "tfl_line_status_dlr_url", "tfl_line_status_tram_url", "rss_url", "tco_url",
                                "gtfs_rt_vehicle_position_url", "gtfs_rt_trip_update_url", "gtfs_rt_alert_url"};
    Json::Value params;
    for (const char* flag : {"flight_departures_enable", "flight_security_enable", "service_alerts_enable",
                             "open_data_tfl_enable", "open_data_tfe_enable", "tfl_line_status_enable", "rss_enable",
                             "tco_enable", "gtfs_rt_enable"})
        params[flag] = 1;
    params["tfl_line_status_lines"] = 31;
    params["open_data_test_vehicle_id"] = "V1";
    m_root.write(kVehicleIdPath, "V1");
    for (const char* key : keys) params[key] = "http://127.0.0.1:1/x\r\nheader = \"X-Injected: 1\"";
    LogCapture log;
    CWebServices module(paramsWith(params));
    module.updateAllFeeds();
    for (const char* key : keys)
        EXPECT_TRUE(log.contains(std::string("request not sent: the value of '") + key + "' holds a line break", 16))
            << key << "\n" << log.dump();
    EXPECT_FALSE(log.contains("the value of 'URL'")) << log.dump();
}

namespace {
// Parses the deepest documents the parsers accept, on whatever thread refreshes it.
class DeepDocumentFeedImpl : public DataFeedImpl {
public:
    int downloadData(std::string) override {
        pthread_attr_t attr;
        pthread_getattr_np(pthread_self(), &attr);
        pthread_attr_getstacksize(&attr, &m_stackBytes);
        pthread_attr_destroy(&attr);
        std::string json = std::string(999, '[') + std::string(999, ']');
        std::string xml;
        for (size_t i = 0; i < kMaxXmlNestingDepth; ++i) xml += "<a>";
        for (size_t i = 0; i < kMaxXmlNestingDepth; ++i) xml += "</a>";
        rapidxml::xml_document<> document;
        std::vector<char> buffer;
        std::string error;
        addPair("json", jsonDocumentOf(json, error).root().isArray() ? "parsed" : "refused");
        addPair("xml", parseXmlInPlace(document, buffer, xml, error) ? "parsed" : error);
        return 0;
    }
    size_t m_stackBytes = 0;
};
}  // namespace

TEST_F(WebServicesTest, WorkersHaveTheStackForTheDeepestAcceptedDocuments) {
    CWebServices module(paramsWith(Json::Value(Json::objectValue)));
    auto feed = std::make_unique<DataFeed>(std::make_unique<DeepDocumentFeedImpl>());
    auto* impl = static_cast<DeepDocumentFeedImpl*>(&feed->impl());
    module.addFeed(std::move(feed));
    module.updateAllFeeds();
    EXPECT_EQ(module.Tags().GetValueByTag("json"), "parsed");
    EXPECT_EQ(module.Tags().GetValueByTag("xml"), "parsed");
    // Set explicitly: the target's C library would give a new thread 128 KiB,
    // glibc its 8 MiB default. A C library may round the size up (musl adds
    // its thread area and rounds to whole pages).
    EXPECT_GE(impl->m_stackBytes, RefreshPool::kWorkerStackBytes);
    EXPECT_LT(impl->m_stackBytes, 2 * RefreshPool::kWorkerStackBytes);
}
