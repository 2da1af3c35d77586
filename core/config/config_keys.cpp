#include "core/config/config_keys.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/fetch/downloader.h"
#include "platform/file_root.h"


namespace {
using K = KeyKind;
using U = KeyUse;

constexpr const char* kModule = "CWebServices";
constexpr const char* kOpenData = "OpenDataTFE_Feed, OpenDataR2P_Feed, OpenDataTFL_Feed";
constexpr const char* kSiri = "SIRI_SM_Feed, SIRI_SM_TT_Feed";
constexpr const char* kLineStatus = "TFL_Line_Status_Feed";

// A key read once by the module whatever is enabled.
ConfigKey moduleKey(const char* name, KeyKind kind, const char* defaultValue) {
    return {name, kind, U::kText, defaultValue, kModule};
}

// atoi's reading (leading blanks, a sign, digits up to the first other
// character, 0 when there are none) without its undefined result on overflow:
// out-of-range numbers are clamped.
int atoiClamped(const std::string& text) {
    long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

[[noreturn]] void keyFault(const char* key, const char* fault) {
    std::fprintf(stderr, "webservices: the code reads \"%s\", %s\n", key, fault);
    std::abort();
}

bool kindFits(KeyKind kind, KeyKind wanted) {
    if (wanted == KeyKind::kInteger) return kind == KeyKind::kInteger || kind == KeyKind::kSize;
    return kind == wanted;
}

// The module's and the feeds' rows of key. The enable flags are not among
// them: the module reads those through the whole table, which the catalog
// completes, so that a feed's readers need no catalog.
std::vector<const ConfigKey*> rowsNamed(const char* key) {
    std::vector<const ConfigKey*> rows;
    for (const auto* table : {&moduleKeyRows(), &feedKeyRows()})
        for (const ConfigKey& row : *table)
            if (std::strcmp(row.name, key) == 0) rows.push_back(&row);
    return rows;
}

// The row of key that a reader of kind uses: the only row, or the one whose
// readers include reader.
const ConfigKey& rowOf(const char* key, KeyKind kind, const char* reader = nullptr) {
    std::vector<const ConfigKey*> rows = rowsNamed(key);
    if (rows.empty()) keyFault(key, "which the key table lacks");
    const ConfigKey* row = rows.front();
    if (reader) {
        row = nullptr;
        for (const ConfigKey* candidate : rows)
            if (isReadBy(*candidate, reader)) row = candidate;
        if (!row) keyFault(key, "and the key table has no row for its reader");
    } else if (rows.size() > 1) {
        keyFault(key, "whose rows differ by reader, without naming the reader");
    }
    if (!kindFits(row->kind, kind)) keyFault(key, "as another kind than its row in the key table");
    return *row;
}
}  // namespace

const std::vector<ConfigKey>& moduleKeyRows() {
    // The download edge's limits are its own defaults, for feeds made without
    // a module too; the table takes them from there.
    static const std::string maxDownloadBytes = std::to_string(DownloadLimits{}.maxDownloadBytes);
    static const std::string gtfsRtMaxDownloadBytes = std::to_string(DownloadLimits{}.gtfsRtMaxDownloadBytes);
    static const std::string maxJsonValues = std::to_string(DownloadLimits{}.maxJsonValues);
    static const std::vector<ConfigKey> rows = {
        moduleKey("TimeZone", K::kString, ":/usr/share/zoneinfo/Europe/London"),
        moduleKey("CurlParams", K::kString, "--connect-timeout 3 --max-time 5"),
        moduleKey("poll_interval", K::kInteger, "60"),
        moduleKey("max_download_bytes", K::kSize, maxDownloadBytes.c_str()),
        moduleKey("gtfs_rt_max_download_bytes", K::kSize, gtfsRtMaxDownloadBytes.c_str()),
        moduleKey("max_json_values", K::kSize, maxJsonValues.c_str()),
        {"max_parallel_downloads", K::kInteger, U::kText, "8", kModule, false, 1, 64},
        moduleKey("tls_insecure", K::kFlag, "0"),
        moduleKey("http_compression", K::kFlag, "1"),
        moduleKey("stale_after_seconds", K::kInteger, "0"),
    };
    return rows;
}

const std::vector<ConfigKey>& feedKeyRows() {
    static const std::vector<ConfigKey> rows = {
        // Twitter and RSS.
        {"twitter_poll_interval", K::kInteger, U::kText, "300", "TwitterFeed"},
        {"rss_url", K::kString, U::kUrl, "http://feeds.news.example/news/scotland/rss.xml", "RssFeed"},
        {"rss_item_count", K::kInteger, U::kText, "10", "RssFeed"},
        {"rss_word_wrap_title", K::kInteger, U::kText, "0", "RssFeed"},
        {"rss_word_wrap_description", K::kInteger, U::kText, "0", "RssFeed"},
        // Open-data arrivals.
        {"open_data_tfe_url", K::kString, U::kUrl,
         "https://tfe-opendata.example/api/v2/trip?key=00000000000000000000000000000000", "OpenDataTFE_Feed"},
        {"open_data_r2p_url", K::kString, U::kUrl,
         "https://r2p-opendata.example/api/v1/live-journeys?api_token="
         "000000000000000000000000000000000000000000000000000000000000",
         "OpenDataR2P_Feed"},
        {"open_data_tfl_url", K::kString, U::kUrlRoot, "https://api.tfl.example", "OpenDataTFL_Feed"},
        {"open_data_test_vehicle_id", K::kString, U::kText, "", kOpenData},
        {"open_data_test_feed_file", K::kString, U::kPath, "/vorn/media/offline/open_data.json", kOpenData, true},
        {"open_data_vehicle_id_key", K::kString, U::kText, "vehicle_id", kOpenData},
        {"open_data_vehicle_id_strip_chars", K::kInteger, U::kText, "0", kOpenData},
        {"open_data_timing_points_only", K::kFlag, U::kText, "1", kOpenData},
        {"Database", K::kString, U::kPath, "", "OpenDataR2P_Feed"},
        {"Database", K::kString, U::kPath, "/vorn/database/VORN.db", "OpenDataTFL_Feed", true},
        {"open_data_tfl_app_id", K::kString, U::kText, "", "OpenDataTFL_Feed"},
        {"open_data_tfl_app_key", K::kString, U::kSecret, "", "OpenDataTFL_Feed"},
        {"open_data_tfl_stop_query_count", K::kInteger, U::kText, "6", "OpenDataTFL_Feed"},
        {"open_data_tfl_filter_direction", K::kInteger, U::kText, "0", "OpenDataTFL_Feed"},
        // Darwin rail departures (read again on every update).
        {"rail_departures_client_token", K::kString, U::kSecret, "", "DarwinFeed"},
        {"rail_departures_max_row_count", K::kString, U::kText, "30", "DarwinFeed"},
        {"rail_departures_test_crs", K::kString, U::kText, "", "DarwinFeed"},
        {"rail_departures_test_crs_xmins", K::kInteger, U::kText, "0", "DarwinFeed", false, INT_MIN,
         INT_MAX, "absent (not applied)"},
        {"rail_departures_url", K::kString, U::kUrl, "https://lite.realtime.nationalrail.co.uk/OpenLDBWS/ldb11.asmx",
         "DarwinFeed"},
        // Airport and service alerts.
        {"flight_departures_url", K::kString, U::kUrl, "https://airport-api.example/api/flights/departures?key=abcdefg",
         "FlightDeparturesFeed"},
        {"flight_departures_max_row_count", K::kInteger, U::kText, "30",
         "FlightDeparturesFeed, FlightDeparturesAzinqFeed"},
        {"flight_security_url", K::kString, U::kUrl, "https://airport-api.example/api/security/time?key=abcdefg",
         "FlightSecurityFeed"},
        {"flight_departures_azinq_url", K::kString, U::kUrl, "https://azinq-api.example/getdata/flights",
         "FlightDeparturesAzinqFeed"},
        {"flight_departures_username", K::kString, U::kSecret, "", "FlightDeparturesAzinqFeed"},
        {"flight_departures_password", K::kString, U::kSecret, "", "FlightDeparturesAzinqFeed"},
        {"flight_departures_token", K::kString, U::kSecret, "", "FlightDeparturesAzinqFeed"},
        {"flight_departures_show_cancelled", K::kInteger, U::kText, "1", "FlightDeparturesAzinqFeed"},
        {"service_alerts_url", K::kString, U::kUrl, "http://tfe-opendata.example/api/v2/serviceAlerts",
         "ServiceAlertsFeed"},
        // SIRI stop monitoring.
        {"siri_sm_url", K::kString, U::kUrl, "http://siri-vix.example:8080/sslink/SSLinkHTTP", kSiri},
        {"siri_sm_feed_provider", K::kInteger, U::kText, "1", kSiri},
        {"siri_sm_requestor_ref", K::kString, U::kText, "", kSiri},
        {"siri_sm_username", K::kString, U::kText, "", kSiri},
        {"siri_sm_password", K::kString, U::kSecret, "", kSiri},
        {"siri_sm_key", K::kString, U::kSecret, "", kSiri},
        {"siri_sm_point_id", K::kString, U::kText, "", "SIRI_SM_Feed"},
        {"siri_sm_sort", K::kInteger, U::kText, "9", "SIRI_SM_Feed"},
        {"siri_sm_max_row_count", K::kInteger, U::kText, "0", "SIRI_SM_Feed"},
        {"siri_sm_terminus_point_id", K::kString, U::kText, "", "SIRI_SM_TT_Feed"},
        {"siri_sm_test_vehicle_id", K::kString, U::kText, "", "SIRI_SM_TT_Feed"},
        {"siri_sm_vehicle_id_prefix", K::kString, U::kText, "", "SIRI_SM_TT_Feed"},
        // TransXChange timetable.
        {"txc_st_url", K::kString, U::kPath, "", "TXC_ST_Feed"},
        {"txc_st_next_point_id", K::kString, U::kText, "", "TXC_ST_Feed"},
        {"txc_st_max_row_count", K::kInteger, U::kText, "0", "TXC_ST_Feed"},
        // GTFS-Realtime.
        {"gtfs_rt_url", K::kString, U::kUrl, "", "GTFS_RT_Feed"},
        {"gtfs_rt_vehicle_position_url", K::kString, U::kUrl, "", "GTFS_RT_Feed"},
        {"gtfs_rt_trip_update_url", K::kString, U::kUrl, "", "GTFS_RT_Feed"},
        {"gtfs_rt_alert_url", K::kString, U::kUrl, "", "GTFS_RT_Feed"},
        {"gtfs_rt_test_vehicle_id", K::kString, U::kText, "", "GTFS_RT_Feed"},
        {"gtfs_rt_vehicle_id_property", K::kString, U::kText, "", "GTFS_RT_Feed"},
        {"gtfs_rt_auth_key", K::kString, U::kSecret, "", "GTFS_RT_Feed"},
        {"gtfs_rt_vehicle_list", K::kInteger, U::kText, "0", "GTFS_RT_Feed"},
        // TfL line status.
        {"tfl_line_status_tube_url", K::kString, U::kUrl, "", kLineStatus},
        {"tfl_line_status_overground_url", K::kString, U::kUrl, "", kLineStatus},
        {"tfl_line_status_elizabeth_url", K::kString, U::kUrl, "", kLineStatus},
        {"tfl_line_status_dlr_url", K::kString, U::kUrl, "", kLineStatus},
        {"tfl_line_status_tram_url", K::kString, U::kUrl, "", kLineStatus},
        {"tfl_line_status_app_id", K::kString, U::kText, "", kLineStatus},
        {"tfl_line_status_app_key", K::kString, U::kSecret, "", kLineStatus},
        {"tfl_line_status_lines", K::kInteger, U::kText, "0", kLineStatus},
        {"tfl_line_status_sort_column_1", K::kString, U::kText, "mode", kLineStatus},
        {"tfl_line_status_sort_column_2", K::kString, U::kText, "name", kLineStatus},
        {"tfl_line_status_sort_column_3", K::kString, U::kText, "", kLineStatus},
        // TransitCloud on-board service.
        {"tco_url", K::kString, U::kUrlRoot, "", "TransitCloud_Onboard_Feed"},
        {"tco_test_feed_file", K::kString, U::kPath, "/vorn/media/offline/tco_data.json", "TransitCloud_Onboard_Feed", true},
        {"tco_save_download_path", K::kString, U::kOutputPath, "", "TransitCloud_Onboard_Feed"},
    };
    return rows;
}

std::string readStringValue(const Json::Value& section, const char* key, const std::string& defaultValue) {
    if (!section.isObject()) return defaultValue;
    const Json::Value& value = section[key];
    return value.isString() ? value.asString() : defaultValue;
}

int readIntValue(const Json::Value& section, const char* key, int defaultValue) {
    if (!section.isObject()) return defaultValue;
    const Json::Value& value = section[key];
    if (value.isNull()) return defaultValue;
    if (value.isConvertibleTo(Json::intValue)) return value.asInt();
    if (value.isString()) return atoiClamped(value.asString());
    return defaultValue;
}

std::string configKeyDefault(const ConfigKey& key) {
    return key.defaultUnderRoot ? rootedPath(key.defaultValue) : key.defaultValue;
}

std::string configKeyValue(const ConfigKey& key, const Json::Value& section) {
    if (key.kind == K::kString) return readStringValue(section, key.name, configKeyDefault(key));
    const int defaultValue = std::atoi(key.defaultValue);
    int value = readIntValue(section, key.name, defaultValue);
    if (key.kind == K::kSize && value <= 0) value = defaultValue;
    if (value < key.minValue || value > key.maxValue) value = defaultValue;
    return std::to_string(value);
}

bool isReadBy(const ConfigKey& key, const std::string& reader) {
    const std::string readers = std::string(", ") + key.readBy + ", ";
    return readers.find(", " + reader + ", ") != std::string::npos;
}

std::string readStringKey(const Json::Value& section, const char* key) {
    return configKeyValue(rowOf(key, KeyKind::kString), section);
}

std::string readStringKeyOf(const char* reader, const Json::Value& section, const char* key) {
    return configKeyValue(rowOf(key, KeyKind::kString, reader), section);
}

int readIntKey(const Json::Value& section, const char* key) {
    return std::atoi(configKeyValue(rowOf(key, KeyKind::kInteger), section).c_str());
}

bool readFlagKey(const Json::Value& section, const char* key) {
    return configKeyValue(rowOf(key, KeyKind::kFlag), section) != "0";
}

bool hasKey(const Json::Value& section, const char* key) {
    if (rowsNamed(key).empty()) keyFault(key, "which the key table lacks");
    return section.isObject() && section.isMember(key);
}
