// The curl options a request made inside the process understands: the words
// of "CurlParams" and of a request's own flags, read as the curl program
// reads them, into the settings libcurl takes. A word outside this set sends
// the module's requests through the curl program instead, so every
// "CurlParams" that works there keeps working.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TransferOptions {
    enum class IpVersion { kAny, kV4, kV6 };
    enum class HttpVersion { kDefault, kHttp11, kHttp2 };
    enum class TlsVersion { kDefault, kTls12, kTls13 };

    long connectTimeoutMs = 0;  // 0: libcurl's own
    long timeoutMs = 0;         // 0: none
    bool insecure = false;      // -k: the server's certificate is not checked
    std::string caFile;         // --cacert
    std::string caPath;         // --capath
    std::string proxy;
    std::string proxyUser;
    std::string noProxy;
    std::string interface;
    int64_t maxBytesPerSecond = 0;  // --limit-rate; 0: no limit
    std::vector<std::string> headers;
    std::string userAgent;  // empty: the curl program's own
    bool followRedirects = false;
    long maxRedirects = -1;  // -1: libcurl's own
    bool compressed = false;
    bool failOnHttpError = false;
    std::string method;  // -X; empty: GET, or POST with a body
    IpVersion ipVersion = IpVersion::kAny;
    HttpVersion httpVersion = HttpVersion::kDefault;
    TlsVersion tlsVersion = TlsVersion::kDefault;
};

// Reads words into options. Returns "" when every word was understood, or
// the first word that was not (an unknown option, a value that is not a
// number where one is read, a missing value, a bare word), with options
// then partly filled and not to be used.
std::string readCurlWords(const std::vector<std::string>& words, TransferOptions& options);
