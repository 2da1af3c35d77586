#include "host/bus_address.h"

#include <cctype>
#include <fstream>

namespace {
int parsePort(const std::string& text, const std::string& url) {
    bool digits = !text.empty() && text.size() <= 5;
    for (char c : text) digits = digits && std::isdigit(static_cast<unsigned char>(c));
    int port = digits ? std::stoi(text) : 0;
    if (port < 1 || port > 65535) throw BusAddressError("--mqtt: bad port '" + text + "' in " + url);
    return port;
}

// HOST, HOST:PORT, [IPv6] or [IPv6]:PORT.
void parseHostPort(const std::string& text, const std::string& url, BusAddress& address) {
    size_t portColon = std::string::npos;
    if (!text.empty() && text[0] == '[') {
        size_t close = text.find(']');
        if (close == std::string::npos) throw BusAddressError("--mqtt: unclosed '[' in " + url);
        address.host = text.substr(1, close - 1);
        if (close + 1 < text.size()) {
            if (text[close + 1] != ':') throw BusAddressError("--mqtt: bad host in " + url);
            portColon = close + 1;
        }
    } else {
        portColon = text.find(':');
        address.host = text.substr(0, portColon);
    }
    if (address.host.empty()) throw BusAddressError("--mqtt: no host in " + url);
    if (portColon != std::string::npos) address.port = parsePort(text.substr(portColon + 1), url);
}

bool validPrefix(const std::string& prefix) {
    if (prefix.empty() || prefix.front() == '/' || prefix.back() == '/') return false;
    return prefix.find_first_of(std::string("+#\0", 3)) == std::string::npos;
}
}  // namespace

BusAddress parseBusUrl(const std::string& url) {
    BusAddress address;
    std::string rest;
    if (url.rfind("mqtt://", 0) == 0) {
        rest = url.substr(7);
    } else if (url.rfind("mqtts://", 0) == 0) {
        rest = url.substr(8);
        address.tls = true;
        address.port = 8883;
    } else {
        throw BusAddressError("--mqtt takes mqtt://[USER@]HOST[:PORT]/TOPIC/PREFIX or mqtts://..., not '" + url + "'");
    }
    size_t slash = rest.find('/');
    if (slash == std::string::npos) throw BusAddressError("--mqtt: no topic prefix in " + url);
    std::string authority = rest.substr(0, slash);
    address.prefix = rest.substr(slash + 1);
    while (!address.prefix.empty() && address.prefix.back() == '/') address.prefix.pop_back();
    size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        address.user = authority.substr(0, at);
        if (address.user.find(':') != std::string::npos)
            throw BusAddressError("--mqtt: the URL holds a password; put it in a file and pass --mqtt-password-file FILE");
        if (address.user.empty()) throw BusAddressError("--mqtt: empty user name in " + url);
        authority.erase(0, at + 1);
    }
    parseHostPort(authority, url, address);
    if (!validPrefix(address.prefix))
        throw BusAddressError("--mqtt: the topic prefix must be non-empty, without '+', '#' or a leading '/', in " + url);
    return address;
}

std::string readPasswordFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::string line;
    if (!file || !std::getline(file, line))
        throw BusAddressError("--mqtt-password-file: cannot read '" + path + "'");
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) throw BusAddressError("--mqtt-password-file: the first line of '" + path + "' is empty");
    return line;
}
