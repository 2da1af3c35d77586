#include "core/feed/json_document.h"

// Every x86-64 processor has SSE2: the tokenizer then skips blanks and scans
// strings sixteen bytes at a time. The board's ARM build scans bytewise.
#if defined(__SSE2__) && !defined(RAPIDJSON_SSE2)
#define RAPIDJSON_SSE2
#endif
#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <algorithm>
#include <cstring>

#include "platform/debug.h"

namespace {
// Numbers stay text until a feed reads one, so their value is taken once,
// one way; the tokenizer does not recurse, so a deep document costs no stack.
constexpr unsigned kParseFlags = rapidjson::kParseInsituFlag | rapidjson::kParseIterativeFlag |
                                 rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseCommentsFlag |
                                 rapidjson::kParseTrailingCommasFlag;

constexpr size_t kScanPadding = 16;
constexpr size_t kBytesPerNode = 10;

enum class Refusal { kNone, kBudget, kDepth, kSize };

// Builds the tree from the tokenizer's events, children first: a container's
// children wait on a stack until it closes, then move to the document in one
// block, an object's sorted by key with the last of equal keys kept.
class TreeBuilder : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, TreeBuilder> {
public:
    TreeBuilder(const char* text, std::vector<JsonNode>& nodes, size_t maxValues, int maxDepth)
        : m_text(text), m_nodes(nodes), m_maxValues(maxValues), m_maxDepth(static_cast<size_t>(maxDepth)) {}

    bool Null() { return scalar(JsonNode::kNull, 0, nullptr); }
    bool Bool(bool b) { return scalar(b ? JsonNode::kTrue : JsonNode::kFalse, 0, nullptr); }
    bool RawNumber(const char* s, rapidjson::SizeType length, bool) { return scalar(JsonNode::kNumber, length, s); }
    bool String(const char* s, rapidjson::SizeType length, bool) { return scalar(JsonNode::kString, length, s); }
    bool Key(const char* s, rapidjson::SizeType length, bool) { return push(JsonNode::kString, length, s); }
    bool StartObject() { return open(); }
    bool StartArray() { return open(); }
    bool EndObject(rapidjson::SizeType) { return close(JsonNode::kObject, sortMembers(m_open.back())); }
    bool EndArray(rapidjson::SizeType) { return close(JsonNode::kArray, m_pending.size() - m_open.back()); }

    Refusal refusal() const { return m_refusal; }
    // Moves the finished root to the end of the document.
    void finish() { m_nodes.push_back(m_pending.back()); }

private:
    struct Member {
        JsonNode key, value;
    };

    bool counted() {
        if (++m_values > m_maxValues) return refuse(Refusal::kBudget);
        if (m_open.size() + 1 > m_maxDepth) return refuse(Refusal::kDepth);
        return true;
    }
    bool refuse(Refusal why) {
        m_refusal = why;
        return false;
    }
    bool push(JsonNode::Kind kind, size_t length, const char* at) {
        if (length > JsonNode::kMaxSize) return refuse(Refusal::kSize);
        m_pending.push_back(JsonNode::make(kind, static_cast<uint32_t>(length),
                                           at ? static_cast<uint32_t>(at - m_text) : 0));
        return true;
    }
    bool scalar(JsonNode::Kind kind, size_t length, const char* at) { return counted() && push(kind, length, at); }
    bool open() {
        if (!counted()) return false;
        m_open.push_back(m_pending.size());
        return true;
    }
    bool close(JsonNode::Kind kind, size_t children) {
        const size_t first = m_open.back();
        m_open.pop_back();
        if (children > JsonNode::kMaxSize) return refuse(Refusal::kSize);
        const auto start = static_cast<uint32_t>(m_nodes.size());
        m_nodes.insert(m_nodes.end(), m_pending.begin() + static_cast<std::ptrdiff_t>(first), m_pending.end());
        m_pending.resize(first);
        m_pending.push_back(JsonNode::make(kind, static_cast<uint32_t>(children), start));
        return true;
    }
    std::string_view keyOf(const JsonNode& key) const { return {m_text + key.start, key.size()}; }

    // Sorts the key, value pairs from first on and drops all but the last of
    // equal keys; returns how many members are left.
    size_t sortMembers(size_t first) {
        const size_t count = (m_pending.size() - first) / 2;
        bool ordered = true;
        for (size_t i = 1; i < count && ordered; ++i)
            ordered = keyOf(m_pending[first + 2 * (i - 1)]) < keyOf(m_pending[first + 2 * i]);
        if (ordered) return count;
        m_members.clear();
        for (size_t i = 0; i < count; ++i) m_members.push_back({m_pending[first + 2 * i], m_pending[first + 2 * i + 1]});
        std::stable_sort(m_members.begin(), m_members.end(),
                         [this](const Member& a, const Member& b) { return keyOf(a.key) < keyOf(b.key); });
        m_pending.resize(first);
        for (size_t i = 0; i < m_members.size(); ++i) {
            const bool replaced = i + 1 < m_members.size() && keyOf(m_members[i].key) == keyOf(m_members[i + 1].key);
            if (replaced) continue;
            m_pending.push_back(m_members[i].key);
            m_pending.push_back(m_members[i].value);
        }
        return (m_pending.size() - first) / 2;
    }

