// The host platform's small string and file utilities.
#pragma once

#include <string>
#include <vector>

bool FileExists(const std::string& path);
std::string trim(const std::string& text);
std::string toupper(const std::string& text);
// The parts between separators, in order; empty parts are kept, no quoting.
// An empty separator yields the whole text as one part.
std::vector<std::string> CSVsplit(const std::string& text, const std::string& separator);
