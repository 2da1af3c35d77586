#include "core/feed/json_document.h"

#include <memory>

#include "platform/debug.h"

namespace {
// How the counter treats a byte outside strings and comments.
enum ByteClass : unsigned char { kScalar, kSpace, kOpen, kClose, kSeparator, kQuote, kSlash, kEnd };

struct ByteClasses {
    ByteClass of[256];
    constexpr ByteClasses() : of() {
        for (ByteClass& c : of) c = kScalar;
        of[static_cast<unsigned char>(' ')] = of[static_cast<unsigned char>('\t')] = kSpace;
        of[static_cast<unsigned char>('\n')] = of[static_cast<unsigned char>('\r')] = kSpace;
        of[static_cast<unsigned char>('{')] = of[static_cast<unsigned char>('[')] = kOpen;
        of[static_cast<unsigned char>('}')] = of[static_cast<unsigned char>(']')] = kClose;
        of[static_cast<unsigned char>(',')] = of[static_cast<unsigned char>(':')] = kSeparator;
        of[static_cast<unsigned char>('"')] = kQuote;
        of[static_cast<unsigned char>('/')] = kSlash;
        of[0] = kEnd;  // the reader takes a NUL outside strings for the end of the text
    }
};
constexpr ByteClasses kClasses;

inline ByteClass classOf(char c) { return kClasses.of[static_cast<unsigned char>(c)]; }

// Past the comment that starts at p ("//" or "/*"), or p when none starts there.
const char* skipComment(const char* p, const char* end) {
    if (end - p < 2 || p[0] != '/') return p;
    if (p[1] == '/') {
        // The reader ends a line comment at a carriage return as at a line feed.
        for (p += 2; p < end && *p != '\n' && *p != '\r'; ++p) {
        }
        return p;
    }
    if (p[1] == '*') {
        for (p += 2; p + 1 < end; ++p)
            if (p[0] == '*' && p[1] == '/') return p + 2;
        return end;
    }
    return p;
}

const char* skipSpaceAndComments(const char* p, const char* end) {
    while (p < end) {
        if (classOf(*p) == kSpace) {
            ++p;
            continue;
        }
        const char* after = skipComment(p, end);
        if (after == p) break;
        p = after;
    }
    return p;
}

// Past the closing quote of the string whose first character is at p.
const char* skipString(const char* p, const char* end) {
    while (p < end) {
        char c = *p++;
        if (c == '"') return p;
        if (c == '\\' && p < end) ++p;  // the escaped character can't end the string
    }
    return end;
}

// Past a number or literal: up to the next blank, punctuation, quote or slash.
const char* skipScalar(const char* p, const char* end) {
    while (p < end && classOf(*p) == kScalar) ++p;
    return p;
}
}  // namespace

bool readJsonDocument(const std::string& text, Json::Value& root, std::string& errors, size_t maxValues,
                      int maxDepth) {
    root = Json::Value();
    errors.clear();
    if (maxValues != kNoJsonValueBudget && !withinJsonValueBudget(text, maxValues)) {
        errors = "more values than the budget allows";
        return false;
    }
    // The reader takes a NUL for the end of the text, and would accept
    // whatever follows one.
    if (text.find('\0') != std::string::npos) {
        errors = "a NUL byte in the text";
        return false;
    }
    Json::CharReaderBuilder builder;
    builder["collectComments"] = true;
    builder["allowComments"] = true;
    builder["failIfExtra"] = true;
    builder["stackLimit"] = maxDepth;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    try {
        if (reader->parse(text.data(), text.data() + text.size(), &root, &errors)) return true;
    } catch (const std::exception& e) {
        // The reader's depth limit surfaces as an exception.
        errors = e.what();
    }
    root = Json::Value();
    return false;
}

namespace jsoncpp_string {
Json::Value toJsonObject(const std::string& text, size_t maxValues) {
    Json::Value root;
    std::string errors;
    readJsonDocument(text, root, errors, maxValues);
    return root;
}
}  // namespace jsoncpp_string

size_t countJsonValues(std::string_view text, size_t limit) {
    const char* p = text.data();
    const char* const end = p + text.size();
    if (text.substr(0, 3) == "\xEF\xBB\xBF") p += 3;
    size_t count = 0;
    size_t depth = 0;  // containers open; no stack is kept, so one kind of bracket closes the other
    while (p < end && count <= limit) {
        switch (classOf(*p)) {
            case kEnd: return count;
            case kSpace:
            case kSeparator: ++p; break;
            case kOpen:
                ++count;
                ++depth;
                ++p;
                break;
            case kClose:
                if (depth > 0) --depth;
                ++p;
                break;
            case kQuote:
                // Inside a container a string followed by ':' names a member: the
                // reader keeps it as a key, not as a value. Outside, it is the document.
                p = skipSpaceAndComments(skipString(p + 1, end), end);
                if (depth == 0 || p == end || *p != ':') ++count;
                break;
            case kSlash:
                if (const char* after = skipComment(p, end); after != p) {
                    p = after;
                    break;
                }
                ++count;
                p = skipScalar(p + 1, end);
                break;
            case kScalar:
                ++count;
                p = skipScalar(p + 1, end);
                break;
        }
    }
    return count;
}

bool withinJsonValueBudget(const std::string& text, size_t budget) {
    if (countJsonValues(text, budget) <= budget) return true;
    logLine(8, "JSON: reply of ", text.size(), " bytes holds more than ", budget, " JSON values; not parsed");
    return false;
}
