#include "core/shell_command.h"

#include "core/secrets.h"

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

CurlCommand::CurlCommand(const std::string& curlParams) : m_text("curl " + curlParams), m_log(m_text) {}

void CurlCommand::append(const std::string& runPart, const std::string& logPart) {
    m_text += ' ';
    m_text += runPart;
    m_log += ' ';
    m_log += logPart;
}

CurlCommand& CurlCommand::arg(const std::string& value) {
    append(shellQuote(value), shellQuote(value));
    return *this;
}

CurlCommand& CurlCommand::url(const std::string& value) {
    // Without --globoff curl reads {a,b} and [1-9] in a URL as patterns and
    // sends several requests; a URL is sent as written.
    append("--globoff " + shellQuote(value), "--globoff " + shellQuote(maskUrlSecrets(value)));
    return *this;
}

CurlCommand& CurlCommand::secretArg(const std::string& visible, const std::string& secret) {
    append(shellQuote(visible + secret), shellQuote(visible + maskSecret(secret)));
    return *this;
}

CurlCommand& CurlCommand::hiddenArg(const std::string& value, const std::string& description) {
    append(shellQuote(value), "<" + description + ", " + std::to_string(value.size()) + " bytes>");
    return *this;
}
