// The shared JSON text reader of the feeds.
#pragma once

#include <json/json.h>

#include <string>

namespace jsoncpp_string {
// The parsed document, or a null value when the text is not valid JSON
// (the reader's error text is discarded). Never throws.
Json::Value toJsonObject(const std::string& text);
}  // namespace jsoncpp_string
