#include "feeds/airport/cached_json_feed.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <utility>

#include "core/feed/file_write.h"
#include "platform/clock.h"
#include "platform/file_root.h"

CachedJsonFeedImpl::CachedJsonFeedImpl(std::string url, const CachedFeedTexts& texts)
    : m_url(std::move(url)), m_texts(texts) {}

int CachedJsonFeedImpl::downloadData(std::string curlParams) {
    try {
        beginCycle();
        // The offline file stands in for the service and leaves the gate alone.
        if (readOfflineFile(m_texts.offlinePath, m_data, 4, m_texts.offlineLog))
            m_dataFetchedAt = wallClockSeconds();
        else if (m_gate.isDue() && canDownload())
            download(curlParams);
        // Between downloads the cached reply is shown again: its data is as
        // old as its download.
        const int usable = parse(m_data);
        if (usable) markUsableData(m_dataFetchedAt);
        return usable;
    } catch (const std::exception& e) {
        logLine(m_texts.parseErrorLevel, m_texts.parseErrorLog, e.what());
    } catch (...) {
        logLine(m_texts.parseErrorLevel, m_texts.parseErrorLog, "unknown exception");
    }
    return 0;
}

std::vector<std::string> CachedJsonFeedImpl::filesWritten() const {
    if (!m_texts.copyPath) return {};
    return {rootedPath(m_texts.copyPath)};
}

bool CachedJsonFeedImpl::flagSet(const SymbolPairs& pairs, const std::string& flag) {
    for (const auto& pair : pairs)
        if (pair.first == flag) return pair.second == "1";
    return false;
}

void CachedJsonFeedImpl::download(const std::string& curlParams) {
    CurlCommand command = downloadCommand(curlParams);
    // A failed download is cached too: the empty response reports no
    // connection until the next download is due.
    m_data = downloader().fetch(command);
    m_dataFetchedAt = wallClockSeconds();
    m_gate.markDownloaded();
    logLine(2, m_texts.retrievedLog, m_data.size());
    // An empty response would only replace the last good copy with nothing.
    if (m_texts.copyPath && !m_data.empty()) {
        std::string path = rootedPath(m_texts.copyPath);
        if (!replaceFileContent(path, m_data))
            logLine(8, "CachedJsonFeedImpl: could not write ", path, ": ", std::strerror(errno));
    }
}
