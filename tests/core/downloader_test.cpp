#include "core/fetch/downloader.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

#include "core/feed/data_feed.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

namespace {
Downloader edge;

std::string get(const std::string& url, size_t cap = 8u << 20, Downloader& downloader = edge) {
    CurlCommand command("-s");
    command.url(url, "test_url");
    return downloader.fetch(command, cap);
}

// Waits up to two seconds for a running curl child and returns its pid.
int waitForCurl() {
    for (int i = 0; i < 200; ++i) {
        auto pids = childProcesses("curl");
        if (!pids.empty()) return pids[0];
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
}

void writeScript(const std::string& path, const std::string& text) {
    FILE* file = std::fopen(path.c_str(), "w");
    std::fputs(text.c_str(), file);
    std::fclose(file);
    chmod(path.c_str(), 0755);
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
}  // namespace

TEST(Download, ReadsWholeRepliesByteExactFromRealCurl) {
    StubServer server;
    std::string large(1 << 20, 'y');
    std::string binary("a\0b\0\0c\xff", 7);
    server.reply("/large", large);
    server.reply("/binary", binary, 200, "application/octet-stream");
    EXPECT_EQ(get(server.url("/large")), large);
    EXPECT_EQ(get(server.url("/binary")), binary);
    EXPECT_EQ(get("http://127.0.0.1:" + std::to_string(refusedPort()) + "/"), "");
    EXPECT_EQ(server.requestCount(), 2u);
}

TEST(Download, HostileValuesReachTheServerByteExactAndRunNothing) {
    TempFileRoot root;
    StubServer server;
    server.reply("/p", "ok");
    const std::string hostile[] = {"it's", "$(touch " + root.dir() + "/PWNED)", "`touch x`", "a\"b\\c\\\"d",
                                   "\\t\\n literal", "@/etc/passwd", "-K/etc/passwd"};
    for (const auto& value : hostile) {
        CurlCommand command("-s");
        command.header("X-Value", value).body(value, "body").url(server.url("/p?ids={1,2}&range=[1-3]"), "test_url");
        EXPECT_EQ(edge.fetch(command), "ok") << value;
        RecordedRequest request = server.requests().back();
        EXPECT_EQ(request.header("X-Value"), value);
        EXPECT_EQ(request.body, value);
        EXPECT_EQ(request.query, "ids={1,2}&range=[1-3]") << "globbing must stay off";
    }
    EXPECT_EQ(server.requestCount(), std::size(hostile));
    EXPECT_FALSE(root.exists("/PWNED"));
}

TEST(Download, AUrlStartingWithADashIsAUrlNeverAnOption) {
    TempFileRoot root;
    StubServer server;
    server.reply("/evil", "evil");
    // Read as an option, "-K<file>" would make curl take this file as its config.
    root.write("/evil.cfg", "url = \"" + server.url("/evil") + "\"\noutput = \"" + root.dir() + "/written\"\n");
    EXPECT_EQ(get("-K" + root.path("/evil.cfg")), "");
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_FALSE(root.exists("/written"));
}

TEST(Download, ALineBreakInAHeaderIsRefusedAndNothingIsSent) {
    LogCapture log;
    StubServer server;
    server.reply("/p", "ok");
    CurlCommand command("-s");
    command.secretHeader("Authorization", "key\r\nX-Injected: 1", "gtfs_rt_auth_key").url(server.url("/p"), "test_url");
    EXPECT_EQ(edge.fetch(command), "");
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_TRUE(log.contains("'gtfs_rt_auth_key' holds a line break or NUL", 16)) << log.dump();
}

TEST(Download, ARepliesOverTheCapFailsWithALineNamingTheMaskedUrlAndTheCap) {
    LogCapture log;
    StubServer server;
    server.reply("/big", std::string(300000, 'b'));
    EXPECT_EQ(get(server.url("/big?key=SECRET123"), 300000), std::string(300000, 'b')) << "exactly the cap passes";
    EXPECT_EQ(get(server.url("/big?key=SECRET123"), 299999), "");
    EXPECT_TRUE(log.contains("/big?key=SE***(9) stopped at the cap of 299999 bytes", 8)) << log.dump();
    EXPECT_FALSE(log.contains("SECRET123"));
}

TEST(Download, NoSecretAppearsOnTheChildsCommandLine) {
    StalledServer stalled;
    CurlCommand command("--max-time 5 -s");
    command.secretHeader("Authorization", "HEADERSECRET", "k").user("user", "PASSWORDSECRET", "k");
    command.body("<token>BODYSECRET</token>", "body").url(stalled.url("/p?app_key=QUERYSECRET"), "test_url");
    auto reply = std::async(std::launch::async, [&] { return edge.fetch(command); });
    int pid = waitForCurl();
    ASSERT_NE(pid, 0);
    std::string argv = processCommandLine(pid);
    EXPECT_EQ(argv, "curl --max-time 5 -s --fail --config - ");
    edge.endAll();
    reply.get();
    edge.allow();
}

TEST(Download, ShutdownEndsEveryRunningChildAndItsGroupAtOnce) {
    TempFileRoot root;
    StalledServer stalled;
    // A script that runs a child of its own: ending it must end that child too.
    writeScript(root.path("/slow.sh"), "#!/bin/sh\nsleep 31.5 &\nwait\necho late\n");
    auto start = std::chrono::steady_clock::now();
    auto curl = std::async(std::launch::async, [&] { return get(stalled.url("/")); });
    auto script = std::async(std::launch::async,
                             [&] { return edge.run({root.path("/slow.sh")}, "", 1024, "slow.sh").output; });
    ASSERT_NE(waitForCurl(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    edge.endAll();
    EXPECT_EQ(curl.get(), "");
    EXPECT_EQ(script.get(), "");
    EXPECT_LT(secondsSince(start), 3.0);
    EXPECT_TRUE(get(stalled.url("/")).empty()) << "nothing starts while shutting down";
    edge.allow();
    EXPECT_TRUE(childProcesses("curl").empty());
    EXPECT_TRUE(childProcesses("sleep").empty());
    // The pattern does not match the shell that runs pgrep.
    EXPECT_NE(system("pgrep -f 'sleep 31[.]5' >/dev/null"), 0) << "the script's own child was left running";
}

// Each module has its own edge: ending one module's downloads leaves another's running.
TEST(Download, EndingOneEdgeLeavesAnotherEdgesDownloadsRunning) {
    StubServer server;
    server.reply("/late", "late");
    StalledServer stalled;
    Downloader first, second;
    auto ended = std::async(std::launch::async, [&] { return get(stalled.url("/"), 1024, first); });
    ASSERT_NE(waitForCurl(), 0);
    auto running = std::async(std::launch::async, [&] {
        CurlCommand command("-s --max-time 5");
        command.url(stalled.url("/"), "test_url");
        return second.fetch(command);
    });
    for (int i = 0; i < 200 && childProcesses("curl").size() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(childProcesses("curl").size(), 2u);
    first.endAll();
    EXPECT_EQ(ended.get(), "");
    EXPECT_EQ(childProcesses("curl").size(), 1u) << "the other edge's curl was ended too";
    EXPECT_EQ(get(server.url("/late"), 1024, second), "late") << "the other edge still starts downloads";
    second.endAll();
    running.get();
}

TEST(Download, ChildrenStartWithTheDefaultSignalMaskAndRunAsExecvpWould) {
    TempFileRoot root;
    // The loop thread blocks SIGTERM; its children must not inherit that.
    sigset_t term, old;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &term, &old);
    writeScript(root.path("/mask.sh"), "#!/bin/sh\ngrep SigBlk /proc/self/status\n");
    ProgramResult mask = edge.run({root.path("/mask.sh")}, "", 1024, "mask.sh");
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    EXPECT_TRUE(mask.ok);
    EXPECT_EQ(mask.output, "SigBlk:\t0000000000000000\n");

    // No "#!" line: run by /bin/sh, arguments and standard input passed as given.
    writeScript(root.path("/plain.sh"), "printf '%s|' \"$1\"; cat\n");
    ProgramResult plain = edge.run({root.path("/plain.sh"), "a b $(id)"}, "from stdin", 1024, "plain.sh");
    EXPECT_EQ(plain.output, "a b $(id)|from stdin");
}

TEST(LocalFiles, OnlyRegularFilesWithinTheCapAreRead) {
    LogCapture log;
    TempFileRoot root;
    root.write("/ok.txt", "content");
    ASSERT_EQ(mkfifo(root.path("/fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/zero", root.path("/zero").c_str()), 0);
    root.write("/big.txt", std::string(11, 'x'));

    std::string content;
    EXPECT_TRUE(DataFeedImpl::readLocalFile(root.path("/ok.txt"), content, 10));
    EXPECT_EQ(content, "content");
    for (const char* hostile : {"/fifo", "/zero", "/big.txt", "/missing"}) {
        content = "before";
        EXPECT_FALSE(DataFeedImpl::readLocalFile(root.path(hostile), content, 10)) << hostile;
        EXPECT_EQ(content, "before") << hostile;
    }
    EXPECT_TRUE(log.contains("fifo is not a regular file of at most 10 bytes; read as missing", 8)) << log.dump();
}
