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

// A document's nodes in one block grown by realloc: the C library moves a
// large block by remapping its pages rather than copying them, so the tree
// never stands in memory twice while it grows.
class JsonNodeBlock {
public:
    JsonNodeBlock() = default;
    ~JsonNodeBlock();
    JsonNodeBlock(JsonNodeBlock&& other) noexcept;
    JsonNodeBlock& operator=(JsonNodeBlock&& other) noexcept;

    // Throws std::bad_alloc when the block cannot grow.
    void reserve(size_t capacity);
    void append(const JsonNode* first, size_t count);
    void clear() { m_size = 0; }
    size_t size() const { return m_size; }
    const JsonNode* data() const { return m_data; }

private:
    JsonNode* m_data = nullptr;
    size_t m_size = 0;
    size_t m_capacity = 0;
};

// A parsed document: eight bytes for each value and each object key, which
// point into the text it was read from (so the text must outlive it), and a
// decoded copy of the strings that held escapes.
class JsonDocument {
public:
    JsonDocument() = default;
    JsonDocument(JsonDocument&& other) noexcept { *this = std::move(other); }
    JsonDocument& operator=(JsonDocument&& other) noexcept;

    // The document's value; a missing (null) value before a successful read.
    // Handles stay valid while the document lives and is not moved.
    JsonValue root() const;

private:
    friend class JsonReading;
    std::string m_repaired;      // the text with its raw control characters escaped, when it had some
    std::vector<char> m_decoded;  // strings that held escapes, decoded
    JsonNodeBlock m_nodes;        // the root is the last
    JsonSource m_source;
};

// Reads text as one JSON document; the document refers to text, which must
// outlive it. A UTF-8 byte-order mark is skipped;
// comments and a trailing comma are allowed; strings keep their bytes as
// given (invalid UTF-8 included, for the text cleaner) and raw control
// characters inside them. After the value only white space and comments may
// follow, so a reply that merely starts like JSON is refused, as is text
// holding a NUL byte. False, with one line of error text in errors and the
// document empty, when the text is not such a document, holds more than
// maxValues values (objects, arrays, numbers, strings other than keys,
// true, false, null) or
// nests deeper than maxDepth (a value inside n containers is at depth n + 1).
bool readJsonDocument(const std::string& text, JsonDocument& document, std::string& errors,
                      size_t maxValues = kDefaultJsonValueBudget, int maxDepth = kJsonMaxDepth);
// A document cannot refer to a temporary text.
bool readJsonDocument(std::string&& text, JsonDocument& document, std::string& errors,
                      size_t maxValues = kDefaultJsonValueBudget, int maxDepth = kJsonMaxDepth) = delete;

// readJsonDocument's document, whose root is missing (and null) when the
// text is refused, with the reason in errors.
JsonDocument jsonDocumentOf(const std::string& text, std::string& errors, size_t maxValues = kDefaultJsonValueBudget);
JsonDocument jsonDocumentOf(std::string&& text, std::string& errors, size_t maxValues = kDefaultJsonValueBudget) = delete;

// The reader's error text as the tail of a feed's log line: ": <errors>",
// or "" when there are none (a document that parsed but is not what the feed reads).
inline std::string errorTail(const std::string& errors) { return errors.empty() ? "" : ": " + errors; }
