// What the module and the configuration check take from the catalog's rows.
#include "core/config/feed_catalog.h"

#include <algorithm>

#include "core/config/config_table.h"

namespace {
bool contains(const std::vector<std::string>& flags, const std::string& flag) {
    return std::find(flags.begin(), flags.end(), flag) != flags.end();
}

const FeedCatalogEntry& entryOf(const std::string& flag) {
    for (const FeedCatalogEntry& entry : feedCatalog())
        if (flag == entry.flag) return entry;
    return feedCatalog().front();  // not reached: every excluded flag has its row
}
}  // namespace

std::vector<const char*> offlineFilesOf(const std::string& flag) {
    std::vector<const char*> files;
    for (const FeedCatalogEntry& entry : feedCatalog())
        if (flag == entry.flag) files.insert(files.end(), entry.offlineFiles.begin(), entry.offlineFiles.end());
    return files;
}

EnabledFlags enabledFlagsIn(const Json::Value& section) {
    EnabledFlags enabled;
    for (const FeedCatalogEntry& entry : feedCatalog())
        if (!contains(enabled.flags, entry.flag) && configKeyValue(*configKeyRows(entry.flag).front(), section) != "0")
            enabled.flags.push_back(entry.flag);
    for (const FeedCatalogEntry& entry : feedCatalog())
        if (entry.excludes && contains(enabled.flags, entry.flag) && contains(enabled.flags, entry.excludes))
            enabled.conflicts.emplace_back(&entry, &entryOf(entry.excludes));
    for (const auto& conflict : enabled.conflicts)
        for (const FeedCatalogEntry* entry : {conflict.first, conflict.second})
            enabled.flags.erase(std::remove(enabled.flags.begin(), enabled.flags.end(), entry->flag), enabled.flags.end());
    return enabled;
}
