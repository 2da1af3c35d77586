#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "tests/support/demo_map.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

namespace {
struct CheckResult {
    int status;
    std::string out;
};

// Runs the real runner with --check-config; what it writes to standard error goes to a file outside root.
CheckResult checkConfig(const std::string& params, const std::string& root) {
    std::string command = std::string(WEBSERVICES_HOST_BIN) + " --check-config " + params + " --root " + root +
                          " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, got);
    int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

std::set<std::string> filesUnder(const std::string& dir) {
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) files.insert(entry.path().string());
    return files;
}
}  // namespace

TEST(HostCheckConfig, ExitsZeroOnTheDemoMapAndOneOnProblemsWithoutRunningAnything) {
    TempFileRoot root;
    TempFileRoot elsewhere;  // the maps live outside the root, whose files are watched
    std::ofstream(elsewhere.path("/demo.json")) << demoParameterMap(root);
    StubServer server;
    server.reply("/rss.xml", "<rss/>");
    std::ofstream(elsewhere.path("/typos.json"))
        << "{\"ModuleParams\": {\"rss_enable\": 1, \"rss_ur1\": \"" << server.url("/rss.xml")
        << "\", \"rss_url\": \"" << server.url("/rss.xml") << "\", \"poll_interval\": \"soon\", \"txc_st_enable\": 1, "
        << "\"txc_st_url\": \"" << root.path("/vorn/database/timetable.db") << "\", \"gtfs_rt_enable\": 1, "
        << "\"gtfs_rt_url\": \"" << server.url("/gtfs") << "\", \"tco_enable\": 1, \"tco_url\": \""
        << server.url("/tco") << "\", \"tco_save_download_path\": \"" << root.path("/tmp/tco.json") << "\"}}";
    const std::set<std::string> before = filesUnder(root.dir());

    CheckResult demo = checkConfig(elsewhere.path("/demo.json"), root.dir());
    EXPECT_EQ(demo.status, 0) << demo.out;
    EXPECT_EQ(demo.out, "");

    CheckResult typos = checkConfig(elsewhere.path("/typos.json"), root.dir());
    EXPECT_EQ(typos.status, 1);
    EXPECT_EQ(typos.out,
              "poll_interval: text \"soon\" where a whole number is read; 0 will be used\n"
              "unknown key 'rss_ur1' (did you mean 'rss_url'?)\n"
              "txc_st_url: " + root.path("/vorn/database/timetable.db") + " does not exist\n");

    EXPECT_EQ(filesUnder(root.dir()), before) << "a check wrote under the file root";
    EXPECT_EQ(server.requestCount(), 0u) << "a check downloaded";
    EXPECT_EQ(checkConfig(elsewhere.path("/missing.json"), root.dir()).status, 2);
}
