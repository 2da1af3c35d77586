#include "host/vehicle_bus.h"

#include <mosquitto.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include <json/json.h>

#include "platform/debug.h"

namespace {
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr int kKeepAliveSeconds = 30;
constexpr milliseconds kFirstRetry{1000};
constexpr milliseconds kLongestRetry{30000};
// A broker that takes the TCP connection but never answers is given up on.
constexpr milliseconds kConnackTimeout{10000};
// SIGTERM must end the runner within 2 s; the module's shutdown needs some of it.
constexpr milliseconds kOfflineTimeout{1200};
// Messages handed to libmosquitto and not yet acknowledged: bounds its own queue.
constexpr size_t kInFlightWindow = 100;
// Messages waiting for the bus thread. Past this the broker is not keeping up:
// they are dropped and every symbol's current value is sent again instead.
constexpr size_t kOutboxLimit = 10000;
constexpr size_t kImportLimit = 1000;
constexpr int kQos = 1;
constexpr size_t kLongestTopic = 65535;  // MQTT's two-byte length

struct LibraryInit {
    LibraryInit() { mosquitto_lib_init(); }
    ~LibraryInit() { mosquitto_lib_cleanup(); }
};

void notify(int fd) {
    uint64_t one = 1;
    (void)!write(fd, &one, sizeof one);
}

void drain(int fd) {
    uint64_t count;
    (void)!read(fd, &count, sizeof count);
}

std::string broadcastJson(const std::vector<VehicleBus::Pair>& pairs) {
    // Keys in the broadcast's order: jsoncpp sorts an object's members.
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    std::string text = "{";
    for (const auto& pair : pairs) {
        if (text.size() > 1) text += ',';
        text += Json::writeString(builder, Json::Value(pair.first)) + ":" +
                Json::writeString(builder, Json::Value(pair.second));
    }
    return text + "}";
}
}  // namespace

VehicleBus::VehicleBus(BusAddress address) : m_address(std::move(address)) {
    static LibraryInit library;
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_importFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

VehicleBus::~VehicleBus() {
    stop();
    close(m_wakeFd);
    close(m_importFd);
}

void VehicleBus::start() {
    if (m_thread.joinable()) return;
    // The thread starts with every signal blocked: SIGTERM is the loop's, taken
    // through its signalfd, and must never end the process from here.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    m_thread = std::thread([this] { run(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void VehicleBus::stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    wakeBusThread();
    if (m_thread.joinable()) m_thread.join();
}

// ---- the module's side ----

void VehicleBus::publishBroadcast(const std::vector<Pair>& pairs) {
    if (pairs.empty()) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<Pair> usable;
        for (const auto& pair : pairs) {
            std::string topicName = topic("symbol/" + pair.first);
            if (!topicUsable(pair.first, topicName)) continue;
            m_values[pair.first] = pair.second;
            if (m_connected) queue({topicName, pair.second, true});
            usable.push_back(pair);
        }
        if (!m_connected || usable.empty()) return;
        queue({topic("broadcast"), broadcastJson(usable), false});
    }
    wakeBusThread();
}

std::vector<VehicleBus::Pair> VehicleBus::takeImports() {
    drain(m_importFd);
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Pair> imports(m_imports.begin(), m_imports.end());
    m_imports.clear();
    return imports;
}

bool VehicleBus::waitConnected(milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this] { return m_connected; });
}

bool VehicleBus::waitDelivered(milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this] { return deliveredLocked(); });
}

size_t VehicleBus::acknowledgedCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_acknowledged;
}

bool VehicleBus::deliveredLocked() const { return m_connected && m_outbox.empty() && m_unacknowledged == 0; }

void VehicleBus::queue(Message message) {
    if (m_outbox.size() >= kOutboxLimit) {
        if (!m_overflowLogged)
            logLine(8, "VehicleBus: the broker is not keeping up; ", m_outbox.size(),
                    " waiting messages dropped, every symbol's value will be sent again");
        m_overflowLogged = true;
        m_outbox.clear();
        queueEveryValue();
    }
    m_outbox.push_back(std::move(message));
}

void VehicleBus::queueEveryValue() {
    for (const auto& value : m_values) m_outbox.push_back({topic("symbol/" + value.first), value.second, true});
}

