#include "core/fetch/downloader.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zlib.h>

#include <chrono>
#include <functional>
#include <set>
#include <future>
#include <thread>

#include "core/feed/data_feed.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

namespace {
Downloader edge;

// "CurlParams" that keep requests in the process, and the same with a word
// the process does not map, which sends them through the curl program.
constexpr const char* kInProcess = "-s";
constexpr const char* kProgram = "-s --tcp-nodelay";

std::string get(const std::string& url, size_t cap = 8u << 20, Downloader& downloader = edge,
                const char* curlParams = kInProcess) {
    CurlCommand command = downloader.command(curlParams);
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

bool waitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 300 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
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

std::string gzipped(const std::string& text) {
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);  // 16: gzip framing
    std::string out(deflateBound(&stream, text.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// Every test of this suite runs once in the process and once through the curl program.
// Each test's own edge is made after its servers and so ends before them:
// a server that ends first would wait for the edge's open connections.
class Download : public ::testing::TestWithParam<const char*> {
protected:
    std::string fetch(Downloader& edge, const std::string& url, size_t cap = 8u << 20) {
        return get(url, cap, edge, GetParam());
    }
    CurlCommand command(const Downloader& edge) const { return edge.command(GetParam()); }
};
}  // namespace

INSTANTIATE_TEST_SUITE_P(BothPaths, Download, ::testing::Values(kInProcess, kProgram),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param) == kInProcess ? "InProcess" : "Program";
                         });

TEST_P(Download, ReadsWholeRepliesByteExact) {
    StubServer server;
    Downloader edge;
    std::string large(1 << 20, 'y');
    std::string binary("a\0b\0\0c\xff", 7);
    server.reply("/large", large);
    server.reply("/binary", binary, 200, "application/octet-stream");
    EXPECT_EQ(fetch(edge, server.url("/large")), large);
    EXPECT_EQ(fetch(edge, server.url("/binary")), binary);
    EXPECT_EQ(fetch(edge, "http://127.0.0.1:" + std::to_string(refusedPort()) + "/"), "");
    EXPECT_EQ(server.requestCount(), 2u);
    EXPECT_NE(server.requests().front().header("Accept-Encoding"), "") << "every request asks for compression";
}

TEST_P(Download, CompressedRepliesAreDecodedAndHeldToTheCapAfterDecoding) {
    LogCapture log;
    StubServer server;
    Downloader edge;
    const std::string document = "<board>" + std::string(200000, 'x') + "</board>";
    server.replyEncoded("/board", gzipped(document), "gzip");
    // Inflates to 16 MiB: a bomb that must stop at the cap, not at its size on the wire.
    server.replyEncoded("/bomb", gzipped(std::string(16u << 20, '\0')), "gzip");
    EXPECT_EQ(fetch(edge, server.url("/board")), document);
    EXPECT_EQ(fetch(edge, server.url("/bomb"), 1u << 20), "");
    EXPECT_TRUE(log.contains("Download: reply from " + server.url("/bomb") + " stopped at the cap of 1048576 bytes", 8))
        << log.dump();
}

TEST_P(Download, HostileValuesReachTheServerByteExactAndRunNothing) {
    TempFileRoot root;
    StubServer server;
    Downloader edge;
    server.reply("/p", "ok");
    const std::string hostile[] = {"it's", "$(touch " + root.dir() + "/PWNED)", "`touch x`", "a\"b\\c\\\"d",
                                   "\\t\\n literal", "@/etc/passwd", "-K/etc/passwd"};
    for (const auto& value : hostile) {
        CurlCommand request = command(edge);
        request.header("X-Value", value).body(value, "body").url(server.url("/p?ids={1,2}&range=[1-3]"), "test_url");
        EXPECT_EQ(edge.fetch(request), "ok") << value;
        RecordedRequest received = server.requests().back();
        EXPECT_EQ(received.header("X-Value"), value);
        EXPECT_EQ(received.body, value);
        EXPECT_EQ(received.query, "ids={1,2}&range=[1-3]") << "globbing must stay off";
    }
    EXPECT_EQ(server.requestCount(), std::size(hostile));
    EXPECT_FALSE(root.exists("/PWNED"));
}

TEST_P(Download, AUrlStartingWithADashIsAUrlNeverAnOption) {
    TempFileRoot root;
    StubServer server;
    Downloader edge;
    server.reply("/evil", "evil");
    // Read as an option, "-K<file>" would make curl take this file as its config.
    root.write("/evil.cfg", "url = \"" + server.url("/evil") + "\"\noutput = \"" + root.dir() + "/written\"\n");
    EXPECT_EQ(fetch(edge, "-K" + root.path("/evil.cfg")), "");
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_FALSE(root.exists("/written"));
}

TEST_P(Download, ARepliesOverTheCapFailsWithALineNamingTheMaskedUrlAndTheCap) {
    LogCapture log;
    StubServer server;
    Downloader edge;
    server.reply("/big", std::string(300000, 'b'));
    EXPECT_EQ(fetch(edge, server.url("/big?key=SECRET123"), 300000), std::string(300000, 'b')) << "exactly the cap passes";
    EXPECT_EQ(fetch(edge, server.url("/big?key=SECRET123"), 299999), "");
    EXPECT_TRUE(log.contains("/big?key=SE***(9) stopped at the cap of 299999 bytes", 8)) << log.dump();
    EXPECT_FALSE(log.contains("SECRET123"));
}

// Each module has its own edge: ending one module's downloads leaves another's running.
TEST_P(Download, EndingOneEdgeLeavesAnotherEdgesDownloadsRunning) {
    StubServer server;
    server.reply("/late", "late");
    StalledServer stalled;
    Downloader first, second;
    auto ended = std::async(std::launch::async, [&] { return get(stalled.url("/"), 1024, first, GetParam()); });
    auto running = std::async(std::launch::async, [&] {
        CurlCommand command = second.command(std::string(GetParam()) + " --max-time 5");
        command.url(stalled.url("/"), "test_url");
        return second.fetch(command);
    });
    ASSERT_TRUE(waitFor([&] { return stalled.openConnections() == 2; }));
    const auto start = std::chrono::steady_clock::now();
    first.endAll();
    EXPECT_EQ(ended.get(), "");
    EXPECT_LT(secondsSince(start), 2.0);
    EXPECT_TRUE(waitFor([&] { return stalled.openConnections() == 1; })) << "the other edge's transfer was ended too";
    EXPECT_EQ(get(server.url("/late"), 1024, second, GetParam()), "late") << "the other edge still starts downloads";
    second.endAll();
    running.get();
}

TEST(DownloadInProcess, ConnectionsStayOpenBetweenRequestsAndNoProgramRuns) {
    StubServer server;
    server.reply("/a", "a");
    server.reply("/b", "b");
    Downloader downloader;
    EXPECT_EQ(get(server.url("/a"), 1024, downloader), "a");
    EXPECT_EQ(get(server.url("/b"), 1024, downloader), "b");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the next cycle
    EXPECT_EQ(get(server.url("/a"), 1024, downloader), "a");
    std::set<int> connections;
    for (const RecordedRequest& request : server.requests()) connections.insert(request.remotePort);
    EXPECT_EQ(connections.size(), 1u);
    EXPECT_TRUE(childProcesses("curl").empty());
}

TEST(DownloadInProcess, AWordWithoutAnInProcessFormSendsEveryRequestThroughTheProgramWithOneLine) {
    LogCapture log;
    Downloader downloader;
    EXPECT_FALSE(downloader.inProcess("-s --tcp-nodelay"));
    EXPECT_FALSE(downloader.inProcess("-s --tcp-nodelay"));
    size_t lines = 0;
    for (const LogLine& line : log.lines())
        lines += line.text.find("CurlParams word '--tcp-nodelay' has no in-process form") != std::string::npos;
    EXPECT_EQ(lines, 1u) << log.dump();
}

TEST(DownloadProgram, NoSecretAppearsOnTheChildsCommandLine) {
    StalledServer stalled;
    CurlCommand command("--max-time 5 -s --tcp-nodelay");
    command.secretHeader("Authorization", "HEADERSECRET", "k").user("user", "PASSWORDSECRET", "k");
    command.body("<token>BODYSECRET</token>", "body").url(stalled.url("/p?app_key=QUERYSECRET"), "test_url");
    auto reply = std::async(std::launch::async, [&] { return edge.fetch(command); });
    int pid = waitForCurl();
    ASSERT_NE(pid, 0);
    std::string argv = processCommandLine(pid);
    EXPECT_EQ(argv, "curl --max-time 5 -s --tcp-nodelay --fail --config - ");
    edge.endAll();
    reply.get();
    edge.allow();
}

TEST(DownloadProgram, ShutdownEndsEveryRunningChildAndItsGroupAtOnce) {
    TempFileRoot root;
    StalledServer stalled;
    // A script that runs a child of its own: ending it must end that child too.
    writeScript(root.path("/slow.sh"), "#!/bin/sh\nsleep 31.5 &\nwait\necho late\n");
    auto start = std::chrono::steady_clock::now();
    auto curl = std::async(std::launch::async, [&] { return get(stalled.url("/"), 1024, edge, kProgram); });
    auto script = std::async(std::launch::async,
                             [&] { return edge.run({root.path("/slow.sh")}, "", 1024, "slow.sh").output; });
    ASSERT_NE(waitForCurl(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    edge.endAll();
    EXPECT_EQ(curl.get(), "");
    EXPECT_EQ(script.get(), "");
    EXPECT_LT(secondsSince(start), 3.0);
    EXPECT_TRUE(get(stalled.url("/"), 1024, edge, kProgram).empty()) << "nothing starts while shutting down";
    EXPECT_TRUE(get(stalled.url("/")).empty()) << "nor in the process";
    edge.allow();
    EXPECT_TRUE(childProcesses("curl").empty());
    EXPECT_TRUE(childProcesses("sleep").empty());
    // The pattern does not match the shell that runs pgrep.
    EXPECT_NE(system("pgrep -f 'sleep 31[.]5' >/dev/null"), 0) << "the script's own child was left running";
}

TEST(DownloadProgram, ChildrenStartWithTheDefaultSignalMaskAndRunAsExecvpWould) {
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
