#include "core/data_feed.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

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

std::string DataFeedImpl::runCommand(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        std::cerr << "ERROR: popen failed excuting command: " << command << '\n';
        return "";
    }
    std::string output;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    pclose(pipe);
    return output;
}

std::string DataFeedImpl::readFileToString(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "";
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string DataFeedImpl::addUrlParameter(const std::string& url, const std::string& key, const std::string& value) {
    return url + (url.find('?') != std::string::npos ? "&" : "?") + key + "=" + value;
}

std::string DataFeedImpl::readVehicleId(unsigned maxLength) {
    std::ifstream in(rootedPath(kVehicleIdPath));
    if (!in) return "";
    std::string word;
    in >> word;
    if (maxLength != 0 && toupper(word) != "NONE" && word.size() > maxLength)
        word = word.substr(word.size() - maxLength);
    return word;
}

bool DataFeedImpl::readOfflineFile(const std::string& builtInPath, std::string& content, int logLevel,
                                   const std::string& logText) {
    std::string path = rootedPath(builtInPath);
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    content = text.str();
    logLine(logLevel, logText);
    return true;
}
