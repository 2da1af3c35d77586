// A curl request, built so that no value can run a command or become an
// option. curl is started without a shell: the vehicle's "CurlParams" are
// split into words by the shell's quoting rules (nothing expanded or run) and
// every part that may carry a secret - the URL, headers, user and password,
// the request body - goes to curl as a config on its standard input, where
// no other local user can read it.
#pragma once

#include <string>
#include <vector>

// The value as one POSIX shell word: in single quotes, ' written as '\''.
std::string shellQuote(const std::string& value);

// The words of text by the shell's quoting rules: blanks separate words,
// single quotes keep everything, double quotes keep all but \" \\ \$ \`,
// a backslash outside quotes keeps the next character. Nothing is expanded.
std::vector<std::string> splitShellWords(const std::string& text);

// "CurlParams" as a log line shows them: the password of a user option
// (-u, --user, -U, --proxy-user), the value of a header that names a secret
// (-H 'Authorization: ...') and the secrets of any URL masked. The text as
// written when it holds none.
std::string maskCurlParams(const std::string& curlParams);

// value as a curl config string: in double quotes, \ and " escaped, tab,
// line feed, carriage return and vertical tab written as curl reads them back.
std::string curlConfigQuote(const std::string& value);

class CurlCommand {
public:
    // checkCertificates: requests that carry a credential check the server's
    // certificate; off only for a vehicle without a CA bundle or a set clock.
    // askCompression: the reply may come compressed in any encoding curl
    // decodes (--compressed).
    explicit CurlCommand(const std::string& curlParams, bool checkCertificates = true, bool askCompression = false);
    // A plain command-line argument (a flag such as -k or -X, a method). Never a secret.
    CurlCommand& arg(const std::string& value);
    // This request carries a credential: the server's certificate is
    // checked unless the vehicle turned checks off.
    CurlCommand& carriesCredential();
    // The URL, sent exactly as written (no curl globbing). configKey names
    // the configuration key it came from, for the refusal line. Secret query
    // values (key, app_key, api_token, ...) are masked in the log.
    CurlCommand& url(const std::string& value, const std::string& configKey);
    // A request header whose value is shown in the log.
    CurlCommand& header(const std::string& name, const std::string& value);
    // A request header whose value is a credential: masked in the log.
    CurlCommand& secretHeader(const std::string& name, const std::string& secret, const std::string& configKey);
    // HTTP authentication, always "user:password" (a bare user name makes
    // curl prompt on the terminal); the password is masked in the log.
    CurlCommand& user(const std::string& name, const std::string& password, const std::string& configKey);
    // The request body, sent as written. The log shows logForm: the body
    // with any credential in it masked.
    CurlCommand& body(const std::string& data, const std::string& logForm);

    // The program's arguments: "curl", the options, then "--config -".
    std::vector<std::string> argv() const;
    // The request as parts, for a transfer made in the process: the options
    // ("CurlParams" words, then the command's own), the URL, the headers,
    // "user:password" (empty: none) and the body (a POST when there is one).
    const std::string& curlParams() const { return m_curlParams; }
    const std::vector<std::string>& options() const { return m_args; }
    const std::string& requestUrl() const { return m_url; }
    const std::vector<std::string>& headers() const { return m_headers; }
    const std::string& userPassword() const { return m_userPassword; }
    bool hasBody() const { return m_hasBody; }
    const std::string& requestBody() const { return m_body; }
    // What curl reads on its standard input.
    const std::string& config() const { return m_config; }
    // The equivalent command line with every secret masked, to rerun by hand.
    const std::string& logText() const { return m_log; }
    // The masked URL, for log lines about this request.
    const std::string& logUrl() const { return m_logUrl; }
    // Empty, or the configuration key whose value can't be sent safely
    // (a line break or NUL would start a new config line); then nothing is sent.
    const std::string& refusedKey() const { return m_refusedKey; }

private:
    void addConfig(const std::string& option, const std::string& value);
    void addLog(const std::string& text);
    void addHeader(const std::string& header);
    bool refuseIfUnsafe(const std::string& value, const std::string& configKey);

    bool m_checkCertificates;
    std::string m_curlParams;
    std::vector<std::string> m_args;
    std::string m_url;
    std::vector<std::string> m_headers;
    std::string m_userPassword;
    bool m_hasBody = false;
    std::string m_body;
    std::string m_config;
    std::string m_log;
    std::string m_logUrl;
    std::string m_refusedKey;
};
