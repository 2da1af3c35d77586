// The feeds the module can create: one row per feed, in the fixed creation
// order, each with the enable flag that creates it and a factory. Declared
// here, defined beside the feeds, so no core file includes a feed header.
#pragma once

#include <json/json.h>

#include <memory>
#include <string>
#include <vector>

#include "core/feed/data_feed.h"

struct FeedCatalogEntry;

// What a feed's own configuration check is given: the map's values as the
// feed's readers take them, and the list of problems to add to.
class FeedCheck {
public:
    FeedCheck(const Json::Value& params, const FeedCatalogEntry& entry, std::vector<std::string>& problems)
        : m_params(params), m_entry(entry), m_problems(problems) {}
    std::string text(const char* key) const;
    int number(const char* key) const;
    // Whether the file at path, as written, is a regular file that can be read.
    bool readable(const std::string& path) const;
    // "<flag>: <feeds> cannot work without <keys>" for the keys that are empty,
    // unless the offline files of the feeds the flag creates are all there.
    void requireAll(const std::string& feeds, const std::vector<const char*>& keys);
    void add(const std::string& problem) { m_problems.push_back(problem); }

private:
    const Json::Value& m_params;
    const FeedCatalogEntry& m_entry;
    std::vector<std::string>& m_problems;
};

// The URLs a feed is made with, in the order of its row's urlKeys.
using FeedUrls = std::vector<std::string>;

struct FeedCatalogEntry {
    const char* flag;       // the "ModuleParams" flag that creates the feed
    const char* feedClass;  // its class, as the key table names its readers
    // Of "<prefix>_updated_at": the prefix of the feed's has_connection
    // symbol, or of its other symbols; distinct for feeds sharing symbols.
    const char* prefix;
    // The module keys whose values the factory takes; their kinds and
    // defaults are the key table's.
    std::vector<const char*> urlKeys;
    std::unique_ptr<DataFeed> (*create)(const FeedUrls& urls);
    // Built-in paths of files that, while they are there, stand in for the
    // feed's source, so it works without the keys its source needs.
    std::vector<const char*> offlineFiles = {};
    // Keys the feed cannot work without (all of them) unless its offline files are there.
    std::vector<const char*> requiredKeys = {};
    // The feed's own checks of a map that enables it, for --check-config.
    void (*check)(FeedCheck& check) = nullptr;
    // The flag of a feed that cannot run beside this one (named on one row of
    // the two): with both on, neither is created.
    const char* excludes = nullptr;
    // How the module's log lines name the feed, where they do.
    const char* title = nullptr;
};

// The offline files of the feeds the flag creates, in creation order.
std::vector<const char*> offlineFilesOf(const std::string& flag);

struct EnabledFlags {
    std::vector<std::string> flags;  // in creation order, without those of a conflict
    std::vector<std::pair<const FeedCatalogEntry*, const FeedCatalogEntry*>> conflicts;  // both on
};
// The enable flags set in section, as the key table reads them.
EnabledFlags enabledFlagsIn(const Json::Value& section);

const std::vector<FeedCatalogEntry>& feedCatalog();
