// Command lines for the shell. Every value that reaches a command goes
// through shellQuote, so no value from the network, an imported symbol, a
// file or the configuration can run a command. Only the module's curl option
// string is left for the shell to split: the vehicle supplies options there.
#pragma once

#include <string>

// The value as one POSIX shell word: in single quotes, ' written as '\''.
std::string shellQuote(const std::string& value);

// "curl " + options, then quoted arguments. text() is what runs; logText()
// is the same line with secrets masked, for the log.
class CurlCommand {
public:
    explicit CurlCommand(const std::string& curlParams);
    // A plain argument (a flag such as -X, a method, a content type).
    CurlCommand& arg(const std::string& value);
    // A URL, sent exactly as written (no curl globbing); secret query values
    // (key, app_key, api_token, ...) are masked in the log.
    CurlCommand& url(const std::string& value);
    // An argument made of a visible part and a secret, e.g. a header name and its token.
    CurlCommand& secretArg(const std::string& visible, const std::string& secret);
    // An argument shown in the log only by its length (request bodies holding credentials).
    CurlCommand& hiddenArg(const std::string& value, const std::string& description);

    const std::string& text() const { return m_text; }
    const std::string& logText() const { return m_log; }

private:
    void append(const std::string& runPart, const std::string& logPart);
    std::string m_text;
    std::string m_log;
};
