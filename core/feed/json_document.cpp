#include "core/feed/json_document.h"

#include "core/feed/json_member_order.h"

#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

namespace {
// UTF-8 as the tokenizer reads it, but taking a string's plain bytes a run
// at a time and copying them only when the string has escapes (below).
// Without it, every byte of a string passes through the tokenizer's whole
// escape test and is pushed onto its stack, a check and a store each. Its
// SSE2 scan, which x86-64 could use, copies every string and starts each
// bytewise until aligned: slower on the feeds' short strings than the runs.
struct TextUtf8 : rapidjson::UTF8<> {};

// Bytes that stand for themselves in a string: not the quote, not the
// backslash, not a control byte (the closing NUL is one).
constexpr std::array<bool, 256> kPlainStringBytes = [] {
    std::array<bool, 256> plain{};
    for (unsigned c = 0x20; c < 256; ++c) plain[c] = c != '"' && c != '\\';
    return plain;
}();

// The tokenizer's own copy of a string takes a run of bytes at once; the
// in-place mode it also instantiates, and never runs here, does not.
template <typename Stream, typename = void>
struct TakesRuns : std::false_type {};
template <typename Stream>
struct TakesRuns<Stream, std::void_t<decltype(std::declval<Stream&>().Push(rapidjson::SizeType{}))>> : std::true_type {};
}  // namespace

// The tokenizer calls Transcode for a string's byte that is neither an
// escape nor its end, and goes on from where it leaves the stream.
template <>
struct rapidjson::Transcoder<TextUtf8, TextUtf8> {
    template <typename InputStream, typename OutputStream>
    static bool Transcode(InputStream& is, OutputStream& os) {
        if constexpr (TakesRuns<OutputStream>::value) {
            const char* const start = is.src_;
            const char* end = start + 1;
            while (kPlainStringBytes[static_cast<unsigned char>(*end)]) ++end;
            const auto count = static_cast<SizeType>(end - start);
            char* out = static_cast<char*>(os.Push(count));
            // A run that is the whole string is the text's own, which the tree
            // keeps (TreeBuilder), so only the runs of strings with escapes are
            // copied; by hand, as runs are short and a call costs more.
            const bool wholeString = os.Length() == count && *end == '"';
            if (!wholeString)
                for (const char* in = start; in != end;) *out++ = *in++;
            is.src_ = end;
        } else {
            os.Put(is.Take());
        }
        return true;
    }
    template <typename InputStream, typename OutputStream>
    static bool Validate(InputStream& is, OutputStream& os) {
        return TextUtf8::Validate(is, os);
    }
};

namespace {
// Numbers stay text until a feed reads one, so their value is taken once,
// one way; the tokenizer does not recurse, so a deep document costs no stack.
constexpr unsigned kParseFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag |
                                 rapidjson::kParseCommentsFlag | rapidjson::kParseTrailingCommasFlag;

// Feeds' documents hold a value or key for every ten to thirteen bytes:
// reserved at once, the tree seldom grows.
constexpr size_t kBytesPerNode = 10;

enum class Refusal { kNone, kBudget, kDepth, kSize };

// Builds the tree from the tokenizer's events, children first: a container's
// children wait on a stack until it closes, then move to the document in one
// block, an object's sorted by key with the last of equal keys kept.
//
// A string, key or number is kept as a place in the text. The tokenizer
// hands over a decoded copy, and while it does, its stream still stands at
// the value's first byte (it reads on a copy of the stream and updates the
// original after the handler returns). A string of decoded length n whose
// byte n of the text is a quote not preceded by a backslash had no escapes
// (with an escape, byte n lies inside the string, where a quote must be
// escaped), and its decoded text is the text's own. Only strings with
// escapes are copied.
class TreeBuilder : public rapidjson::BaseReaderHandler<TextUtf8, TreeBuilder> {
public:
    TreeBuilder(const rapidjson::StringStream& stream, std::vector<char>& decoded, JsonNodeBlock& nodes,
                size_t maxValues, int maxDepth)
        : m_stream(stream),
          m_decoded(decoded),
          m_nodes(nodes),
          m_maxValues(maxValues),
          m_maxDepth(static_cast<size_t>(maxDepth)) {}

