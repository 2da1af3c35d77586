// The download cycle shared by the airport and service-alert feeds: an
// offline file, a rate-limited download whose response is cached, and a
// parse of the cached response on every update cycle under an exception guard.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/feed/data_feed.h"
#include "core/fetch/download_gate.h"
#include "core/feed/json_value_text.h"
#include "core/fetch/downloader.h"

// Minimum time between two downloads of one feed, in monotonic seconds.
constexpr int64_t kCachedFeedDownloadSeconds = 61;

// How one feed names its files and log lines in the shared cycle.
struct CachedFeedTexts {
    const char* offlinePath;    // built-in path of the offline file
    const char* offlineLog;     // level-4 line when the offline file replaces the download
    const char* retrievedLog;   // level-2 line before the downloaded byte count
    const char* copyPath;       // built-in path that receives each download, or nullptr
    const char* parseErrorLog;  // line logged when the parser throws, before the reason
    int parseErrorLevel;
};

class CachedJsonFeedImpl : public DataFeedImpl {
public:
    // One update cycle: offline file or (when due) a download, then a parse of
    // the cached response, which appends this cycle's pairs. Never throws;
    // returns the parser's result, or 0 when the parser threw.
    int downloadData(std::string curlParams) final;

    const std::string& url() const { return m_url; }
    std::vector<std::string> filesWritten() const final;

protected:
    CachedJsonFeedImpl(std::string url, const CachedFeedTexts& texts);

    // Reads settings that apply to one cycle; runs first in every cycle.
    virtual void beginCycle() {}
    // False when the feed cannot make a request now (missing credentials);
    // the cached response is then parsed as it is.
    virtual bool canDownload() const { return true; }
    // The command of one download; the feed logs it as it wishes.
    virtual CurlCommand downloadCommand(const std::string& curlParams) const = 0;
    // Parses the cached response and appends the pairs to export; 1 when
    // they are usable data (a board with flights, a wait time, an alert).
    virtual int parse(const std::string& text) = 0;
    // Whether pairs hold flag = "1".
    static bool flagSet(const SymbolPairs& pairs, const std::string& flag);

private:
    void download(const std::string& curlParams);

    std::string m_url;
    std::string m_data;
    int64_t m_dataFetchedAt = 0;  // when m_data was downloaded or read, POSIX seconds
    // The gate opens once more than its interval has passed, so the interval
    // is one less than the minimum spacing.
    DownloadGate m_gate{kCachedFeedDownloadSeconds - 1};
    CachedFeedTexts m_texts;
};

