// Every built-in path ("/vorn/...", "/tmp/...") goes through rootedPath, so a
// test or the host runner can move the whole file tree under one folder.
// Production leaves the root empty and the paths are exactly as written.
// The root is set before the module starts and only read while it runs.
#pragma once

#include <string>

void setFileRoot(const std::string& root);
const std::string& fileRoot();
// The built-in absolute path under the current root.
std::string rootedPath(const std::string& builtInPath);