// MQTT topics cannot hold the wildcards or NUL, must be UTF-8 and fit its
// two-byte length; such a symbol stays off the bus, named once in the log.
bool VehicleBus::topicUsable(const std::string& name, const std::string& topicName) {
    bool usable = name.find_first_of(std::string("+#\0", 3)) == std::string::npos && !name.empty() &&
                  topicName.size() <= kLongestTopic &&
                  mosquitto_validate_utf8(topicName.data(), static_cast<int>(topicName.size())) == MOSQ_ERR_SUCCESS;
    if (!usable && m_refusedNames.insert(name).second)
        logLine(8, "VehicleBus: symbol '", name.substr(0, 80), name.size() > 80 ? "...'" : "'",
                " cannot be an MQTT topic name ('+', '#', NUL, not UTF-8 or too long); not published");
    return usable;
}

void VehicleBus::wakeBusThread() { notify(m_wakeFd); }

// ---- the bus thread ----

void VehicleBus::run() {
    milliseconds delay = kFirstRetry;
    while (true) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping) break;
        }
        bool wasConnected = false;
        if (connectOnce()) {
            serveConnection();
            std::lock_guard<std::mutex> lock(m_mutex);
            wasConnected = m_connected;
        }
        endConnection();
        if (wasConnected) delay = kFirstRetry;
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_stopping) break;
        logLine(8, "VehicleBus: not connected to ", m_address.host, ":", m_address.port, "; retrying in ",
                delay.count() / 1000, " s");
        m_changed.wait_for(lock, delay, [this] { return m_stopping; });
        delay = std::min(delay * 2, kLongestRetry);
    }
}

bool VehicleBus::connectOnce() {
    m_client = mosquitto_new(nullptr, true, this);
    if (!m_client) {
        logLine(16, "VehicleBus: cannot create the MQTT client");
        return false;
    }
    mosquitto_connect_callback_set(m_client, onConnect);
    mosquitto_publish_callback_set(m_client, onPublish);
    mosquitto_message_callback_set(m_client, onMessage);
    mosquitto_max_inflight_messages_set(m_client, kInFlightWindow);
    // A broadcast is many small messages: without this, Nagle's algorithm and
    // the broker's delayed acknowledgements hold each burst up by tens of ms.
    mosquitto_int_option(m_client, MOSQ_OPT_TCP_NODELAY, 1);
    const std::string status = topic("status");
    mosquitto_will_set(m_client, status.c_str(), 7, "offline", kQos, true);
    if (!m_address.user.empty())
        mosquitto_username_pw_set(m_client, m_address.user.c_str(),
                                  m_address.password.empty() ? nullptr : m_address.password.c_str());
    if (m_address.tls) {
        int rc = m_address.caFile.empty()
                     ? mosquitto_int_option(m_client, MOSQ_OPT_TLS_USE_OS_CERTS, 1)
                     : mosquitto_tls_set(m_client, m_address.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            logLine(8, "VehicleBus: cannot set up TLS: ", mosquitto_strerror(rc));
            return false;
        }
    }
    int rc = mosquitto_connect_async(m_client, m_address.host.c_str(), m_address.port, kKeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        logLine(8, "VehicleBus: cannot connect to ", m_address.host, ":", m_address.port, ": ",
                rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc));
        return false;
    }
    return true;
}

// Runs one connection until it is lost or the bus stops. No libmosquitto
// call is made under m_mutex: its callbacks take m_mutex while holding the
// client's own locks, so the other order could deadlock.
void VehicleBus::serveConnection() {
    const auto started = Clock::now();
    while (sendWaiting() && pollOnce(200)) {
        switch (stopStep()) {
            case StopStep::kRunning:
                break;
            case StopStep::kPublishOffline:
                if (!publishOffline()) return;
                break;
            case StopStep::kWaitForAcknowledgement:
                continue;
            case StopStep::kDisconnect:
                mosquitto_disconnect(m_client);
                mosquitto_loop_write(m_client, 1);
                return;
            case StopStep::kLeave:
                return;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_connected && Clock::now() - started > kConnackTimeout) {
            logLine(8, "VehicleBus: no answer from ", m_address.host, ":", m_address.port);
            return;
        }
    }
}

// Once stopping: "offline" first, then a disconnect once the broker has it
// (or after kOfflineTimeout); a connection not yet made is simply left.
VehicleBus::StopStep VehicleBus::stopStep() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_stopping) return StopStep::kRunning;
    if (!m_connected) return StopStep::kLeave;
    if (m_offlineMid < 0) return StopStep::kPublishOffline;
    if (!m_offlineAcknowledged && Clock::now() < m_offlineDeadline) return StopStep::kWaitForAcknowledgement;
    return StopStep::kDisconnect;
}

bool VehicleBus::publishOffline() {
    int mid = 0;
    if (mosquitto_publish(m_client, &mid, topic("status").c_str(), 7, "offline", kQos, true) != MOSQ_ERR_SUCCESS)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_offlineMid = mid;
    ++m_unacknowledged;
    m_offlineDeadline = Clock::now() + kOfflineTimeout;
    return true;
}

