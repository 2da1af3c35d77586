// The two halves of every feed: DataFeedImpl does the work (download, parse,
// pairs), DataFeed is the thin wrapper the module keeps in its list.
#pragma once

#include <json/json.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/fetch/downloader.h"
#include "platform/debug.h"
#include "platform/module.h"

using SymbolPair = std::pair<std::string, std::string>;
using SymbolPairs = std::vector<SymbolPair>;

// Where the vehicle's number is kept; its first word is the id, "NONE" meaning none.
constexpr const char* kVehicleIdPath = "/vorn/vehicle_id";
constexpr const char* kOfflineDir = "/vorn/media/offline/";

class DataFeedImpl {
public:
    DataFeedImpl();
    virtual ~DataFeedImpl() = default;
    DataFeedImpl(const DataFeedImpl&) = delete;
    DataFeedImpl& operator=(const DataFeedImpl&) = delete;

    // Fetches and parses the feed's data and appends the pairs to export.
    // Never throws; the result is informational only.
    virtual int downloadData(std::string curlParams) = 0;
    virtual SymbolPairs getExportPairs() const { return m_exportPairs; }
    virtual void clearExportPairs() { m_exportPairs.clear(); }
    // Reads the feed's own "ModuleParams" keys; called once after construction.
    virtual void readModuleParmMap() {}
    // The real paths of the files the feed writes for other processes (with
    // replaceFileContent), as known once readModuleParmMap has run.
    virtual std::vector<std::string> filesWritten() const { return {}; }
    // An imported symbol changed; true asks the module to refresh this feed now.
    virtual bool symbolUpdate(const std::string& name, int x, const std::string& value);

    void updateParemeters(const CParameters& params);
    void updateModuleParmMap(const CModuleParmMap& parmMap);

    // Shutdown asks a running refresh to end early: a parse that may run for
    // long polls stopRequested() and gives up, exporting nothing more.
    void requestStop() { m_stopRequested.store(true, std::memory_order_relaxed); }
    bool stopRequested() const { return m_stopRequested.load(std::memory_order_relaxed); }
    const std::atomic<bool>& stopFlag() const { return m_stopRequested; }

    // When the data the feed shows was fetched, as POSIX seconds, if a
    // refresh has brought usable data; 0 before any.
    int64_t usableDataAt() const { return m_usableDataAt; }

    const Json::Value& moduleParams() const { return *m_moduleParams; }
    const Json::Value& parameters() const { return m_parameters; }

    // Shared operations of every feed.
    void addPair(const std::string& name, const std::string& value);
    // The whole file, or "" when it can't be read (see readLocalFile).
    std::string readFileToString(const std::string& path) const;
    // Reads a regular file of at most cap bytes, opened without blocking;
    // anything else reads as missing (false), with a log line when the file
    // exists. Without a cap, the download edge's.
    static bool readLocalFile(const std::string& path, std::string& content, size_t cap);
    bool readLocalFile(const std::string& path, std::string& content) const;
    // The URL with key=value appended to its query, both %-encoded, so a
    // value holding & # = stays one value.
    static std::string addUrlParameter(const std::string& url, const std::string& key, const std::string& value);
    // First word of the vehicle id file; when maxLength > 0 a longer id keeps
    // its last maxLength characters ("NONE" in any case is returned as is).
    static std::string readVehicleId(unsigned maxLength);
    // Reads the feed's offline file (a built-in path, under the file root) into
    // content as readLocalFile does; when it could be read logs logText at logLevel and returns true.
    bool readOfflineFile(const std::string& builtInPath, std::string& content, int logLevel,
                         const std::string& logText) const;

    // The module's download edge; a feed made on its own has one of its own.
    Downloader& downloader() const { return *m_downloader; }
    void useDownloader(std::shared_ptr<Downloader> downloader) { m_downloader = std::move(downloader); }

protected:
    // The shared body of symbolUpdate: takes value for key when it is new
    // and not empty, logs logText + value at level 2 and returns true.
    static bool takeImportedSymbol(const std::string& name, const std::string& value, const std::string& key,
                                   std::string& stored, const std::string& logText);

    // This refresh brought usable data, as the feed judges it (for a feed
    // with has_connection: the refresh that sets it to "1"). A cached reply
    // passes the time it was downloaded.
    void markUsableData();
    void markUsableData(int64_t fetchedAt) { m_usableDataAt = fetchedAt; }

    SymbolPairs m_exportPairs;

private:
    int64_t m_usableDataAt = 0;
    std::atomic<bool> m_stopRequested{false};
    std::shared_ptr<Downloader> m_downloader = std::make_shared<Downloader>();
    Json::Value m_parameters;
    Json::Value m_parmMap;
    Json::Value* m_moduleParams;
    Json::Value* m_exportSymbols;
    Json::Value* m_importSymbols;
    Json::Value* m_exportMessages;
    Json::Value* m_importMessages;
};

class DataFeed {
public:
    explicit DataFeed(std::unique_ptr<DataFeedImpl> impl) : m_impl(std::move(impl)) {}
    virtual ~DataFeed() = default;
    DataFeed(const DataFeed&) = delete;
    DataFeed& operator=(const DataFeed&) = delete;

    virtual void readModuleParmMap() { m_impl->readModuleParmMap(); }
    virtual int downloadData(const std::string& curlParams) { return m_impl->downloadData(curlParams); }

    SymbolPairs getExportPairs() const { return m_impl->getExportPairs(); }
    void clearExportPairs() { m_impl->clearExportPairs(); }
    bool symbolUpdate(const std::string& name, int x, const std::string& value) {
        return m_impl->symbolUpdate(name, x, value);
    }
    void updateParemeters(const CParameters& params) { m_impl->updateParemeters(params); }
    void updateModuleParmMap(const CModuleParmMap& parmMap) { m_impl->updateModuleParmMap(parmMap); }

    DataFeedImpl& impl() { return *m_impl; }

private:
    std::unique_ptr<DataFeedImpl> m_impl;
};
