#include "core/config_table.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "core/config_keys.h"
#include "core/feed_catalog.h"
#include "platform/file_root.h"

namespace {
using K = KeyKind;
using U = KeyUse;

constexpr const char* kModule = "CWebServices";
constexpr const char* kOpenData = "OpenDataTFE_Feed, OpenDataR2P_Feed, OpenDataTFL_Feed";
constexpr const char* kSiri = "SIRI_SM_Feed, SIRI_SM_TT_Feed";
constexpr const char* kLineStatus = "TFL_Line_Status_Feed";

const std::vector<const char*> kAlways;
const std::vector<const char*> kOpenDataFlags = {"open_data_tfe_enable", "open_data_r2p_enable",
                                                 "open_data_tfl_enable"};
const std::vector<const char*> kTfe = {"open_data_tfe_enable"};
const std::vector<const char*> kR2p = {"open_data_r2p_enable"};
const std::vector<const char*> kTfl = {"open_data_tfl_enable"};
const std::vector<const char*> kRss = {"rss_enable"};
const std::vector<const char*> kDarwin = {"rail_departures_enable"};
const std::vector<const char*> kDepartures = {"flight_departures_enable"};
const std::vector<const char*> kAzinq = {"flight_departures_azinq_enable"};
const std::vector<const char*> kSiriFlag = {"siri_sm_enable"};
const std::vector<const char*> kTxc = {"txc_st_enable"};
const std::vector<const char*> kGtfs = {"gtfs_rt_enable"};
const std::vector<const char*> kLines = {"tfl_line_status_enable"};
const std::vector<const char*> kTco = {"tco_enable"};

// A key read once by the module whatever is enabled.
ConfigKey moduleKey(const char* name, KeyKind kind, const char* defaultValue) {
    return {name, kind, U::kText, defaultValue, kModule, kAlways};
}

// Edit distance with adjacent transpositions, so "rss_ulr" is one slip from "rss_url".
size_t spellingDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string kindText(const ConfigKey& key) {
    switch (key.kind) {
        case K::kFlag: return "flag";
        case K::kSize: return "integer (0 or less: the default)";
        case K::kInteger:
            if (key.minValue != INT_MIN || key.maxValue != INT_MAX)
                return "integer (" + std::to_string(key.minValue) + " to " + std::to_string(key.maxValue) + ")";
            return "integer";
        case K::kString: break;
    }
    switch (key.use) {
        case U::kSecret: return "string (secret)";
        case U::kUrl: return "string (URL)";
        case U::kUrlRoot: return "string (URL root)";
        case U::kPath: return "string (path)";
        case U::kOutputPath: return "string (output path)";
        case U::kText: break;
    }
    return "string";
}

std::string shownDefault(const ConfigKey& key) {
    if (key.shownDefault) return key.shownDefault;
    if (key.kind != K::kString) return key.defaultValue;
    std::string text = std::string("\"") + key.defaultValue + "\"";
    return key.defaultUnderRoot ? text + " (under the file root)" : text;
}
}  // namespace

