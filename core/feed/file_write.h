// Files the module writes for other processes to read.
#pragma once

#include <string>
#include <vector>

// Writes content to path (a real path) through a temporary file in the same
// folder, readable by all, that is renamed into place: readers never see half
// a file, and a link planted at path is replaced, not followed. False (errno
// set, nothing left behind) on failure. A process killed while writing leaves
// its temporary, named by temporaryFilePrefix(path) and six more characters.
bool replaceFileContent(const std::string& path, const std::string& content);

// The start of the name (folder included) of replaceFileContent's temporaries
// for path: a hidden file that no reader of path's own name or extension
// matches, e.g. "/tmp/.x.json.webservices-tmp." for "/tmp/x.json".
std::string temporaryFilePrefix(const std::string& path);

// Removes what writes killed midway left beside each path: the regular files
// named exactly as replaceFileContent's temporaries of that path, and nothing
// else. For start-up, before any write; each removal is logged.
void removeLeftoverTemporaries(const std::vector<std::string>& paths);
