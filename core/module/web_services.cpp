#include "core/module/web_services.h"

#include <unistd.h>

#include <cstring>
#include <iostream>

#include "core/config/config_keys.h"
#include "core/config/config_table.h"
#include "core/fetch/downloader.h"
#include "core/feed/file_write.h"
#include "core/feed/json_document.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "util/time_convert.h"

namespace {
void timerTick(void* context) {
    auto* timer = static_cast<CTimer*>(context);
    if (timer->callback) timer->callback();
}

void reportTimerError(const char* operation, int code) {
    std::cerr << "CTimer: " << operation << ": " << std::strerror(-code) << '\n';
}

const Json::Value& moduleParamsOf(const CModuleParmMap& parmMap) {
    return parmMap.json().isObject() ? parmMap.json()["ModuleParams"] : Json::Value::nullSingleton();
}

// The time zone is set before anything else is read: feeds read local times.
const Json::Value& withTimeZoneSet(const Json::Value& params) {
    const std::string zone = readStringKey(params, "TimeZone");
    logLine(2, "timr before tzset: ", formatCurrentLocalTime("%H:%M"));
    setProcessTimeZone(zone);
    logLine(2, "timezone set: ", zone);
    logLine(2, "timr after tzset: ", formatCurrentLocalTime("%H:%M"));
    // A misspelt key would otherwise leave its feed on the default without a word.
    for (const std::string& warning : unknownKeyWarnings(params)) logLine(8, "CWebServices: ", warning);
    return params;
}
}  // namespace

CWebServices::CWebServices(const CModuleParmMap& parmMap)
    : CModule(parmMap, "WebServices", 2),
      m_settings(ModuleSettings::read(withTimeZoneSet(moduleParamsOf(parmMap)))),
      m_downloader(
          std::make_shared<Downloader>(m_settings.limits, !m_settings.tlsInsecure, m_settings.httpCompression)),
      m_scheduler(m_settings.parallelDownloads, m_settings.curlParams,
                  [this](size_t feed, SymbolPairs pairs, int64_t usableAt) {
                      publish(feed, std::move(pairs), usableAt);
                  }) {
    createFeeds();
    // Said at start rather than at the first request.
    m_downloader->inProcess(m_settings.curlParams);

    std::vector<std::string> filesWritten;
    for (auto& feed : m_scheduler.feeds())
        for (std::string& path : feed->impl().filesWritten()) filesWritten.push_back(std::move(path));
    // A write the process was killed in left its temporary; nothing else would remove it.
    removeLeftoverTemporaries(filesWritten);
    SetModuleStatus(eStatusOk);
}

void CWebServices::createFeeds() {
    struct Created {
        std::unique_ptr<DataFeed> feed;
        std::string name;
        const char* prefix;
    };
    // Every feed is built before any reads its keys.
    std::vector<Created> created;
    for (const auto& flag : m_settings.enabledFlags) {
        const size_t before = created.size();
        for (const auto& entry : feedCatalog()) {
            if (flag != entry.flag) continue;
            FeedUrls urls;
            for (const char* key : entry.urlKeys) urls.push_back(m_settings.urls.at(key));
            created.push_back({entry.create(urls), flag.substr(0, flag.rfind("_enable")), entry.prefix});
        }
        if (created.size() == before) logLine(8, "CWebServices: no feed is built for the enabled flag: ", flag);
    }
    for (Created& c : created) addFeed(std::move(c.feed), c.name, c.prefix);
}

CWebServices::~CWebServices() {
    logLine(2, "Destructing CWebServices");
    stopWorkers();
    if (m_timer.state == CTimer::kRunning) {
        int rc = vorn_timer_stop(&m_timer.handle);
        if (rc < 0) reportTimerError("vorn_timer_stop", rc);
    }
    if (m_timer.handle.fd >= 0) close(m_timer.handle.fd);
    if (m_timer.loop && m_scheduler.wakeFd() >= 0) m_timer.loop->unwatch(m_scheduler.wakeFd());
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
    if (m_scheduler.wakeFd() >= 0) loop.watch(m_scheduler.wakeFd(), [this] { m_scheduler.applyFinished(); });
    CModule::SetEventLoop(loop);
}

void CWebServices::Update() {
    clearStaleFeeds();
    int64_t now = monotonicSeconds();
    if (!m_updateDue && now - m_lastUpdate <= m_settings.pollIntervalSeconds) return;
    m_lastUpdate = now;
    m_updateDue = false;
    m_scheduler.startCycle();
}

void CWebServices::updateAllFeeds() {
    m_scheduler.waitUntilIdle();
    m_scheduler.startCycle();
    m_scheduler.waitUntilIdle();
}

void CWebServices::publish(size_t feed, SymbolPairs pairs, int64_t usableAt) {
    ExportFeed(m_freshness[feed].publish(std::move(pairs), usableAt, wallClockSeconds(), m_settings.staleAfterSeconds));
}

void CWebServices::clearStaleFeeds() {
    if (m_settings.staleAfterSeconds <= 0) return;
    const int64_t now = wallClockSeconds();
    for (FeedFreshness& freshness : m_freshness) {
        SymbolPairs cleared = freshness.clearIfStale(now, m_settings.staleAfterSeconds);
        if (!cleared.empty()) ExportFeed(cleared);
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
    m_scheduler.symbolUpdate(name, x, value);
}

void CWebServices::ParametersUpdate(const CParameters& params) {
    m_scheduler.parametersUpdate(params);
    m_lastUpdate = 0;
    m_updateDue = true;
}

void CWebServices::addFeed(std::unique_ptr<DataFeed> feed, const std::string& name,
                           const std::string& freshnessPrefix) {
    feed->impl().useDownloader(m_downloader);
    feed->updateModuleParmMap(ParmMap());
    feed->readModuleParmMap();
    m_freshness.emplace_back(freshnessPrefix);
    m_scheduler.add(std::move(feed), name);
}

void CWebServices::stopWorkers() {
    if (m_scheduler.stopped()) return;
    // Ending the children first lets every running refresh return at once.
    m_downloader->endAll();
    m_scheduler.stop();
    m_downloader->allow();
}

void CWebServices::Shutdown() {
    stopWorkers();
    m_scheduler.clear();
}

void CWebServices::MessageAck(const std::string&) {}
void CWebServices::ConnectionStateUpdate(bool) {}
