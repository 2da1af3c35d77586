// Shared handling of XML documents read with RapidXML by the feeds: a
// nesting check before the parse (the parser recurses once per level, so a
// deeply nested download would exhaust the stack), one parse routine that
// never throws, and the "text of a child" reading the feeds use.
#pragma once

#include <rapidxml/rapidxml.hpp>

#include <cstddef>
#include <string>
#include <vector>

// Real documents (RSS, SOAP, SIRI) nest a dozen levels; this leaves room.
constexpr size_t kMaxXmlNestingDepth = 256;

// False when an element of the NUL-terminated text would open deeper than
// maxDepth while the parser reads it. Follows the parser's own grammar
// (comments, CDATA, declarations, quoted attribute values), so it never
// counts fewer levels than the parser would enter.
bool xmlNestingWithin(const char* text, size_t maxDepth = kMaxXmlNestingDepth);

// Clears document, replaces buffer by text plus a NUL and parses it in place
// with the library's default flags. On failure returns false with error set
// to the parser's message ("expected <") or "nesting deeper than 256 levels";
// the document then holds only the top-level nodes completed before the error.
bool parseXmlInPlace(rapidxml::xml_document<>& document, std::vector<char>& buffer, const std::string& text,
                     std::string& error);

// The value of node's first child node (character data or CDATA); "" when
// node is null or empty.
std::string xmlNodeText(const rapidxml::xml_node<>* node);
// xmlNodeText of node's first child named exactly name; "" when missing.
std::string xmlChildText(const rapidxml::xml_node<>* node, const char* name);
