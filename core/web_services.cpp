#include "core/web_services.h"

#include <unistd.h>

#include <cstring>
#include <iostream>

#include "core/config_keys.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "util/time_convert.h"

namespace {
std::string g_curlParams = kDefaultCurlParams;
int g_pollInterval = kDefaultPollIntervalSeconds;

// The enable flags in creation order.
const char* const kEnableFlags[] = {
    "twitter_enable",          "rss_enable",
    "open_data_tfe_enable",    "open_data_r2p_enable",
    "open_data_tfl_enable",    "rail_departures_enable",
    "flight_departures_enable", "flight_security_enable",
    "flight_departures_azinq_enable", "service_alerts_enable",
    "siri_sm_enable",          "txc_st_enable",
    "gtfs_rt_enable",          "tfl_line_status_enable",
    "tco_enable",              "avms_enable",
};

void timerTick(void* context) {
    auto* timer = static_cast<CTimer*>(context);
    if (timer->callback) timer->callback();
}

void reportTimerError(const char* operation, int code) {
    std::cerr << "CTimer: " << operation << ": " << std::strerror(-code) << '\n';
}
}  // namespace

const std::string& CWebServices::curlParams() { return g_curlParams; }
int CWebServices::pollInterval() { return g_pollInterval; }

CWebServices::CWebServices(const CModuleParmMap& parmMap) : CModule(parmMap, "WebServices", 2) {
    const Json::Value& params = parmMap.json().isObject() ? parmMap.json()["ModuleParams"] : Json::Value::nullSingleton();

    std::string zone = readStringKey(params, "TimeZone", kDefaultTimeZone);
    logLine(2, "timr before tzset: ", formatCurrentLocalTime("%H:%M"));
    setProcessTimeZone(zone);
    logLine(2, "timezone set: ", zone);
    logLine(2, "timr after tzset: ", formatCurrentLocalTime("%H:%M"));

    ModuleUrls urls;
    std::vector<std::string> enabledFlags;
    readConfiguration(params, urls, enabledFlags);
    createFeeds(urls, enabledFlags);

    for (auto& feed : m_feeds) {
        feed->updateModuleParmMap(parmMap);
        feed->readModuleParmMap();
    }
    SetModuleStatus(eStatusOk);
}

void CWebServices::readConfiguration(const Json::Value& params, ModuleUrls& urls,
                                     std::vector<std::string>& enabledFlags) {
    // The default endpoints are the deployment's; without a configured key
    // they answer nothing, which the feeds report as no connection.
    urls.rss = readStringKey(params, "rss_url", "http://feeds.news.example/news/scotland/rss.xml");
    urls.openDataTfe = readStringKey(params, "open_data_tfe_url",
                                     "https://tfe-opendata.example/api/v2/trip?key=00000000000000000000000000000000");
    urls.openDataR2p = readStringKey(params, "open_data_r2p_url",
                                     "https://r2p-opendata.example/api/v1/live-journeys?api_token="
                                     "000000000000000000000000000000000000000000000000000000000000");
    urls.openDataTfl = readStringKey(params, "open_data_tfl_url", "https://api.tfl.example");
    urls.flightDepartures =
        readStringKey(params, "flight_departures_url", "https://airport-api.example/api/flights/departures?key=abcdefg");
    urls.flightSecurity =
        readStringKey(params, "flight_security_url", "https://airport-api.example/api/security/time?key=abcdefg");
    urls.flightDeparturesAzinq =
        readStringKey(params, "flight_departures_azinq_url", "https://azinq-api.example/getdata/flights");
    urls.serviceAlerts = readStringKey(params, "service_alerts_url", "http://tfe-opendata.example/api/v2/serviceAlerts");
    urls.siriSm = readStringKey(params, "siri_sm_url", "http://siri-vix.example:8080/sslink/SSLinkHTTP");
    urls.txcSt = readStringKey(params, "txc_st_url", "");
    urls.gtfsRt = readStringKey(params, "gtfs_rt_url", "");
    urls.tflLineStatusTube = readStringKey(params, "tfl_line_status_tube_url", "");
    urls.tflLineStatusOverground = readStringKey(params, "tfl_line_status_overground_url", "");
    urls.tflLineStatusElizabeth = readStringKey(params, "tfl_line_status_elizabeth_url", "");
    urls.tflLineStatusDlr = readStringKey(params, "tfl_line_status_dlr_url", "");
    urls.tflLineStatusTram = readStringKey(params, "tfl_line_status_tram_url", "");
    urls.tco = readStringKey(params, "tco_url", "");

    g_curlParams = readStringKey(params, "CurlParams", kDefaultCurlParams);
    g_pollInterval = readIntKey(params, "poll_interval", kDefaultPollIntervalSeconds);

    for (const char* flag : kEnableFlags)
        if (readFlagKey(params, flag)) enabledFlags.push_back(flag);

    auto enabled = [&](const std::string& flag) {
        for (const auto& f : enabledFlags)
            if (f == flag) return true;
        return false;
    };
    if (enabled("open_data_tfe_enable") && enabled("open_data_r2p_enable")) {
        logLine(16, "CWebServices: Open Data TfE Lothian and Open Data R2P Oxford can't be used together.");
        logLine(16, "CWebServices: Action: both disabled.");
        std::vector<std::string> kept;
        for (const auto& f : enabledFlags)
            if (f != "open_data_tfe_enable" && f != "open_data_r2p_enable") kept.push_back(f);
        enabledFlags.swap(kept);
    }
}

