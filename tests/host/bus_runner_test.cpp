// The runner on the vehicle bus, against a real mosquitto broker: the real
// webservices-host binary on the demo map, started and signalled as a vehicle would.
#include <gtest/gtest.h>

#include <json/json.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <dirent.h>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "tests/support/demo_map.h"
#include "tests/support/mqtt_broker.h"
#include "tests/support/temp_root.h"

extern char** environ;

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The runner in the background, its output in files of dir.
class RunningHost {
public:
    RunningHost(const std::string& args, const TempFileRoot& dir) : m_dir(dir) {
        std::string command = "exec " + std::string(WEBSERVICES_HOST_BIN) + " " + args + " > " + dir.path("/out.txt") +
                              " 2> " + dir.path("/err.txt") + " < /dev/null";
        const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
        posix_spawn(&m_pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ);
    }
    ~RunningHost() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    void signal(int number) { kill(m_pid, number); }
    // The exit status, or -1 when it has not ended within timeout (or ended by a signal).
    int waitExit(std::chrono::milliseconds timeout) {
        for (auto end = Clock::now() + timeout; Clock::now() < end; std::this_thread::sleep_for(10ms)) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
        }
        return -1;
    }
    std::string err() const { return m_dir.read("/err.txt"); }
    bool waitForLog(const std::string& text, std::chrono::milliseconds timeout) const {
        for (auto end = Clock::now() + timeout; Clock::now() < end; std::this_thread::sleep_for(10ms))
            if (err().find(text) != std::string::npos) return true;
        return false;
    }

private:
    const TempFileRoot& m_dir;
    pid_t m_pid = -1;
};

std::string demoArgs(const TempFileRoot& dir) {
    std::ofstream(dir.path("/params.json")) << demoParameterMap(dir).toStyledString();
    return "--config " + dir.path("/params.json") + " --root " + dir.dir();
}

// The last value of every symbol the runner printed with --format jsonl.
std::map<std::string, std::string> printedSymbols(const std::string& jsonl) {
    std::map<std::string, std::string> values;
    std::istringstream lines(jsonl);
    Json::CharReaderBuilder reader;
    for (std::string line; std::getline(lines, line);) {
        Json::Value symbol;
        std::istringstream in(line);
        if (Json::parseFromStream(reader, in, &symbol, nullptr)) values[symbol["name"].asString()] = symbol["value"].asString();
    }
    return values;
}

// The topics under prefix whose latest payload is a value, not the empty clear.
size_t countTopicsUnder(const std::vector<MqttMessage>& messages, const std::string& prefix) {
    std::map<std::string, std::string> latest;
    for (const auto& message : messages)
        if (message.topic.rfind(prefix, 0) == 0) latest[message.topic] = message.payload;
    return std::count_if(latest.begin(), latest.end(), [](const auto& topic) { return !topic.second.empty(); });
}
}  // namespace

TEST(BusRunner, OnceLeavesEverySymbolRetainedAndSendsEachBroadcastAsOneObject) {
    MqttBroker broker;
    MqttSubscriber live(broker.port(), "bus1/#");
    TempFileRoot dir;
    RunningHost host(demoArgs(dir) + " --once --format jsonl --mqtt " + broker.url("bus1"), dir);
    ASSERT_EQ(host.waitExit(30s), 0) << host.err();
    std::map<std::string, std::string> printed = printedSymbols(dir.read("/out.txt"));
    ASSERT_GT(printed.size(), 100u);

    // A display that subscribes afterwards gets the current value of every symbol.
    MqttSubscriber late(broker.port(), "bus1/#");
    size_t nonEmpty = 0;
    for (const auto& [name, value] : printed) nonEmpty += !value.empty();
    ASSERT_TRUE(late.waitFor([&](const auto& m) { return countTopicsUnder(m, "bus1/symbol/") == nonEmpty; }, 5s))
        << countTopicsUnder(late.messages(), "bus1/symbol/") << " of " << nonEmpty;
    std::map<std::string, std::string> retained = late.latest();
    for (const auto& [name, value] : printed) {
        auto it = retained.find("bus1/symbol/" + name);
        if (value.empty())  // an empty retained payload clears the topic
            EXPECT_TRUE(it == retained.end()) << name;
        else
            EXPECT_TRUE(it != retained.end() && it->second == value) << name;
    }
    EXPECT_EQ(retained["bus1/status"], "offline") << "a clean end says so";
    for (const auto& message : late.messages())
        EXPECT_TRUE(message.retained) << message.topic;

    // Each broadcast came as one JSON object, its pairs in order, and together they hold every symbol.
    std::set<std::string> broadcastNames;
    Json::CharReaderBuilder reader;
    for (const auto& message : live.messages()) {
        if (message.topic != "bus1/broadcast") continue;
        EXPECT_FALSE(message.retained);
        Json::Value object;
        std::istringstream in(message.payload);
        ASSERT_TRUE(Json::parseFromStream(reader, in, &object, nullptr)) << message.payload;
        for (const auto& name : object.getMemberNames()) broadcastNames.insert(name);
    }
    EXPECT_EQ(broadcastNames.size(), printed.size());
    const std::string txc = "\"txc_st_has_connection\":\"1\"";
    EXPECT_TRUE(live.waitFor([&](const auto& m) {
        for (const auto& message : m)
            if (message.topic == "bus1/broadcast" && message.payload.find(txc) != std::string::npos) return true;
        return false;
    }, 1s));
}

