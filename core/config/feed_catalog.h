// The feeds the module can create: one row per feed, in the fixed creation
// order, each with the enable flag that creates it and a factory. Declared
// here, defined beside the feeds, so no core file includes a feed header.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/feed/data_feed.h"

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
};

// The offline files of the feeds the flag creates, in creation order.
std::vector<const char*> offlineFilesOf(const std::string& flag);

const std::vector<FeedCatalogEntry>& feedCatalog();
