#include "core/config/config_table.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "core/config/config_keys.h"
#include "core/module/web_services.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_root.h"
#include "util/time_convert.h"

namespace {
std::string readSourceFile(const std::string& relativePath) {
    std::ifstream in(std::string(WEBSERVICES_SOURCE_DIR) + "/" + relativePath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

constexpr const char* kIndexBegin = "<!-- key index: generated from core/config/config_table.cpp, checked by its test -->\n";
constexpr const char* kIndexEnd = "<!-- end of key index -->\n";
}  // namespace

// The readers take kind and default from the table, so a row can only drift
// by no longer being read: each key's name must appear in some code that
// reads it (the module, a feed or the catalog).
TEST(ConfigTable, EveryRowIsReadBySomeCode) {
    std::string code;
    for (const char* folder : {"core", "feeds"})
        for (const auto& entry : std::filesystem::recursive_directory_iterator(std::string(WEBSERVICES_SOURCE_DIR) + "/" + folder))
            if (entry.path().extension() == ".cpp" && entry.path().filename() != "config_table.cpp")
                code += readSourceFile(std::filesystem::relative(entry.path(), WEBSERVICES_SOURCE_DIR).string());
    for (const ConfigKey& key : configKeys())
        EXPECT_NE(code.find(std::string("\"") + key.name + "\""), std::string::npos) << key.name << " is in the table, never read";
}

TEST(ConfigKeys, ReadersTakeKindAndDefaultFromTheTable) {
    TempFileRoot root;
    Json::Value section;
    section["rss_item_count"] = "7";
    section["max_download_bytes"] = -1;
    section["max_parallel_downloads"] = 65;
    EXPECT_EQ(readIntKey(section, "rss_item_count"), 7);
    EXPECT_EQ(readIntKey(section, "rss_word_wrap_title"), 0);
    EXPECT_EQ(readIntKey(section, "max_download_bytes"), 8388608);  // 0 or less: the default
    EXPECT_EQ(readIntKey(section, "max_parallel_downloads"), 8);    // out of range: the default
    EXPECT_EQ(readStringKey(section, "tfl_line_status_sort_column_1"), "mode");
    EXPECT_EQ(readStringKey(section, "tco_test_feed_file"), root.path("/vorn/media/offline/tco_data.json"));
    EXPECT_EQ(readStringKeyOf("OpenDataTFL_Feed", section, "Database"), root.path("/vorn/database/VORN.db"));
    EXPECT_EQ(readStringKeyOf("OpenDataR2P_Feed", section, "Database"), "");
    EXPECT_TRUE(readFlagKey(section, "open_data_timing_points_only"));
    EXPECT_FALSE(hasKey(section, "rail_departures_test_crs_xmins"));
}

TEST(ConfigKeysDeathTest, AKeyTheTableLacksOrReadAsAnotherKindEndsTheProcess) {
    const Json::Value section(Json::objectValue);
    EXPECT_DEATH(readStringKey(section, "rss_ur1"), "\"rss_ur1\", which the key table lacks");
    EXPECT_DEATH(hasKey(section, "rss_ur1"), "which the key table lacks");
    EXPECT_DEATH(readIntKey(section, "rss_url"), "as another kind");
    EXPECT_DEATH(readFlagKey(section, "rss_item_count"), "as another kind");
    EXPECT_DEATH(readStringKey(section, "Database"), "without naming the reader");
    EXPECT_DEATH(readStringKeyOf("RssFeed", section, "Database"), "no row for its reader");
}

// The catalog names each feed's flag and URL keys; the table gives their kinds and defaults.
TEST(ConfigTable, EveryCatalogKeyHasItsRow) {
    for (const FeedCatalogEntry& entry : feedCatalog()) {
        EXPECT_EQ(configKeyRows(entry.flag).size(), 1u) << entry.flag;
        for (const char* key : entry.urlKeys) {
            ASSERT_EQ(configKeyRows(key).size(), 1u) << key;
            EXPECT_EQ(configKeyRows(key).front()->kind, KeyKind::kString) << key;
        }
    }
}

TEST(ConfigTable, UnknownKeysNameTheNearestKnownOne) {
    const struct {
        const char* written;
        const char* nearest;  // "" when no key is close enough
    } cases[] = {
        {"rss_ur1", "rss_url"},          {"rss_ulr", "rss_url"},   {"RSS_URL", "rss_url"},
        {"timezone", "TimeZone"},        {"poll_intervall", "poll_interval"},
        {"tfl_line_status_line", "tfl_line_status_lines"},       {"flight_departures_tokn", "flight_departures_token"},
        {"comment", ""},                 {"x", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(nearestConfigKey(c.written), c.nearest) << c.written;

    EXPECT_TRUE(unknownKeyWarnings(Json::Value("text")).empty());
}

TEST(ConfigTable, ModuleLogsEachUnknownKeyOnceAtLevel8AndStillReadsTheRest) {
    TempFileRoot root;
    LogCapture log;
    Json::Value map;
    map["ModuleParams"]["rss_ur1"] = "http://127.0.0.1:9/rss.xml";
    map["ModuleParams"]["poll_interval"] = 30;
    {
        CWebServices module{CModuleParmMap(map)};
        EXPECT_EQ(module.settings().pollIntervalSeconds, 30);
        module.Shutdown();
    }
    setProcessTimeZone(kDefaultTimeZone);
    std::vector<std::string> unknown;
    for (const LogLine& line : log.lines())
        if (line.text.find("unknown key") != std::string::npos) unknown.push_back(std::to_string(line.level) + " " + line.text);
    EXPECT_EQ(unknown, std::vector<std::string>{"8 CWebServices: unknown key 'rss_ur1' (did you mean 'rss_url'?)"});
}

// The key index in docs/configuration.md is the table's own.
// WEBSERVICES_UPDATE_DOCS=1 rewrites the index from the table.
TEST(ConfigTable, ConfigurationDocumentAgreesWithTheTable) {
    const std::string path = "docs/configuration.md";
    std::string doc = readSourceFile(path);
    size_t begin = doc.find(kIndexBegin);
    size_t end = doc.find(kIndexEnd);
    ASSERT_NE(begin, std::string::npos) << path << " lacks its key index";
    ASSERT_NE(end, std::string::npos);
    begin += std::string(kIndexBegin).size();
    const std::string expected = "\n" + configKeyIndexMarkdown() + "\n";  // blank lines set the table apart
    if (doc.compare(begin, end - begin, expected) != 0 && std::getenv("WEBSERVICES_UPDATE_DOCS")) {
        doc.replace(begin, end - begin, expected);
        end = begin + expected.size();
        std::ofstream(std::string(WEBSERVICES_SOURCE_DIR) + "/" + path, std::ios::binary) << doc;
    }
    EXPECT_EQ(doc.substr(begin, end - begin), expected)
        << "the key index is out of date: run the test with WEBSERVICES_UPDATE_DOCS=1";
}
