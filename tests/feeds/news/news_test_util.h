// Set-up shared by the news feed tests.
#pragma once

#include <memory>
#include <string>

#include "core/data_feed.h"
#include "core/json_text.h"

// A feed built from args, configured with "ModuleParams" written as JSON text.
template <class Feed, class... Args>
std::unique_ptr<Feed> configuredFeed(const std::string& moduleParams, Args&&... args) {
    auto feed = std::make_unique<Feed>(std::forward<Args>(args)...);
    Json::Value map(Json::objectValue);
    map["ModuleParams"] = jsoncpp_string::toJsonObject(moduleParams);
    feed->updateModuleParmMap(CModuleParmMap(map));
    feed->readModuleParmMap();
    return feed;
}

// One update cycle's pairs.
inline SymbolPairs cycle(DataFeedImpl& feed, const std::string& curlParams = "-s -g --max-time 5") {
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
