#include "core/web_services.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iostream>

#include "core/config_keys.h"
#include "core/config_table.h"
#include "core/download.h"
#include "core/file_write.h"
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

// A size key in bytes or values: a positive integer, otherwise the default.
size_t readSizeKey(const Json::Value& params, const char* key, size_t defaultValue) {
    int value = readIntKey(params, key, 0);
    return value > 0 ? static_cast<size_t>(value) : defaultValue;
}

void drainWakeFd(int fd) {
    uint64_t count;
    while (read(fd, &count, sizeof count) == sizeof count) {
    }
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
    // A misspelt key would otherwise leave its feed on the default without a word.
    for (const std::string& warning : unknownKeyWarnings(params)) logLine(8, "CWebServices: ", warning);

    ModuleUrls urls;
    std::vector<std::string> enabledFlags;
    readConfiguration(params, urls, enabledFlags);
    createFeeds(urls, enabledFlags);

    std::vector<std::string> filesWritten;
    for (auto& feed : m_feeds) {
        feed->updateModuleParmMap(parmMap);
        feed->readModuleParmMap();
        for (std::string& path : feed->impl().filesWritten()) filesWritten.push_back(std::move(path));
    }
    // A write the process was killed in left its temporary; nothing else would remove it.
    removeLeftoverTemporaries(filesWritten);
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    int workers = readIntKey(params, "max_parallel_downloads", kDefaultParallelDownloads);
    if (workers < 1 || workers > 64) {
        logLine(8, "CWebServices: max_parallel_downloads ", workers, " is outside 1..64; ",
                kDefaultParallelDownloads, " used");
        workers = kDefaultParallelDownloads;
    }
    allowDownloads();
    m_pool = std::make_unique<RefreshPool>(static_cast<unsigned>(workers));
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
    DownloadLimits limits;
    limits.maxDownloadBytes = readSizeKey(params, "max_download_bytes", limits.maxDownloadBytes);
    limits.gtfsRtMaxDownloadBytes = readSizeKey(params, "gtfs_rt_max_download_bytes", limits.gtfsRtMaxDownloadBytes);
    limits.maxJsonValues = readSizeKey(params, "max_json_values", limits.maxJsonValues);
    setDownloadLimits(limits);
    m_staleAfterSeconds = std::max(0, readIntKey(params, "stale_after_seconds", 0));
    const bool tlsInsecure = readFlagKey(params, "tls_insecure");
    setCredentialCertificateChecks(!tlsInsecure);
    if (tlsInsecure)
        logLine(8, "CWebServices: tls_insecure is 1: server certificates are not checked, "
                   "credentials can be read by anyone on the network path.");

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
            m_freshness.emplace_back(entry.prefix);
            m_slots.emplace_back();
            m_slots.back().name = std::string(flag).substr(0, flag.rfind("_enable"));
            created = true;
        }
        if (!created) logLine(8, "CWebServices: no feed is built for the enabled flag: ", flag);
    }
}

CWebServices::~CWebServices() {
    logLine(2, "Destructing CWebServices");
    stopWorkers();
    if (m_timer.state == CTimer::kRunning) {
        int rc = vorn_timer_stop(&m_timer.handle);
        if (rc < 0) reportTimerError("vorn_timer_stop", rc);
    }
    if (m_timer.handle.fd >= 0) close(m_timer.handle.fd);
    if (m_timer.loop && m_wakeFd >= 0) m_timer.loop->unwatch(m_wakeFd);
    if (m_wakeFd >= 0) close(m_wakeFd);
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
    if (m_wakeFd >= 0)
        loop.watch(m_wakeFd, [this] {
            drainWakeFd(m_wakeFd);
            applyFinished();
        });
    CModule::SetEventLoop(loop);
}

void CWebServices::Update() {
    clearStaleFeeds();
    int64_t now = monotonicSeconds();
    if (!m_updateDue && now - m_lastUpdate <= g_pollInterval) return;
    m_lastUpdate = now;
    m_updateDue = false;
    startCycle();
}

