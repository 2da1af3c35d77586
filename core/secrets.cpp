#include "core/secrets.h"

#include <cctype>

namespace {
const char* const kSecretQueryKeys[] = {"key", "app_key", "api_token", "apikey", "api_key",
                                        "token", "password", "app_id_key", "access_token"};

bool isSecretKey(const std::string& key) {
    std::string lower;
    for (char c : key) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* secret : kSecretQueryKeys)
        if (lower == secret) return true;
    return false;
}
}  // namespace

std::string maskSecret(const std::string& secret) {
    return secret.substr(0, 2) + "***(" + std::to_string(secret.size()) + ")";
}

std::string maskUrlSecrets(const std::string& url) {
    size_t query = url.find('?');
    if (query == std::string::npos) return url;
    std::string out = url.substr(0, query + 1);
    size_t start = query + 1;
    while (start <= url.size()) {
        size_t end = url.find_first_of("&#", start);
        if (end == std::string::npos) end = url.size();
        std::string param = url.substr(start, end - start);
        size_t eq = param.find('=');
        if (eq != std::string::npos && isSecretKey(param.substr(0, eq)))
            param = param.substr(0, eq + 1) + maskSecret(param.substr(eq + 1));
        out += param;
        if (end >= url.size()) break;
        out += url[end];
        start = end + 1;
    }
    return out;
}
