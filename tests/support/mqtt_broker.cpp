#include "tests/support/mqtt_broker.h"

#include <mosquitto.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

extern char** environ;

namespace {
bool acceptsConnections(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

struct LibraryInit {
    LibraryInit() { mosquitto_lib_init(); }
};

// A free TCP port on 127.0.0.1 as the kernel hands them out.
int freeLoopbackPort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("no free loopback port");
    close(fd);
    return ntohs(address.sin_port);
}
}  // namespace

MqttBroker::MqttBroker(const std::string& extraConfig) : m_port(freeLoopbackPort()) {
    m_files.write("/mosquitto.conf", "listener " + std::to_string(m_port) +
                                         " 127.0.0.1\npersistence false\nlog_dest file " + m_files.path("/broker.log") +
                                         "\n" + (geteuid() == 0 ? "user root\n" : "") + extraConfig);
    start();
}

MqttBroker::~MqttBroker() { stop(); }

std::string MqttBroker::url(const std::string& prefix, const std::string& user) const {
    return "mqtt://" + (user.empty() ? "" : user + "@") + "127.0.0.1:" + std::to_string(m_port) + "/" + prefix;
}

void MqttBroker::start() {
    if (m_pid > 0) return;
    std::string config = m_files.path("/mosquitto.conf");
    const char* argv[] = {"mosquitto", "-c", config.c_str(), nullptr};
    // Its own start-up warnings go to its log, not among the test's output.
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, m_files.path("/broker.err").c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    int spawned = posix_spawnp(&m_pid, "mosquitto", &quiet, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0) throw std::runtime_error("cannot start mosquitto");
    for (int i = 0; i < 100 && !acceptsConnections(m_port); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!acceptsConnections(m_port)) throw std::runtime_error("mosquitto did not start: " + m_files.read("/broker.log"));
}

void MqttBroker::stop() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGTERM);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

MqttSubscriber::MqttSubscriber(int port, const std::string& filter, const std::string& user,
                               const std::string& password) {
    static LibraryInit library;
    m_client = mosquitto_new(nullptr, true, this);
    if (!user.empty()) mosquitto_username_pw_set(m_client, user.c_str(), password.c_str());
    mosquitto_message_callback_set(m_client, onMessage);
    mosquitto_subscribe_callback_set(m_client, [](mosquitto*, void* self, int, int, const int*) {
        auto* subscriber = static_cast<MqttSubscriber*>(self);
        std::lock_guard<std::mutex> lock(subscriber->m_mutex);
        subscriber->m_subscribed = true;
        subscriber->m_arrived.notify_all();
    });
    if (mosquitto_connect(m_client, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS ||
        mosquitto_subscribe(m_client, nullptr, filter.c_str(), 1) != MOSQ_ERR_SUCCESS)
        throw std::runtime_error("test subscriber cannot connect to port " + std::to_string(port));
    mosquitto_loop_start(m_client);
    // Whatever a test does next happens after the broker has the subscription.
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_arrived.wait_for(lock, std::chrono::seconds(5), [this] { return m_subscribed; }))
        throw std::runtime_error("test subscriber: no subscription acknowledged on port " + std::to_string(port));
}

MqttSubscriber::~MqttSubscriber() {
    mosquitto_disconnect(m_client);
    mosquitto_loop_stop(m_client, false);
    mosquitto_destroy(m_client);
}

void MqttSubscriber::onMessage(mosquitto*, void* self, const struct mosquitto_message* message) {
    auto* subscriber = static_cast<MqttSubscriber*>(self);
    const char* payload = static_cast<const char*>(message->payload);
    {
        std::lock_guard<std::mutex> lock(subscriber->m_mutex);
        subscriber->m_messages.push_back({message->topic,
                                          std::string(payload ? payload : "", static_cast<size_t>(message->payloadlen)),
                                          message->retain, std::chrono::steady_clock::now()});
    }
    subscriber->m_arrived.notify_all();
}

bool MqttSubscriber::waitFor(const std::function<bool(const std::vector<MqttMessage>&)>& condition,
                             std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, timeout, [&] { return condition(m_messages); });
}

bool MqttSubscriber::waitForPayload(const std::string& topic, const std::string& payload,
                                    std::chrono::milliseconds timeout) {
    return waitFor(
        [&](const std::vector<MqttMessage>& messages) {
            for (auto it = messages.rbegin(); it != messages.rend(); ++it)
                if (it->topic == topic) return it->payload == payload;
            return false;
        },
        timeout);
}

std::vector<MqttMessage> MqttSubscriber::messages() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

std::map<std::string, std::string> MqttSubscriber::latest() const {
    std::map<std::string, std::string> latest;
    for (const auto& message : messages()) latest[message.topic] = message.payload;
    return latest;
}

void MqttSubscriber::publish(const std::string& topic, const std::string& payload, bool retain) {
    mosquitto_publish(m_client, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, retain);
}
