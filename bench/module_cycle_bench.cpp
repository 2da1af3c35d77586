// A full update cycle of every feed while every endpoint is stalled: how long
// the cycle takes, and how long the event loop is held at most meanwhile.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/module/web_services.h"
#include "platform/debug.h"
#include "platform/event_loop.h"
#include "platform/file_root.h"

namespace {
using Clock = std::chrono::steady_clock;

// Short time-outs keep the benchmark short; a stalled transfer then costs
// about one second, and the cycle is as long as the feed with the most
// requests in a row (TfL line status: one per mode).
constexpr const char* kCurlParams = "--connect-timeout 1 --max-time 1 -s";
// Bounds one cycle, so a module that never finishes ends the run with an error.
constexpr std::chrono::seconds kCycleDeadline{60};
// Between two turns of the loop; the turn itself does not wait.
constexpr std::chrono::milliseconds kLoopPause{1};

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// CPU time of the calling thread: on a shared machine a turn's wall time also
// counts the time the thread waited for a core.
double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Ends the process when one iteration outlives the cycle deadline by far: a
// module that never finishes must not hang the run (updateAllFeeds() waits).
class Watchdog {
public:
    Watchdog() {
        m_thread = std::thread([this] {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (!m_wake.wait_for(lock, kCycleDeadline + std::chrono::seconds(30), [this] { return m_done; })) {
                std::fputs("module_cycle_bench: an iteration outlived its deadline\n", stderr);
                std::_Exit(1);
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    std::thread m_thread;
};

// A loopback port that listens and never accepts: the kernel completes each
// handshake into the backlog and no request is ever read or answered.
class StalledServer {
public:
    StalledServer() {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(m_fd, SOMAXCONN) != 0 ||
            getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            return;
        m_port = ntohs(addr.sin_port);
    }
    ~StalledServer() {
        if (m_fd >= 0) close(m_fd);
    }
    StalledServer(const StalledServer&) = delete;
    StalledServer& operator=(const StalledServer&) = delete;
    bool ok() const { return m_port != 0; }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }

private:
    int m_fd = -1;
    int m_port = 0;
};

// A fresh file root with no offline or test file, so that every feed goes to
// its endpoint: only the vehicle id and the timeline script are there.
class BenchRoot {
public:
    explicit BenchRoot(const StalledServer& server) {
        char pattern[] = "/tmp/module-cycle-bench-XXXXXX";
        if (!mkdtemp(pattern)) return;
        m_dir = pattern;
        std::filesystem::create_directories(m_dir + "/vorn/twitter");
        std::filesystem::create_directories(m_dir + "/tmp");
        std::ofstream(m_dir + "/vorn/vehicle_id") << "bench-vehicle-0001\n";
        const std::string script = m_dir + "/vorn/twitter/do_curl.sh";
        // The vehicle's script gets the curl options as one argument and splits them.
        std::ofstream(script) << "#!/bin/sh\nexec curl $1 " << server.url("/timeline") << "\n";
        chmod(script.c_str(), 0755);
    }
    ~BenchRoot() {
        if (!m_dir.empty()) std::filesystem::remove_all(m_dir);
    }
    BenchRoot(const BenchRoot&) = delete;
    BenchRoot& operator=(const BenchRoot&) = delete;
    const std::string& dir() const { return m_dir; }

private:
    std::string m_dir;
};

// Every feed enabled (TfE stands for the open-data arrivals: TfE and R2P
// together create neither), every URL on the stalled server, every request
// able to go out (ids, stop codes, credentials set).
CModuleParmMap stalledMap(const StalledServer& server, const std::string& root) {
    Json::Value map(Json::objectValue);
    Json::Value& p = map["ModuleParams"];
    p["CurlParams"] = kCurlParams;
    const char* const flags[] = {"twitter_enable",        "rss_enable",
                                 "open_data_tfe_enable",  "open_data_tfl_enable",
                                 "rail_departures_enable", "flight_departures_enable",
                                 "flight_security_enable", "flight_departures_azinq_enable",
                                 "service_alerts_enable", "siri_sm_enable",
                                 "txc_st_enable",         "gtfs_rt_enable",
                                 "tfl_line_status_enable", "tco_enable",
                                 "avms_enable"};
    for (const char* flag : flags) p[flag] = 1;
    p["rss_url"] = server.url("/rss.xml");
    p["open_data_tfe_url"] = server.url("/api/v2/trip?key=bench-tfe-key");
    p["open_data_tfl_url"] = server.url("");
    p["open_data_tfl_app_key"] = "bench-tfl-key";
    p["rail_departures_url"] = server.url("/ldb.asmx");
    p["rail_departures_client_token"] = "bench-darwin-token";
    p["rail_departures_test_crs"] = "EDB";
    p["flight_departures_url"] = server.url("/api/flights/departures?key=bench-airport-key");
    p["flight_security_url"] = server.url("/api/security/time?key=bench-airport-key");
    p["flight_departures_azinq_url"] = server.url("/getdata/flights");
    p["flight_departures_username"] = "bench-user";
    p["flight_departures_password"] = "bench-password";
    p["flight_departures_token"] = "bench-token";
    p["service_alerts_url"] = server.url("/api/v2/serviceAlerts");
    p["siri_sm_url"] = server.url("/siri");
    p["siri_sm_feed_provider"] = 2;
    p["siri_sm_requestor_ref"] = "BENCH";
    p["siri_sm_point_id"] = "3390Y4";
    p["siri_sm_terminus_point_id"] = "0100BRP90312";
    // A timetable database that is not there: the feed is read, not downloaded.
    p["txc_st_url"] = root + "/vorn/database/txc_timetable.db";
    p["txc_st_next_point_id"] = "Central Station";
    p["gtfs_rt_url"] = server.url("/gtfs-rt.pb");
    p["gtfs_rt_auth_key"] = "bench-gtfs-key";
    p["tfl_line_status_lines"] = 31;
    p["tfl_line_status_tube_url"] = server.url("/Line/Mode/tube/Status");
    p["tfl_line_status_overground_url"] = server.url("/Line/Mode/overground/Status");
    p["tfl_line_status_elizabeth_url"] = server.url("/Line/Mode/elizabeth-line/Status");
    p["tfl_line_status_dlr_url"] = server.url("/Line/Mode/dlr/Status");
    p["tfl_line_status_tram_url"] = server.url("/Line/Mode/tram/Status");
    p["tco_url"] = server.url("/tco");
    return CModuleParmMap(map);
}

// Each iteration builds a fresh module (outside the timing), since some feeds
// download only on their first cycle and then at most once a minute.
struct CycleFixture {
    StalledServer server;
    BenchRoot root{server};
    bool ready(benchmark::State& state) {
        if (!server.ok() || root.dir().empty()) {
            state.SkipWithError("cannot set up the stalled server or the file root");
            return false;
        }
        setFileRoot(root.dir());
        CDebug::setSink([](int, const std::string&) {});  // a failed transfer per feed is the expected story
        return true;
    }
    ~CycleFixture() {
        CDebug::setSink(nullptr);
        setFileRoot("");
    }
};

// The runner's --once path: CWebServices::updateAllFeeds(), which starts the
// cycle and waits for its last result.
void BM_UpdateAllFeedsStalled(benchmark::State& state) {
    CycleFixture fixture;
    if (!fixture.ready(state)) return;
    size_t feeds = 0;
    for (auto _ : state) {
        Watchdog watchdog;
        CWebServices module(stalledMap(fixture.server, fixture.root.dir()));
        feeds = module.feeds().size();
        const auto start = Clock::now();
        module.updateAllFeeds();
        state.SetIterationTime(seconds(Clock::now() - start));
        module.Shutdown();
    }
    state.counters["feeds"] = static_cast<double>(feeds);
}
BENCHMARK(BM_UpdateAllFeedsStalled)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// The vehicle's path: the module on an event loop, Update() starting the
// cycle, results applied as the loop wakes. The loop is turned with
// runOnce(0), whose poll never waits, so the whole turn is the time the
// module's callbacks held the loop thread; the pause between turns is not
// counted. Update() itself is timed the same way, as the timer tick would run it.
// A cycle ends when every feed has broadcast (one broadcast per feed).
void BM_LoopCycleStalled(benchmark::State& state) {
    CycleFixture fixture;
    if (!fixture.ready(state)) return;
    double longestStall = 0, longestStallCpu = 0, longestUpdate = 0, turns = 0;
    size_t feeds = 0;
    for (auto _ : state) {
        Watchdog watchdog;
        CEventLoop loop;
        auto module = std::make_unique<CWebServices>(stalledMap(fixture.server, fixture.root.dir()));
        size_t broadcasts = 0;
        module->setBroadcastSink([&broadcasts](const std::vector<SymbolValue>&) { ++broadcasts; });
        module->SetEventLoop(loop);
        feeds = module->feeds().size();

        const auto start = Clock::now();
        double cpu = threadCpuSeconds();
        module->requestUpdate();
        module->Update();
        const auto updated = Clock::now();
        longestUpdate = std::max(longestUpdate, seconds(updated - start));
        longestStall = std::max(longestStall, seconds(updated - start));
        longestStallCpu = std::max(longestStallCpu, threadCpuSeconds() - cpu);
        while (broadcasts < feeds && Clock::now() - start < kCycleDeadline) {
            const auto turn = Clock::now();
            cpu = threadCpuSeconds();
            if (!loop.runOnce(0)) break;
            longestStallCpu = std::max(longestStallCpu, threadCpuSeconds() - cpu);
            longestStall = std::max(longestStall, seconds(Clock::now() - turn));
            ++turns;
            std::this_thread::sleep_for(kLoopPause);
        }
        state.SetIterationTime(seconds(Clock::now() - start));
        module->Shutdown();
        module.reset();
        if (broadcasts < feeds) {
            state.SkipWithError("the cycle did not end within the deadline");
            break;
        }
    }
    state.counters["feeds"] = static_cast<double>(feeds);
    state.counters["longest_stall_ms"] = longestStall * 1e3;
    state.counters["longest_stall_cpu_ms"] = longestStallCpu * 1e3;
    state.counters["update_ms"] = longestUpdate * 1e3;
    state.counters["loop_turns"] = benchmark::Counter(turns, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_LoopCycleStalled)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
}  // namespace
