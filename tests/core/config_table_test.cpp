#include "core/config_table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>

#include "core/config_keys.h"
#include "core/web_services.h"
#include "tests/support/demo_map.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_root.h"
#include "util/time_convert.h"

namespace {
struct KeyReadRecord {
    const Json::Value* section;
    std::string key;
    KeyRead read;
    std::string defaultText;
};

std::mutex g_readsMutex;
std::vector<KeyReadRecord> g_reads;

void recordRead(const Json::Value& section, const char* key, KeyRead read, const std::string& defaultText) {
    std::lock_guard<std::mutex> lock(g_readsMutex);
    g_reads.push_back({&section, key, read, defaultText});
}

// map with every key of the table it lacks: every flag on (the TfE/R2P pair
// would create neither, so one of the two stays off), URLs that fail at once,
// the rest at their defaults, so that reads made only when a key is present
// happen too.
Json::Value withEveryKey(Json::Value map, const std::string& offOpenDataFlag) {
    Json::Value& params = map["ModuleParams"];
    for (const ConfigKey& key : configKeys()) {
        if (params.isMember(key.name)) continue;
        if (key.kind != KeyKind::kString)
            params[key.name] = std::atoi(key.defaultValue);
        else if (key.use == KeyUse::kUrl || key.use == KeyUse::kUrlRoot)
            params[key.name] = "file:///nonexistent/feed";
        else
            params[key.name] = configKeyDefault(key);
    }
    for (const ConfigKey& key : configKeys())
        if (std::string(key.name).find("_enable") != std::string::npos) params[key.name] = 1;
    params[offOpenDataFlag] = 0;
    params["CurlParams"] = "--max-time 2 --silent";
    return map;
}

// Every key the module and its feeds ask of a "ModuleParams" section while
// the module is built and each feed refreshes once (some feeds read keys
// again on every refresh).
std::vector<KeyReadRecord> keysReadWith(const Json::Value& json) {
    const CModuleParmMap parmMap(json);
    {
        std::lock_guard<std::mutex> lock(g_readsMutex);
        g_reads.clear();
    }
    setConfigKeyObserver(recordRead);
    std::set<const Json::Value*> sections = {&parmMap.json()["ModuleParams"]};
    {
        CWebServices module(parmMap);
        for (const auto& feed : module.feeds()) {
            sections.insert(&feed->impl().moduleParams());
            feed->downloadData(module.settings().curlParams);
        }
        module.Shutdown();
    }
    setConfigKeyObserver(nullptr);
    setProcessTimeZone(kDefaultTimeZone);
    std::lock_guard<std::mutex> lock(g_readsMutex);
    std::vector<KeyReadRecord> reads;
    for (const auto& read : g_reads)
        if (sections.count(read.section)) reads.push_back(read);
    return reads;
}

std::string readSourceFile(const std::string& relativePath) {
    std::ifstream in(std::string(WEBSERVICES_SOURCE_DIR) + "/" + relativePath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

constexpr const char* kIndexBegin = "<!-- key index: generated from core/config_table.cpp, checked by its test -->\n";
constexpr const char* kIndexEnd = "<!-- end of key index -->\n";
}  // namespace

TEST(ConfigTable, EveryKeyTheModuleReadsIsInTheTableWithItsKindAndDefault) {
    TempFileRoot root;
    LogCapture quiet;
    // The demo's data takes the feeds down the paths where a refresh succeeds;
    // R2P, which the demo leaves off, runs on its own.
    const Json::Value maps[] = {withEveryKey(demoParameterMap(root), "open_data_r2p_enable"),
                                withEveryKey(Json::Value(), "open_data_tfe_enable")};
    std::set<std::string> read;
    for (const Json::Value& map : maps) {
        for (const KeyReadRecord& r : keysReadWith(map)) {
            read.insert(r.key);
            std::vector<const ConfigKey*> rows = configKeyRows(r.key);
            if (rows.empty()) {
                ADD_FAILURE() << "the code reads \"" << r.key << "\", which the key table lacks";
                continue;
            }
            if (r.read == KeyRead::kLookup) continue;
            EXPECT_EQ(rows[0]->kind == KeyKind::kString, r.read == KeyRead::kText) << r.key << ": kind";
            if (rows[0]->kind == KeyKind::kSize) continue;  // the module applies its own default
            bool sameDefault = false;
            for (const ConfigKey* row : rows) sameDefault = sameDefault || configKeyDefault(*row) == r.defaultText;
            EXPECT_TRUE(sameDefault) << r.key << ": the code's default is \"" << r.defaultText << "\"";
        }
    }
    for (const ConfigKey& key : configKeys()) EXPECT_TRUE(read.count(key.name)) << key.name << " is in the table, never read";
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

    Json::Value params;
    params["rss_url"] = "http://a";
    params["rss_ur1"] = "http://b";
    params["note"] = "fitted 2024";
    EXPECT_EQ(unknownKeyWarnings(params),
              (std::vector<std::string>{"unknown key 'note'", "unknown key 'rss_ur1' (did you mean 'rss_url'?)"}));
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
