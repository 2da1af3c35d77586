// A real mosquitto broker for tests, on a free loopback port with its own
// config file and no persistence, and a real subscriber that records what
// it receives. Every wait is bounded.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

#include "tests/support/temp_root.h"

struct mosquitto;

class MqttBroker {
public:
    // extraConfig is appended to the broker's config (a bridge, a password file).
    explicit MqttBroker(const std::string& extraConfig = "allow_anonymous true\n");
    ~MqttBroker();
    MqttBroker(const MqttBroker&) = delete;
    MqttBroker& operator=(const MqttBroker&) = delete;

    int port() const { return m_port; }
    std::string url(const std::string& prefix, const std::string& user = "") const;
    void stop();
    // Starts again on the same port, with nothing retained.
    void start();

private:
    TempFileRoot m_files;
    int m_port = 0;
    pid_t m_pid = -1;
};

struct MqttMessage {
    std::string topic;
    std::string payload;
    bool retained;
    std::chrono::steady_clock::time_point at;
};

class MqttSubscriber {
public:
    MqttSubscriber(int port, const std::string& filter, const std::string& user = "", const std::string& password = "");
    ~MqttSubscriber();
    MqttSubscriber(const MqttSubscriber&) = delete;
    MqttSubscriber& operator=(const MqttSubscriber&) = delete;

    // Waits at most timeout until the messages so far satisfy the condition.
    bool waitFor(const std::function<bool(const std::vector<MqttMessage>&)>& condition,
                 std::chrono::milliseconds timeout);
    // Waits until topic's latest payload is this one.
    bool waitForPayload(const std::string& topic, const std::string& payload, std::chrono::milliseconds timeout);
    std::vector<MqttMessage> messages() const;
    // The latest payload of every topic received.
    std::map<std::string, std::string> latest() const;
    void publish(const std::string& topic, const std::string& payload, bool retain = false);

private:
    static void onMessage(mosquitto*, void* self, const struct mosquitto_message* message);
    mosquitto* m_client = nullptr;
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<MqttMessage> m_messages;
    bool m_subscribed = false;
};
