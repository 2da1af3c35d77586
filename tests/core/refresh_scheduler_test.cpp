// The refresh scheduler on a real event loop: results in creation order,
// imports for busy feeds, the worker kept for imports, and shutdown.
#include "core/module/refresh_scheduler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "core/module/web_services.h"
#include "platform/event_loop.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"
#include "util/time_convert.h"

namespace {
// A door the test opens: a refresh that passes through it waits until then.
struct Gate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    int waiting = 0;
    void pass() {
        std::unique_lock<std::mutex> lock(mutex);
        ++waiting;
        opened.wait(lock, [this] { return open; });
        --waiting;
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
        opened.notify_all();
    }
    bool held() {
        std::lock_guard<std::mutex> lock(mutex);
        return waiting > 0;
    }
};

// Exports its refresh count and the stop it was last given; its first
// refresh waits at the gate when it has one.
class GatedFeedImpl : public DataFeedImpl {
public:
    GatedFeedImpl(std::string name, Gate* gate) : m_name(std::move(name)), m_gate(gate) {}
    int downloadData(std::string) override {
        ++m_refreshes;
        if (m_gate && m_refreshes == 1) m_gate->pass();
        addPair(m_name, std::to_string(m_refreshes) + m_stop);
        return 0;
    }
    bool symbolUpdate(const std::string& name, int, const std::string& value) override {
        return takeImportedSymbol(name, value, m_name + "_stop", m_stop, "GatedFeedImpl: New stop ID: ");
    }
    std::string m_name;
    Gate* m_gate;
    int m_refreshes = 0;
    std::string m_stop;
};

std::unique_ptr<DataFeed> gatedFeed(const std::string& name, Gate* gate = nullptr) {
    return std::make_unique<DataFeed>(std::make_unique<GatedFeedImpl>(name, gate));
}

// Runs the loop until done() or five seconds have passed.
bool pumpUntil(CEventLoop& loop, const std::function<bool()>& done) {
    for (int i = 0; i < 250 && !done(); ++i) loop.runOnce(20);
    return done();
}

// Gives the other feeds' refreshes time to end and be taken.
void settle(CEventLoop& loop) {
    for (int i = 0; i < 10; ++i) loop.runOnce(20);
}

// A scheduler on a real loop, publishing "name=value" for each pair.
class RefreshSchedulerTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (auto& scheduler : schedulers) loop.unwatch(scheduler->wakeFd());
    }
    RefreshScheduler& makeScheduler(unsigned workers = 8) {
        schedulers.push_back(std::make_unique<RefreshScheduler>(workers, "", [this](size_t, SymbolPairs pairs, int64_t) {
            for (const auto& pair : pairs) published.push_back(pair.first + "=" + pair.second);
        }));
        RefreshScheduler* scheduler = schedulers.back().get();
        loop.watch(scheduler->wakeFd(), [scheduler] { scheduler->applyFinished(); });
        return *scheduler;
    }
    CEventLoop loop;
    std::vector<std::string> published;
    Gate gate;
    std::vector<std::unique_ptr<RefreshScheduler>> schedulers;
    RefreshScheduler& scheduler = makeScheduler();
};
}  // namespace

TEST_F(RefreshSchedulerTest, ResultsApplyInCreationOrderWhateverOrderTheyEndIn) {
    scheduler.add(gatedFeed("a", &gate), "a");
    scheduler.add(gatedFeed("b"), "b");
    scheduler.add(gatedFeed("c"), "c");
    scheduler.startCycle();
    ASSERT_TRUE(pumpUntil(loop, [&] { return gate.held(); }));
    settle(loop);  // b and c end meanwhile
    EXPECT_TRUE(published.empty()) << "b and c wait for a";
    gate.release();
    scheduler.waitUntilIdle();
    EXPECT_EQ(published, (std::vector<std::string>{"a=1", "b=1", "c=1"}));
}