    bool Null() { return counted() && push(JsonNode::make(JsonNode::kNull, 0, 0)); }
    bool Bool(bool b) { return counted() && push(JsonNode::make(b ? JsonNode::kTrue : JsonNode::kFalse, 0, 0)); }
    bool RawNumber(const char*, rapidjson::SizeType length, bool) {
        return counted() && push(JsonNode::make(JsonNode::kNumber, length, here()));
    }
    bool String(const char* s, rapidjson::SizeType length, bool) { return counted() && pushText(s, length); }
    bool Key(const char* s, rapidjson::SizeType length, bool) { return pushText(s, length); }
    bool StartObject() { return open(); }
    bool StartArray() { return open(); }
    bool EndObject(rapidjson::SizeType) { return close(JsonNode::kObject, sortMembers()); }
    bool EndArray(rapidjson::SizeType) { return close(JsonNode::kArray, m_pending.size() - m_open.back()); }

    Refusal refusal() const { return m_refusal; }
    // Moves the finished root to the end of the document.
    void finish() { m_nodes.append(&m_pending.back(), 1); }

private:
    uint32_t here() const { return static_cast<uint32_t>(m_stream.Tell()); }
    bool counted() {
        if (++m_values > m_maxValues) return refuse(Refusal::kBudget);
        if (m_open.size() + 1 > m_maxDepth) return refuse(Refusal::kDepth);
        return true;
    }
    bool refuse(Refusal why) {
        m_refusal = why;
        return false;
    }
    bool push(JsonNode node) {
        m_pending.push_back(node);
        return true;
    }
    bool pushText(const char* decoded, size_t length) {
        if (length > JsonNode::kMaxSize) return refuse(Refusal::kSize);
        const uint32_t start = here() + 1;  // past the opening quote
        const char* own = m_stream.head_ + start;
        if (own[length] == '"' && (length == 0 || own[length - 1] != '\\'))
            return push(JsonNode::make(JsonNode::kString, static_cast<uint32_t>(length), start));
        const auto at = static_cast<uint32_t>(m_decoded.size());
        m_decoded.insert(m_decoded.end(), decoded, decoded + length);
        return push(JsonNode::make(JsonNode::kDecodedString, static_cast<uint32_t>(length), at));
    }
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
        m_nodes.append(m_pending.data() + first, m_pending.size() - first);
        m_pending.resize(first);
        m_pending.push_back(JsonNode::make(kind, static_cast<uint32_t>(children), start));
        return true;
    }
    size_t sortMembers() {
        return m_memberOrder.sort(m_pending, m_open.back(), {m_stream.head_, m_decoded.data(), nullptr});
    }

    const rapidjson::StringStream& m_stream;
    std::vector<char>& m_decoded;
    JsonNodeBlock& m_nodes;
    std::vector<JsonNode> m_pending;  // finished values whose container is still open
    std::vector<size_t> m_open;       // where each open container's children start in m_pending
    JsonMemberOrder m_memberOrder;
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
}  // namespace

// Reads text (NUL-terminated, holding no other NUL) into the document.
class JsonReading {
public:
    static Attempt parse(const char* text, size_t size, JsonDocument& document, size_t maxValues, int maxDepth) {
        document.m_decoded.clear();
        document.m_nodes.clear();
        document.m_nodes.reserve(std::min(size / kBytesPerNode, maxValues < SIZE_MAX / 2 ? 2 * maxValues + 1 : SIZE_MAX));
        rapidjson::StringStream stream(text);
        TreeBuilder builder(stream, document.m_decoded, document.m_nodes, maxValues, maxDepth);
        rapidjson::GenericReader<TextUtf8, TextUtf8> reader;
        Attempt attempt{reader.Parse<kParseFlags>(stream, builder), builder.refusal()};
        if (!attempt.result) return attempt;
        builder.finish();
        document.m_source = {text, document.m_decoded.data(), document.m_nodes.data()};
        return attempt;
    }
    static std::string& repaired(JsonDocument& document) { return document.m_repaired; }
};

