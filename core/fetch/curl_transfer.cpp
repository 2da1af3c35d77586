#include "core/fetch/curl_transfer.h"

#include <curl/curl.h>

#include <algorithm>

#include "core/fetch/curl_command.h"

namespace {
// libcurl's global set-up is not safe to run on several threads at once; it
// is done once for the process and never undone, since other handles of
// this process may still be alive at exit.
void initialiseLibcurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The user agent the curl program sends, so servers see the same client.
std::string programUserAgent() { return std::string("curl/") + curl_version_info(CURLVERSION_NOW)->version; }

struct Transfer {
    CURL* curl = nullptr;
    std::string body;
    size_t cap = 0;
    bool overCap = false;
    const std::atomic<bool>* stopping = nullptr;
};

size_t collect(char* data, size_t size, size_t count, void* context) {
    Transfer& transfer = *static_cast<Transfer*>(context);
    const size_t bytes = size * count;
    if (transfer.body.size() + bytes > transfer.cap) {
        transfer.overCap = true;
        return 0;  // ends the transfer with CURLE_WRITE_ERROR
    }
    if (transfer.body.empty()) {
        // A reply of known length is read into one buffer of its size (the
        // cap at most): growing by doubling would copy it and hold up to
        // twice the cap. Only the pages written become memory.
        curl_off_t length = -1;
        curl_easy_getinfo(transfer.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        if (length > 0) transfer.body.reserve(std::min(static_cast<size_t>(length), transfer.cap));
    }
    transfer.body.append(data, bytes);
    return bytes;
}

int checkStop(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Transfer*>(context)->stopping->load() ? 1 : 0;
}

long ipResolve(TransferOptions::IpVersion version) {
    switch (version) {
        case TransferOptions::IpVersion::kV4: return CURL_IPRESOLVE_V4;
        case TransferOptions::IpVersion::kV6: return CURL_IPRESOLVE_V6;
        case TransferOptions::IpVersion::kAny: break;
    }
    return CURL_IPRESOLVE_WHATEVER;
}

long httpVersion(TransferOptions::HttpVersion version) {
    switch (version) {
        case TransferOptions::HttpVersion::kHttp11: return CURL_HTTP_VERSION_1_1;
        case TransferOptions::HttpVersion::kHttp2: return CURL_HTTP_VERSION_2_0;
        case TransferOptions::HttpVersion::kDefault: break;
    }
    return CURL_HTTP_VERSION_NONE;
}

long tlsVersion(TransferOptions::TlsVersion version) {
    switch (version) {
        case TransferOptions::TlsVersion::kTls12: return CURL_SSLVERSION_TLSv1_2;
        case TransferOptions::TlsVersion::kTls13: return CURL_SSLVERSION_TLSv1_3;
        case TransferOptions::TlsVersion::kDefault: break;
    }
    return CURL_SSLVERSION_DEFAULT;
}

void setText(CURL* curl, CURLoption option, const std::string& value) {
    if (!value.empty()) curl_easy_setopt(curl, option, value.c_str());
}

class HeaderList {
public:
    ~HeaderList() { curl_slist_free_all(m_list); }
    void add(const std::string& header) { m_list = curl_slist_append(m_list, header.c_str()); }
    curl_slist* get() const { return m_list; }

private:
    curl_slist* m_list = nullptr;
};

void applyOptions(CURL* curl, const TransferOptions& options) {
    if (options.connectTimeoutMs > 0) curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
    if (options.timeoutMs > 0) curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, options.timeoutMs);
    if (options.insecure) {
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    setText(curl, CURLOPT_CAINFO, options.caFile);
    setText(curl, CURLOPT_CAPATH, options.caPath);
    setText(curl, CURLOPT_PROXY, options.proxy);
    setText(curl, CURLOPT_PROXYUSERPWD, options.proxyUser);
    setText(curl, CURLOPT_NOPROXY, options.noProxy);
    setText(curl, CURLOPT_INTERFACE, options.interface);
    if (options.maxBytesPerSecond > 0) {
        curl_easy_setopt(curl, CURLOPT_MAX_RECV_SPEED_LARGE, static_cast<curl_off_t>(options.maxBytesPerSecond));
        curl_easy_setopt(curl, CURLOPT_MAX_SEND_SPEED_LARGE, static_cast<curl_off_t>(options.maxBytesPerSecond));
    }
    const std::string userAgent = options.userAgent.empty() ? programUserAgent() : options.userAgent;
    curl_easy_setopt(curl, CURLOPT_USERAGENT, userAgent.c_str());  // copied by libcurl
    if (options.followRedirects) curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    if (options.maxRedirects >= 0) curl_easy_setopt(curl, CURLOPT_MAXREDIRS, options.maxRedirects);
    // "": every encoding this libcurl decodes; the reply reaches us decoded.
    if (options.compressed) curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    if (options.failOnHttpError) curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    setText(curl, CURLOPT_CUSTOMREQUEST, options.method);
    curl_easy_setopt(curl, CURLOPT_IPRESOLVE, ipResolve(options.ipVersion));
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, httpVersion(options.httpVersion));
    curl_easy_setopt(curl, CURLOPT_SSLVERSION, tlsVersion(options.tlsVersion));
}
}  // namespace