TEST_F(RefreshSchedulerTest, ImportsForABusyFeedAreQueuedOrTakenAtOnce) {
    LogCapture log;
    scheduler.add(gatedFeed("a", &gate), "a");
    scheduler.add(gatedFeed("b"), "b");
    scheduler.startCycle();
    ASSERT_TRUE(pumpUntil(loop, [&] { return gate.held(); }));
    settle(loop);
    // a is running: its import waits; b's result waits for a: b takes it at once
    // and refreshes again, and that refresh replaces the waiting result.
    scheduler.symbolUpdate("a_stop", 0, "S1");
    scheduler.symbolUpdate("b_stop", 0, "S2");
    EXPECT_TRUE(log.contains("GatedFeedImpl: New stop ID: S2", 2));
    EXPECT_FALSE(log.contains("GatedFeedImpl: New stop ID: S1", 2)) << "a running feed was touched";
    ASSERT_TRUE(pumpUntil(loop, [&] { return !published.empty(); })) << "the import refresh applies as soon as it ends";
    EXPECT_EQ(published, (std::vector<std::string>{"b=2S2"}));
    gate.release();
    scheduler.waitUntilIdle();
    // a's cycle result is replaced by the refresh its queued import asked for.
    EXPECT_EQ(published, (std::vector<std::string>{"b=2S2", "a=2S1"}));
}

TEST_F(RefreshSchedulerTest, AnImportedStopOvertakesACycleStuckOnEveryWorker) {
    RefreshScheduler& twoWorkers = makeScheduler(2);
    twoWorkers.add(gatedFeed("a", &gate), "a");
    twoWorkers.add(gatedFeed("b", &gate), "b");
    twoWorkers.add(gatedFeed("c"), "c");
    twoWorkers.startCycle();
    ASSERT_TRUE(pumpUntil(loop, [&] { return gate.held(); }));
    settle(loop);
    // a holds the one worker the cycle may use; b and c wait for it. The
    // import takes c out of the cycle and runs on the worker kept for imports.
    twoWorkers.symbolUpdate("c_stop", 0, "S");
    ASSERT_TRUE(pumpUntil(loop, [&] { return !published.empty(); }));
    EXPECT_EQ(published, (std::vector<std::string>{"c=1S"}));
    gate.release();
    twoWorkers.waitUntilIdle();
    EXPECT_EQ(published, (std::vector<std::string>{"c=1S", "a=1", "b=1"})) << "c's queued cycle refresh was dropped";
}

TEST_F(RefreshSchedulerTest, AFeedStillBusyIsLeftOutOfTheNextCycle) {
    LogCapture log;
    scheduler.add(gatedFeed("a", &gate), "a");
    scheduler.add(gatedFeed("b"), "b");
    scheduler.startCycle();
    ASSERT_TRUE(pumpUntil(loop, [&] { return gate.held(); }));
    scheduler.startCycle();
    EXPECT_TRUE(log.contains("CWebServices: a is still refreshing; left out of this cycle", 8)) << log.dump();
    EXPECT_TRUE(log.contains("CWebServices: b is still refreshing; left out of this cycle", 8)) << "its result waits for a";
    gate.release();
    scheduler.waitUntilIdle();
    EXPECT_EQ(published, (std::vector<std::string>{"a=1", "b=1"}));
    scheduler.startCycle();
    scheduler.waitUntilIdle();
    EXPECT_EQ(published, (std::vector<std::string>{"a=1", "b=1", "a=2", "b=2"}));
}

// The whole module: a real transfer stalled on its server is ended at shutdown.
TEST_F(RefreshSchedulerTest, AStalledEndpointHoldsUpNeitherTheLoopNorAnImportNorShutdown) {
    TempFileRoot root;
    StalledServer stalled;
    Json::Value params;
    params["rss_enable"] = 1;
    params["rss_url"] = stalled.url("/rss");
    params["CurlParams"] = "--max-time 30 -s";
    Json::Value map;
    map["ModuleParams"] = params;
    CWebServices stalling{CModuleParmMap(map)};
    stalling.setBroadcastSink([this](const std::vector<SymbolValue>& symbols) {
        for (const auto& symbol : symbols) published.push_back(symbol.first + "=" + symbol.second);
    });
    stalling.addFeed(gatedFeed("b"), "b");
    stalling.SetEventLoop(loop);
    auto start = std::chrono::steady_clock::now();
    stalling.Update();
    ASSERT_TRUE(pumpUntil(loop, [&] { return stalled.openConnections() > 0; }));
    settle(loop);  // b's cycle refresh ends and waits behind the stalled feed
    stalling.SymbolUpdate("b_stop", 0, "S");
    ASSERT_TRUE(pumpUntil(loop, [&] { return !published.empty(); }));
    EXPECT_EQ(published, (std::vector<std::string>{"b=2S"}));
    stalling.Shutdown();
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 3.0);
    EXPECT_TRUE(childProcesses("curl").empty());
    setProcessTimeZone(kDefaultTimeZone);
}