TEST(BusRunner, ImportsFromTheBusReachTheModuleAndSigtermEndsCleanly) {
    MqttBroker broker;
    MqttSubscriber display(broker.port(), "bus2/#");
    TempFileRoot dir;
    RunningHost host(demoArgs(dir) + " -v --mqtt " + broker.url("bus2"), dir);
    ASSERT_TRUE(display.waitForPayload("bus2/symbol/txc_st_has_connection", "1", 20s)) << host.err();
    EXPECT_TRUE(display.waitForPayload("bus2/status", "online", 1s));

    display.publish("bus2/import/txc_st_next_point_id", "BUS-STOP-77");
    EXPECT_TRUE(host.waitForLog("TXC_ST_FeedImpl: New stop ID: BUS-STOP-77", 1s)) << host.err();
    display.publish("bus2/import/no_such_symbol", "1");
    EXPECT_TRUE(host.waitForLog("[8] webservices-host: the module imports no symbol 'no_such_symbol'", 1s))
        << host.err();

    auto start = Clock::now();
    host.signal(SIGTERM);
    EXPECT_EQ(host.waitExit(2s), 0) << host.err();
    EXPECT_LT(Clock::now() - start, 2s);
    EXPECT_TRUE(display.waitForPayload("bus2/status", "offline", 100ms));
}

TEST(BusRunner, BrokerRestartGetsEverySymbolAgainAndAKilledRunnerLeavesItsLastWill) {
    MqttBroker broker;
    TempFileRoot dir;
    RunningHost host(demoArgs(dir) + " --mqtt " + broker.url("bus3"), dir);
    size_t symbols = 0;
    {
        MqttSubscriber display(broker.port(), "bus3/#");
        ASSERT_TRUE(display.waitForPayload("bus3/symbol/txc_st_has_connection", "1", 20s)) << host.err();
        std::this_thread::sleep_for(500ms);  // the rest of the demo's cycle
        symbols = countTopicsUnder(display.messages(), "bus3/symbol/");
    }
    broker.stop();
    std::this_thread::sleep_for(3s);
    broker.start();  // without persistence: nothing retained
    auto restarted = Clock::now();
    MqttSubscriber display(broker.port(), "bus3/status");
    EXPECT_TRUE(display.waitForPayload("bus3/status", "online", 10s)) << host.err();
    // A display subscribing only now has every symbol from the broker's retained store.
    MqttSubscriber late(broker.port(), "bus3/symbol/#");
    EXPECT_TRUE(late.waitFor([&](const auto& m) { return countTopicsUnder(m, "bus3/symbol/") >= symbols; },
                             std::chrono::duration_cast<std::chrono::milliseconds>(10s - (Clock::now() - restarted))))
        << countTopicsUnder(late.messages(), "bus3/symbol/") << " of " << symbols << "\n" << host.err();
    EXPECT_LT(Clock::now() - restarted, 10s);

    host.signal(SIGKILL);
    EXPECT_TRUE(display.waitForPayload("bus3/status", "offline", 5s));
}