const std::vector<ConfigKey>& configKeys() {
    static const std::vector<ConfigKey> keys = [] {
        std::vector<ConfigKey> table = {
            // The module's own keys.
            moduleKey("TimeZone", K::kString, ":/usr/share/zoneinfo/Europe/London"),
            moduleKey("CurlParams", K::kString, "--connect-timeout 3 --max-time 5"),
            moduleKey("poll_interval", K::kInteger, "60"),
            moduleKey("max_download_bytes", K::kSize, "8388608"),
            moduleKey("gtfs_rt_max_download_bytes", K::kSize, "67108864"),
            moduleKey("max_json_values", K::kSize, "500000"),
            {"max_parallel_downloads", K::kInteger, U::kText, "8", kModule, kAlways, false, 1, 64},
            moduleKey("tls_insecure", K::kFlag, "0"),
            moduleKey("stale_after_seconds", K::kInteger, "0"),
        };
        // Enable flags, in the catalog's creation order.
        for (const FeedCatalogEntry& entry : feedCatalog())
            if (std::string(table.back().name) != entry.flag) table.push_back(moduleKey(entry.flag, K::kFlag, "0"));
        const std::vector<ConfigKey> feedKeys = {
            // Twitter and RSS.
            {"twitter_poll_interval", K::kInteger, U::kText, "300", "TwitterFeed", {"twitter_enable"}},
            {"rss_url", K::kString, U::kUrl, "http://feeds.news.example/news/scotland/rss.xml", "RssFeed", kRss},
            {"rss_item_count", K::kInteger, U::kText, "10", "RssFeed", kRss},
            {"rss_word_wrap_title", K::kInteger, U::kText, "0", "RssFeed", kRss},
            {"rss_word_wrap_description", K::kInteger, U::kText, "0", "RssFeed", kRss},
            // Open-data arrivals.
            {"open_data_tfe_url", K::kString, U::kUrl,
             "https://tfe-opendata.example/api/v2/trip?key=00000000000000000000000000000000", "OpenDataTFE_Feed", kTfe},
            {"open_data_r2p_url", K::kString, U::kUrl,
             "https://r2p-opendata.example/api/v1/live-journeys?api_token="
             "000000000000000000000000000000000000000000000000000000000000",
             "OpenDataR2P_Feed", kR2p},
            {"open_data_tfl_url", K::kString, U::kUrlRoot, "https://api.tfl.example", "OpenDataTFL_Feed", kTfl},
            {"open_data_test_vehicle_id", K::kString, U::kText, "", kOpenData, kOpenDataFlags},
            {"open_data_test_feed_file", K::kString, U::kPath, "/vorn/media/offline/open_data.json", kOpenData,
             kOpenDataFlags, true},
            {"open_data_vehicle_id_key", K::kString, U::kText, "vehicle_id", kOpenData, kOpenDataFlags},
            {"open_data_vehicle_id_strip_chars", K::kInteger, U::kText, "0", kOpenData, kOpenDataFlags},
            {"open_data_timing_points_only", K::kFlag, U::kText, "1", kOpenData, kOpenDataFlags},
            {"Database", K::kString, U::kPath, "", "OpenDataR2P_Feed", kR2p},
            {"Database", K::kString, U::kPath, "/vorn/database/VORN.db", "OpenDataTFL_Feed", kTfl, true},
            {"open_data_tfl_app_id", K::kString, U::kText, "", "OpenDataTFL_Feed", kTfl},
            {"open_data_tfl_app_key", K::kString, U::kSecret, "", "OpenDataTFL_Feed", kTfl},
            {"open_data_tfl_stop_query_count", K::kInteger, U::kText, "6", "OpenDataTFL_Feed", kTfl},
            {"open_data_tfl_filter_direction", K::kInteger, U::kText, "0", "OpenDataTFL_Feed", kTfl},
            // Darwin rail departures (read again on every update).
            {"rail_departures_client_token", K::kString, U::kSecret, "", "DarwinFeed", kDarwin},
            {"rail_departures_max_row_count", K::kString, U::kText, "30", "DarwinFeed", kDarwin},
            {"rail_departures_test_crs", K::kString, U::kText, "", "DarwinFeed", kDarwin},
            {"rail_departures_test_crs_xmins", K::kInteger, U::kText, "0", "DarwinFeed", kDarwin, false, INT_MIN,
             INT_MAX, "absent (not applied)"},
            {"rail_departures_url", K::kString, U::kUrl, "https://lite.realtime.nationalrail.co.uk/OpenLDBWS/ldb11.asmx",
             "DarwinFeed", kDarwin},
            // Airport and service alerts.
            {"flight_departures_url", K::kString, U::kUrl, "https://airport-api.example/api/flights/departures?key=abcdefg",
             "FlightDeparturesFeed", kDepartures},
            {"flight_departures_max_row_count", K::kInteger, U::kText, "30",
             "FlightDeparturesFeed, FlightDeparturesAzinqFeed", {"flight_departures_enable", "flight_departures_azinq_enable"}},
            {"flight_security_url", K::kString, U::kUrl, "https://airport-api.example/api/security/time?key=abcdefg",
             "FlightSecurityFeed", {"flight_security_enable"}},
            {"flight_departures_azinq_url", K::kString, U::kUrl, "https://azinq-api.example/getdata/flights",
             "FlightDeparturesAzinqFeed", kAzinq},
            {"flight_departures_username", K::kString, U::kSecret, "", "FlightDeparturesAzinqFeed", kAzinq},
            {"flight_departures_password", K::kString, U::kSecret, "", "FlightDeparturesAzinqFeed", kAzinq},
            {"flight_departures_token", K::kString, U::kSecret, "", "FlightDeparturesAzinqFeed", kAzinq},
            {"flight_departures_show_cancelled", K::kInteger, U::kText, "1", "FlightDeparturesAzinqFeed", kAzinq},
            {"service_alerts_url", K::kString, U::kUrl, "http://tfe-opendata.example/api/v2/serviceAlerts",
             "ServiceAlertsFeed", {"service_alerts_enable"}},
            // SIRI stop monitoring.
            {"siri_sm_url", K::kString, U::kUrl, "http://siri-vix.example:8080/sslink/SSLinkHTTP", kSiri, kSiriFlag},
            {"siri_sm_feed_provider", K::kInteger, U::kText, "1", kSiri, kSiriFlag},
            {"siri_sm_requestor_ref", K::kString, U::kText, "", kSiri, kSiriFlag},
            {"siri_sm_username", K::kString, U::kText, "", kSiri, kSiriFlag},
            {"siri_sm_password", K::kString, U::kSecret, "", kSiri, kSiriFlag},
            {"siri_sm_key", K::kString, U::kSecret, "", kSiri, kSiriFlag},
            {"siri_sm_point_id", K::kString, U::kText, "", "SIRI_SM_Feed", kSiriFlag},
            {"siri_sm_sort", K::kInteger, U::kText, "9", "SIRI_SM_Feed", kSiriFlag},
            {"siri_sm_max_row_count", K::kInteger, U::kText, "0", "SIRI_SM_Feed", kSiriFlag},
            {"siri_sm_terminus_point_id", K::kString, U::kText, "", "SIRI_SM_TT_Feed", kSiriFlag},
            {"siri_sm_test_vehicle_id", K::kString, U::kText, "", "SIRI_SM_TT_Feed", kSiriFlag},
            {"siri_sm_vehicle_id_prefix", K::kString, U::kText, "", "SIRI_SM_TT_Feed", kSiriFlag},
            // TransXChange timetable.
            {"txc_st_url", K::kString, U::kPath, "", "TXC_ST_Feed", kTxc},
            {"txc_st_next_point_id", K::kString, U::kText, "", "TXC_ST_Feed", kTxc},
            {"txc_st_max_row_count", K::kInteger, U::kText, "0", "TXC_ST_Feed", kTxc},
            // GTFS-Realtime.
            {"gtfs_rt_url", K::kString, U::kUrl, "", "GTFS_RT_Feed", kGtfs},
            {"gtfs_rt_vehicle_position_url", K::kString, U::kUrl, "", "GTFS_RT_Feed", kGtfs},
            {"gtfs_rt_trip_update_url", K::kString, U::kUrl, "", "GTFS_RT_Feed", kGtfs},
            {"gtfs_rt_alert_url", K::kString, U::kUrl, "", "GTFS_RT_Feed", kGtfs},
            {"gtfs_rt_test_vehicle_id", K::kString, U::kText, "", "GTFS_RT_Feed", kGtfs},
            {"gtfs_rt_vehicle_id_property", K::kString, U::kText, "", "GTFS_RT_Feed", kGtfs},
            {"gtfs_rt_auth_key", K::kString, U::kSecret, "", "GTFS_RT_Feed", kGtfs},
            {"gtfs_rt_vehicle_list", K::kInteger, U::kText, "0", "GTFS_RT_Feed", kGtfs},
            // TfL line status.
            {"tfl_line_status_tube_url", K::kString, U::kUrl, "", kLineStatus, kLines},
            {"tfl_line_status_overground_url", K::kString, U::kUrl, "", kLineStatus, kLines},
            {"tfl_line_status_elizabeth_url", K::kString, U::kUrl, "", kLineStatus, kLines},
            {"tfl_line_status_dlr_url", K::kString, U::kUrl, "", kLineStatus, kLines},
            {"tfl_line_status_tram_url", K::kString, U::kUrl, "", kLineStatus, kLines},
            {"tfl_line_status_app_id", K::kString, U::kText, "", kLineStatus, kLines},
            {"tfl_line_status_app_key", K::kString, U::kSecret, "", kLineStatus, kLines},
            {"tfl_line_status_lines", K::kInteger, U::kText, "0", kLineStatus, kLines},
            {"tfl_line_status_sort_column_1", K::kString, U::kText, "mode", kLineStatus, kLines},
            {"tfl_line_status_sort_column_2", K::kString, U::kText, "name", kLineStatus, kLines},
            {"tfl_line_status_sort_column_3", K::kString, U::kText, "", kLineStatus, kLines},
            // TransitCloud on-board service.
            {"tco_url", K::kString, U::kUrlRoot, "", "TransitCloud_Onboard_Feed", kTco},
            {"tco_test_feed_file", K::kString, U::kPath, "/vorn/media/offline/tco_data.json", "TransitCloud_Onboard_Feed",
             kTco, true},
            {"tco_save_download_path", K::kString, U::kOutputPath, "", "TransitCloud_Onboard_Feed", kTco},
        };
        table.insert(table.end(), feedKeys.begin(), feedKeys.end());
        return table;
    }();
    return keys;
}

