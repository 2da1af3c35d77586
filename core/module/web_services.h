// The module the host loads: reads its configuration, creates the enabled
// feeds, refreshes them from a periodic timer and publishes their pairs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/feed/data_feed.h"
#include "core/config/feed_catalog.h"
#include "core/module/feed_freshness.h"
#include "core/module/module_settings.h"
#include "core/module/refresh_scheduler.h"
#include "platform/event_loop.h"
#include "platform/module.h"

constexpr const char* kDefaultTimeZone = ":/usr/share/zoneinfo/Europe/London";
constexpr unsigned kTimerPeriodMs = 2000;

struct CTimer {
    enum State { kNotSetUp = 0, kRunning = 1, kStopped = 2 };
    int state = kNotSetUp;
    vorn_timer_t handle{};
    CEventLoop* loop = nullptr;
    std::function<void()> callback;
};

class CWebServices : public CModule {
public:
    explicit CWebServices(const CModuleParmMap& parmMap);
    ~CWebServices() override;

    void SymbolUpdate(const std::string& name, int x, const std::string& value) override;
    void ParametersUpdate(const CParameters& params) override;
    void Shutdown() override;
    void MessageAck(const std::string& message) override;
    void ConnectionStateUpdate(bool connected) override;
    void SetEventLoop(CEventLoop& loop) override;

    // The timer callback: starts a full update when due (first tick, after a
    // parameter update, or more than the poll interval after the last one).
    // Feeds refresh on workers; their results are applied as they end.
    void Update();
    // Makes the next Update() a full update, whatever the interval.
    void requestUpdate() { m_updateDue = true; }
    // A full update of every feed, waited for: when it returns every feed has
    // refreshed and its pairs are published, in creation order.
    void updateAllFeeds();
    // Waits until no refresh is running or waiting, applying results as they end.
    void waitUntilIdle() { m_scheduler.waitUntilIdle(); }
    // Publishes one feed's pairs: tag store, then one broadcast.
    void ExportFeed(const SymbolPairs& pairs);

    const std::vector<std::unique_ptr<DataFeed>>& feeds() const { return m_scheduler.feeds(); }
    // Appends a feed built outside the catalog (a test's own feed); it is read
    // its parameter map like the others. With a prefix it exports
    // "<prefix>_updated_at" as the catalog's feeds do.
    void addFeed(std::unique_ptr<DataFeed> feed, const std::string& name = "test feed",
                 const std::string& freshnessPrefix = "");
    int timerState() const { return m_timer.state; }
    const ModuleSettings& settings() const { return m_settings; }

private:
    // Creates the feeds of the enabled flags, in creation order.
    void createFeeds();
    // Publishes a refresh's pairs with the feed's freshness applied.
    void publish(size_t feed, SymbolPairs pairs, int64_t usableAt);
    // On the tick: clears the feeds whose data has just gone stale.
    void clearStaleFeeds();
    void stopWorkers();

    const ModuleSettings m_settings;
    const std::shared_ptr<Downloader> m_downloader;  // the module's download edge, shared by its feeds
    std::vector<FeedFreshness> m_freshness;  // one per feed, in creation order; the loop's alone
    RefreshScheduler m_scheduler;
    int64_t m_lastUpdate = 0;
    bool m_updateDue = true;
    CTimer m_timer;
};
