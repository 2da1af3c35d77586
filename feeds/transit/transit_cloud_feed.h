// The on-board TransitCloud passenger-information service: one JSON document
// per vehicle (live departures, train destinations, on-board messages,
// following stops) republished as symbols. A local test file can stand in
// for the service, and each document can be saved for other processes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/feed/data_feed.h"
#include "core/feed/json_document.h"
#include "core/fetch/downloader.h"

constexpr const char* kTransitCloudTestFeedPath = "/vorn/media/offline/tco_data.json";
// Answers of this many bytes or fewer carry no document (error pages, empty replies).
constexpr size_t kTransitCloudMaxUnusableBytes = 188;

class TransitCloud_Onboard_FeedImpl : public DataFeedImpl {
public:
    // serviceUrl: the request is serviceUrl + "/" + the vehicle id.
    explicit TransitCloud_Onboard_FeedImpl(const std::string& serviceUrl);

    // One cycle: test file or service, save, parse; 1 when a usable document came.
    int downloadData(std::string curlParams) override;
    void readModuleParmMap() override;
    std::vector<std::string> filesWritten() const override;

    // Parses a document and adds its section pairs; false (nothing added)
    // when it is not JSON.
    bool parse(const std::string& document);
    // The pure parser behind parse: the document's pairs in export order
    // appended to pairs; false, with the reader's messages in errors, when
    // the document is not JSON or over the value budget. Never throws.
    static bool parseDocument(const std::string& document, SymbolPairs& pairs, std::string& errors,
                              size_t maxJsonValues = kDefaultJsonValueBudget);

    // The curl command for the vehicle; every value quoted for the shell.
    CurlCommand downloadCommand(const std::string& curlParams, const std::string& vehicleId) const;

private:
    void save(const std::string& document) const;

    std::string m_serviceUrl;
    std::string m_testFeedFile;  // the offline document; the key's default is under the file root
    std::string m_savePath;
};

class TransitCloud_Onboard_Feed : public DataFeed {
public:
    explicit TransitCloud_Onboard_Feed(const std::string& serviceUrl)
        : DataFeed(std::make_unique<TransitCloud_Onboard_FeedImpl>(serviceUrl)) {}
};
