// The shared JSON text reader of the feeds, and the value budget every JSON
// reply is held to before it is parsed.
#pragma once

#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/fetch/downloader.h"

// The default nesting depth the reader accepts; workers have the stack for it.
constexpr int kJsonMaxDepth = 1000;
// The default value budget: the reader spends about 150 bytes on each value.
// A feed holds its replies to its download edge's ("max_json_values").
constexpr size_t kDefaultJsonValueBudget = DownloadLimits{}.maxJsonValues;
// No budget: for a caller that has checked one already.
constexpr size_t kNoJsonValueBudget = SIZE_MAX;

// Reads text as one JSON document into root. Comments are allowed (and kept
// with the values); after the value only white space and comments may follow,
// so a reply that merely starts like JSON (an error page after a number, a
// quoted word) is refused, as is text holding a NUL byte. False, with the
// reader's error text in errors and root null, when the text is not such a
// document, holds more than maxValues values (see withinJsonValueBudget;
// kNoJsonValueBudget counts nothing) or nests deeper than maxDepth. Never throws.
bool readJsonDocument(const std::string& text, Json::Value& root, std::string& errors, size_t maxValues,
                      int maxDepth = kJsonMaxDepth);

namespace jsoncpp_string {
// readJsonDocument's document, or a null value when it refuses the text.
Json::Value toJsonObject(const std::string& text, size_t maxValues = kDefaultJsonValueBudget);
}  // namespace jsoncpp_string

// The number of values a reader builds for text: objects, arrays, numbers,
// true, false, null and strings other than object keys. Comments and a
// leading byte-order mark are skipped; a NUL byte outside strings ends the
// text, as it does for the reader. Exact for valid JSON; for any other
// text it counts at most one value per byte and never reads outside text.
// Counting stops as soon as the count exceeds limit, so the result is then
// limit + 1 and the rest of the text is not read.
size_t countJsonValues(std::string_view text, size_t limit = SIZE_MAX);

// True when text holds at most budget values. A reply over the budget is
// refused like one over the byte cap: false, with one level-8 line.
bool withinJsonValueBudget(const std::string& text, size_t budget);
