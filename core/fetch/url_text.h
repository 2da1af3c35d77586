// Values placed into URLs built by the feeds.
#pragma once

#include <string>

// The text with every byte but the unreserved ones (letters, digits, - . _ ~)
// %-encoded, so an identifier stays one path segment or one query value and
// carries no URL syntax or curl globbing characters.
std::string percentEncode(const std::string& text);