    const char* m_text;
    std::vector<JsonNode>& m_nodes;
    std::vector<JsonNode> m_pending;  // finished values whose container is still open
    std::vector<size_t> m_open;       // where each open container's children start in m_pending
    std::vector<Member> m_members;
    size_t m_values = 0;
    const size_t m_maxValues;
    const size_t m_maxDepth;
    Refusal m_refusal = Refusal::kNone;
};

// The text with every raw control byte inside a string written as a \u
// escape: the tokenizer refuses them, and services have sent them.
std::string escapeControlBytesInStrings(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 64);
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString && c == '\\' && i + 1 < text.size()) {
            out += c;
            out += text[++i];
            continue;
        }
        if (inString && static_cast<unsigned char>(c) < 0x20) {
            static const char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
            continue;
        }
        if (c == '"') inString = !inString;
        if (!inString && c == '/' && i + 1 < text.size() && (text[i + 1] == '/' || text[i + 1] == '*')) {
            // Copied whole, so a quote inside a comment opens no string.
            const bool line = text[i + 1] == '/';
            size_t end = line ? text.find('\n', i + 2) : text.find("*/", i + 2);
            end = end == std::string_view::npos ? text.size() : end + (line ? 0 : 2);
            out.append(text.substr(i, end - i));
            i = end - 1;
            continue;
        }
        out += c;
    }
    return out;
}

struct Attempt {
    rapidjson::ParseResult result;
    Refusal refusal = Refusal::kNone;
};

Attempt parseInto(std::string_view text, std::unique_ptr<char[]>& copy, std::vector<JsonNode>& nodes,
                  size_t maxValues, int maxDepth) {
    // The vector scans read whole aligned blocks of sixteen bytes, up to
    // fifteen past the closing NUL: they stay inside the padding.
    copy.reset(new char[text.size() + 1 + kScanPadding]());
    std::memcpy(copy.get(), text.data(), text.size());
    nodes.clear();
    // Feeds' documents hold a value or key for every ten to thirteen bytes:
    // reserved at once, the tree rarely grows by copying.
    nodes.reserve(std::min(text.size() / kBytesPerNode, maxValues < SIZE_MAX / 2 ? 2 * maxValues + 1 : SIZE_MAX));
    TreeBuilder builder(copy.get(), nodes, maxValues, maxDepth);
    rapidjson::InsituStringStream stream(copy.get());
    rapidjson::Reader reader;
    Attempt attempt{reader.Parse<kParseFlags>(stream, builder), builder.refusal()};
    if (attempt.result) builder.finish();
    return attempt;
}

std::string refusalText(const Attempt& attempt, size_t maxValues, int maxDepth) {
    switch (attempt.refusal) {
        case Refusal::kBudget: return "more than " + std::to_string(maxValues) + " values";
        case Refusal::kDepth: return "nested deeper than " + std::to_string(maxDepth) + " levels";
        case Refusal::kSize: return "a string or container too large";
        case Refusal::kNone: break;
    }
    return std::string(rapidjson::GetParseError_En(attempt.result.Code())) + " (at byte " +
           std::to_string(attempt.result.Offset()) + ")";
}
}  // namespace

JsonValue JsonDocument::root() const {
    if (m_nodes.empty()) return {};
    return {m_text.get(), m_nodes.data(), &m_nodes.back()};
}

bool readJsonDocument(std::string_view text, JsonDocument& document, std::string& errors, size_t maxValues,
                      int maxDepth) {
    document = JsonDocument();
    errors.clear();
    const std::string_view whole = text;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    // The tokenizer takes a NUL for the end of the text, and would accept
    // whatever follows one.
    if (text.find('\0') != std::string_view::npos) {
        errors = "a NUL byte in the text";
        return false;
    }
    if (text.size() > JsonNode::kMaxSize) {
        errors = "a document too large";
        return false;
    }
    Attempt attempt = parseInto(text, document.m_text, document.m_nodes, maxValues, maxDepth);
    const size_t at = attempt.result.Offset();
    if (!attempt.result && attempt.refusal == Refusal::kNone && at < text.size() &&
        static_cast<unsigned char>(text[at]) < 0x20) {
        const std::string escaped = escapeControlBytesInStrings(text);
        attempt = parseInto(escaped, document.m_text, document.m_nodes, maxValues, maxDepth);
    }
    if (attempt.result) return true;
    if (attempt.refusal == Refusal::kBudget)
        logLine(8, "JSON: reply of ", whole.size(), " bytes holds more than ", maxValues, " JSON values; not parsed");
    errors = refusalText(attempt, maxValues, maxDepth);
    document = JsonDocument();
    return false;
}

JsonDocument jsonDocumentOf(std::string_view text, size_t maxValues) {
    JsonDocument document;
    std::string errors;
    readJsonDocument(text, document, errors, maxValues);
    return document;
}
