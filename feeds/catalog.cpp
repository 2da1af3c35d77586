// The feeds this build can create, in the module's fixed creation order.
#include "core/config/feed_catalog.h"

#include "feeds/airport/flight_departures_azinq_feed.h"
#include "feeds/airport/flight_departures_feed.h"
#include "feeds/airport/flight_security_feed.h"
#include "feeds/airport/service_alerts_feed.h"
#include "feeds/news/rss_feed.h"
#include "feeds/news/twitter_feed.h"
#include "feeds/opendata/open_data_r2p_feed.h"
#include "feeds/opendata/open_data_tfe_feed.h"
#include "feeds/opendata/open_data_tfl_feed.h"
#include "feeds/opendata/tfl_line_status_feed.h"
#include "feeds/rail_siri/darwin_feed.h"
#include "feeds/rail_siri/siri_sm_feed.h"
#include "feeds/rail_siri/siri_sm_tt_feed.h"
#include "feeds/transit/avms_feed.h"
#include "feeds/transit/gtfs_rt_feed.h"
#include "feeds/transit/transit_cloud_feed.h"
#include "feeds/transit/txc_st_feed.h"

namespace {
template <typename Feed, typename... Args>
std::unique_ptr<DataFeed> make(Args&&... args) {
    return std::make_unique<Feed>(std::forward<Args>(args)...);
}

// The checks of feeds whose needs depend on other keys.
void checkSiri(FeedCheck& check) {
    const int provider = check.number("siri_sm_feed_provider");
    if (provider < kSiriProviderVix || provider > kSiriProviderR2p) {
        check.add("siri_sm_feed_provider: " + std::to_string(provider) +
                  " is not 1 (VIX), 2 (Ticketer) or 3 (R2P); no request is sent");
        return;
    }
    // VIX and Ticketer requests are refused without a requestor reference.
    if (provider != kSiriProviderR2p) check.requireAll("SIRI_SM_Feed and SIRI_SM_TT_Feed", {"siri_sm_requestor_ref"});
}

void checkGtfsRt(FeedCheck& check) {
    for (const char* key : {"gtfs_rt_url", "gtfs_rt_vehicle_position_url", "gtfs_rt_trip_update_url", "gtfs_rt_alert_url"})
        if (!check.text(key).empty()) return;
    check.add("gtfs_rt_enable: GTFS_RT_Feed cannot work without gtfs_rt_url, or one of gtfs_rt_vehicle_position_url, "
              "gtfs_rt_trip_update_url and gtfs_rt_alert_url");
}

void checkLineStatus(FeedCheck& check) {
    const int mask = check.number("tfl_line_status_lines");
    bool any = false;
    for (const TFL_Line_Status_FeedImpl::ModeKey& mode : TFL_Line_Status_FeedImpl::kModeKeys) {
        if ((mask & (1 << mode.mode)) == 0) continue;
        any = true;
        if (check.text(mode.urlKey).empty())
            check.add(std::string("tfl_line_status_lines: selects ") + mode.name + ", but " + mode.urlKey + " is not set");
    }
    if (!any)
        check.add("tfl_line_status_enable: TFL_Line_Status_Feed asks for nothing while tfl_line_status_lines selects "
                  "no mode (1 tube, 2 Elizabeth line, 4 overground, 8 DLR, 16 tram)");
}

void checkTransitCloud(FeedCheck& check) {
    if (!check.text("tco_url").empty()) return;
    const std::string file = check.text("tco_test_feed_file");  // "" turns the file off
    if (!file.empty() && check.readable(file)) return;
    check.add("tco_enable: TransitCloud_Onboard_Feed cannot work without tco_url" +
              (file.empty() ? std::string(" (its test file is turned off)") : " (or its test file " + file + ")"));
}
}  // namespace

