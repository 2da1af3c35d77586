// What one request costs: made in the process on a kept handle and
// connection, in the process on a new edge (new handle, new connection), and
// through the curl program. CPU is the process's and its children's together,
// so the program's own work counts too.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <string>

#include "core/fetch/downloader.h"
#include "platform/debug.h"
#include "tests/support/stub_server.h"

namespace {
constexpr const char* kInProcess = "--max-time 5 -s";
constexpr const char* kProgram = "--max-time 5 -s --tcp-nodelay";  // a word only the program knows

double cpuSeconds() {
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        total += usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

// A document about the size of a news channel.
const std::string& document() {
    static const std::string text = "<rss>" + std::string(20000, 'n') + "</rss>";
    return text;
}

void request(benchmark::State& state, const char* curlParams, bool newEdge) {
    CDebug::setLevelMask(0);
    StubServer server;  // in this process: its CPU counts on every path alike
    // Not a type the server compresses: what is timed is the client.
    server.reply("/rss.xml", document(), 200, "application/octet-stream");
    Downloader kept;
    const double start = cpuSeconds();
    for (auto _ : state) {
        Downloader fresh;
        Downloader& edge = newEdge ? fresh : kept;
        CurlCommand command = edge.command(curlParams);
        command.url(server.url("/rss.xml"), "rss_url");
        if (edge.fetch(command) != document()) state.SkipWithError("wrong reply");
    }
    state.counters["cpu_ms_per_request"] = (cpuSeconds() - start) * 1000 / static_cast<double>(state.iterations());
}

void BM_RequestInProcessKeptConnection(benchmark::State& state) { request(state, kInProcess, false); }
void BM_RequestInProcessNewHandle(benchmark::State& state) { request(state, kInProcess, true); }
void BM_RequestThroughProgram(benchmark::State& state) { request(state, kProgram, false); }
}  // namespace

BENCHMARK(BM_RequestInProcessKeptConnection)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RequestInProcessNewHandle)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RequestThroughProgram)->Unit(benchmark::kMillisecond)->UseRealTime();
