// Small helpers shared by the open-data feed tests.
#pragma once

#include <stdlib.h>
#include <time.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/data_feed.h"
#include "tests/support/log_capture.h"
#include "tests/support/sqlite_builder.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"
#include "util/time_convert.h"

namespace opendata_test {

constexpr const char* kLondon = ":/usr/share/zoneinfo/Europe/London";
constexpr const char* kBerlin = ":/usr/share/zoneinfo/Europe/Berlin";
// What every failed arrivals cycle exports.
inline const SymbolPairs kNoArrivals = {{"open_data_has_connection", "0"}, {"open_data_has_data", "0"}};

// Hands the feed a parameter map whose "ModuleParams" are params, then lets it read them.
inline void configure(DataFeedImpl& feed, const Json::Value& params = Json::Value(Json::objectValue)) {
    Json::Value map(Json::objectValue);
    map["ModuleParams"] = params;
    feed.updateModuleParmMap(CModuleParmMap(map));
    feed.readModuleParmMap();
}

// One download cycle; the pairs it exported.
inline SymbolPairs cycle(DataFeedImpl& feed) {
    feed.clearExportPairs();
    feed.downloadData("-s --max-time 5");
    return feed.getExportPairs();
}

inline std::string value(const SymbolPairs& pairs, const std::string& name) {
    for (const auto& pair : pairs)
        if (pair.first == name) return pair.second;
    return "<missing " + name + ">";
}

// The pairs named in `like`, in its order, as the feed exported them.
inline SymbolPairs pick(const SymbolPairs& pairs, const SymbolPairs& like) {
    SymbolPairs out;
    for (const auto& pair : like) out.emplace_back(pair.first, value(pairs, pair.first));
    return out;
}

inline Json::Value array(const std::vector<Json::Value>& items) {
    Json::Value out(Json::arrayValue);
    for (const auto& item : items) out.append(item);
    return out;
}

// The paths asked since the server had seen `from` requests; a path whose
// query is not `query` carries it, so that a comparison fails.
inline std::vector<std::string> pathsSince(const StubServer& server, size_t from, const std::string& query) {
    std::vector<std::string> paths;
    std::vector<RecordedRequest> requests = server.requests();
    for (size_t i = from; i < requests.size(); ++i)
        paths.push_back(requests[i].path + (requests[i].query == query ? "" : "?" + requests[i].query));
    return paths;
}

// Runs body under the process time zone `zone`, then restores the one before.
template <typename Body>
void inZone(const char* zone, Body body) {
    const char* tz = getenv("TZ");
    const std::string before = tz ? tz : "";
    setProcessTimeZone(zone);
    body();
    tz ? setProcessTimeZone(before) : (void)(unsetenv("TZ"), tzset());
}

}  // namespace opendata_test
