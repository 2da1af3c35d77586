// Files the module writes for other processes to read.
#pragma once

#include <string>

// Writes content to path (a real path) through a temporary file in the same
// folder, readable by all, that is renamed into place: readers never see half
// a file, and a link planted at path is replaced, not followed. False (errno
// set, nothing left behind) on failure.
bool replaceFileContent(const std::string& path, const std::string& content);
