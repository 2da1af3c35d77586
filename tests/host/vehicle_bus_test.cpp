// The bus connection on its own against real mosquitto brokers: what it
// refuses, what an empty value does, what it keeps while disconnected, and a
// bridge carrying its topics to a second broker.
#include <gtest/gtest.h>

#include <chrono>

#include "host/vehicle_bus.h"
#include "tests/support/log_capture.h"
#include "tests/support/mqtt_broker.h"

namespace {
using namespace std::chrono_literals;

BusAddress loopback(const MqttBroker& broker, const std::string& prefix) {
    return parseBusUrl(broker.url(prefix));
}
}  // namespace

TEST(VehicleBus, RefusesNamesMqttCannotCarryAndAnEmptyValueClearsTheRetainedTopic) {
    LogCapture log;
    MqttBroker broker;
    VehicleBus bus(loopback(broker, "v1"));
    bus.start();
    ASSERT_TRUE(bus.waitConnected(5s));
    const std::string tooLong(70000, 'x');
    bus.publishBroadcast({{"a+b", "1"}, {"c#", "2"}, {std::string("n\0l", 3), "3"}, {tooLong, "4"}, {"ok", "5"}});
    bus.publishBroadcast({{"a+b", "1"}});  // named once only
    ASSERT_TRUE(bus.waitDelivered(5s));
    for (const char* name : {"'a+b'", "'c#'", "'n", "'xxxx"})
        EXPECT_TRUE(log.contains(std::string("VehicleBus: symbol ") + name, 8)) << name << log.dump();
    size_t refusals = 0;
    for (const auto& line : log.lines()) refusals += line.text.find("cannot be an MQTT topic name") != std::string::npos;
    EXPECT_EQ(refusals, 4u);
    {
        MqttSubscriber display(broker.port(), "v1/symbol/#");
        EXPECT_TRUE(display.waitForPayload("v1/symbol/ok", "5", 2s));
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(display.latest().size(), 1u);
    }
    bus.publishBroadcast({{"ok", ""}});
    ASSERT_TRUE(bus.waitDelivered(5s));
    MqttSubscriber display(broker.port(), "v1/#");
    EXPECT_TRUE(display.waitForPayload("v1/status", "online", 2s));
    EXPECT_EQ(display.latest().count("v1/symbol/ok"), 0u) << "the empty value should have cleared it";
}

TEST(VehicleBus, WhileDisconnectedKeepsOnlyEachSymbolsCurrentValue) {
    MqttBroker broker;
    broker.stop();
    VehicleBus bus(loopback(broker, "v2"));
    bus.start();
    for (int i = 0; i < 20000; ++i) bus.publishBroadcast({{"stop", std::to_string(i)}, {"line", "42"}});
    EXPECT_FALSE(bus.waitDelivered(100ms));
    broker.start();
    ASSERT_TRUE(bus.waitDelivered(10s)) << "reconnects within the first back-off steps";
    EXPECT_EQ(bus.acknowledgedCount(), 3u) << "status and the two symbols, nothing queued while away";
    MqttSubscriber display(broker.port(), "v2/symbol/#");
    EXPECT_TRUE(display.waitForPayload("v2/symbol/stop", "19999", 2s));
    EXPECT_TRUE(display.waitForPayload("v2/symbol/line", "42", 2s));
}

TEST(VehicleBus, ABridgeCarriesTheRetainedSymbolsToTheBackOffice) {
    MqttBroker backOffice;
    // The on-board side of docs/vehicle-bus.md's bridge, over plain TCP on loopback.
    MqttBroker onBoard("allow_anonymous true\nconnection back-office\naddress 127.0.0.1:" +
                       std::to_string(backOffice.port()) + "\ntopic v3/# out 1\ncleansession true\n");
    MqttSubscriber office(backOffice.port(), "v3/#");
    VehicleBus bus(loopback(onBoard, "v3"));
    bus.start();
    ASSERT_TRUE(bus.waitConnected(5s));
    bus.publishBroadcast({{"next_stop", "Harbour"}});
    EXPECT_TRUE(office.waitForPayload("v3/symbol/next_stop", "Harbour", 10s));
    EXPECT_TRUE(office.waitForPayload("v3/status", "online", 1s));
}
