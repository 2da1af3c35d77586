// Helpers shared by the airport feed tests: a controlled monotonic clock,
// parameter maps and one-cycle runs.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <string>

#include "core/data_feed.h"
#include "platform/clock.h"

// Quiet curl with the module's default time-outs.
constexpr const char* kTestCurlParams = "-s --connect-timeout 3 --max-time 5";

// The monotonic clock for one test; starts a few seconds after boot.
struct ManualClock {
    int64_t now = 5;
    ManualClock() { setMonotonicClock([this] { return now; }); }
    ~ManualClock() { setMonotonicClock(nullptr); }
};

// Gives feed a parameter map whose "ModuleParams" section is the JSON text.
inline void setModuleParams(DataFeedImpl& feed, const std::string& moduleParamsJson) {
    Json::Value map(Json::objectValue);
    std::string errors;
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    reader->parse(moduleParamsJson.data(), moduleParamsJson.data() + moduleParamsJson.size(), &map["ModuleParams"],
                  &errors);
    feed.updateModuleParmMap(CModuleParmMap(map));
    feed.readModuleParmMap();
}

// One update cycle as the module runs it: the pairs it exports.
inline SymbolPairs runCycle(DataFeedImpl& feed) {
    feed.downloadData(kTestCurlParams);
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
