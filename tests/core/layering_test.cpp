// The rooms of core/ and the feed families may use only what is below them;
// the libraries link that way, and these checks keep the includes honest.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {
namespace fs = std::filesystem;

struct SourceFile {
    std::string path;  // relative to the source tree
    std::vector<std::string> lines;
};

std::vector<SourceFile> sourcesUnder(const std::string& folder) {
    std::vector<SourceFile> files;
    const fs::path root(WEBSERVICES_SOURCE_DIR);
    for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
        const std::string extension = entry.path().extension().string();
        if (extension != ".h" && extension != ".cpp") continue;
        SourceFile file{fs::relative(entry.path(), root).string(), {}};
        std::ifstream in(entry.path());
        for (std::string line; std::getline(in, line);) file.lines.push_back(line);
        files.push_back(std::move(file));
    }
    return files;
}

std::vector<std::string> projectIncludes(const SourceFile& file) {
    static const std::regex include(R"(^#include "([^"]+)\")");
    std::vector<std::string> includes;
    std::smatch match;
    for (const std::string& line : file.lines)
        if (std::regex_search(line, match, include)) includes.push_back(match[1]);
    return includes;
}

bool startsWithAny(const std::string& text, const std::vector<std::string>& prefixes) {
    for (const std::string& prefix : prefixes)
        if (text.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
}

// What a file in each folder may include, besides its own folder.
struct Room {
    std::string folder;
    std::vector<std::string> allowed;
};

const std::vector<Room> kRooms = {
    {"core/fetch/", {"platform/", "util/"}},
    {"core/feed/", {"platform/", "util/", "core/fetch/"}},
    {"core/config/", {"platform/", "util/", "core/fetch/", "core/feed/"}},
    {"core/module/", {"platform/", "util/", "core/"}},
    // A feed family: the feed framework, downloads and the key readers; never
    // the module, the whole key table or another family.
    {"feeds/airport/", {"platform/", "util/", "core/fetch/", "core/feed/", "core/config/config_keys.h"}},
    {"feeds/news/", {"platform/", "util/", "core/fetch/", "core/feed/", "core/config/config_keys.h"}},
    {"feeds/opendata/", {"platform/", "util/", "core/fetch/", "core/feed/", "core/config/config_keys.h"}},
    {"feeds/rail_siri/", {"platform/", "util/", "core/fetch/", "core/feed/", "core/config/config_keys.h"}},
    {"feeds/transit/", {"platform/", "util/", "core/fetch/", "core/feed/", "core/config/config_keys.h"}},
};
}  // namespace

TEST(Layering, EachRoomIncludesOnlyWhatIsBelowIt) {
    size_t checked = 0;
    for (const Room& room : kRooms) {
        std::vector<std::string> allowed = room.allowed;
        allowed.push_back(room.folder);
        for (const SourceFile& file : sourcesUnder(room.folder)) {
            ++checked;
            for (const std::string& included : projectIncludes(file))
                EXPECT_TRUE(startsWithAny(included, allowed)) << file.path << " includes " << included;
        }
    }
    EXPECT_GT(checked, 80u);
    for (const SourceFile& file : sourcesUnder("core"))
        for (const std::string& included : projectIncludes(file))
            EXPECT_NE(included.compare(0, 6, "feeds/"), 0) << file.path << " includes " << included;
}

// A unit past this is doing more than one job.
TEST(Layering, NoCoreFileIsOver400Lines) {
    for (const SourceFile& file : sourcesUnder("core")) EXPECT_LE(file.lines.size(), 400u) << file.path;
}
