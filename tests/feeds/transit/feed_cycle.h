// Set-up shared by the transit feeds' tests: a feed configured as the module
// does it, one update cycle, and reading single values from the pairs.
#pragma once

#include <gtest/gtest.h>
#include <json/json.h>

#include <string>

#include "core/data_feed.h"
#include "tests/support/stub_server.h"

// Hands the feed its "ModuleParams" section and lets it read its keys.
inline void configure(DataFeedImpl& feed, const Json::Value& params) {
    Json::Value map(Json::objectValue);
    map["ModuleParams"] = params.isObject() ? params : Json::Value(Json::objectValue);
    feed.updateModuleParmMap(CModuleParmMap(map));
    feed.readModuleParmMap();
}

// One update cycle: the pairs it exported, which are then cleared.
inline SymbolPairs cycle(DataFeedImpl& feed, const std::string& curlParams = "") {
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

// The pairs with prefix put before each name.
inline SymbolPairs prefixed(const std::string& prefix, SymbolPairs pairs) {
    for (auto& pair : pairs) pair.first = prefix + pair.first;
    return pairs;
}

inline std::string refusedUrl(const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(refusedPort()) + path;
}