const std::vector<FeedCatalogEntry>& feedCatalog() {
    static const std::vector<FeedCatalogEntry> catalog = {
        {"twitter_enable", "TwitterFeed", "twitter", {}, [](const FeedUrls&) { return make<TwitterFeed>(); }},
        {"rss_enable", "RssFeed", "rss", {"rss_url"}, [](const FeedUrls& u) { return make<RssFeed>(u[0]); }},
        {"open_data_tfe_enable", "OpenDataTFE_Feed", "open_data_tfe", {"open_data_tfe_url"},
         [](const FeedUrls& u) { return make<OpenDataTFE_Feed>(u[0]); }, {}, {}, nullptr, "open_data_r2p_enable",
         "Open Data TfE Lothian"},
        {"open_data_r2p_enable", "OpenDataR2P_Feed", "open_data_r2p", {"open_data_r2p_url"},
         [](const FeedUrls& u) { return make<OpenDataR2P_Feed>(u[0]); }, {}, {"Database"}, nullptr, nullptr,
         "Open Data R2P Oxford"},
        {"open_data_tfl_enable", "OpenDataTFL_Feed", "open_data_tfl", {"open_data_tfl_url"},
         [](const FeedUrls& u) { return make<OpenDataTFL_Feed>(u[0]); }},
        {"rail_departures_enable", "DarwinFeed", "rail_departures", {}, [](const FeedUrls&) { return make<DarwinFeed>(); },
         {kDarwinOfflinePath}, {"rail_departures_client_token"}},
        {"flight_departures_enable", "FlightDeparturesFeed", "flight_departures", {"flight_departures_url"},
         [](const FeedUrls& u) { return make<FlightDeparturesFeed>(u[0]); }},
        {"flight_security_enable", "FlightSecurityFeed", "flight_security", {"flight_security_url"},
         [](const FeedUrls& u) { return make<FlightSecurityFeed>(u[0]); }},
        {"flight_departures_azinq_enable", "FlightDeparturesAzinqFeed", "flight_departures_azinq", {"flight_departures_azinq_url"},
         [](const FeedUrls& u) { return make<FlightDeparturesAzinqFeed>(u[0]); }, {kAzinqOfflinePath},
         {"flight_departures_username", "flight_departures_password", "flight_departures_token"}},
        {"service_alerts_enable", "ServiceAlertsFeed", "service_alert", {"service_alerts_url"},
         [](const FeedUrls& u) { return make<ServiceAlertsFeed>(u[0]); }},
        {"siri_sm_enable", "SIRI_SM_Feed", "siri_sm", {"siri_sm_url"}, [](const FeedUrls& u) { return make<SIRI_SM_Feed>(u[0]); },
         {kSiriSmOfflinePath}, {}, checkSiri},
        {"siri_sm_enable", "SIRI_SM_TT_Feed", "siri_sm_tt", {"siri_sm_url"}, [](const FeedUrls& u) { return make<SIRI_SM_TT_Feed>(u[0]); },
         {kSiriSmTtOfflinePath}},
        {"txc_st_enable", "TXC_ST_Feed", "txc_st", {"txc_st_url"}, [](const FeedUrls& u) { return make<TXC_ST_Feed>(u[0]); }, {}, {"txc_st_url"}},
        {"gtfs_rt_enable", "GTFS_RT_Feed", "gtfs_rt", {"gtfs_rt_url"}, [](const FeedUrls& u) { return make<GTFS_RT_Feed>(u[0]); }, {}, {}, checkGtfsRt},
        {"tfl_line_status_enable", "TFL_Line_Status_Feed", "tfl_line_status",
         {"tfl_line_status_tube_url", "tfl_line_status_overground_url", "tfl_line_status_elizabeth_url",
          "tfl_line_status_dlr_url", "tfl_line_status_tram_url"},
         [](const FeedUrls& u) { return make<TFL_Line_Status_Feed>(u[0], u[1], u[2], u[3], u[4]); }, {}, {},
         checkLineStatus},
        {"tco_enable", "TransitCloud_Onboard_Feed", "tco", {"tco_url"}, [](const FeedUrls& u) { return make<TransitCloud_Onboard_Feed>(u[0]); }, {}, {},
         checkTransitCloud},
        {"avms_enable", "AVMS_Feed", "avms", {}, [](const FeedUrls&) { return make<AVMS_Feed>(); }},
    };
    return catalog;
}
