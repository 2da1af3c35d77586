#include "platform/file_root.h"

namespace {
std::string g_root;
}

void setFileRoot(const std::string& root) {
    g_root = root;
    while (g_root.size() > 1 && g_root.back() == '/') g_root.pop_back();
}

const std::string& fileRoot() { return g_root; }

std::string rootedPath(const std::string& builtInPath) { return g_root + builtInPath; }
