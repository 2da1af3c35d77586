#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <fstream>

#include "tests/support/demo_map.h"
#include "tests/support/hostile_input.h"
#include "tests/support/temp_root.h"

namespace {
struct RunResult {
    int status;
    std::string out;
    std::string err;
};

// Runs the real runner through the shell with the given arguments; with
// killAfterSeconds, a runner still running then is killed (status 137).
RunResult runHost(const std::string& args, const TempFileRoot& dir, const std::string& input = "",
                  int killAfterSeconds = 0) {
    std::string errPath = dir.path("/stderr.txt");
    std::string inPath = dir.path("/stdin.txt");
    std::ofstream(inPath) << input;
    std::string command = (killAfterSeconds > 0 ? "timeout -s KILL " + std::to_string(killAfterSeconds) + " " : "") +
                          std::string(WEBSERVICES_HOST_BIN) + " " + args + " < " + inPath + " 2> " + errPath;
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, got);
    int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out, dir.read("/stderr.txt")};
}

size_t lineCount(const std::string& text) {
    size_t n = 0;
    for (char c : text) n += c == '\n';
    return n;
}
}  // namespace

TEST(HostRunner, OnceWithNoFeedUpdatesAndExitsCleanly) {
    TempFileRoot dir;
    dir.write("/params.json", "{\"ModuleParams\": {\"poll_interval\": 60}}");
    RunResult r = runHost("--config " + dir.path("/params.json") + " --once -v", dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("CWebServices: Updating data from webservices..."), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST(HostRunner, BadArgumentsAndMapsExitTwoWithOneLine) {
    TempFileRoot dir;
    dir.write("/array.json", "[1, 2]");
    dir.write("/broken.json", "{\"ModuleParams\": ");
    struct Case {
        std::string args;
        std::string message;
    } cases[] = {
        {"--once", "webservices-host: --config is required"},
        {"--config", "webservices-host: --config needs a value"},
        {"--config " + dir.path("/missing.json"), "webservices-host: cannot read parameter map"},
        {"--config " + dir.path("/array.json"), "not a JSON object"},
        {"--config " + dir.path("/broken.json"), "not valid JSON"},
        {"--config x --cycles zero", "--cycles takes a whole number"},
        {"--config x --format xml", "--format is text or jsonl"},
        {"--config x --bogus", "unknown argument '--bogus'"},
    };
    for (const auto& c : cases) {
        RunResult r = runHost(c.args, dir);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << ": " << r.err;
        EXPECT_LE(lineCount(r.err), 2u) << c.args << ": " << r.err;
    }
}

TEST(HostRunner, DemoCycleExportsEveryFeedWithItsTablesFromWorkerThreads) {
    TempFileRoot dir;
    Json::Value map = demoParameterMap(dir);
    std::ofstream(dir.path("/params.json")) << map.toStyledString();
    // -v prints the diagnostic tables, written while the feeds refresh side by side.
    RunResult r = runHost("--config " + dir.path("/params.json") + " --root " + dir.dir() + " --once -v", dir);
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* flag : {"rss_has_connection = 1", "rail_departures_has_connection = 1", "gtfs_rt_has_connection = 1",
                             "siri_sm_has_connection = 1", "txc_st_has_connection = 1"})
        EXPECT_NE(r.out.find(flag), std::string::npos) << flag;
}

TEST(HostRunner, DatabasesThatAreFifosHoldUpNeitherTheCycleNorShutdown) {
    TempFileRoot dir;
    Json::Value map = demoParameterMap(dir);
    std::ofstream(dir.path("/params.json")) << map.toStyledString();
    // Every database of the demo: the attribute store, the open-data stops,
    // the static GTFS times and the TransXChange timetable.
    const char* databases[] = {"/vorn/database/VORN.db", "/vorn/database/opendata_stops.db",
                               "/vorn/database/GTFS_S.db", "/vorn/database/txc_timetable.db"};
    for (const char* database : databases) plantHostileFile(dir.path(database), HostileFile::Fifo);
    const std::string args = "--config " + dir.path("/params.json") + " --root " + dir.dir();

    auto start = std::chrono::steady_clock::now();
    RunResult once = runHost(args + " --once", dir, "", 30);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(once.status, 0) << once.err;
    EXPECT_LT(seconds, 10.0) << once.err;
    for (const char* database : databases)
        EXPECT_NE(once.err.find(dir.path(database) + " is not a regular file"), std::string::npos) << database;

    start = std::chrono::steady_clock::now();
    RunResult stopped = runHost(args + " & sleep 1; kill -TERM $!; wait $!", dir, "", 30);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(stopped.status, 0);
    EXPECT_LT(seconds, 1 + 2.0);
}
