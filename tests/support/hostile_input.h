// Hostile replies and local files for the feed tests: small download limits
// while a test runs, replies just over them, and what a local user could
// leave at a feed's offline path in place of the file.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/feed/data_feed.h"
#include "core/fetch/downloader.h"
#include "tests/support/stub_server.h"

// Log text of a reply refused for its size, and of one refused for its JSON values.
constexpr const char* kOverCapLog = "stopped at the cap of ";
constexpr const char* kOverBudgetLog = " JSON values; not parsed";

// While in scope, feeds configured by configure() use a download edge whose
// caps are all maxBytes and whose JSON value budget is maxJsonValues. The
// defaults are small, yet every fixture under tests/data fits in them.
class ScopedDownloadLimits {
public:
    explicit ScopedDownloadLimits(size_t maxBytes = 64 * 1024, size_t maxJsonValues = 1000);
    ~ScopedDownloadLimits();
    ScopedDownloadLimits(const ScopedDownloadLimits&) = delete;
    ScopedDownloadLimits& operator=(const ScopedDownloadLimits&) = delete;
};
// The download edge of the ScopedDownloadLimits in scope, or null.
std::shared_ptr<Downloader> scopedDownloader();
// The limits feeds are held to now: the scoped ones, or the defaults.
DownloadLimits currentLimits();

// A text one byte over the current cap.
std::string overCapText();
// "[{},{},...]" with one object more than the current JSON value budget allows.
std::string overBudgetJson();

enum class HostileFile { Fifo, LinkToDevZero, OverCap };
constexpr HostileFile kHostileFiles[] = {HostileFile::Fifo, HostileFile::LinkToDevZero, HostileFile::OverCap};
const char* describe(HostileFile kind);
// Replaces whatever is at path (creating its folders) with kind: a FIFO no
// one writes to, a symbolic link to /dev/zero, or a file one byte over the cap.
void plantHostileFile(const std::string& path, HostileFile kind);

// One refresh given a hostile reply: served at path, it must make run()
// export exactly failed and log the text log at level 8.
struct HostileReply {
    const char* name;
    std::function<SymbolPairs()> run;
    const char* path;
    std::string reply;
    SymbolPairs failed;
    const char* log;
};
void expectRefused(StubServer& server, const std::vector<HostileReply>& cases);
