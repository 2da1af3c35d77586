// A file root of its own for a fuzz target that writes files: the feed finds
// no databases there and its files land in the root's /tmp, never in the
// real one. Removed when the fuzzer exits.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/file_root.h"

inline std::string& temporaryRootPath() {
    static std::string path;
    return path;
}

inline void useTemporaryFileRoot() {
    char dir[] = "/tmp/webservices-fuzz-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    temporaryRootPath() = dir;
    std::filesystem::create_directories(temporaryRootPath() + "/tmp");
    setFileRoot(temporaryRootPath());
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(temporaryRootPath(), ignored);
    });
}
