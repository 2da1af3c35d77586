// The runner's connection to the vehicle's message bus (MQTT): publishes every
// broadcast, takes imported symbols from the bus and keeps the broker's
// retained topics current across reconnects.
//
// One thread of its own owns the libmosquitto client and everything done with
// it; the module's threads only hand it values and take imports, under one
// mutex, so the bus never holds up the module. Nothing queues without bound:
// while disconnected only the current value of each symbol is kept, and every
// (re)connect publishes all of them again.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host/bus_address.h"

struct mosquitto;
struct mosquitto_message;

class VehicleBus {
public:
    using Pair = std::pair<std::string, std::string>;

    explicit VehicleBus(BusAddress address);
    ~VehicleBus();  // stop() if not yet stopped
    VehicleBus(const VehicleBus&) = delete;
    VehicleBus& operator=(const VehicleBus&) = delete;

    // Starts the bus thread, which connects and reconnects with back-off.
    void start();
    // Remembers each value and, while connected, publishes each pair and the
    // broadcast as one JSON object. Any thread.
    void publishBroadcast(const std::vector<Pair>& pairs);
    // Readable while imports taken from the bus wait; takeImports() empties it.
    int importFd() const { return m_importFd; }
    std::vector<Pair> takeImports();
    // Waits until connected, at most timeout; true when connected.
    bool waitConnected(std::chrono::milliseconds timeout);
    // Waits until every value and broadcast handed over so far has been
    // acknowledged by the broker, at most timeout; true when it has.
    bool waitDelivered(std::chrono::milliseconds timeout);
    // Publishes "offline", waits a little for its acknowledgement,
    // disconnects and ends the thread.
    void stop();

    // The topics, for the runner's log lines and the tests.
    std::string topic(const std::string& what) const { return m_address.prefix + "/" + what; }
    size_t acknowledgedCount() const;

private:
    struct Message {
        std::string topic;
        std::string payload;
        bool retain = false;
    };

    // The bus thread.
    void run();
    bool connectOnce();
    void serveConnection();
    void endConnection();
    bool sendWaiting();
    bool pollOnce(int timeoutMs);
    enum class StopStep { kRunning, kPublishOffline, kWaitForAcknowledgement, kDisconnect, kLeave };
    StopStep stopStep();
    bool publishOffline();

    // libmosquitto's callbacks, on the bus thread.
    static void onConnect(mosquitto* client, void* self, int rc);
    static void onPublish(mosquitto* client, void* self, int mid);
    static void onMessage(mosquitto* client, void* self, const mosquitto_message* message);
    void connected();
    void received(const std::string& topic, const std::string& payload);

    // Under m_mutex.
    void queue(Message message);
    void queueEveryValue();
    bool topicUsable(const std::string& name, const std::string& topicName);
    bool deliveredLocked() const;
    void wakeBusThread();

    const BusAddress m_address;
    mosquitto* m_client = nullptr;  // the bus thread's alone
    std::thread m_thread;
    int m_wakeFd = -1;    // eventfd: wakes the bus thread
    int m_importFd = -1;  // eventfd: imports wait for the loop thread

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::string, std::string> m_values;  // the current value of every symbol published
    std::deque<Message> m_outbox;                 // for the bus thread to hand to libmosquitto
    std::deque<Pair> m_imports;
    std::set<std::string> m_refusedNames;         // logged once each
    bool m_connected = false;
    bool m_stopping = false;
    bool m_offlineAcknowledged = false;
    int m_offlineMid = -1;
    std::chrono::steady_clock::time_point m_offlineDeadline;
    size_t m_unacknowledged = 0;
    size_t m_acknowledged = 0;
    bool m_overflowLogged = false;
};