void CWebServices::updateAllFeeds() {
    waitUntilIdle();
    startCycle();
    waitUntilIdle();
}

bool CWebServices::busy(const FeedSlot& slot) const {
    return slot.state != FeedSlot::State::kIdle || slot.resultReady;
}

bool CWebServices::anyBusy() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_finished.empty()) return true;
    for (const auto& slot : m_slots)
        if (busy(slot)) return true;
    return false;
}

void CWebServices::startCycle() {
    logLine(2, "CWebServices: Updating data from webservices...");
    std::vector<size_t> starting;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (size_t i = 0; i < m_slots.size(); ++i) {
            FeedSlot& slot = m_slots[i];
            if (busy(slot)) {
                logLine(8, "CWebServices: ", slot.name, " is still refreshing; left out of this cycle");
                continue;
            }
            slot.inCycle = true;
            starting.push_back(i);
        }
    }
    for (size_t i : starting) queueRefresh(i, true);
}

void CWebServices::queueRefresh(size_t index, bool forCycle) {
    unsigned ticket;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        FeedSlot& slot = m_slots[index];
        slot.state = FeedSlot::State::kQueued;
        slot.forCycle = forCycle;
        ticket = ++slot.ticket;
    }
    // The options are copied for the job: workers never read module-wide settings.
    // A refresh an import asked for goes ahead of the cycle's.
    if (m_pool)
        m_pool->post([this, index, ticket, curlParams = g_curlParams] { refreshOnWorker(index, ticket, curlParams); },
                     !forCycle);
}

void CWebServices::refreshOnWorker(size_t index, unsigned ticket, const std::string& curlParams) {
    DataFeed* feed;
    std::string name;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_slots[index].ticket != ticket) return;  // replaced by a refresh an import asked for
        m_slots[index].state = FeedSlot::State::kRunning;
        feed = m_feeds[index].get();
        name = m_slots[index].name;
    }
    FinishedRefresh finished{index, {}};
    try {
        feed->downloadData(curlParams);
        finished.pairs = feed->getExportPairs();
    } catch (const std::exception& e) {
        // A feed should never throw; on a worker an escaping exception would end the process.
        logLine(16, "CWebServices: ", name, " refresh failed: ", e.what());
    }
    finished.usableAt = feed->impl().usableDataAt();
    feed->clearExportPairs();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_finished.push_back(std::move(finished));
    }
    uint64_t one = 1;
    if (write(m_wakeFd, &one, sizeof one) < 0) logLine(16, "CWebServices: cannot wake the loop: ", std::strerror(errno));
}

void CWebServices::applyFinished() {
    std::vector<FinishedRefresh> finished;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        finished.swap(m_finished);
    }
    for (auto& done : finished) {
        std::unique_lock<std::mutex> lock(m_mutex);
        FeedSlot& slot = m_slots[done.slot];
        slot.state = FeedSlot::State::kIdle;
        if (slot.parameters) {
            m_feeds[done.slot]->updateParemeters(*slot.parameters);
            slot.parameters.reset();
        }
        // Imports that came while it ran; a refresh they ask for replaces this result.
        bool refreshAgain = false;
        while (!slot.imports.empty()) {
            SymbolValue import = std::move(slot.imports.front());
            slot.imports.pop_front();
            if (m_feeds[done.slot]->symbolUpdate(import.first, 0, import.second)) refreshAgain = true;
        }
        if (refreshAgain) {
            slot.inCycle = false;
            lock.unlock();
            queueRefresh(done.slot, false);
        } else if (slot.forCycle) {
            slot.result = std::move(done.pairs);
            slot.resultUsableAt = done.usableAt;
            slot.resultReady = true;
        } else {
            lock.unlock();
            publish(done.slot, std::move(done.pairs), done.usableAt);
        }
    }
    applyCycleInOrder();
}

