// The feeds' JSON reading as it was before the compact reader: jsoncpp,
// configured as the feeds used it. The tests read parameter maps with it;
// the differential fuzz target and the benchmarks hold the reader to it.
#pragma once

#include <json/json.h>

#include <string>

// Comments allowed, nothing but white space and comments after the value, a
// NUL byte refused, nesting past maxDepth refused (a value inside n
// containers is at depth n + 1). False with the reader's errors and root
// null when refused. Never throws.
bool readJsonReference(const std::string& text, Json::Value& root, std::string& errors, int maxDepth = 1000);

// readJsonReference's value, or null when it refuses the text.
Json::Value jsonReferenceOf(const std::string& text);

class JsonValue;

// What every accessor the feeds use answers for each value of a tree, one
// line per value in the order a walk by index and by member name meets them;
// "throws" where the accessor throws. Equal texts mean the feeds read the
// two trees alike.
std::string jsonAccessorView(const Json::Value& root);
std::string jsonAccessorView(JsonValue root);
