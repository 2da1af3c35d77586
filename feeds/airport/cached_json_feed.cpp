#include "feeds/airport/cached_json_feed.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <utility>

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
    m_data = runCommand(command.text());
    m_gate.markDownloaded();
    logLine(2, m_texts.retrievedLog, m_data.size());
    // An empty response would only replace the last good copy with nothing.
    if (m_texts.copyPath && !m_data.empty()) {
        std::string path = rootedPath(m_texts.copyPath);
        if (!replaceFileContent(path, m_data))
            logLine(8, "CachedJsonFeedImpl: could not write ", path, ": ", std::strerror(errno));
    }
}

bool replaceFileContent(const std::string& path, const std::string& content) {
    std::string pattern = path + ".XXXXXX";
    int fd = mkstemp(&pattern[0]);
    if (fd < 0) return false;
    // Other processes read these copies; mkstemp alone would make them private.
    bool ok = fchmod(fd, 0644) == 0;
    size_t written = 0;
    while (ok && written < content.size()) {
        ssize_t n = write(fd, content.data() + written, content.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        written += static_cast<size_t>(n);
    }
    if (close(fd) != 0) ok = false;
    if (ok && std::rename(pattern.c_str(), path.c_str()) == 0) return true;
    int saved = errno;
    unlink(pattern.c_str());
    errno = saved;
    return false;
}

bool jsonHasMember(const Json::Value& value, const char* key) { return value.isObject() && value.isMember(key); }

std::string jsonMemberText(const Json::Value& object, const char* key) {
    if (!object.isObject()) return "";
    const Json::Value& value = object[key];
    if (value.isString() || value.isNumeric() || value.isBool()) return value.asString();
    return "";
}
