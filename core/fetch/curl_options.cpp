#include "core/fetch/curl_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {
// "2", "2.5": seconds, as milliseconds; false for anything else.
bool readSeconds(const std::string& text, long& milliseconds) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    double seconds = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !(seconds >= 0) || seconds > 1e6) return false;
    milliseconds = static_cast<long>(std::llround(seconds * 1000));
    return true;
}

bool readWhole(const std::string& text, long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long long number = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || number < -1 || number > 1000000) return false;
    value = static_cast<long>(number);
    return true;
}

// "100k", "1M", "2G" or plain bytes, per second.
bool readRate(const std::string& text, int64_t& bytesPerSecond) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    double number = std::strtod(text.c_str(), &end);
    if (errno != 0 || !(number >= 0) || number > 1e12) return false;
    double unit = 1;
    if (*end != '\0') {
        switch (*end++) {
            case 'k': case 'K': unit = 1024.0; break;
            case 'm': case 'M': unit = 1024.0 * 1024; break;
            case 'g': case 'G': unit = 1024.0 * 1024 * 1024; break;
            default: return false;
        }
        if (*end != '\0') return false;
    }
    bytesPerSecond = static_cast<int64_t>(number * unit);
    return true;
}

// What one option does with its value ("" for a flag); false when the value
// cannot be read.
using Apply = bool (*)(TransferOptions&, const std::string&);

struct Option {
    const char* longName;  // without "--"
    char shortName;        // '\0': none
    bool takesValue;
    Apply apply;
};

bool nothing(TransferOptions&, const std::string&) { return true; }

const Option kOptions[] = {
    {"silent", 's', false, nothing},
    {"show-error", 'S', false, nothing},
    {"globoff", 'g', false, nothing},  // a URL in the process is never a pattern
    {"fail", 'f', false, [](TransferOptions& o, const std::string&) { return o.failOnHttpError = true; }},
    {"connect-timeout", '\0', true,
     [](TransferOptions& o, const std::string& v) { return readSeconds(v, o.connectTimeoutMs); }},
    {"max-time", 'm', true, [](TransferOptions& o, const std::string& v) { return readSeconds(v, o.timeoutMs); }},
    {"insecure", 'k', false, [](TransferOptions& o, const std::string&) { return o.insecure = true; }},
    {"cacert", '\0', true, [](TransferOptions& o, const std::string& v) { o.caFile = v; return true; }},
    {"capath", '\0', true, [](TransferOptions& o, const std::string& v) { o.caPath = v; return true; }},
    {"proxy", 'x', true, [](TransferOptions& o, const std::string& v) { o.proxy = v; return true; }},
    {"proxy-user", 'U', true, [](TransferOptions& o, const std::string& v) { o.proxyUser = v; return true; }},
    {"noproxy", '\0', true, [](TransferOptions& o, const std::string& v) { o.noProxy = v; return true; }},
    {"ipv4", '4', false,
     [](TransferOptions& o, const std::string&) { o.ipVersion = TransferOptions::IpVersion::kV4; return true; }},
    {"ipv6", '6', false,
     [](TransferOptions& o, const std::string&) { o.ipVersion = TransferOptions::IpVersion::kV6; return true; }},
    {"interface", '\0', true, [](TransferOptions& o, const std::string& v) { o.interface = v; return true; }},
    {"limit-rate", '\0', true, [](TransferOptions& o, const std::string& v) { return readRate(v, o.maxBytesPerSecond); }},
    {"header", 'H', true, [](TransferOptions& o, const std::string& v) { o.headers.push_back(v); return true; }},
    {"user-agent", 'A', true, [](TransferOptions& o, const std::string& v) { o.userAgent = v; return true; }},
    {"location", 'L', false, [](TransferOptions& o, const std::string&) { return o.followRedirects = true; }},
    {"max-redirs", '\0', true, [](TransferOptions& o, const std::string& v) { return readWhole(v, o.maxRedirects); }},
    {"compressed", '\0', false, [](TransferOptions& o, const std::string&) { return o.compressed = true; }},
    {"http1.1", '\0', false,
     [](TransferOptions& o, const std::string&) { o.httpVersion = TransferOptions::HttpVersion::kHttp11; return true; }},
    {"http2", '\0', false,
     [](TransferOptions& o, const std::string&) { o.httpVersion = TransferOptions::HttpVersion::kHttp2; return true; }},
    {"tlsv1.2", '\0', false,
     [](TransferOptions& o, const std::string&) { o.tlsVersion = TransferOptions::TlsVersion::kTls12; return true; }},
    {"tlsv1.3", '\0', false,
     [](TransferOptions& o, const std::string&) { o.tlsVersion = TransferOptions::TlsVersion::kTls13; return true; }},
    {"request", 'X', true, [](TransferOptions& o, const std::string& v) { o.method = v; return !v.empty(); }},
};

const Option* longOption(const std::string& name) {
    for (const Option& option : kOptions)
        if (name == option.longName) return &option;
    return nullptr;
}

const Option* shortOption(char name) {
    for (const Option& option : kOptions)
        if (option.shortName == name) return &option;
    return nullptr;
}
}  // namespace

std::string readCurlWords(const std::vector<std::string>& words, TransferOptions& options) {
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word.size() < 2 || word[0] != '-') return word;
        if (word[1] == '-') {
            const Option* option = longOption(word.substr(2));
            if (!option) return word;
            std::string value;
            if (option->takesValue) {
                if (i + 1 >= words.size()) return word;
                value = words[++i];
            }
            if (!option->apply(options, value)) return word;
            continue;
        }
        // A cluster of short flags ("-sS"); one that takes a value takes the
        // rest of the word, or the next word.
        for (size_t c = 1; c < word.size(); ++c) {
            const Option* option = shortOption(word[c]);
            if (!option) return word;
            if (!option->takesValue) {
                option->apply(options, "");
                continue;
            }
            std::string value = word.substr(c + 1);
            if (value.empty()) {
                if (i + 1 >= words.size()) return word;
                value = words[++i];
            }
            if (!option->apply(options, value)) return word;
            break;
        }
    }
    return "";
}
