// Where the runner's bus connection goes: the --mqtt URL, the password file
// and the private authority, checked before anything starts.
#pragma once

#include <stdexcept>
#include <string>

struct BusAddress {
    bool tls = false;         // mqtts://
    std::string user;         // empty: no user name
    std::string host;
    int port = 1883;
    std::string prefix;       // every topic starts with it; no '/' at either end
    std::string password;     // read from the password file, never from the URL
    std::string caFile;       // empty: the system's certificates (TLS only)
};

// A bad URL or file; the message is one line meant for the user.
struct BusAddressError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Parses mqtt://[USER@]HOST[:PORT]/TOPIC/PREFIX or mqtts://...; a URL that
// holds a password is refused, so that no secret reaches the process list.
BusAddress parseBusUrl(const std::string& url);

// The first line of the file, without its line end.
std::string readPasswordFile(const std::string& path);
