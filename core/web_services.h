// The module the host loads: reads its configuration, creates the enabled
// feeds, refreshes them from a periodic timer and publishes their pairs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/data_feed.h"
#include "core/feed_catalog.h"
#include "platform/event_loop.h"
#include "platform/module.h"

constexpr const char* kDefaultTimeZone = ":/usr/share/zoneinfo/Europe/London";
constexpr const char* kDefaultCurlParams = "--connect-timeout 3 --max-time 5";
constexpr int kDefaultPollIntervalSeconds = 60;
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

    // The timer callback: a full update when due (first tick, after a
    // parameter update, or more than the poll interval after the last one).
    void Update();
    // Makes the next Update() a full update, whatever the interval.
    void requestUpdate() { m_updateDue = true; }
    // Refreshes every feed in creation order, now.
    void updateAllFeeds();
    // Refreshes one feed and publishes its pairs with one broadcast.
    void ExportFeed(DataFeed& feed);

    const std::vector<std::unique_ptr<DataFeed>>& feeds() const { return m_feeds; }
    // Appends a feed built outside the catalog (a test's own feed); it is read
    // its parameter map like the others.
    void addFeed(std::unique_ptr<DataFeed> feed);
    int timerState() const { return m_timer.state; }

    // Module-wide settings shared by all feeds (one module per process).
    static const std::string& curlParams();
    static int pollInterval();

private:
    void readConfiguration(const Json::Value& params, ModuleUrls& urls, std::vector<std::string>& enabledFlags);
    void createFeeds(const ModuleUrls& urls, const std::vector<std::string>& enabledFlags);

    std::vector<std::unique_ptr<DataFeed>> m_feeds;
    int64_t m_lastUpdate = 0;
    bool m_updateDue = true;
    CTimer m_timer;
};