namespace {
std::string refusalText(const Attempt& attempt, size_t size, size_t maxValues, int maxDepth) {
    switch (attempt.refusal) {
        case Refusal::kBudget:
            return "reply of " + std::to_string(size) + " bytes holds more than " + std::to_string(maxValues) +
                   " JSON values; not parsed";
        case Refusal::kDepth: return "nested deeper than " + std::to_string(maxDepth) + " levels";
        case Refusal::kSize: return "a string or container too large";
        case Refusal::kNone: break;
    }
    return std::string(rapidjson::GetParseError_En(attempt.result.Code())) + " (at byte " +
           std::to_string(attempt.result.Offset()) + ")";
}
}  // namespace

JsonNodeBlock::~JsonNodeBlock() { std::free(m_data); }

JsonNodeBlock::JsonNodeBlock(JsonNodeBlock&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)),
      m_size(std::exchange(other.m_size, 0)),
      m_capacity(std::exchange(other.m_capacity, 0)) {}

JsonNodeBlock& JsonNodeBlock::operator=(JsonNodeBlock&& other) noexcept {
    std::swap(m_data, other.m_data);
    std::swap(m_size, other.m_size);
    std::swap(m_capacity, other.m_capacity);
    return *this;
}

void JsonNodeBlock::reserve(size_t capacity) {
    if (capacity <= m_capacity) return;
    if (capacity > SIZE_MAX / sizeof(JsonNode)) throw std::bad_alloc();
    void* grown = std::realloc(m_data, capacity * sizeof(JsonNode));
    if (!grown) throw std::bad_alloc();
    m_data = static_cast<JsonNode*>(grown);
    m_capacity = capacity;
}

void JsonNodeBlock::append(const JsonNode* first, size_t count) {
    if (m_size + count > m_capacity) reserve(std::max(m_size + count, 2 * m_capacity));
    if (count) std::memcpy(m_data + m_size, first, count * sizeof(JsonNode));
    m_size += count;
}

JsonDocument& JsonDocument::operator=(JsonDocument&& other) noexcept {
    // A short repaired text lives inside its string object, so it moves.
    const bool readRepaired = other.m_source.text && other.m_source.text == other.m_repaired.c_str();
    m_repaired = std::move(other.m_repaired);
    m_decoded = std::move(other.m_decoded);
    m_nodes = std::move(other.m_nodes);
    m_source = other.m_source;
    if (readRepaired) m_source.text = m_repaired.c_str();
    other.m_source = JsonSource();
    return *this;
}

JsonValue JsonDocument::root() const {
    if (m_nodes.size() == 0) return {};
    return {&m_source, m_nodes.data() + m_nodes.size() - 1};
}

bool readJsonDocument(const std::string& text, JsonDocument& document, std::string& errors, size_t maxValues,
                      int maxDepth) {
    document = JsonDocument();
    errors.clear();
    const size_t bom = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    // The tokenizer takes a NUL for the end of the text, and would accept
    // whatever follows one.
    if (text.find('\0') != std::string::npos) {
        errors = "a NUL byte in the text";
        return false;
    }
    if (text.size() > JsonNode::kMaxSize) {
        errors = "a document too large";
        return false;
    }
    Attempt attempt = JsonReading::parse(text.c_str() + bom, text.size() - bom, document, maxValues, maxDepth);
    const size_t at = bom + attempt.result.Offset();
    if (!attempt.result && attempt.refusal == Refusal::kNone && at < text.size() &&
        static_cast<unsigned char>(text[at]) < 0x20) {
        std::string& repaired = JsonReading::repaired(document);
        repaired = escapeControlBytesInStrings(std::string_view(text).substr(bom));
        attempt = JsonReading::parse(repaired.c_str(), repaired.size(), document, maxValues, maxDepth);
    }
    if (attempt.result) return true;
    errors = refusalText(attempt, text.size(), maxValues, maxDepth);
    document = JsonDocument();
    return false;
}

JsonDocument jsonDocumentOf(const std::string& text, std::string& errors, size_t maxValues) {
    JsonDocument document;
    readJsonDocument(text, document, errors, maxValues);
    return document;
}