// The caches every handle of one edge shares. libcurl shares connections
// only between handles on one thread, so they stay with each handle.
struct CurlTransfers::Share {
    Share() : handle(curl_share_init()) {
        curl_share_setopt(handle, CURLSHOPT_LOCKFUNC, lock);
        curl_share_setopt(handle, CURLSHOPT_UNLOCKFUNC, unlock);
        curl_share_setopt(handle, CURLSHOPT_USERDATA, this);
        curl_share_setopt(handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        curl_share_setopt(handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    }
    ~Share() { curl_share_cleanup(handle); }

    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
        static_cast<Share*>(self)->mutexOf(data).lock();
    }
    static void unlock(CURL*, curl_lock_data data, void* self) { static_cast<Share*>(self)->mutexOf(data).unlock(); }
    std::mutex& mutexOf(curl_lock_data data) { return locks[data < CURL_LOCK_DATA_LAST ? data : 0]; }

    CURLSH* handle;
    std::mutex locks[CURL_LOCK_DATA_LAST];
};

CurlTransfers::CurlTransfers() {
    initialiseLibcurlOnce();
    m_share = std::make_unique<Share>();
}

CurlTransfers::~CurlTransfers() {
    for (void* handle : m_idle) curl_easy_cleanup(static_cast<CURL*>(handle));
}

void* CurlTransfers::takeHandle() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_idle.empty()) {
            void* handle = m_idle.back();  // the most recently used: its connections are the warmest
            m_idle.pop_back();
            return handle;
        }
    }
    CURL* curl = curl_easy_init();
    if (curl) curl_easy_setopt(curl, CURLOPT_SHARE, m_share->handle);  // kept through every reset
    return curl;
}

void CurlTransfers::giveBack(void* handle) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_idle.push_back(handle);
}

TransferResult CurlTransfers::perform(const CurlCommand& command, const TransferOptions& options, size_t cap,
                                      const std::atomic<bool>& stopping) {
    TransferResult result;
    CURL* curl = static_cast<CURL*>(takeHandle());
    if (!curl) {
        result.status = CURLE_FAILED_INIT;
        return result;
    }
    // A reset keeps the handle's open connections and caches; only the
    // options go.
    curl_easy_reset(curl);
    Transfer transfer;
    transfer.curl = curl;
    transfer.cap = cap;
    transfer.stopping = &stopping;
    HeaderList headers;
    for (const std::string& header : options.headers) headers.add(header);
    for (const std::string& header : command.headers()) headers.add(header);

    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);  // workers are threads; no alarm signals
    curl_easy_setopt(curl, CURLOPT_URL, command.requestUrl().c_str());
    applyOptions(curl, options);
    if (headers.get()) curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    setText(curl, CURLOPT_USERPWD, command.userPassword());
    if (command.hasBody()) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(command.requestBody().size()));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, command.requestBody().c_str());
    }
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, checkStop);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);

    result.status = curl_easy_perform(curl);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);  // the list is freed on return
    giveBack(curl);

    result.overCap = transfer.overCap;
    result.stopped = stopping.load();
    if (result.status == CURLE_OK && !result.stopped) result.body = std::move(transfer.body);
    return result;
}
