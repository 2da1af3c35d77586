// The feeds the module can create: one row per feed, in the fixed creation
// order, each with the enable flag that creates it and a factory. Declared
// here, defined beside the feeds, so no core file includes a feed header.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/data_feed.h"

// The module's URL keys, read once at construction and handed to the factories.
struct ModuleUrls {
    std::string rss;
    std::string openDataTfe;
    std::string openDataR2p;
    std::string openDataTfl;
    std::string flightDepartures;
    std::string flightSecurity;
    std::string flightDeparturesAzinq;
    std::string serviceAlerts;
    std::string siriSm;
    std::string txcSt;
    std::string gtfsRt;
    std::string tflLineStatusTube;
    std::string tflLineStatusOverground;
    std::string tflLineStatusElizabeth;
    std::string tflLineStatusDlr;
    std::string tflLineStatusTram;
    std::string tco;
};

struct FeedCatalogEntry {
    const char* flag;  // the "ModuleParams" flag that creates the feed
    // Of "<prefix>_updated_at": the prefix of the feed's has_connection
    // symbol, or of its other symbols; distinct for feeds sharing symbols.
    const char* prefix;
    std::unique_ptr<DataFeed> (*create)(const ModuleUrls& urls);
};

const std::vector<FeedCatalogEntry>& feedCatalog();
