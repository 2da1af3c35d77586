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
}  // namespace

const std::vector<FeedCatalogEntry>& feedCatalog() {
    static const std::vector<FeedCatalogEntry> catalog = {
        {"twitter_enable", "TwitterFeed", "twitter", {}, [](const FeedUrls&) { return make<TwitterFeed>(); }},
        {"rss_enable", "RssFeed", "rss", {"rss_url"}, [](const FeedUrls& u) { return make<RssFeed>(u[0]); }},
        {"open_data_tfe_enable", "OpenDataTFE_Feed", "open_data_tfe", {"open_data_tfe_url"},
         [](const FeedUrls& u) { return make<OpenDataTFE_Feed>(u[0]); }},
        {"open_data_r2p_enable", "OpenDataR2P_Feed", "open_data_r2p", {"open_data_r2p_url"},
         [](const FeedUrls& u) { return make<OpenDataR2P_Feed>(u[0]); }},
        {"open_data_tfl_enable", "OpenDataTFL_Feed", "open_data_tfl", {"open_data_tfl_url"},
         [](const FeedUrls& u) { return make<OpenDataTFL_Feed>(u[0]); }},
        {"rail_departures_enable", "DarwinFeed", "rail_departures", {}, [](const FeedUrls&) { return make<DarwinFeed>(); },
         {kDarwinOfflinePath}},
        {"flight_departures_enable", "FlightDeparturesFeed", "flight_departures", {"flight_departures_url"},
         [](const FeedUrls& u) { return make<FlightDeparturesFeed>(u[0]); }},
        {"flight_security_enable", "FlightSecurityFeed", "flight_security", {"flight_security_url"},
         [](const FeedUrls& u) { return make<FlightSecurityFeed>(u[0]); }},
        {"flight_departures_azinq_enable", "FlightDeparturesAzinqFeed", "flight_departures_azinq", {"flight_departures_azinq_url"},
         [](const FeedUrls& u) { return make<FlightDeparturesAzinqFeed>(u[0]); }, {kAzinqOfflinePath}},
        {"service_alerts_enable", "ServiceAlertsFeed", "service_alert", {"service_alerts_url"},
         [](const FeedUrls& u) { return make<ServiceAlertsFeed>(u[0]); }},
        {"siri_sm_enable", "SIRI_SM_Feed", "siri_sm", {"siri_sm_url"}, [](const FeedUrls& u) { return make<SIRI_SM_Feed>(u[0]); },
         {kSiriSmOfflinePath}},
        {"siri_sm_enable", "SIRI_SM_TT_Feed", "siri_sm_tt", {"siri_sm_url"}, [](const FeedUrls& u) { return make<SIRI_SM_TT_Feed>(u[0]); },
         {kSiriSmTtOfflinePath}},
        {"txc_st_enable", "TXC_ST_Feed", "txc_st", {"txc_st_url"}, [](const FeedUrls& u) { return make<TXC_ST_Feed>(u[0]); }},
        {"gtfs_rt_enable", "GTFS_RT_Feed", "gtfs_rt", {"gtfs_rt_url"}, [](const FeedUrls& u) { return make<GTFS_RT_Feed>(u[0]); }},
        {"tfl_line_status_enable", "TFL_Line_Status_Feed", "tfl_line_status",
         {"tfl_line_status_tube_url", "tfl_line_status_overground_url", "tfl_line_status_elizabeth_url",
          "tfl_line_status_dlr_url", "tfl_line_status_tram_url"},
         [](const FeedUrls& u) { return make<TFL_Line_Status_Feed>(u[0], u[1], u[2], u[3], u[4]); }},
        {"tco_enable", "TransitCloud_Onboard_Feed", "tco", {"tco_url"}, [](const FeedUrls& u) { return make<TransitCloud_Onboard_Feed>(u[0]); }},
        {"avms_enable", "AVMS_Feed", "avms", {}, [](const FeedUrls&) { return make<AVMS_Feed>(); }},
    };
    return catalog;
}

std::vector<const char*> offlineFilesOf(const std::string& flag) {
    std::vector<const char*> files;
    for (const FeedCatalogEntry& entry : feedCatalog())
        if (flag == entry.flag) files.insert(files.end(), entry.offlineFiles.begin(), entry.offlineFiles.end());
    return files;
}
