// The module's own settings, read once from "ModuleParams" when it is
// created (the time zone aside, which is set first of all): each key's kind
// and default come from the key table.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/fetch/downloader.h"
#include "core/config/feed_catalog.h"

struct ModuleSettings {
    std::string curlParams;     // handed to every refresh
    int pollIntervalSeconds = 0;
    unsigned parallelDownloads = 0;  // workers, in the key's range
    int64_t staleAfterSeconds = 0;   // 0: data never goes stale
    DownloadLimits limits;
    bool tlsInsecure = false;  // certificates of requests with credentials go unchecked
    bool httpCompression = true;  // every request asks for a compressed reply
    std::map<std::string, std::string> urls;  // every catalog row's URL keys, by key
    std::vector<std::string> enabledFlags;  // in creation order, TfE and R2P never together

    // Reads params (a "ModuleParams" section; anything else reads as empty),
    // logging what it refuses or overrides.
    static ModuleSettings read(const Json::Value& params);
};
