// Runs the module's feed refreshes on a pool of workers and hands their pairs
// back to the loop thread: a cycle's results in creation order, so the tag
// store and the broadcasts read as in a sequential cycle, and a refresh an
// imported symbol asked for as soon as it ends. Every public operation is
// called on the loop thread; only refreshes run on workers, and a feed is
// touched by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/feed/data_feed.h"
#include "core/module/refresh_pool.h"

class RefreshScheduler {
public:
    // Called on the loop thread with a feed's index (its place in creation
    // order), the pairs of its refresh and the feed's usableDataAt() after it.
    using Publish = std::function<void(size_t feed, SymbolPairs pairs, int64_t usableAt)>;

    // curlParams is handed to every refresh.
    RefreshScheduler(unsigned workers, std::string curlParams, Publish publish);
    ~RefreshScheduler();
    RefreshScheduler(const RefreshScheduler&) = delete;
    RefreshScheduler& operator=(const RefreshScheduler&) = delete;

    // Takes a feed, already given its parameter map; name is for log lines.
    void add(std::unique_ptr<DataFeed> feed, std::string name);
    const std::vector<std::unique_ptr<DataFeed>>& feeds() const { return m_feeds; }
    // Readable when a refresh has ended; the loop then calls applyFinished().
    int wakeFd() const { return m_wakeFd; }

    // Refreshes every feed that is idle; a feed still busy is left out, with a line.
    void startCycle();
    // Offers an imported symbol to every feed: one that is running gets it
    // when it ends; one that takes it refreshes at once, its result published
    // as soon as it ends instead of waiting for the cycle.
    void symbolUpdate(const std::string& name, int x, const std::string& value);
    // Hands a new parameters record to every feed (a running one when it ends).
    void parametersUpdate(const CParameters& params);
    // Applies the refreshes that have ended, then the cycle's results next in order.
    void applyFinished();
    // Applies results as they end until no refresh is queued, running or waiting.
    void waitUntilIdle();
    // Shutdown: asks running refreshes to stop, drops those not started and
    // joins the workers; nothing runs afterwards. The caller ends the
    // downloads first, so that no refresh waits on a transfer.
    void stop();
    bool stopped() const { return !m_pool; }
    // Deletes the feeds (after stop()).
    void clear();

private:
    // Where one feed stands. The loop moves a feed into a queued state and
    // out of kWaitingForOrder; a worker moves it from queued to running and
    // the loop back to idle when the refresh has ended.
    enum class State {
        kIdle,             // nothing queued or running: the loop may touch the feed
        kQueuedForCycle,   // waiting for a worker; the cycle waits for its result
        kQueuedAlone,      // an import's refresh, published as soon as it ends
        kRunningForCycle,  // a worker refreshes it; imports and parameters wait
        kRunningAlone,
        kWaitingForOrder,  // refreshed for the cycle; published once the feeds before it are
    };
    struct Slot {
        std::string name;
        State state = State::kIdle;
        unsigned ticket = 0;  // of the latest queued refresh; an older queued job is dropped
        SymbolPairs result;   // kWaitingForOrder: the pairs to publish
        int64_t resultUsableAt = 0;
        std::deque<SymbolValue> imports;          // arrived while running
        std::unique_ptr<CParameters> parameters;  // arrived while running
    };
    struct Finished {
        size_t slot;
        SymbolPairs pairs;
        int64_t usableAt = 0;
    };

    static bool running(State state) { return state == State::kRunningForCycle || state == State::kRunningAlone; }
    // Marks the slot queued and returns the ticket of its refresh. m_mutex held.
    unsigned markQueued(Slot& slot, bool forCycle);
    // Hands the refresh with this ticket to a worker. m_mutex not held.
    void post(size_t index, unsigned ticket, bool forCycle);
    void refreshOnWorker(size_t index, unsigned ticket);
    void applyCycleInOrder();
    bool anyBusy();

    const std::string m_curlParams;
    const Publish m_publish;
    std::vector<std::unique_ptr<DataFeed>> m_feeds;  // the loop's; a worker touches only its own feed
    std::mutex m_mutex;
    std::vector<Slot> m_slots;           // guarded by m_mutex
    std::vector<Finished> m_finished;    // guarded by m_mutex
    int m_wakeFd = -1;                   // a worker writes it when a refresh ends
    std::unique_ptr<RefreshPool> m_pool;  // null once stopped
};
