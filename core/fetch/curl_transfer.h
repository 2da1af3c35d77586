// Requests made inside the process with libcurl. Each concurrent request
// takes an easy handle of its own from a pool and gives it back, so the
// connections a handle keeps open (and the TLS sessions and DNS answers all
// handles share) serve the next cycle's requests.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/fetch/curl_options.h"

class CurlCommand;

struct TransferResult {
    int status = 0;         // libcurl's result code: the curl program's exit status for the same failure
    bool overCap = false;   // the decoded reply went over the cap
    bool stopped = false;   // ended because the downloads were ended
    std::string body;       // the decoded reply; empty unless status is 0
};

class CurlTransfers {
public:
    CurlTransfers();
    ~CurlTransfers();
    CurlTransfers(const CurlTransfers&) = delete;
    CurlTransfers& operator=(const CurlTransfers&) = delete;

    // Performs command's request with options (its words already read). A
    // transfer in progress ends within about a second once stopping is set.
    TransferResult perform(const CurlCommand& command, const TransferOptions& options, size_t cap,
                           const std::atomic<bool>& stopping);

private:
    struct Share;
    void* takeHandle();
    void giveBack(void* handle);

    std::unique_ptr<Share> m_share;
    std::mutex m_mutex;
    std::vector<void*> m_idle;  // easy handles not in use; guarded by m_mutex
};
