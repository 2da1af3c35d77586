// Differential fuzzing of the JSON reader against the jsoncpp reading the
// feeds had before it: the same bytes must be accepted or refused alike, and
// every accessor the feeds use must answer alike on every value. The feeds
// read documents only through those accessors, so equal answers mean equal
// exported pairs. Differences in acceptance chosen on purpose are let
// through: numbers outside JSON's grammar, comments (the old reader took one
// in place of a comma, and ended a line comment at a carriage return), and a
// surrogate pair whose second half is no low surrogate. Any other difference
// aborts with both sides printed.
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

#include "core/feed/json_document.h"
#include "platform/debug.h"
#include "tests/reference/json_reference.h"

namespace {

bool isNumberByte(char c) { return (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-'; }

// A number whose decimal exponent is past a double's, which the old reader
// took when its value was zero and the tokenizer refuses whatever its value.
bool pastDoubleExponents(const std::string& number) {
    const size_t e = number.find_first_of("eE");
    if (e == std::string::npos) return number.size() > 300;
    const size_t digits = number.find_first_of("0123456789", e);
    if (number.size() - digits > 4) return true;  // no double has an exponent of five digits
    return std::atoi(number.c_str() + digits) + static_cast<int>(e) > 300;
}

// True when text holds, outside strings, a comment, or a number the old
// reader took and JSON's grammar does not or that is past a double's
// exponents; or, inside a string, a high
// surrogate escape, whose pairing the old reader did not check.
bool differsOnPurpose(const std::string& text) {
    static const std::regex kJsonNumber(R"(-?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?)");
    static const std::regex kHighSurrogate(R"(\\u[dD][89abAB][0-9a-fA-F]{2})");
    if (std::regex_search(text, kHighSurrogate)) return true;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') ++i;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '/') {
            return true;
        } else if (c == '-' || c == '+' || (c >= '0' && c <= '9')) {
            size_t end = i;
            while (end < text.size() && isNumberByte(text[end])) ++end;
            const std::string number = text.substr(i, end - i);
            if (!std::regex_match(number, kJsonNumber) || pastDoubleExponents(number)) return true;
            i = end - 1;
        }
    }
    return false;
}

[[noreturn]] void differ(const char* what, const std::string& text, const std::string& reader,
                         const std::string& reference) {
    std::fprintf(stderr, "JSON reader and reference differ in %s\n--- text:\n%s\n--- reader:\n%s\n--- reference:\n%s\n",
                 what, text.c_str(), reader.c_str(), reference.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    CDebug::setLevelMask(0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    JsonDocument document;
    std::string errors;
    const bool accepted = readJsonDocument(text, document, errors, SIZE_MAX);
    Json::Value reference;
    std::string referenceErrors;
    const bool referenceAccepted = readJsonReference(text, reference, referenceErrors);
    if (accepted != referenceAccepted) {
        if (differsOnPurpose(text)) return 0;
        differ("acceptance", text, accepted ? "accepted" : errors, referenceAccepted ? "accepted" : referenceErrors);
    }
    if (!accepted) return 0;
    const std::string view = jsonAccessorView(document.root());
    const std::string referenceView = jsonAccessorView(reference);
    if (view != referenceView) differ("the values read", text, view, referenceView);
    return 0;
}