void CWebServices::createFeeds(const ModuleUrls& urls, const std::vector<std::string>& enabledFlags) {
    const auto& catalog = feedCatalog();
    for (const auto& flag : enabledFlags) {
        bool created = false;
        for (const auto& entry : catalog) {
            if (flag != entry.flag) continue;
            m_feeds.push_back(entry.create(urls));
            created = true;
        }
        if (!created) logLine(8, "CWebServices: no feed is built for the enabled flag: ", flag);
    }
}

CWebServices::~CWebServices() {
    logLine(2, "Destructing CWebServices");
    if (m_timer.state == CTimer::kRunning) {
        int rc = vorn_timer_stop(&m_timer.handle);
        if (rc < 0) reportTimerError("vorn_timer_stop", rc);
    }
    if (m_timer.handle.fd >= 0) close(m_timer.handle.fd);
}

void CWebServices::SetEventLoop(CEventLoop& loop) {
    m_timer.loop = &loop;
    m_timer.callback = [this] { Update(); };
    if (m_timer.state == CTimer::kRunning) {
        int rc = vorn_timer_stop(&m_timer.handle);
        if (rc >= 0)
            m_timer.state = CTimer::kStopped;
        else
            reportTimerError("vorn_timer_stop", rc);
    } else {
        m_timer.state = CTimer::kStopped;
    }
    int rc = vorn_timer_init(&m_timer.handle, timerTick, &m_timer, 0, kTimerPeriodMs);
    if (rc < 0) {
        reportTimerError("vorn_timer_init", rc);
    } else {
        rc = vorn_timer_start(&m_timer.handle, loop);
        if (rc >= 0)
            m_timer.state = CTimer::kRunning;
        else
            reportTimerError("vorn_timer_start", rc);
    }
    CModule::SetEventLoop(loop);
}

void CWebServices::Update() {
    int64_t now = monotonicSeconds();
    if (!m_updateDue && now - m_lastUpdate <= g_pollInterval) return;
    logLine(2, "CWebServices: Updating data from webservices...");
    m_lastUpdate = now;
    m_updateDue = false;
    updateAllFeeds();
}

void CWebServices::updateAllFeeds() {
    for (auto& feed : m_feeds) ExportFeed(*feed);
}

void CWebServices::ExportFeed(DataFeed& feed) {
    feed.downloadData(g_curlParams);
    SymbolPairs pairs = feed.getExportPairs();
    for (const auto& pair : pairs) {
        logLine(2, "CWebServices: Exporting symbol:", pair.first, " : ", pair.second);
        std::lock_guard<std::mutex> lock(Tags().mutex());
        Tags().SetValueByTag(pair.first, pair.second);
    }
    Broadcast();
    feed.clearExportPairs();
}

void CWebServices::SymbolUpdate(const std::string& name, int x, const std::string& value) {
    for (auto& feed : m_feeds)
        if (feed->symbolUpdate(name, x, value)) ExportFeed(*feed);
}

void CWebServices::ParametersUpdate(const CParameters& params) {
    for (auto& feed : m_feeds) feed->updateParemeters(params);
    m_lastUpdate = 0;
    m_updateDue = true;
}

void CWebServices::addFeed(std::unique_ptr<DataFeed> feed) {
    feed->updateModuleParmMap(ParmMap());
    feed->readModuleParmMap();
    m_feeds.push_back(std::move(feed));
}

void CWebServices::Shutdown() { m_feeds.clear(); }

void CWebServices::MessageAck(const std::string&) {}
void CWebServices::ConnectionStateUpdate(bool) {}
