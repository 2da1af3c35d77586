// Set-up shared by the airport feed tests: each test's file root, stub
// server, log and monotonic clock; parameter maps and one-cycle runs.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/json_text.h"
#include "feeds/airport/flight_departures_azinq_feed.h"
#include "feeds/airport/flight_departures_feed.h"
#include "feeds/airport/flight_security_feed.h"
#include "feeds/airport/service_alerts_feed.h"
#include "platform/clock.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

class AirportFeed : public ::testing::Test {
protected:
    AirportFeed() { setMonotonicClock([this] { return now; }); }
    ~AirportFeed() override { setMonotonicClock(nullptr); }
    int64_t now = 5;  // the monotonic clock: the vehicle has been up for 5 seconds
    TempFileRoot root;
    StubServer server;
    LogCapture log;
};

// Gives feed a parameter map whose "ModuleParams" section is the JSON text.
inline void setModuleParams(DataFeedImpl& feed, const std::string& moduleParamsJson) {
    Json::Value map(Json::objectValue);
    map["ModuleParams"] = jsoncpp_string::toJsonObject(moduleParamsJson);
    feed.updateModuleParmMap(CModuleParmMap(map));
    feed.readModuleParmMap();
}

// One update cycle as the module runs it (quiet curl, default time-outs): the pairs it exports.
inline SymbolPairs runCycle(DataFeedImpl& feed) {
    feed.downloadData("-s --connect-timeout 3 --max-time 5");
    SymbolPairs pairs = feed.getExportPairs();
    feed.clearExportPairs();
    return pairs;
}

// The value of the first pair named name, or "<absent>".
inline std::string valueOf(const SymbolPairs& pairs, const std::string& name) {
    for (const auto& pair : pairs)
        if (pair.first == name) return pair.second;
    return "<absent>";
}

// The pairs named as in like, in its order, with these values (one for each pair).
inline SymbolPairs withValues(SymbolPairs like, const std::vector<std::string>& values) {
    for (size_t i = 0; i < like.size(); ++i) like[i].second = values.at(i);
    return like;
}