void CWebServices::applyCycleInOrder() {
    for (size_t i = 0; i < m_slots.size(); ++i) {
        SymbolPairs pairs;
        int64_t usableAt;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            FeedSlot& slot = m_slots[i];
            if (!slot.inCycle) continue;
            if (!slot.resultReady) return;  // the feeds after it wait
            pairs = std::move(slot.result);
            usableAt = slot.resultUsableAt;
            slot.result.clear();
            slot.resultReady = false;
            slot.inCycle = false;
        }
        publish(i, std::move(pairs), usableAt);
    }
}

void CWebServices::publish(size_t slot, SymbolPairs pairs, int64_t usableAt) {
    ExportFeed(m_freshness[slot].publish(std::move(pairs), usableAt, wallClockSeconds(), m_staleAfterSeconds));
}

void CWebServices::clearStaleFeeds() {
    if (m_staleAfterSeconds <= 0) return;
    const int64_t now = wallClockSeconds();
    for (FeedFreshness& freshness : m_freshness) {
        SymbolPairs cleared = freshness.clearIfStale(now, m_staleAfterSeconds);
        if (!cleared.empty()) ExportFeed(cleared);
    }
}

void CWebServices::waitUntilIdle() {
    while (anyBusy()) {
        pollfd wake{m_wakeFd, POLLIN, 0};
        if (poll(&wake, 1, -1) < 0 && errno != EINTR) break;
        drainWakeFd(m_wakeFd);
        applyFinished();
    }
}

void CWebServices::ExportFeed(const SymbolPairs& pairs) {
    for (const auto& pair : pairs) {
        logLine(2, "CWebServices: Exporting symbol:", pair.first, " : ", pair.second);
        std::lock_guard<std::mutex> lock(Tags().mutex());
        Tags().SetValueByTag(pair.first, pair.second);
    }
    Broadcast();
}

void CWebServices::SymbolUpdate(const std::string& name, int x, const std::string& value) {
    std::vector<size_t> refresh;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (size_t i = 0; i < m_slots.size(); ++i) {
            FeedSlot& slot = m_slots[i];
            if (slot.state == FeedSlot::State::kRunning) {
                slot.imports.emplace_back(name, value);
                continue;
            }
            // Idle, or queued but not yet picked up by a worker: no other thread touches it.
            if (!m_feeds[i]->symbolUpdate(name, x, value)) continue;
            // The refresh the import asks for replaces a queued one and a result
            // still waiting for the feeds before it, and is published as soon as it ends.
            slot.resultReady = false;
            slot.inCycle = false;
            slot.result.clear();
            refresh.push_back(i);
        }
    }
    for (size_t i : refresh) queueRefresh(i, false);
    if (!refresh.empty()) applyCycleInOrder();
}

void CWebServices::ParametersUpdate(const CParameters& params) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (size_t i = 0; i < m_slots.size(); ++i) {
            if (m_slots[i].state == FeedSlot::State::kRunning)
                m_slots[i].parameters = std::make_unique<CParameters>(params);
            else
                m_feeds[i]->updateParemeters(params);
        }
    }
    m_lastUpdate = 0;
    m_updateDue = true;
}

void CWebServices::addFeed(std::unique_ptr<DataFeed> feed, const std::string& name,
                           const std::string& freshnessPrefix) {
    feed->updateModuleParmMap(ParmMap());
    feed->readModuleParmMap();
    m_freshness.emplace_back(freshnessPrefix);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_feeds.push_back(std::move(feed));
    m_slots.emplace_back();
    m_slots.back().name = name;
}

void CWebServices::stopWorkers() {
    if (!m_pool) return;
    // Ending the children first lets every running refresh return at once;
    // a refresh still parsing a large reply is asked to stop.
    endAllDownloads();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& feed : m_feeds) feed->impl().requestStop();
    }
    m_pool->stop();
    m_pool.reset();
    allowDownloads();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_finished.clear();
    for (auto& slot : m_slots) {
        FeedSlot fresh;
        fresh.name = slot.name;
        slot = std::move(fresh);
    }
}

void CWebServices::Shutdown() {
    stopWorkers();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_feeds.clear();
    m_slots.clear();
}

void CWebServices::MessageAck(const std::string&) {}
void CWebServices::ConnectionStateUpdate(bool) {}
