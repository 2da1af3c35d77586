#include "tests/support/hostile_input.h"
#include "core/feed/json_document.h"
#include "tests/support/log_capture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace {
std::shared_ptr<Downloader> g_scopedDownloader;
}  // namespace

ScopedDownloadLimits::ScopedDownloadLimits(size_t maxBytes, size_t maxJsonValues) {
    DownloadLimits small;
    small.maxDownloadBytes = small.gtfsRtMaxDownloadBytes = maxBytes;
    small.maxJsonValues = maxJsonValues;
    g_scopedDownloader = std::make_shared<Downloader>(small);
}

ScopedDownloadLimits::~ScopedDownloadLimits() { g_scopedDownloader.reset(); }

std::shared_ptr<Downloader> scopedDownloader() { return g_scopedDownloader; }
DownloadLimits currentLimits() { return g_scopedDownloader ? g_scopedDownloader->limits() : DownloadLimits{}; }

std::string overCapText() { return std::string(currentLimits().maxDownloadBytes + 1, ' '); }

std::string overBudgetJson() {
    std::string text = "[{}";
    // The array itself is one value, so budget objects are one too many.
    for (size_t i = 1; i < currentLimits().maxJsonValues; ++i) text += ",{}";
    return text + "]";
}

const char* describe(HostileFile kind) {
    switch (kind) {
        case HostileFile::Fifo: return "a FIFO";
        case HostileFile::LinkToDevZero: return "a link to /dev/zero";
        case HostileFile::OverCap: return "a file over the cap";
    }
    return "?";
}

void plantHostileFile(const std::string& path, HostileFile kind) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::filesystem::remove(path);
    bool planted = false;
    switch (kind) {
        case HostileFile::Fifo: planted = mkfifo(path.c_str(), 0600) == 0; break;
        case HostileFile::LinkToDevZero: planted = symlink("/dev/zero", path.c_str()) == 0; break;
        case HostileFile::OverCap: {
            // Sparse: the size is what matters, not the bytes.
            std::ofstream(path).close();
            std::error_code error;
            std::filesystem::resize_file(path, currentLimits().maxDownloadBytes + 1, error);
            planted = !error;
            break;
        }
    }
    if (!planted) throw std::runtime_error("cannot plant " + std::string(describe(kind)) + " at " + path);
}

void expectRefused(StubServer& server, const std::vector<HostileReply>& cases) {
    for (const auto& c : cases) {
        server.reply(c.path, c.reply);
        LogCapture log;
        EXPECT_EQ(c.run(), c.failed) << c.name;
        EXPECT_TRUE(log.contains(c.log, 8)) << c.name << "\n" << log.dump();
    }
}
