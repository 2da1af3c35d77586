#include "core/feed/data_feed.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <sstream>

#include "core/fetch/downloader.h"
#include "core/fetch/url_text.h"

#include "platform/clock.h"
#include "platform/file_root.h"
#include "platform/strings.h"

DataFeedImpl::DataFeedImpl() : m_parameters(Json::objectValue), m_parmMap(Json::nullValue) {
    updateModuleParmMap(CModuleParmMap(Json::Value(Json::objectValue)));
}

bool DataFeedImpl::symbolUpdate(const std::string&, int, const std::string&) { return false; }

bool DataFeedImpl::takeImportedSymbol(const std::string& name, const std::string& value, const std::string& key,
                                      std::string& stored, const std::string& logText) {
    if (value.empty() || name != key || value == stored) return false;
    stored = value;
    logLine(2, logText, value);
    return true;
}

void DataFeedImpl::updateParemeters(const CParameters& params) {
    m_parameters = params.json();
    logLine(2, "DataFeed:updateParemeters - available params: ", params.serialiseAsJSON());
}

void DataFeedImpl::updateModuleParmMap(const CModuleParmMap& parmMap) {
    m_parmMap = parmMap.json();
    if (!m_parmMap.isObject()) m_parmMap = Json::Value(Json::objectValue);
    m_moduleParams = &m_parmMap["ModuleParams"];
    m_exportSymbols = &m_parmMap["ExportSymbols"];
    m_importSymbols = &m_parmMap["ImportSymbols"];
    m_exportMessages = &m_parmMap["ExportMessages"];
    m_importMessages = &m_parmMap["ImportMessages"];
    logLine(2, "DataFeed:updateModuleParmMap Impl ");
}

void DataFeedImpl::addPair(const std::string& name, const std::string& value) {
    logLine(2, "DataFeed: addPair: ", name, " - ", value);
    m_exportPairs.emplace_back(name, value);
}

std::string DataFeedImpl::readFileToString(const std::string& path) const {
    std::string content;
    readLocalFile(path, content);
    return content;
}

bool DataFeedImpl::readLocalFile(const std::string& path, std::string& content) const {
    return readLocalFile(path, content, downloader().limits().maxDownloadBytes);
}

bool DataFeedImpl::readLocalFile(const std::string& path, std::string& content, size_t cap) {
    // Without blocking: a FIFO planted in place of a file must not hold up a refresh.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    bool readable = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<uint64_t>(info.st_size) <= cap;
    if (!readable) {
        close(fd);
        logLine(8, "DataFeed: ", path, " is not a regular file of at most ", cap, " bytes; read as missing");
        return false;
    }
    std::string text;
    text.reserve(static_cast<size_t>(info.st_size));
    char chunk[65536];
    ssize_t got;
    while (text.size() <= cap && (got = read(fd, chunk, sizeof chunk)) != 0) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) break;
        text.append(chunk, static_cast<size_t>(got));
    }
    close(fd);
    if (text.size() > cap) {  // grew while being read
        logLine(8, "DataFeed: ", path, " is larger than ", cap, " bytes; read as missing");
        return false;
    }
    content = std::move(text);
    return true;
}

void DataFeedImpl::markUsableData() { markUsableData(wallClockSeconds()); }

std::string DataFeedImpl::addUrlParameter(const std::string& url, const std::string& key, const std::string& value) {
    return url + (url.find('?') != std::string::npos ? "&" : "?") + percentEncode(key) + "=" + percentEncode(value);
}

std::string DataFeedImpl::readVehicleId(unsigned maxLength) {
    std::string text;
    // A word of text: any file the default cap allows is more than enough.
    if (!readLocalFile(rootedPath(kVehicleIdPath), text, DownloadLimits{}.maxDownloadBytes)) return "";
    std::istringstream in(text);
    std::string word;
    in >> word;
    if (maxLength != 0 && toupper(word) != "NONE" && word.size() > maxLength)
        word = word.substr(word.size() - maxLength);
    return word;
}

bool DataFeedImpl::readOfflineFile(const std::string& builtInPath, std::string& content, int logLevel,
                                   const std::string& logText) const {
    if (!readLocalFile(rootedPath(builtInPath), content)) return false;
    logLine(logLevel, logText);
    return true;
}
