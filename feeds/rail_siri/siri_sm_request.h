// Fetches one SIRI stop-monitoring answer, from a provider's server or from a
// local file. Base of the departures and terminus-time feeds; they parse it.
#pragma once

#include <cstdint>
#include <string>

#include "core/feed/data_feed.h"
#include "core/fetch/downloader.h"

// Which provider's request form to use.
enum SiriFeedProvider { kSiriProviderVix = 1, kSiriProviderTicketer = 2, kSiriProviderR2p = 3 };

// What to ask and whom; each SIRI feed owns one and fills it from its parameters.
struct siri_sm_request_data {
    int feed_provider_ = 0;      // SiriFeedProvider; anything else is refused
    std::string feed_;           // the provider's request address
    std::string stop_id_;        // SIRI MonitoringRef, or the R2P location
    std::string requestor_ref_;  // SIRI RequestorRef
    std::string username_;       // HTTP basic user; empty: no credentials
    std::string password_;       // may be empty
    std::string curl_parm_;      // the module's curl options (left for the shell to split)
    std::string key_;            // R2P access key
};

// A SIRI answer of this many bytes or fewer is an error page or nothing at
// all (the open-data feeds have their own, smaller bound).
constexpr size_t kSiriUsableReplyMinBytes = 64;

struct SiriLoadResult {
    bool ok = false;   // data is longer than kSiriUsableReplyMinBytes
    std::string data;  // what came back, even when not ok
};

class SIRI_SM_Request : public DataFeedImpl {
public:
    // SIRI namespaces of the two request forms: the standard one and its site root.
    static constexpr const char* kSiriNamespace = "http://www.siri.org.uk/siri";
    static constexpr const char* kSiriSiteNamespace = "http://www.siri.org.uk/";

    // Logs the request data, then asks the data's provider. A bad provider is
    // refused (level 16) before any command is built.
    SiriLoadResult loadDataFromServer(const siri_sm_request_data& data);
    SiriLoadResult loadDataFromServerTicketer(const siri_sm_request_data& data);
    SiriLoadResult loadDataFromServerVIX(const siri_sm_request_data& data);
    SiriLoadResult loadDataFromServerR2P(const siri_sm_request_data& data);
    // The whole file at path (used as given); not ok when it can't be opened.
    SiriLoadResult loadDataFromFile(const std::string& path) const;

    // The request documents, stamped with timestamp; values are XML-escaped.
    static std::string createRequestTicketer(const siri_sm_request_data& data, const std::string& timestamp);
    static std::string createRequestVIX(const siri_sm_request_data& data, const std::string& timestamp);
    // The wall clock in UTC as "YYYY-MM-DDTHH:MM:SS+00:00".
    static std::string requestTimestamp();

    // Adds the basic-authentication option when a user name is set; the
    // password is masked in the command's log text.
    static void createCredentials(const siri_sm_request_data& data, CurlCommand& command);
    // POST of the request document; the commands differ only in their log label.
    CurlCommand createCurlCommandTicketer(const siri_sm_request_data& data, const std::string& request) const;
    CurlCommand createCurlCommandVIX(const siri_sm_request_data& data, const std::string& request) const;
    // GET of feed_ with the key and the stop as query values.
    CurlCommand createCurlCommandR2P(const siri_sm_request_data& data) const;
    // Eight level-2 lines describing data; secrets masked.
    static void printRequestData(const siri_sm_request_data& data);

    static SiriLoadResult makeResult(std::string data);

private:
    CurlCommand createPostCommand(const siri_sm_request_data& data, const std::string& request,
                                  const char* label) const;
    SiriLoadResult postRequest(const siri_sm_request_data& data, bool ticketer);
};