std::vector<const ConfigKey*> configKeyRows(const std::string& name) {
    std::vector<const ConfigKey*> rows;
    for (const ConfigKey& key : configKeys())
        if (name == key.name) rows.push_back(&key);
    return rows;
}

std::string nearestConfigKey(const std::string& name) {
    const std::string wanted = lower(name);
    // A slip is a character or two, a little more in a long name; further
    // than that a suggestion misleads more than it helps.
    size_t best = std::max<size_t>(2, wanted.size() / 4) + 1;
    std::string nearest;
    for (const ConfigKey& key : configKeys()) {
        size_t distance = spellingDistance(wanted, lower(key.name));
        if (distance < best) {
            best = distance;
            nearest = key.name;
        }
    }
    return nearest;
}

std::string unknownKeyMessage(const std::string& name) {
    std::string message = "unknown key '" + name + "'";
    std::string nearest = nearestConfigKey(name);
    if (!nearest.empty()) message += " (did you mean '" + nearest + "'?)";
    return message;
}

std::vector<std::string> unknownKeyWarnings(const Json::Value& moduleParams) {
    std::vector<std::string> warnings;
    if (!moduleParams.isObject()) return warnings;
    for (const std::string& name : moduleParams.getMemberNames())
        if (configKeyRows(name).empty()) warnings.push_back(unknownKeyMessage(name));
    return warnings;
}

std::string configKeyDefault(const ConfigKey& key) {
    return key.defaultUnderRoot ? rootedPath(key.defaultValue) : key.defaultValue;
}

std::string configKeyValue(const ConfigKey& key, const Json::Value& section) {
    if (key.kind == K::kString) return readStringKey(section, key.name, configKeyDefault(key));
    const int defaultValue = std::atoi(key.defaultValue);
    int value = readIntKey(section, key.name, defaultValue);
    if (key.kind == K::kSize && value <= 0) value = defaultValue;
    if (value < key.minValue || value > key.maxValue) value = defaultValue;
    return std::to_string(value);
}

std::string configKeyIndexMarkdown() {
    std::string text = "| key | kind | default | read by |\n|---|---|---|---|\n";
    for (const ConfigKey& key : configKeys())
        text += std::string("| \"") + key.name + "\" | " + kindText(key) + " | " + shownDefault(key) + " | " +
                key.readBy + " |\n";
    return text;
}
