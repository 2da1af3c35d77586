// Set-up shared by the rail and SIRI feed tests.
#pragma once

#include <stdlib.h>
#include <time.h>

#include <memory>
#include <optional>
#include <string>

#include "core/data_feed.h"
#include "core/json_text.h"
#include "util/time_convert.h"

constexpr const char* kCurlParams = "-s -g --max-time 5";

// A feed built from args, configured with "ModuleParams" given as JSON text or a value.
template <class Feed, class... Args>
std::unique_ptr<Feed> configuredFeed(const Json::Value& moduleParams, Args&&... args) {
    auto feed = std::make_unique<Feed>(std::forward<Args>(args)...);
    Json::Value map(Json::objectValue);
    map["ModuleParams"] = moduleParams.isString() ? jsoncpp_string::toJsonObject(moduleParams.asString()) : moduleParams;
    feed->updateModuleParmMap(CModuleParmMap(map));
    feed->readModuleParmMap();
    return feed;
}

// One update cycle's pairs.
inline SymbolPairs cycle(DataFeedImpl& feed, const std::string& curlParams = kCurlParams) {
    feed.clearExportPairs();
    feed.downloadData(curlParams);
    return feed.getExportPairs();
}

// The value of the named pair, or "<absent>".
inline std::string value(const SymbolPairs& pairs, const std::string& name) {
    for (const auto& pair : pairs)
        if (pair.first == name) return pair.second;
    return "<absent>";
}

// Sets the process time zone while in scope, then restores the previous one.
class ZoneScope {
public:
    explicit ZoneScope(const std::string& zone) {
        if (const char* tz = getenv("TZ")) m_previous = tz;
        setProcessTimeZone(zone);
    }
    ~ZoneScope() {
        if (m_previous) {
            setProcessTimeZone(*m_previous);
        } else {
            unsetenv("TZ");
            tzset();
        }
    }

private:
    std::optional<std::string> m_previous;
};
