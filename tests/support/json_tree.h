// The values jsoncpp built for a document: every node of its tree. Shared by
// the value counter's test and its fuzz target.
#pragma once

#include <json/json.h>

#include <cstddef>

inline size_t treeValues(const Json::Value& value) {
    size_t count = 1;
    if (value.isArray() || value.isObject())
        for (const Json::Value& child : value) count += treeValues(child);
    return count;
}
