// Small helpers shared by the open-data feed tests.
#pragma once

#include <stdlib.h>
#include <time.h>

#include <optional>
#include <string>
#include <vector>

#include "core/data_feed.h"
#include "util/time_convert.h"

namespace opendata_test {

// Hands the feed a parameter map whose "ModuleParams" are params, then lets it read them.
inline void configure(DataFeedImpl& feed, const Json::Value& params = Json::Value(Json::objectValue)) {
    Json::Value map(Json::objectValue);
    map["ModuleParams"] = params;
    feed.updateModuleParmMap(CModuleParmMap(map));
    feed.readModuleParmMap();
}

inline std::string value(const SymbolPairs& pairs, const std::string& name) {
    for (const auto& pair : pairs)
        if (pair.first == name) return pair.second;
    return "<missing " + name + ">";
}

inline std::vector<std::string> names(const SymbolPairs& pairs) {
    std::vector<std::string> out;
    for (const auto& pair : pairs) out.push_back(pair.first);
    return out;
}

// Sets the process time zone for one test and restores the previous one.
class ZoneScope {
public:
    explicit ZoneScope(const std::string& zone) {
        if (const char* tz = getenv("TZ")) m_previous = tz;
        setProcessTimeZone(zone);
    }
    ~ZoneScope() {
        if (m_previous)
            setProcessTimeZone(*m_previous);
        else {
            unsetenv("TZ");
            tzset();
        }
    }
    ZoneScope(const ZoneScope&) = delete;
    ZoneScope& operator=(const ZoneScope&) = delete;

private:
    std::optional<std::string> m_previous;
};

constexpr const char* kLondon = ":/usr/share/zoneinfo/Europe/London";
constexpr const char* kBerlin = ":/usr/share/zoneinfo/Europe/Berlin";
constexpr const char* kCurlParams = "-s --max-time 5";

}  // namespace opendata_test
