// One value of a parsed JSON document, read the way the feeds have always
// read JSON: objects keep one member per key (the last one given) in key
// order, numbers keep their text and become integers or doubles when asked,
// and asking an array for a member (or an object for an item) throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>

// How a node is stored: eight bytes on every target. Strings, keys and
// numbers point into the document's text, or, for a string that held
// escapes, into its decoded copy; a container's children are contiguous (an
// object's as key, value pairs, sorted by key).
struct JsonNode {
    enum Kind : uint32_t { kNull, kFalse, kTrue, kNumber, kString, kArray, kObject, kDecodedString };
    static constexpr unsigned kKindBits = 3;
    static constexpr uint32_t kMaxSize = (uint32_t{1} << (32 - kKindBits)) - 1;

    uint32_t kindAndSize;  // kind in the low bits; text length or number of children above them
    uint32_t start;        // offset of the text, or index of the first child

    Kind kind() const { return static_cast<Kind>(kindAndSize & ((1u << kKindBits) - 1)); }
    uint32_t size() const { return kindAndSize >> kKindBits; }
    static JsonNode make(Kind kind, uint32_t size, uint32_t start) { return {size << kKindBits | kind, start}; }
};

// Orders object keys as bytes (unsigned), a prefix first. Keys are short, so
// the loop beats a call to memcmp, which matters on the board's processor.
inline int compareJsonKeys(std::string_view a, std::string_view b) {
    const size_t common = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < common; ++i)
        if (a[i] != b[i]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]) ? -1 : 1;
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// A type error, thrown where the feeds' old reader threw one.
class JsonTypeError : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

class JsonValue;

// Where a document's text, decoded strings and nodes are; its values' handles share it.
struct JsonSource {
    const char* text = nullptr;
    const char* decoded = nullptr;
    const JsonNode* nodes = nullptr;
};

// The values of an array, or the member values of an object in key order.
class JsonValueIterator {
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = JsonValue;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = JsonValue;

    JsonValueIterator(const JsonSource* source, const JsonNode* at, unsigned stride)
        : m_source(source), m_at(at), m_stride(stride) {}
    JsonValue operator*() const;
    JsonValueIterator& operator++() {
        m_at += m_stride;
        return *this;
    }
    bool operator==(const JsonValueIterator& other) const { return m_at == other.m_at; }
    bool operator!=(const JsonValueIterator& other) const { return m_at != other.m_at; }

private:
    const JsonSource* m_source;
    const JsonNode* m_at;
    unsigned m_stride;
};

// A light handle on one node of a JsonDocument, valid while the document
// lives where it is. A default handle is a missing value: false in a test,
// null in every other respect.
class JsonValue {
public:
    JsonValue() = default;
    JsonValue(const JsonSource* source, const JsonNode* node) : m_source(source), m_node(node) {}

    // True for a value that is there (a JSON null included).
    explicit operator bool() const { return m_node != nullptr; }

    bool isNull() const { return kind() == JsonNode::kNull; }
    bool isBool() const { return kind() == JsonNode::kFalse || kind() == JsonNode::kTrue; }
    bool isString() const { return kind() == JsonNode::kString; }
    bool isNumeric() const { return kind() == JsonNode::kNumber; }
    bool isArray() const { return kind() == JsonNode::kArray; }
    bool isObject() const { return kind() == JsonNode::kObject; }
    // A number that is whole and within the range of a 64-bit integer.
    bool isIntegral() const;
    bool isInt64() const;
    bool isUInt64() const;
    // A number written without a point or exponent that fits 64 bits, signed or not.
    bool isWholeNumber() const;
    // Null, a boolean, a number or a string.
    bool isConvertibleToString() const { return kind() <= JsonNode::kString; }

    // Items of an array, members of an object, else 0.
    size_t size() const { return isArray() || isObject() ? m_node->size() : 0; }
    // Null, or an array or object without children.
    bool empty() const { return isNull() || ((isArray() || isObject()) && m_node->size() == 0); }

    // The member named key of an object: missing when there is none or this
    // is null; JsonTypeError for any other kind.
    JsonValue operator[](std::string_view key) const;
    inline JsonValue operator[](const char* key) const;
    // Item i of an array: missing past its end or when this is null;
    // JsonTypeError for any other kind.
    JsonValue operator[](size_t index) const;
    JsonValue operator[](int index) const { return (*this)[static_cast<size_t>(index)]; }
    // operator[] turned into a test, with its errors.
    bool isMember(std::string_view key) const { return static_cast<bool>((*this)[key]); }
    // The name of member i of an object, in key order; empty for anything else.
    std::string_view memberName(size_t i) const;

    JsonValueIterator begin() const;
    JsonValueIterator end() const;

    // The text of a string, a number in decimal (whole numbers without a
    // point, others to 17 significant digits), "true"/"false", "" for null;
    // JsonTypeError for an array or object.
    std::string asString() const;
    // A string's own text (no copy); empty for any other kind.
    std::string_view stringView() const;
    // A number's text as the document gave it; empty for any other kind.
    std::string_view numberText() const;
    double asDouble() const;
    int64_t asInt64() const;
    uint64_t asUInt64() const;
    int asInt() const;
    bool asBool() const;

    // The text of a string, key or number node of source.
    static std::string_view textOf(const JsonSource& source, const JsonNode& node) {
        const char* base = node.kind() == JsonNode::kDecodedString ? source.decoded : source.text;
        return {base + node.start, node.size()};
    }

private:
    JsonNode::Kind kind() const {
        if (!m_node) return JsonNode::kNull;
        return m_node->kind() == JsonNode::kDecodedString ? JsonNode::kString : m_node->kind();
    }
    std::string_view text() const { return textOf(*m_source, *m_node); }
    const JsonNode* child(uint32_t index) const { return m_source->nodes + m_node->start + index; }
    JsonValue at(uint32_t index) const { return {m_source, child(index)}; }
    [[noreturn]] void typeError(const char* wanted) const;

    const JsonSource* m_source = nullptr;
    const JsonNode* m_node = nullptr;
};

inline JsonValue JsonValueIterator::operator*() const { return {m_source, m_at}; }

// Whether text is the NUL-terminated name, read without measuring name first.
inline bool isJsonName(std::string_view text, const char* name) {
    for (char c : text)
        if (*name == '\0' || *name++ != c) return false;
    return *name == '\0';
}

inline JsonValue JsonValue::operator[](const char* key) const {
    // The feeds ask records of a few members for names they spell out: those
    // are looked through in order, and only larger objects searched.
    constexpr uint32_t kLookedThrough = 8;
    if (!isObject() || m_node->size() > kLookedThrough) return (*this)[std::string_view(key)];
    for (uint32_t i = 0; i < 2 * m_node->size(); i += 2)
        if (isJsonName(textOf(*m_source, *child(i)), key)) return at(i + 1);
    return {};
}
