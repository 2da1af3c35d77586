#include "core/module_settings.h"

#include <algorithm>
#include <cstdlib>

#include "core/config_keys.h"
#include "core/config_table.h"
#include "platform/debug.h"

namespace {
// What the key table's row for this module key gives for section.
std::string tableValue(const Json::Value& section, const char* key) {
    return configKeyValue(*configKeyRows(key).front(), section);
}

int tableInt(const Json::Value& section, const char* key) { return std::atoi(tableValue(section, key).c_str()); }

size_t tableSize(const Json::Value& section, const char* key) {
    return static_cast<size_t>(std::strtoull(tableValue(section, key).c_str(), nullptr, 10));
}

bool enabled(const std::vector<std::string>& flags, const std::string& flag) {
    return std::find(flags.begin(), flags.end(), flag) != flags.end();
}

// The enable flags set in section, in creation order.
std::vector<std::string> flagsEnabledIn(const Json::Value& section) {
    std::vector<std::string> flags;
    for (const FeedCatalogEntry& entry : feedCatalog())
        if (!enabled(flags, entry.flag) && tableInt(section, entry.flag) != 0) flags.push_back(entry.flag);
    if (enabled(flags, "open_data_tfe_enable") && enabled(flags, "open_data_r2p_enable")) {
        logLine(16, "CWebServices: Open Data TfE Lothian and Open Data R2P Oxford can't be used together.");
        logLine(16, "CWebServices: Action: both disabled.");
        flags.erase(std::remove_if(flags.begin(), flags.end(),
                                   [](const std::string& f) {
                                       return f == "open_data_tfe_enable" || f == "open_data_r2p_enable";
                                   }),
                    flags.end());
    }
    return flags;
}
}  // namespace

ModuleSettings ModuleSettings::read(const Json::Value& params) {
    const Json::Value& section = params.isObject() ? params : Json::Value::nullSingleton();
    ModuleSettings settings;
    settings.curlParams = tableValue(section, "CurlParams");
    settings.pollIntervalSeconds = tableInt(section, "poll_interval");
    settings.staleAfterSeconds = std::max(0, tableInt(section, "stale_after_seconds"));
    settings.limits.maxDownloadBytes = tableSize(section, "max_download_bytes");
    settings.limits.gtfsRtMaxDownloadBytes = tableSize(section, "gtfs_rt_max_download_bytes");
    settings.limits.maxJsonValues = tableSize(section, "max_json_values");
    settings.tlsInsecure = tableInt(section, "tls_insecure") != 0;
    if (settings.tlsInsecure)
        logLine(8, "CWebServices: tls_insecure is 1: server certificates are not checked, "
                   "credentials can be read by anyone on the network path.");

    settings.parallelDownloads = static_cast<unsigned>(tableInt(section, "max_parallel_downloads"));
    const int workers = readIntKey(section, "max_parallel_downloads", static_cast<int>(settings.parallelDownloads));
    if (workers != static_cast<int>(settings.parallelDownloads))
        logLine(8, "CWebServices: max_parallel_downloads ", workers, " is outside 1..64; ",
                settings.parallelDownloads, " used");

    // The default endpoints are the deployment's; without a configured key
    // they answer nothing, which the feeds report as no connection.
    for (const FeedCatalogEntry& entry : feedCatalog())
        for (const char* key : entry.urlKeys) settings.urls.emplace(key, tableValue(section, key));

    settings.enabledFlags = flagsEnabledIn(section);
    return settings;
}
