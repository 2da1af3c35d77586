// Displays learn how old each feed's data is, and a board too old to trust
// is cleared until fresh data comes.
#include <gtest/gtest.h>

#include <map>

#include "core/module/feed_freshness.h"
#include "core/feed/json_document.h"
#include "core/module/web_services.h"
#include "platform/clock.h"
#include "tests/reference/json_reference.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"
#include "util/time_convert.h"

namespace {
constexpr int64_t kGoodAt = 1800000000;
constexpr int kStaleAfter = 3;

using Published = std::map<std::string, std::string>;

// One feed of each family, set up against the stub server at path.
struct FamilyCase {
    const char* prefix;
    const char* path;
    const char* goodReply;  // test data file
    const char* dataSymbol;  // shown while fresh, cleared once stale
    const char* params;      // "ModuleParams" besides the URL, as JSON members
    const char* urlKey;
};

const FamilyCase kFamilies[] = {
    {"rss", "/rss.xml", "news/bbc_news.xml", "rss_item_titles", R"("rss_enable": 1)", "rss_url"},
    {"tfl_line_status", "/Line/Mode/tube/Status", "opendata/tfl_line_status_tube.json", "tfl_line_status_name_array",
     R"("tfl_line_status_enable": 1, "tfl_line_status_lines": 1)", "tfl_line_status_tube_url"},
    {"rail_departures", "/ldb11.asmx", "rail_siri/darwin_board.xml", "departure_train_service_std_array",
     R"("rail_departures_enable": 1, "rail_departures_client_token": "t0k3n", "rail_departures_test_crs": "EDB")",
     "rail_departures_url"},
    {"gtfs_rt", "/combined", "transit/gtfs_rt_combined.pb", "gtfs_rt_point_id_array",
     R"("gtfs_rt_enable": 1, "gtfs_rt_test_vehicle_id": "BUS-7")", "gtfs_rt_url"},
    // No has_connection flag; a cached reply, downloaded at most once a minute.
    {"flight_security", "/api/security/time", "airport/flight_security.json", "flight_security_wait_time",
     R"("flight_security_enable": 1)", "flight_security_url"},
    // Asks for "<URL>/<vehicle id>"; no vehicle id here.
    {"tco", "/tco/", "transit/tco_document.json", "tco_ld_line", R"("tco_enable": 1)", "tco_url"},
};

// What a vehicle gets behind a captive portal: a page, with status 200.
const std::string kPortalPage = "<!DOCTYPE html><html><head><title>Sign in</title></head><body><form action=\"/login\">"
                                "<p>Welcome aboard. Accept the terms of use to continue to the internet.</p>"
                                "<input type=\"submit\" value=\"Accept\"></form></body></html>";
enum class Reply { kGood, kPortalPage, kServerError };

class FreshnessTest : public ::testing::Test {
protected:
    void SetUp() override {
        setWallClock([this] { return m_wall; });
        setMonotonicClock([this] { return m_uptime; });
    }
    void TearDown() override {
        m_module.reset();
        setWallClock(nullptr);
        setMonotonicClock(nullptr);
        setProcessTimeZone(kDefaultTimeZone);
    }

    void start(const FamilyCase& family, int staleAfter) {
        std::string url = m_server.url(family.path);
        if (url.back() == '/') url.pop_back();
        const std::string params = std::string("{") + family.params + R"(, ")" + family.urlKey + R"(": ")" + url + R"(", "CurlParams": "-sS --max-time 5", "stale_after_seconds": )" +
                                   std::to_string(staleAfter) + R"(, "poll_interval": 100000})";
        Json::Value map;
        map["ModuleParams"] = jsonReferenceOf(params);
        m_module = std::make_unique<CWebServices>(CModuleParmMap(map));
        m_module->setBroadcastSink([this](const std::vector<SymbolValue>& values) {
            for (const auto& [name, value] : values) m_published[name] = value;
        });
        m_good = readTestData(family.goodReply);
    }
    // What one step publishes. A refresh at wall time `at`; the download gate
    // of a cached feed is always open (a minute of uptime per step).
    Published refresh(int64_t at, Reply reply) {
        if (reply == Reply::kGood) m_server.reply(m_path, m_good);
        if (reply == Reply::kPortalPage) m_server.reply(m_path, kPortalPage, 200, "text/html");
        if (reply == Reply::kServerError) m_server.reply(m_path, "", 503);
        m_wall = at;
        m_uptime += 61;
        m_published.clear();
        m_module->updateAllFeeds();
        return m_published;
    }
    Published tick(int64_t at) {
        m_wall = at;
        m_published.clear();
        m_module->Update();
        m_module->waitUntilIdle();
        return m_published;
    }
    std::string shown(const std::string& name) { return m_module->Tags().GetValueByTag(name); }