// Hands waiting messages to libmosquitto while the in-flight window allows.
bool VehicleBus::sendWaiting() {
    while (true) {
        Message message;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_connected || m_stopping || m_outbox.empty() || m_unacknowledged >= kInFlightWindow) return true;
            message = std::move(m_outbox.front());
            m_outbox.pop_front();
            ++m_unacknowledged;
        }
        int rc = mosquitto_publish(m_client, nullptr, message.topic.c_str(), static_cast<int>(message.payload.size()),
                                   message.payload.data(), kQos, message.retain);
        if (rc != MOSQ_ERR_SUCCESS) {
            logLine(8, "VehicleBus: publishing to ", message.topic, " failed: ", mosquitto_strerror(rc));
            return false;
        }
    }
}

// One wait for the socket or a wake-up, then the reads, writes and keep-alive
// work that is due; false when the connection is lost.
bool VehicleBus::pollOnce(int timeoutMs) {
    int socket = mosquitto_socket(m_client);
    if (socket < 0) return false;
    pollfd fds[2] = {{socket, static_cast<short>(POLLIN | (mosquitto_want_write(m_client) ? POLLOUT : 0)), 0},
                     {m_wakeFd, POLLIN, 0}};
    if (poll(fds, 2, timeoutMs) < 0) return errno == EINTR;
    if (fds[1].revents & POLLIN) drain(m_wakeFd);
    int rc = MOSQ_ERR_SUCCESS;
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) rc = mosquitto_loop_read(m_client, 1);
    if (rc == MOSQ_ERR_SUCCESS && (fds[0].revents & POLLOUT)) rc = mosquitto_loop_write(m_client, 1);
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_misc(m_client);
    if (rc != MOSQ_ERR_SUCCESS) {
        logLine(8, "VehicleBus: connection to ", m_address.host, ":", m_address.port, " ended: ",
                rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc));
        return false;
    }
    return true;
}

void VehicleBus::endConnection() {
    if (m_client) mosquitto_destroy(m_client);
    m_client = nullptr;
    {
        // A fresh client per connection: nothing of the last one is resent
        // after the current values, which could put old values back.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_connected = false;
        m_outbox.clear();
        m_unacknowledged = 0;
        m_offlineMid = -1;
        m_offlineAcknowledged = false;
    }
    m_changed.notify_all();
}

void VehicleBus::onConnect(mosquitto*, void* self, int rc) {
    auto* bus = static_cast<VehicleBus*>(self);
    if (rc != 0) {
        logLine(8, "VehicleBus: ", bus->m_address.host, ":", bus->m_address.port,
                " refused the connection: ", mosquitto_connack_string(rc));
        return;
    }
    bus->connected();
}

void VehicleBus::connected() {
    const std::string imports = topic("import/#");
    mosquitto_subscribe(m_client, nullptr, imports.c_str(), kQos);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_connected = true;
        m_overflowLogged = false;
        m_outbox.clear();
        m_outbox.push_back({topic("status"), "online", true});
        queueEveryValue();
        logLine(4, "VehicleBus: connected to ", m_address.host, ":", m_address.port, " (", m_address.prefix,
                "/...); publishing ", m_values.size(), " symbols");
    }
    m_changed.notify_all();
}

void VehicleBus::onPublish(mosquitto*, void* self, int mid) {
    auto* bus = static_cast<VehicleBus*>(self);
    {
        std::lock_guard<std::mutex> lock(bus->m_mutex);
        if (bus->m_unacknowledged > 0) --bus->m_unacknowledged;
        ++bus->m_acknowledged;
        if (mid == bus->m_offlineMid) bus->m_offlineAcknowledged = true;
    }
    bus->m_changed.notify_all();
}

void VehicleBus::onMessage(mosquitto*, void* self, const mosquitto_message* message) {
    const char* payload = static_cast<const char*>(message->payload);
    static_cast<VehicleBus*>(self)->received(message->topic,
                                             std::string(payload ? payload : "", static_cast<size_t>(message->payloadlen)));
}

void VehicleBus::received(const std::string& topicName, const std::string& payload) {
    const std::string importPrefix = topic("import/");
    if (topicName.compare(0, importPrefix.size(), importPrefix) != 0) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_imports.size() >= kImportLimit) {
            logLine(8, "VehicleBus: ", kImportLimit, " imports wait for the module; ", topicName, " dropped");
            return;
        }
        m_imports.emplace_back(topicName.substr(importPrefix.size()), payload);
    }
    notify(m_importFd);
}
