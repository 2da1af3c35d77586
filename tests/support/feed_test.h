// Running one feed as the module does, for the feed tests: its parameter map,
// one update cycle, single values from the pairs it exports, and the process
// time zone for the length of a scope.
#pragma once

#include <gtest/gtest.h>
#include <json/json.h>
#include <stdlib.h>
#include <time.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/feed/data_feed.h"
#include "core/feed/json_document.h"
#include "platform/clock.h"
#include "tests/reference/json_reference.h"
#include "tests/support/hostile_input.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"
#include "util/time_convert.h"

// Quiet curl with a time limit and no URL globbing: what a cycle runs unless told otherwise.
constexpr const char* kCurlParams = "-s -g --max-time 5";
// Quiet curl with a time limit, nothing more.
constexpr const char* kPlainCurlParams = "-s --max-time 5";
// Quiet curl with the module's default time-outs.
constexpr const char* kModuleCurlParams = "-s --connect-timeout 3 --max-time 5";

constexpr const char* kLondon = ":/usr/share/zoneinfo/Europe/London";
constexpr const char* kBerlin = ":/usr/share/zoneinfo/Europe/Berlin";

// Hands feed a parameter map whose "ModuleParams" section is params (an
// object, or its JSON text in a string; anything else counts as no keys),
// then lets it read its keys.
inline void configure(DataFeedImpl& feed, const Json::Value& params = Json::Value(Json::objectValue)) {
    Json::Value map(Json::objectValue);
    map["ModuleParams"] = params.isString()   ? jsonReferenceOf(params.asString())
                          : params.isObject() ? params
                                              : Json::Value(Json::objectValue);
    if (std::shared_ptr<Downloader> limited = scopedDownloader()) feed.useDownloader(limited);
    feed.updateModuleParmMap(CModuleParmMap(map));
    feed.readModuleParmMap();
}

// A feed built from args and configured with params.
template <class Feed, class... Args>
std::unique_ptr<Feed> configuredFeed(const Json::Value& params, Args&&... args) {
    auto feed = std::make_unique<Feed>(std::forward<Args>(args)...);
    configure(*feed, params);
    return feed;
}

// One update cycle: the pairs it exported, and only those; the feed keeps none.
inline SymbolPairs cycle(DataFeedImpl& feed, const std::string& curlParams = kCurlParams) {
    feed.clearExportPairs();
    feed.downloadData(curlParams);
    SymbolPairs pairs = feed.getExportPairs();
    feed.clearExportPairs();
    return pairs;
}

// The value of the one pair with this name; "<absent>" or "<repeated>" otherwise.
inline std::string valueOf(const SymbolPairs& pairs, const std::string& name) {
    std::string found = "<absent>";
    for (const auto& pair : pairs) {
        if (pair.first != name) continue;
        if (found != "<absent>") return "<repeated>";
        found = pair.second;
    }
    return found;
}

// Each wanted pair has its value; the other pairs are not looked at.
inline void expectValues(const SymbolPairs& pairs, const SymbolPairs& wanted) {
    for (const auto& pair : wanted) EXPECT_EQ(valueOf(pairs, pair.first), pair.second) << pair.first;
}

// The pairs named in like, in its order, with the values they have in pairs.
inline SymbolPairs pick(const SymbolPairs& pairs, const SymbolPairs& like) {
    SymbolPairs out;
    for (const auto& pair : like) out.emplace_back(pair.first, valueOf(pairs, pair.first));
    return out;
}

inline Json::Value jsonArray(const std::vector<Json::Value>& items) {
    Json::Value out(Json::arrayValue);
    for (const auto& item : items) out.append(item);
    return out;
}

// A URL on 127.0.0.1 where nothing listens.
inline std::string refusedUrl(const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(refusedPort()) + path;
}

// The paths asked since the server had seen from requests; a path whose
// query is not query carries it, so that a comparison fails.
inline std::vector<std::string> pathsSince(const StubServer& server, size_t from, const std::string& query) {
    std::vector<std::string> paths;
    std::vector<RecordedRequest> requests = server.requests();
    for (size_t i = from; i < requests.size(); ++i)
        paths.push_back(requests[i].path + (requests[i].query == query ? "" : "?" + requests[i].query));
    return paths;
}

// Sets the process time zone while in scope, then restores the one before.
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
    ZoneScope(const ZoneScope&) = delete;
    ZoneScope& operator=(const ZoneScope&) = delete;

private:
    std::optional<std::string> m_previous;
};

// A feed's surroundings: its own file root, stub server and log, and a
// monotonic clock that reads now (the vehicle has been up for 5 seconds).
class FeedTest : public ::testing::Test {
protected:
    FeedTest() { setMonotonicClock([this] { return now; }); }
    ~FeedTest() override { setMonotonicClock(nullptr); }
    int64_t now = 5;
    TempFileRoot root;
    StubServer server;
    LogCapture log;
};
