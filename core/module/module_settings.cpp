#include "core/module/module_settings.h"

#include <algorithm>
#include <cstdlib>

#include "core/config/config_keys.h"
#include "core/config/config_table.h"
#include "platform/debug.h"

namespace {
// The enable flags set in section, in creation order; feeds that cannot run
// together are both left out.
std::vector<std::string> flagsEnabledIn(const Json::Value& section) {
    EnabledFlags enabled = enabledFlagsIn(section);
    for (const auto& conflict : enabled.conflicts) {
        logLine(16, "CWebServices: ", conflict.first->title, " and ", conflict.second->title, " can't be used together.");
        logLine(16, "CWebServices: Action: both disabled.");
    }
    return enabled.flags;
}
}  // namespace

ModuleSettings ModuleSettings::read(const Json::Value& params) {
    const Json::Value& section = params.isObject() ? params : Json::Value::nullSingleton();
    ModuleSettings settings;
    settings.curlParams = readStringKey(section, "CurlParams");
    settings.pollIntervalSeconds = readIntKey(section, "poll_interval");
    settings.staleAfterSeconds = std::max(0, readIntKey(section, "stale_after_seconds"));
    settings.limits.maxDownloadBytes = static_cast<size_t>(readIntKey(section, "max_download_bytes"));
    settings.limits.gtfsRtMaxDownloadBytes = static_cast<size_t>(readIntKey(section, "gtfs_rt_max_download_bytes"));
    settings.limits.maxJsonValues = static_cast<size_t>(readIntKey(section, "max_json_values"));
    settings.tlsInsecure = readFlagKey(section, "tls_insecure");
    settings.httpCompression = readFlagKey(section, "http_compression");
    if (settings.tlsInsecure)
        logLine(8, "CWebServices: tls_insecure is 1: server certificates are not checked, "
                   "credentials can be read by anyone on the network path.");

    settings.parallelDownloads = static_cast<unsigned>(readIntKey(section, "max_parallel_downloads"));
    const int workers = readIntValue(section, "max_parallel_downloads", static_cast<int>(settings.parallelDownloads));
    const ConfigKey& range = *configKeyRows("max_parallel_downloads").front();
    if (workers != static_cast<int>(settings.parallelDownloads))
        logLine(8, "CWebServices: max_parallel_downloads ", workers, " is outside ", range.minValue, "..",
                range.maxValue, "; ", settings.parallelDownloads, " used");

    // The default endpoints are the deployment's; without a configured key
    // they answer nothing, which the feeds report as no connection.
    for (const FeedCatalogEntry& entry : feedCatalog())
        for (const char* key : entry.urlKeys) settings.urls.emplace(key, readStringKey(section, key));

    settings.enabledFlags = flagsEnabledIn(section);
    return settings;
}
