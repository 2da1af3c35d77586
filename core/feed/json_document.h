// The one JSON reader of the feeds: a downloaded document becomes a compact
// tree of JsonValue handles, held to the edge's value budget and a depth
// limit while it is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/feed/json_value.h"
#include "core/fetch/downloader.h"

// The default nesting depth the reader accepts. The reader does not recurse,
// so depth costs no stack; the bound is for the feeds' own walks.
constexpr int kJsonMaxDepth = 1000;
// The default value budget. A feed holds its replies to its download edge's
// ("max_json_values").
constexpr size_t kDefaultJsonValueBudget = DownloadLimits{}.maxJsonValues;

// A parsed document: its own copy of the text, which strings and numbers
// point into, and eight bytes for each value and each object key.
class JsonDocument {
public:
    JsonDocument() = default;
    JsonDocument(JsonDocument&&) = default;
    JsonDocument& operator=(JsonDocument&&) = default;

    // The document's value; a missing (null) value before a successful read.
    JsonValue root() const;

private:
    friend bool readJsonDocument(std::string_view, JsonDocument&, std::string&, size_t, int);
    std::unique_ptr<char[]> m_text;
    std::vector<JsonNode> m_nodes;  // the root is the last
};

// Reads text as one JSON document. A UTF-8 byte-order mark is skipped;
// comments and a trailing comma are allowed; strings keep their bytes as
// given (invalid UTF-8 included, for the text cleaner) and raw control
// characters inside them. After the value only white space and comments may
// follow, so a reply that merely starts like JSON is refused, as is text
// holding a NUL byte. False, with one line of error text in errors and the
// document empty, when the text is not such a document, holds more than
// maxValues values (objects, arrays, numbers, strings other than keys,
// true, false, null: logged at level 8 like a reply over the byte cap) or
// nests deeper than maxDepth (a value inside n containers is at depth n + 1).
bool readJsonDocument(std::string_view text, JsonDocument& document, std::string& errors,
                      size_t maxValues = kDefaultJsonValueBudget, int maxDepth = kJsonMaxDepth);

// readJsonDocument's document, whose root is missing (and null) when the text is refused.
JsonDocument jsonDocumentOf(std::string_view text, size_t maxValues = kDefaultJsonValueBudget);
