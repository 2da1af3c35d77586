#include "core/fetch/curl_command.h"

#include <cctype>

#include "core/fetch/secrets.h"
#include "platform/debug.h"

namespace {
// curl reads one config line into a buffer of about 100 KiB.
constexpr size_t kMaxConfigValue = 90 * 1024;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }
}  // namespace

std::string shellQuote(const std::string& value) {
    std::string out = "'";
    for (char c : value) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += '\'';
    return out;
}

std::vector<std::string> splitShellWords(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (isBlank(c)) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '\'') {
            size_t end = text.find('\'', i + 1);
            if (end == std::string::npos) end = text.size();
            word.append(text, i + 1, end - i - 1);
            i = end;
        } else if (c == '"') {
            for (++i; i < text.size() && text[i] != '"'; ++i) {
                char next = i + 1 < text.size() ? text[i + 1] : '\0';
                if (text[i] == '\\' && next == '\n') {
                    ++i;  // a line continuation
                } else if (text[i] == '\\' && (next == '"' || next == '\\' || next == '$' || next == '`')) {
                    word += text[++i];
                } else {
                    word += text[i];
                }
            }
        } else if (c == '\\' && i + 1 < text.size()) {
            if (text[++i] != '\n')
                word += text[i];
            else if (word.empty())
                inWord = false;  // a line continuation between words
        } else {
            word += c;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

namespace {
// "name:secret" with the secret masked.
std::string maskAfterColon(const std::string& text) {
    size_t colon = text.find(':');
    return colon == std::string::npos ? text : text.substr(0, colon + 1) + maskSecret(text.substr(colon + 1));
}

std::string maskHeader(const std::string& header) {
    size_t colon = header.find(':');
    if (colon == std::string::npos || !isSecretName(header.substr(0, colon))) return header;
    size_t value = header.find_first_not_of(' ', colon + 1);
    if (value == std::string::npos) return header;
    return header.substr(0, value) + maskSecret(header.substr(value));
}

// The option's value masked by mask: "-u VALUE" (the next word) or "-uVALUE".
bool maskOptionValue(std::vector<std::string>& words, size_t& i, const char* shortForm, const char* longForm,
                     std::string (*mask)(const std::string&)) {
    std::string& word = words[i];
    if ((word == shortForm || word == longForm) && i + 1 < words.size()) {
        ++i;
        words[i] = mask(words[i]);
        return true;
    }
    if (word.size() > 2 && word.compare(0, 2, shortForm) == 0) {
        word = shortForm + mask(word.substr(2));
        return true;
    }
    return false;
}
}  // namespace

std::string maskCurlParams(const std::string& curlParams) {
    const std::vector<std::string> words = splitShellWords(curlParams);
    std::vector<std::string> masked = words;
    for (size_t i = 0; i < masked.size(); ++i) {
        if (!maskOptionValue(masked, i, "-u", "--user", maskAfterColon) &&
            !maskOptionValue(masked, i, "-U", "--proxy-user", maskAfterColon) &&
            !maskOptionValue(masked, i, "-H", "--header", maskHeader) &&
            !maskOptionValue(masked, i, "-H", "--proxy-header", maskHeader))
            masked[i] = maskUrlSecrets(masked[i]);
    }
    if (masked == words) return curlParams;
    std::string text;
    for (const std::string& word : masked) text += (text.empty() ? "" : " ") + shellQuote(word);
    return text;
}

std::string curlConfigQuote(const std::string& value) {
    std::string out = "\"";
    for (char c : value) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\v': out += "\\v"; break;
            default: out += c;
        }
    }
    out += '"';
    return out;
}

CurlCommand::CurlCommand(const std::string& curlParams, bool checkCertificates, bool askCompression)
    : m_checkCertificates(checkCertificates), m_curlParams(curlParams), m_args(splitShellWords(curlParams)), m_log("curl") {
    if (!curlParams.empty()) m_log += " " + maskCurlParams(curlParams);
    // An HTTP error status ends curl with status 22 and no body: no feed
    // reads an error page as its data.
    m_args.push_back("--fail");
    addLog("--fail");
    if (askCompression) {
        m_args.push_back("--compressed");
        addLog("--compressed");
    }
}

void CurlCommand::addConfig(const std::string& option, const std::string& value) {
    m_config += option + " = " + curlConfigQuote(value) + "\n";
}

void CurlCommand::addLog(const std::string& text) { m_log += " " + text; }

void CurlCommand::addHeader(const std::string& header) {
    addConfig("header", header);
    m_headers.push_back(header);
}

bool CurlCommand::refuseIfUnsafe(const std::string& value, const std::string& configKey) {
    if (value.find_first_of(std::string("\r\n\0", 3)) == std::string::npos && value.size() <= kMaxConfigValue)
        return false;
    if (m_refusedKey.empty()) m_refusedKey = configKey;
    return true;
}

CurlCommand& CurlCommand::arg(const std::string& value) {
    m_args.push_back(value);
    addLog(shellQuote(value));
    return *this;
}

CurlCommand& CurlCommand::carriesCredential() {
    if (!m_checkCertificates) arg("-k");
    return *this;
}

CurlCommand& CurlCommand::url(const std::string& value, const std::string& configKey) {
    m_logUrl = maskUrlSecrets(value);
    // Without globoff curl reads {a,b} and [1-9] in a URL as patterns and
    // sends several requests; a URL is sent as written.
    addLog("--globoff " + shellQuote(m_logUrl));
    if (refuseIfUnsafe(value, configKey)) return *this;
    m_config += "globoff\n";
    addConfig("url", value);
    m_url = value;
    return *this;
}

CurlCommand& CurlCommand::header(const std::string& name, const std::string& value) {
    addLog("-H " + shellQuote(name + ": " + value));
    if (!refuseIfUnsafe(name + value, name + " header")) addHeader(name + ": " + value);
    return *this;
}

CurlCommand& CurlCommand::secretHeader(const std::string& name, const std::string& secret,
                                       const std::string& configKey) {
    addLog("-H " + shellQuote(name + ": " + maskSecret(secret)));
    if (!refuseIfUnsafe(name + secret, configKey)) addHeader(name + ": " + secret);
    return *this;
}

CurlCommand& CurlCommand::user(const std::string& name, const std::string& password, const std::string& configKey) {
    addLog("-u " + shellQuote(name + ":" + maskSecret(password)));
    if (refuseIfUnsafe(name + password, configKey)) return *this;
    m_userPassword = name + ":" + password;
    addConfig("user", m_userPassword);
    return *this;
}

CurlCommand& CurlCommand::body(const std::string& data, const std::string& logForm) {
    addLog("--data-raw " + shellQuote(logForm));
    // data-raw, not data-ascii: a body starting with "@" is not a file name.
    if (data.find('\0') != std::string::npos || data.size() > kMaxConfigValue) {
        if (m_refusedKey.empty()) m_refusedKey = "request body";
    } else {
        addConfig("data-raw", data);
        m_hasBody = true;
        m_body = data;
    }
    return *this;
}

std::vector<std::string> CurlCommand::argv() const {
    std::vector<std::string> words{"curl"};
    words.insert(words.end(), m_args.begin(), m_args.end());
    words.push_back("--config");
    words.push_back("-");
    return words;
}
