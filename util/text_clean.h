// Preparing free text from web sources (news, posts, alerts) for the displays:
// markup and links removed, character references decoded, lines wrapped.
#pragma once

#include <istream>
#include <ostream>
#include <string>

// Removes anchor and paragraph tags (leftmost-longest matches, repeatedly).
void removeHTMLtags(std::string& text);
// Removes http and https links (with an optional leading "-" and one character).
void removeURLs(std::string& text);
// Copies in to out with HTML character references written as UTF-8.
// Code points 0, surrogates and values above U+10FFFF become U+FFFD.
void decodeHtmlEntities(std::istream& in, std::ostream& out);
std::string decodeHtmlEntities(const std::string& text);
// Every line feed becomes one blank.
void replaceLineFeeds(std::string& text);
// Replaces a blank by a line feed where a line would exceed width; a word
// longer than the width is never split but stands alone on its line, and the
// text after it wraps at the width again; width <= 0 leaves the text as is.
void wordWrap(std::string& text, int width);
