// Values inserted into XML request documents.
#pragma once

#include <string>

// The text with & < > " ' written as character entities, and without the
// control characters XML can't carry (all below a space but tab, line feed
// and carriage return), which would make the document malformed.
std::string xmlEscape(const std::string& text);
