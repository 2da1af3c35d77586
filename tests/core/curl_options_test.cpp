#include "core/fetch/curl_options.h"

#include <gtest/gtest.h>

#include "core/fetch/curl_command.h"

namespace {
TransferOptions read(const std::string& curlParams) {
    TransferOptions options;
    EXPECT_EQ(readCurlWords(splitShellWords(curlParams), options), "") << curlParams;
    return options;
}
}  // namespace

// The options read as the curl program reads them: long and short forms,
// clusters of short flags, a value in the same word or the next.
TEST(CurlOptions, MappedWordsBecomeTheirSettings) {
    TransferOptions o = read("--connect-timeout 2.5 -m5 -sSk --cacert /ca.pem --capath /certs -x http://p:3128 "
                             "-U u:p --noproxy localhost -4 --interface eth1 --limit-rate 100k -H 'X-A: 1' "
                             "--header 'X-B: 2' -A agent/1 -L --max-redirs 3 --compressed --http1.1 --tlsv1.2 "
                             "-X POST --fail -g");
    EXPECT_EQ(o.connectTimeoutMs, 2500);
    EXPECT_EQ(o.timeoutMs, 5000);
    EXPECT_TRUE(o.insecure);
    EXPECT_EQ(o.caFile, "/ca.pem");
    EXPECT_EQ(o.caPath, "/certs");
    EXPECT_EQ(o.proxy, "http://p:3128");
    EXPECT_EQ(o.proxyUser, "u:p");
    EXPECT_EQ(o.noProxy, "localhost");
    EXPECT_EQ(o.ipVersion, TransferOptions::IpVersion::kV4);
    EXPECT_EQ(o.interface, "eth1");
    EXPECT_EQ(o.maxBytesPerSecond, 100 * 1024);
    EXPECT_EQ(o.headers, (std::vector<std::string>{"X-A: 1", "X-B: 2"}));
    EXPECT_EQ(o.userAgent, "agent/1");
    EXPECT_TRUE(o.followRedirects);
    EXPECT_EQ(o.maxRedirects, 3);
    EXPECT_TRUE(o.compressed);
    EXPECT_EQ(o.httpVersion, TransferOptions::HttpVersion::kHttp11);
    EXPECT_EQ(o.tlsVersion, TransferOptions::TlsVersion::kTls12);
    EXPECT_EQ(o.method, "POST");
    EXPECT_TRUE(o.failOnHttpError);

    TransferOptions later = read("--silent --show-error --max-time 0.25 -6 --http2 --tlsv1.3 --limit-rate 2M");
    EXPECT_EQ(later.timeoutMs, 250);
    EXPECT_EQ(later.ipVersion, TransferOptions::IpVersion::kV6);
    EXPECT_EQ(later.httpVersion, TransferOptions::HttpVersion::kHttp2);
    EXPECT_EQ(later.tlsVersion, TransferOptions::TlsVersion::kTls13);
    EXPECT_EQ(later.maxBytesPerSecond, 2 * 1024 * 1024);
}

// Anything else keeps the curl program, which knows it (or says what is wrong).
TEST(CurlOptions, TheFirstWordWithoutAnInProcessFormIsNamed) {
    const struct {
        const char* curlParams;
        const char* word;
    } cases[] = {
        {"-s --tcp-nodelay", "--tcp-nodelay"}, {"-sv", "-sv"},           {"-u ops:secret", "-u"},
        {"--max-time soon", "--max-time"},     {"-m", "-m"},             {"--limit-rate 5x", "--limit-rate"},
        {"http://extra/url", "http://extra/url"}, {"-", "-"},            {"--max-redirs 1.5", "--max-redirs"},
        {"-X ''", "-X"},                       {"--header", "--header"}, {"--max-time -1", "--max-time"},
    };
    for (const auto& c : cases) {
        TransferOptions options;
        EXPECT_EQ(readCurlWords(splitShellWords(c.curlParams), options), c.word) << c.curlParams;
    }
}
