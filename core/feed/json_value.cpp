#include "core/feed/json_value.h"

#include <locale.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {
// A number's value in the widest type that holds it exactly: whole numbers
// within 64 bits stay integers, everything else is a double.
struct Number {
    enum Type { kSigned, kUnsigned, kReal } type;
    int64_t i = 0;
    uint64_t u = 0;
    double d = 0;
};

// A number's value from its text in the document, where the tokenizer has
// checked its grammar and a byte that ends a number (a delimiter, a blank or
// the closing NUL) follows it, so strtod stops where the token does.
double readDouble(std::string_view text) {
    // The decimal point is '.' whatever locale the host has set.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return strtod_l(text.data(), nullptr, cLocale);
}

Number readNumber(std::string_view text) {
    const bool negative = !text.empty() && text[0] == '-';
    const std::string_view digits = text.substr(negative ? 1 : 0);
    // The magnitude limit: 2^64 - 1, or 2^63 for a negative number.
    const uint64_t limit = negative ? uint64_t{1} << 63 : std::numeric_limits<uint64_t>::max();
    // Eighteen digits cannot pass either limit, so only the digits after them
    // are checked, which on the board's 32-bit processor costs a call to divide.
    constexpr size_t kUncheckedDigits = 18;
    uint64_t magnitude = 0;
    bool whole = !digits.empty();
    for (size_t i = 0; i < digits.size() && whole; ++i) {
        const unsigned digit = static_cast<unsigned char>(digits[i]) - '0';
        if (digit > 9 || (i >= kUncheckedDigits && magnitude > (limit - digit) / 10))
            whole = false;
        else
            magnitude = magnitude * 10 + digit;
    }
    Number number{Number::kReal};
    if (!whole) {
        number.d = readDouble(text);
    } else if (negative) {
        number.type = Number::kSigned;
        number.i = magnitude == uint64_t{1} << 63 ? std::numeric_limits<int64_t>::min()
                                                  : -static_cast<int64_t>(magnitude);
    } else if (magnitude <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        number.type = Number::kSigned;
        number.i = static_cast<int64_t>(magnitude);
    } else {
        number.type = Number::kUnsigned;
        number.u = magnitude;
    }
    return number;
}

bool isWhole(double d) { return std::modf(d, &d) == 0.0; }

constexpr double kInt64Min = -9223372036854775808.0;
constexpr double kTwoTo63 = 9223372036854775808.0;
constexpr double kTwoTo64 = 18446744073709551616.0;

// A double to 17 significant digits, marked as a double by a point when it
// would otherwise read as a whole number.
std::string realText(double d) {
    if (std::isnan(d)) return "null";
    if (std::isinf(d)) return d < 0 ? "-1e+9999" : "1e+9999";
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.17g", d);
    std::string text(buffer);
    std::replace(text.begin(), text.end(), ',', '.');
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}
}  // namespace

bool JsonValue::isIntegral() const {
    if (!isNumeric()) return false;
    const Number n = readNumber(text());
    return n.type != Number::kReal || (n.d >= kInt64Min && n.d < kTwoTo64 && isWhole(n.d));
}

bool JsonValue::isInt64() const {
    if (!isNumeric()) return false;
    const Number n = readNumber(text());
    if (n.type == Number::kSigned) return true;
    if (n.type == Number::kUnsigned) return false;
    return n.d >= kInt64Min && n.d < kTwoTo63 && isWhole(n.d);
}

bool JsonValue::isUInt64() const {
    if (!isNumeric()) return false;
    const Number n = readNumber(text());
    if (n.type == Number::kSigned) return n.i >= 0;
    if (n.type == Number::kUnsigned) return true;
    return n.d >= 0 && n.d < kTwoTo64 && isWhole(n.d);
}

bool JsonValue::isWholeNumber() const { return isNumeric() && readNumber(text()).type != Number::kReal; }

JsonValue JsonValue::operator[](std::string_view key) const {
    if (isNull()) return {};
    if (!isObject()) typeError("an object");
    size_t low = 0, high = m_node->size();  // members are key, value pairs sorted by key
    while (low < high) {
        const size_t middle = (low + high) / 2;
        const int order = compareJsonKeys(textOf(*m_source, *child(2 * static_cast<uint32_t>(middle))), key);
        if (order == 0) return at(2 * static_cast<uint32_t>(middle) + 1);
        if (order < 0)
            low = middle + 1;
        else
            high = middle;
    }
    return {};
}

