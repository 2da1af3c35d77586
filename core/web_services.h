// The module the host loads: reads its configuration, creates the enabled
// feeds, refreshes them from a periodic timer and publishes their pairs.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/data_feed.h"
#include "core/feed_catalog.h"
#include "core/feed_freshness.h"
#include "core/refresh_pool.h"
#include "platform/event_loop.h"
#include "platform/module.h"

constexpr const char* kDefaultTimeZone = ":/usr/share/zoneinfo/Europe/London";
constexpr const char* kDefaultCurlParams = "--connect-timeout 3 --max-time 5";
constexpr int kDefaultPollIntervalSeconds = 60;
constexpr unsigned kTimerPeriodMs = 2000;
constexpr int kDefaultParallelDownloads = 8;

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
    void waitUntilIdle();
    // Publishes one feed's pairs: tag store, then one broadcast.
    void ExportFeed(const SymbolPairs& pairs);

    const std::vector<std::unique_ptr<DataFeed>>& feeds() const { return m_feeds; }
    // Appends a feed built outside the catalog (a test's own feed); it is read
    // its parameter map like the others. With a prefix it exports
    // "<prefix>_updated_at" as the catalog's feeds do.
    void addFeed(std::unique_ptr<DataFeed> feed, const std::string& name = "test feed",
                 const std::string& freshnessPrefix = "");
    int timerState() const { return m_timer.state; }

    // Module-wide settings shared by all feeds (one module per process).
    static const std::string& curlParams();
    static int pollInterval();

private:
    // What the loop knows of one feed. Guarded by m_mutex: a worker moves a
    // refresh from queued to running, so an import can tell whether the feed
    // may be touched.
    struct FeedSlot {
        enum class State { kIdle, kQueued, kRunning };
        std::string name;
        State state = State::kIdle;
        bool inCycle = false;      // the cycle waits for this feed's result
        bool forCycle = false;     // the queued or running refresh is the cycle's
        bool resultReady = false;  // finished, waiting for the feeds before it
        unsigned ticket = 0;       // of the latest queued refresh; an older queued job is dropped
        SymbolPairs result;
        int64_t resultUsableAt = 0;
        std::deque<SymbolValue> imports;  // arrived while running
        std::unique_ptr<CParameters> parameters;  // arrived while running
    };
    struct FinishedRefresh {
        size_t slot;
        SymbolPairs pairs;
        int64_t usableAt = 0;  // the feed's usableDataAt() after the refresh
    };

    void readConfiguration(const Json::Value& params, ModuleUrls& urls, std::vector<std::string>& enabledFlags);
    void createFeeds(const ModuleUrls& urls, const std::vector<std::string>& enabledFlags);
    void startCycle();
    // Marks the feed queued and hands its refresh to a worker (m_mutex not held).
    void queueRefresh(size_t slot, bool forCycle);
    void refreshOnWorker(size_t slot, unsigned ticket, const std::string& curlParams);
    // Applies the refreshes that have ended, then the cycle's results that are next in order.
    void applyFinished();
    void applyCycleInOrder();
    // Publishes a refresh's pairs with the feed's freshness applied.
    void publish(size_t slot, SymbolPairs pairs, int64_t usableAt);
    // On the tick: clears the feeds whose data has just gone stale.
    void clearStaleFeeds();
    bool busy(const FeedSlot& slot) const;
    bool anyBusy();
    void stopWorkers();

    std::vector<std::unique_ptr<DataFeed>> m_feeds;
    std::vector<FeedSlot> m_slots;
    std::vector<FeedFreshness> m_freshness;  // one per feed; the loop's alone
    int64_t m_staleAfterSeconds = 0;
    std::mutex m_mutex;
    std::vector<FinishedRefresh> m_finished;
    int m_wakeFd = -1;  // written by a worker when a refresh ends
    std::unique_ptr<RefreshPool> m_pool;
    int64_t m_lastUpdate = 0;
    bool m_updateDue = true;
    CTimer m_timer;
};
