// Values inserted into XML request documents.
#pragma once

#include <string>

// The text with & < > " ' written as character entities.
std::string xmlEscape(const std::string& text);
