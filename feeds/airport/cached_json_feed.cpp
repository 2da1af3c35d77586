#include "feeds/airport/cached_json_feed.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <utility>

#include "core/file_write.h"
#include "platform/file_root.h"

CachedJsonFeedImpl::CachedJsonFeedImpl(std::string url, const CachedFeedTexts& texts)
    : m_url(std::move(url)), m_texts(texts) {}

int CachedJsonFeedImpl::downloadData(std::string curlParams) {
    try {
        beginCycle();
        // The offline file stands in for the service and leaves the gate alone.
        if (!readOfflineFile(m_texts.offlinePath, m_data, 4, m_texts.offlineLog)) {
            if (m_gate.isDue() && canDownload()) download(curlParams);
        }
        return parse(m_data);
    } catch (const std::exception& e) {
        logLine(m_texts.parseErrorLevel, m_texts.parseErrorLog, e.what());
    } catch (...) {
        logLine(m_texts.parseErrorLevel, m_texts.parseErrorLog, "unknown exception");
    }
    return 0;
}

void CachedJsonFeedImpl::download(const std::string& curlParams) {
    CurlCommand command = downloadCommand(curlParams);
    // A failed download is cached too: the empty response reports no
    // connection until the next download is due.
    m_data = ::download(command);
    m_gate.markDownloaded();
    logLine(2, m_texts.retrievedLog, m_data.size());
    // An empty response would only replace the last good copy with nothing.
    if (m_texts.copyPath && !m_data.empty()) {
        std::string path = rootedPath(m_texts.copyPath);
        if (!replaceFileContent(path, m_data))
            logLine(8, "CachedJsonFeedImpl: could not write ", path, ": ", std::strerror(errno));
    }
}
