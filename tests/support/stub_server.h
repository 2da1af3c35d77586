// A real HTTP server on 127.0.0.1 (ephemeral port) for tests: serves canned
// replies by path and records every request it receives.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

struct RecordedRequest {
    std::string method;
    std::string path;
    std::string query;  // raw query text, without '?'
    std::multimap<std::string, std::string> params;  // the query as the server decodes it
    std::multimap<std::string, std::string> headers;
    std::string body;
    int remotePort = 0;  // the client's end: one port, one connection
    std::string header(const std::string& name) const;
};

struct StubReply {
    int status = 200;
    std::string body;
    std::string contentType = "text/plain";
    std::string contentEncoding;  // "": none
};

enum class StubScheme { kHttp, kHttps };

// The self-signed certificate an HTTPS stub presents (for 127.0.0.1), to hand
// to curl with --cacert.
std::string loopbackCertificateFile();

class StubServer {
public:
    explicit StubServer(StubScheme scheme = StubScheme::kHttp);
    ~StubServer();
    StubServer(const StubServer&) = delete;
    StubServer& operator=(const StubServer&) = delete;

    // Replies to any method on this path (query ignored); unknown paths get 404.
    void reply(const std::string& path, const std::string& body, int status = 200,
               const std::string& contentType = "text/plain");
    // Replies with a body already encoded (Content-Encoding: encoding).
    void replyEncoded(const std::string& path, const std::string& encodedBody, const std::string& encoding);
    int port() const { return m_port; }
    // "http://127.0.0.1:PORT" + path, or https:// for an HTTPS stub
    std::string url(const std::string& path) const;
    std::vector<RecordedRequest> requests() const;
    size_t requestCount() const;

private:
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    std::string m_scheme;
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::map<std::string, StubReply> m_replies;
    std::vector<RecordedRequest> m_requests;
};

// A port on 127.0.0.1 where nothing listens (connections are refused).
int refusedPort();

// A port on 127.0.0.1 that takes connections and never answers, as an
// endpoint behind a dead mobile network does.
class StalledServer {
public:
    StalledServer();
    ~StalledServer();
    StalledServer(const StalledServer&) = delete;
    StalledServer& operator=(const StalledServer&) = delete;
    int port() const { return m_port; }
    std::string url(const std::string& path) const;
    // Connections taken that the client has not closed: requests under way,
    // whether curl programs or transfers in the process make them.
    int openConnections() const { return m_open.load(); }

private:
    void serve();

    int m_fd = -1;
    int m_stopPipe[2] = {-1, -1};
    int m_port = 0;
    std::atomic<int> m_open{0};
    std::thread m_thread;
};

// A port on 127.0.0.1 that answers every request with status 200 and a
// body that stops half-way: the connection is then closed (the reply is cut
// short) or held open with nothing more sent (the transfer times out).
class BrokenReplyServer {
public:
    enum class Ending { kClosed, kStalled };
    BrokenReplyServer(Ending ending, std::string partialBody);
    ~BrokenReplyServer();
    BrokenReplyServer(const BrokenReplyServer&) = delete;
    BrokenReplyServer& operator=(const BrokenReplyServer&) = delete;
    std::string url(const std::string& path) const;

private:
    void serve();

    Ending m_ending;
    std::string m_partialBody;
    int m_listenFd = -1;
    int m_stopPipe[2] = {-1, -1};
    int m_port = 0;
    std::vector<int> m_heldFds;
    std::thread m_thread;
};

// The pids of this process's running children whose program name is name.
std::vector<int> childProcesses(const std::string& name);
// The NUL-separated arguments of a running process, joined by spaces.
std::string processCommandLine(int pid);