    int64_t m_wall = kGoodAt;
    int64_t m_uptime = 1000;
    TempFileRoot m_root;
    StubServer m_server;
    std::string m_path;
    std::string m_good;
    std::unique_ptr<CWebServices> m_module;
    Published m_published;
};
}  // namespace

TEST_F(FreshnessTest, EachFamilyGoesStaleAfterFailuresAndComesBackAtTheNextGoodRefresh) {
    for (const FamilyCase& family : kFamilies) {
        SCOPED_TRACE(family.prefix);
        const std::string updatedAt = std::string(family.prefix) + "_updated_at";
        const std::string hasConnection = std::string(family.prefix) + "_has_connection";
        m_path = family.path;
        start(family, kStaleAfter);
        tick(kGoodAt - 10);  // the first tick's cycle: nothing answers yet
        EXPECT_EQ(shown(updatedAt), "") << "no usable data yet";

        const Published good = refresh(kGoodAt, Reply::kGood);
        const std::string data = shown(family.dataSymbol);
        ASSERT_FALSE(data.empty());
        EXPECT_EQ(good.at(updatedAt), std::to_string(kGoodAt));

        const Published failed = refresh(kGoodAt + 2, Reply::kPortalPage);
        EXPECT_EQ(failed.at(updatedAt), std::to_string(kGoodAt)) << "a page that is not the feed's data is no update";
        EXPECT_EQ(shown(family.dataSymbol), data) << "the last data stays while within the limit";

        LogCapture log;
        const Published cleared = tick(kGoodAt + 4);
        Published expected;
        for (const auto& [name, value] : good) {
            const bool kept = name == updatedAt || name.find("_has_connection") != std::string::npos;
            expected[name] = kept ? shown(name) : name.find("_has_data") != std::string::npos ? "0" : "";
        }
        EXPECT_EQ(cleared, expected) << "every data symbol empty, has_data 0, the flag and the time kept";
        if (good.count(hasConnection)) {
            EXPECT_EQ(cleared.at(hasConnection), failed.at(hasConnection)) << "as the last refresh found it";
        }
        EXPECT_TRUE(log.contains(std::string("CWebServices: ") + family.prefix + " data is 4 s old", 8)) << log.dump();
        EXPECT_TRUE(tick(kGoodAt + 5).empty()) << "cleared once";

        refresh(kGoodAt + 6, Reply::kServerError);
        EXPECT_EQ(shown(family.dataSymbol), "") << "a failure does not bring the old board back";
        EXPECT_EQ(shown(updatedAt), std::to_string(kGoodAt));

        const Published back = refresh(kGoodAt + 8, Reply::kGood);
        EXPECT_EQ(shown(family.dataSymbol), data);
        EXPECT_EQ(back.at(updatedAt), std::to_string(kGoodAt + 8));
        m_module.reset();
    }
}

TEST_F(FreshnessTest, WithoutALimitOldDataStaysAndOnlyTheTimeIsAdded) {
    const FamilyCase& rss = kFamilies[0];
    m_path = rss.path;
    start(rss, 0);
    tick(kGoodAt - 10);
    const Published good = refresh(kGoodAt, Reply::kGood);
    refresh(kGoodAt + 2, Reply::kServerError);
    EXPECT_TRUE(tick(kGoodAt + 100000).empty());
    EXPECT_EQ(shown("rss_item_titles"), good.at("rss_item_titles"));
    EXPECT_EQ(shown("rss_updated_at"), std::to_string(kGoodAt));
}

// A feed that never brought usable data has nothing to clear.
TEST(FeedFreshness, AFeedNeverUsableIsNotCleared) {
    FeedFreshness freshness("x");
    EXPECT_EQ(freshness.publish({{"x_has_connection", "0"}}, 0, 100, 3),
              (SymbolPairs{{"x_has_connection", "0"}, {"x_updated_at", ""}}));
    EXPECT_TRUE(freshness.clearIfStale(1000, 3).empty());
}