TEST(BusRunner, PasswordComesFromItsFileAndNeverShowsOnTheProcessList) {
    TempFileRoot files;
    const std::string password = "s3cret-" + std::to_string(getpid());
    files.write("/passwd", "vehicle:" + password + "\n");
    ASSERT_EQ(system(("mosquitto_passwd -U " + files.path("/passwd")).c_str()), 0);
    MqttBroker broker("allow_anonymous false\npassword_file " + files.path("/passwd") + "\n");
    files.write("/password.txt", password + "\n");

    MqttSubscriber display(broker.port(), "bus4/#", "vehicle", password);
    TempFileRoot dir;
    RunningHost host(demoArgs(dir) + " --mqtt " + broker.url("bus4", "vehicle") + " --mqtt-password-file " +
                         files.path("/password.txt"),
                     dir);
    ASSERT_TRUE(display.waitForPayload("bus4/status", "online", 10s)) << host.err();
    DIR* proc = opendir("/proc");
    for (dirent* entry; (entry = readdir(proc));) {
        std::ifstream cmdline(std::string("/proc/") + entry->d_name + "/cmdline", std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text.find(password), std::string::npos) << entry->d_name;
    }
    closedir(proc);
}

TEST(BusRunner, BadBusArgumentsExitTwoWithOneLine) {
    TempFileRoot dir;
    dir.write("/params.json", "{\"ModuleParams\": {}}");
    dir.write("/empty.txt", "");
    const std::string config = "--config " + dir.path("/params.json") + " --once ";
    struct Case {
        std::string args;
        std::string message;
    } cases[] = {
        {"--mqtt mqtt://user:pw@127.0.0.1/v", "the URL holds a password; put it in a file and pass --mqtt-password-file"},
        {"--mqtt http://127.0.0.1/v", "--mqtt takes mqtt://"},
        {"--mqtt mqtt://127.0.0.1", "no topic prefix"},
        {"--mqtt mqtt://127.0.0.1/a/#", "the topic prefix must be non-empty"},
        {"--mqtt mqtt://127.0.0.1:0/v", "bad port '0'"},
        {"--mqtt mqtt://:1883/v", "no host"},
        {"--mqtt mqtt://u@127.0.0.1/v --mqtt-password-file " + dir.path("/empty.txt"), "cannot read"},
        {"--mqtt mqtt://127.0.0.1/v --mqtt-password-file " + dir.path("/params.json"), "needs a user in the --mqtt URL"},
        {"--mqtt mqtt://127.0.0.1/v --mqtt-cafile " + dir.path("/params.json"), "--mqtt-cafile needs an mqtts:// URL"},
        {"--mqtt mqtts://127.0.0.1/v --mqtt-cafile " + dir.path("/missing.pem"), "--mqtt-cafile: cannot read"},
    };
    for (const auto& c : cases) {
        RunningHost host(config + c.args, dir);
        EXPECT_EQ(host.waitExit(10s), 2) << c.args;
        std::string err = host.err();
        EXPECT_NE(err.find(c.message), std::string::npos) << c.args << ": " << err;
        EXPECT_LE(std::count(err.begin(), err.end(), '\n'), 2) << c.args << ": " << err;
    }
    for (const char* informational : {"--help", "--version"}) {
        RunningHost host(informational, dir);
        EXPECT_EQ(host.waitExit(10s), 0) << informational;
        EXPECT_NE(dir.read("/out.txt").find(informational == std::string("--help") ? "--mqtt-password-file" : "webservices-host 0."),
                  std::string::npos);
    }
}

TEST(BusRunner, TlsChecksTheBrokerAgainstTheGivenAuthority) {
    const std::string tls = std::string(WEBSERVICES_TEST_DATA) + "/tls/loopback_";
    MqttBroker broker("allow_anonymous true\ncertfile " + tls + "cert.pem\nkeyfile " + tls + "key.pem\n");
    const std::string url = "mqtts://127.0.0.1:" + std::to_string(broker.port()) + "/bus5";
    TempFileRoot dir;
    dir.write("/params.json", "{\"ModuleParams\": {}}");
    const std::string args = "--config " + dir.path("/params.json") + " --mqtt " + url;
    {
        RunningHost trusted(args + " --mqtt-cafile " + tls + "cert.pem", dir);
        EXPECT_TRUE(trusted.waitForLog("VehicleBus: connected to 127.0.0.1", 10s)) << trusted.err();
    }
    // The system's authorities do not know the broker's self-signed certificate.
    RunningHost untrusted(args, dir);
    EXPECT_TRUE(untrusted.waitForLog("retrying in 1 s", 10s)) << untrusted.err();
    EXPECT_EQ(untrusted.err().find("VehicleBus: connected to"), std::string::npos) << untrusted.err();
}
