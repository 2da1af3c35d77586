// The feeds this build can create, in the module's fixed creation order.
#include "core/feed_catalog.h"

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
#include "feeds/transit/avms.h"
#include "feeds/transit/gtfs_rt_feed.h"
#include "feeds/transit/transit_cloud.h"
#include "feeds/transit/txc_st.h"

namespace {
template <typename Feed, typename... Args>
std::unique_ptr<DataFeed> make(Args&&... args) {
    return std::make_unique<Feed>(std::forward<Args>(args)...);
}
}  // namespace

const std::vector<FeedCatalogEntry>& feedCatalog() {
    static const std::vector<FeedCatalogEntry> catalog = {
        {"twitter_enable", "twitter", [](const ModuleUrls&) { return make<TwitterFeed>(); }},
        {"rss_enable", "rss", [](const ModuleUrls& u) { return make<RssFeed>(u.rss); }},
        {"open_data_tfe_enable", "open_data_tfe",
         [](const ModuleUrls& u) { return make<OpenDataTFE_Feed>(u.openDataTfe); }},
        {"open_data_r2p_enable", "open_data_r2p",
         [](const ModuleUrls& u) { return make<OpenDataR2P_Feed>(u.openDataR2p); }},
        {"open_data_tfl_enable", "open_data_tfl",
         [](const ModuleUrls& u) { return make<OpenDataTFL_Feed>(u.openDataTfl); }},
        {"rail_departures_enable", "rail_departures", [](const ModuleUrls&) { return make<DarwinFeed>(); }},
        {"flight_departures_enable", "flight_departures",
         [](const ModuleUrls& u) { return make<FlightDeparturesFeed>(u.flightDepartures); }},
        {"flight_security_enable", "flight_security",
         [](const ModuleUrls& u) { return make<FlightSecurityFeed>(u.flightSecurity); }},
        {"flight_departures_azinq_enable", "flight_departures_azinq",
         [](const ModuleUrls& u) { return make<FlightDeparturesAzinqFeed>(u.flightDeparturesAzinq); }},
        {"service_alerts_enable", "service_alert",
         [](const ModuleUrls& u) { return make<ServiceAlertsFeed>(u.serviceAlerts); }},
        {"siri_sm_enable", "siri_sm", [](const ModuleUrls& u) { return make<SIRI_SM_Feed>(u.siriSm); }},
        {"siri_sm_enable", "siri_sm_tt", [](const ModuleUrls& u) { return make<SIRI_SM_TT_Feed>(u.siriSm); }},
        {"txc_st_enable", "txc_st", [](const ModuleUrls& u) { return make<TXC_ST_Feed>(u.txcSt); }},
        {"gtfs_rt_enable", "gtfs_rt", [](const ModuleUrls& u) { return make<GTFS_RT_Feed>(u.gtfsRt); }},
        {"tfl_line_status_enable", "tfl_line_status",
         [](const ModuleUrls& u) {
             return make<TFL_Line_Status_Feed>(u.tflLineStatusTube, u.tflLineStatusOverground, u.tflLineStatusElizabeth,
                                               u.tflLineStatusDlr, u.tflLineStatusTram);
         }},
        {"tco_enable", "tco", [](const ModuleUrls& u) { return make<TransitCloud_Onboard_Feed>(u.tco); }},
        {"avms_enable", "avms", [](const ModuleUrls&) { return make<AVMS_Feed>(); }},
    };
    return catalog;
}