JsonValue JsonValue::operator[](size_t index) const {
    if (isNull()) return {};
    if (!isArray()) typeError("an array");
    if (index >= m_node->size()) return {};
    return at(static_cast<uint32_t>(index));
}

std::string_view JsonValue::memberName(size_t i) const {
    if (!isObject() || i >= m_node->size()) return {};
    return textOf(*m_source, *child(2 * static_cast<uint32_t>(i)));
}

JsonValueIterator JsonValue::begin() const {
    if (isObject()) return {m_source, child(1), 2};
    if (isArray()) return {m_source, child(0), 1};
    return {m_source, nullptr, 1};
}

JsonValueIterator JsonValue::end() const {
    if (isObject()) return {m_source, child(1 + 2 * m_node->size()), 2};
    if (isArray()) return {m_source, child(m_node->size()), 1};
    return {m_source, nullptr, 1};
}

std::string JsonValue::asString() const {
    switch (kind()) {
        case JsonNode::kNull: return "";
        case JsonNode::kFalse: return "false";
        case JsonNode::kTrue: return "true";
        case JsonNode::kString: return std::string(text());
        case JsonNode::kNumber: {
            const Number n = readNumber(text());
            if (n.type == Number::kSigned) return std::to_string(n.i);
            if (n.type == Number::kUnsigned) return std::to_string(n.u);
            return realText(n.d);
        }
        default: typeError("text");
    }
}

std::string_view JsonValue::stringView() const { return isString() ? text() : std::string_view(); }

std::string_view JsonValue::numberText() const { return isNumeric() ? text() : std::string_view(); }

double JsonValue::asDouble() const {
    switch (kind()) {
        case JsonNode::kNull:
        case JsonNode::kFalse: return 0.0;
        case JsonNode::kTrue: return 1.0;
        case JsonNode::kNumber: {
            const Number n = readNumber(text());
            // A 32-bit value converts in one instruction; a 64-bit one is a call on the board.
            if (n.type == Number::kSigned && n.i == static_cast<int32_t>(n.i)) return static_cast<int32_t>(n.i);
            if (n.type == Number::kSigned) return static_cast<double>(n.i);
            if (n.type == Number::kUnsigned) return static_cast<double>(n.u);
            return n.d;
        }
        default: typeError("a number");
    }
}

int64_t JsonValue::asInt64() const {
    switch (kind()) {
        case JsonNode::kNull:
        case JsonNode::kFalse: return 0;
        case JsonNode::kTrue: return 1;
        case JsonNode::kNumber: {
            const Number n = readNumber(text());
            if (n.type == Number::kSigned) return n.i;
            if (n.type == Number::kReal && n.d >= kInt64Min && n.d < kTwoTo63)
                return static_cast<int64_t>(n.d);
            typeError("a 64-bit integer");
        }
        default: typeError("a number");
    }
}

uint64_t JsonValue::asUInt64() const {
    if (!isNumeric()) return static_cast<uint64_t>(asInt64());  // null, a boolean, or a type error
    const Number n = readNumber(text());
    if (n.type == Number::kSigned && n.i >= 0) return static_cast<uint64_t>(n.i);
    if (n.type == Number::kUnsigned) return n.u;
    if (n.type == Number::kReal && n.d >= 0 && n.d < kTwoTo64) return static_cast<uint64_t>(n.d);
    typeError("an unsigned 64-bit integer");
}

int JsonValue::asInt() const {
    if (isNumeric()) {
        const Number n = readNumber(text());
        const double value = n.type == Number::kSigned ? static_cast<double>(n.i)
                             : n.type == Number::kUnsigned ? static_cast<double>(n.u)
                                                            : n.d;
        if (!(value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max()))
            typeError("a 32-bit integer");
        return n.type == Number::kSigned ? static_cast<int>(n.i) : static_cast<int>(n.d);
    }
    return static_cast<int>(asInt64());
}

bool JsonValue::asBool() const {
    switch (kind()) {
        case JsonNode::kNull:
        case JsonNode::kFalse: return false;
        case JsonNode::kTrue: return true;
        case JsonNode::kNumber: {
            const Number n = readNumber(text());
            if (n.type == Number::kSigned) return n.i != 0;
            if (n.type == Number::kUnsigned) return n.u != 0;
            return n.d != 0.0 && !std::isnan(n.d);
        }
        default: typeError("a boolean");
    }
}

void JsonValue::typeError(const char* wanted) const {
    static const char* const kNames[] = {"null", "false", "true", "a number", "a string", "an array", "an object"};
    throw JsonTypeError(std::string("JSON value is ") + kNames[kind()] + ", not " + wanted);
}
