#include "core/feed/xml_dom.h"

#include <cstring>

namespace {
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isNodeNameChar(char c) { return c != '\0' && !isSpace(c) && c != '/' && c != '>' && c != '?'; }
bool isAttributeNameChar(char c) {
    return c != '\0' && !isSpace(c) && !std::strchr("/<>=?!", c);
}
void skipSpace(const char*& p) {
    while (isSpace(*p)) ++p;
}
// Moves p past the first occurrence of end; false at the end of the text.
bool skipPast(const char*& p, const char* end) {
    const char* found = std::strstr(p, end);
    if (!found) return false;
    p = found + std::strlen(end);
    return true;
}
bool skipDoctype(const char*& p) {
    while (*p != '>') {
        if (*p == '\0') return false;
        if (*p == '[') {
            ++p;
            int depth = 1;
            while (depth > 0) {
                if (*p == '\0') return false;
                if (*p == '[') ++depth;
                if (*p == ']') --depth;
                ++p;
            }
        } else {
            ++p;
        }
    }
    ++p;
    return true;
}
enum class Tag { kOpen, kEmpty, kMalformed };
// Reads a start tag from just after '<' the way the parser does.
Tag readStartTag(const char*& p) {
    const char* name = p;
    while (isNodeNameChar(*p)) ++p;
    if (p == name) return Tag::kMalformed;
    skipSpace(p);
    while (isAttributeNameChar(*p)) {
        while (isAttributeNameChar(*p)) ++p;
        skipSpace(p);
        if (*p != '=') return Tag::kMalformed;
        ++p;
        skipSpace(p);
        char quote = *p;
        if (quote != '\'' && quote != '"') return Tag::kMalformed;
        ++p;
        while (*p != quote) {
            if (*p == '\0') return Tag::kMalformed;
            ++p;
        }
        ++p;
        skipSpace(p);
    }
    if (*p == '>') {
        ++p;
        return Tag::kOpen;
    }
    if (p[0] == '/' && p[1] == '>') {
        p += 2;
        return Tag::kEmpty;
    }
    return Tag::kMalformed;
}
}  // namespace

bool xmlNestingWithin(const char* p, size_t maxDepth) {
    size_t depth = 0;
    while (*p) {
        if (*p++ != '<') continue;
        bool ok = true;
        if (*p == '/') {
            if (depth > 0) --depth;
            ++p;
        } else if (*p == '?') {
            ++p;
            ok = skipPast(p, "?>");
        } else if (*p == '!') {
            if (std::strncmp(p, "!--", 3) == 0) {
                p += 3;
                ok = skipPast(p, "-->");
            } else if (std::strncmp(p, "![CDATA[", 8) == 0) {
                p += 8;
                ok = skipPast(p, "]]>");
            } else if (std::strncmp(p, "!DOCTYPE", 8) == 0 && isSpace(p[8])) {
                ok = skipDoctype(p);
            } else {
                ok = skipPast(p, ">");
            }
        } else {
            Tag tag = readStartTag(p);
            if (tag == Tag::kOpen && ++depth > maxDepth) return false;
            ok = tag != Tag::kMalformed;
        }
        // The parser stops at the first malformed construct: nothing after it is nested.
        if (!ok) return true;
    }
    return true;
}

bool parseXmlInPlace(rapidxml::xml_document<>& document, std::vector<char>& buffer, const std::string& text,
                     std::string& error) {
    document.clear();
    buffer.assign(text.begin(), text.end());
    buffer.push_back('\0');
    if (!xmlNestingWithin(buffer.data())) {
        error = "nesting deeper than " + std::to_string(kMaxXmlNestingDepth) + " levels";
        return false;
    }
    try {
        document.parse<0>(buffer.data());
    } catch (const rapidxml::parse_error& e) {
        error = e.what();
        return false;
    }
    return true;
}

std::string xmlNodeText(const rapidxml::xml_node<>* node) {
    if (!node) return "";
    const rapidxml::xml_node<>* content = node->first_node();
    if (!content) return "";
    return std::string(content->value(), content->value_size());
}

std::string xmlChildText(const rapidxml::xml_node<>* node, const char* name) {
    if (!node) return "";
    return xmlNodeText(node->first_node(name));
}
