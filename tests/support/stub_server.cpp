#include "tests/support/stub_server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <dirent.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <chrono>

std::string RecordedRequest::header(const std::string& name) const {
    for (const auto& h : headers) {
        if (h.first.size() != name.size()) continue;
        bool same = true;
        for (size_t i = 0; i < name.size() && same; ++i)
            same = std::tolower(static_cast<unsigned char>(h.first[i])) == std::tolower(static_cast<unsigned char>(name[i]));
        if (same) return h.second;
    }
    return "";
}

std::string loopbackCertificateFile() { return WEBSERVICES_TEST_DATA "/tls/loopback_cert.pem"; }

namespace {
std::unique_ptr<httplib::Server> makeServer(StubScheme scheme) {
    if (scheme == StubScheme::kHttp) return std::make_unique<httplib::Server>();
    return std::make_unique<httplib::SSLServer>(loopbackCertificateFile().c_str(),
                                                WEBSERVICES_TEST_DATA "/tls/loopback_key.pem");
}
}  // namespace

StubServer::StubServer(StubScheme scheme)
    : m_server(makeServer(scheme)), m_scheme(scheme == StubScheme::kHttp ? "http" : "https") {
    auto handler = [this](const httplib::Request& req, httplib::Response& res) {
        RecordedRequest record;
        record.method = req.method;
        record.path = req.path;
        std::string target = req.target;
        size_t q = target.find('?');
        record.query = q == std::string::npos ? "" : target.substr(q + 1);
        for (const auto& h : req.headers) record.headers.emplace(h.first, h.second);
        for (const auto& p : req.params) record.params.emplace(p.first, p.second);
        record.body = req.body;
        record.remotePort = req.remote_port;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(record);
        auto it = m_replies.find(req.path);
        if (it == m_replies.end()) {
            res.status = 404;
            return;
        }
        res.status = it->second.status;
        res.set_content(it->second.body, it->second.contentType.c_str());
        if (!it->second.contentEncoding.empty()) res.set_header("Content-Encoding", it->second.contentEncoding);
    };
    m_server->Get(".*", handler);
    m_server->Post(".*", handler);
    m_server->Put(".*", handler);
    m_server->Delete(".*", handler);
    // A client that keeps its connection open would hold up the server's end
    // for as long as this.
    m_server->set_keep_alive_timeout(1);
    // As web servers do on kept connections: without it a reply's second
    // write waits for the client's delayed acknowledgement.
    m_server->set_tcp_nodelay(true);
    m_port = m_server->bind_to_any_port("127.0.0.1");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    while (!m_server->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

StubServer::~StubServer() {
    m_server->stop();
    if (m_thread.joinable()) m_thread.join();
}

void StubServer::reply(const std::string& path, const std::string& body, int status, const std::string& contentType) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_replies[path] = StubReply{status, body, contentType, ""};
}

void StubServer::replyEncoded(const std::string& path, const std::string& encodedBody, const std::string& encoding) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_replies[path] = StubReply{200, encodedBody, "application/octet-stream", encoding};
}

std::string StubServer::url(const std::string& path) const {
    return m_scheme + "://127.0.0.1:" + std::to_string(m_port) + path;
}

std::vector<RecordedRequest> StubServer::requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

size_t StubServer::requestCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests.size();
}

int refusedPort() {
    // Bind an ephemeral port, then close it: nothing listens there afterwards.
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

namespace {
// A socket listening on an ephemeral port of 127.0.0.1; port is set to it.
int listenOnLoopback(int& port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(fd, 128);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}
}  // namespace

// Connections are taken and their requests read, and never answered.
StalledServer::StalledServer() {
    m_fd = listenOnLoopback(m_port);
    if (pipe2(m_stopPipe, O_CLOEXEC) != 0) m_stopPipe[0] = m_stopPipe[1] = -1;
    m_thread = std::thread([this] { serve(); });
}

StalledServer::~StalledServer() {
    if (m_stopPipe[1] >= 0) (void)!write(m_stopPipe[1], "x", 1);
    m_thread.join();
    close(m_fd);
    close(m_stopPipe[0]);
    close(m_stopPipe[1]);
}

void StalledServer::serve() {
    std::vector<int> held;
    for (;;) {
        std::vector<pollfd> fds = {{m_stopPipe[0], POLLIN, 0}, {m_fd, POLLIN, 0}};
        for (int fd : held) fds.push_back({fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents & POLLIN) break;
        std::vector<int> stillOpen;
        for (size_t i = 2; i < fds.size(); ++i) {
            char request[4096];
            bool closed =
                (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) && read(fds[i].fd, request, sizeof request) <= 0;
            if (closed)
                close(fds[i].fd);
            else
                stillOpen.push_back(fds[i].fd);
        }
        held.swap(stillOpen);
        if (fds[1].revents & POLLIN) {
            int fd = accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) held.push_back(fd);
        }
        m_open = static_cast<int>(held.size());
    }
    for (int fd : held) close(fd);
}

std::string StalledServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

BrokenReplyServer::BrokenReplyServer(Ending ending, std::string partialBody)
    : m_ending(ending), m_partialBody(std::move(partialBody)) {
    m_listenFd = listenOnLoopback(m_port);
    if (pipe2(m_stopPipe, O_CLOEXEC) != 0) m_stopPipe[0] = m_stopPipe[1] = -1;
    m_thread = std::thread([this] { serve(); });
}

BrokenReplyServer::~BrokenReplyServer() {
    if (m_stopPipe[1] >= 0) (void)!write(m_stopPipe[1], "x", 1);
    m_thread.join();
    for (int fd : m_heldFds) close(fd);
    close(m_listenFd);
    close(m_stopPipe[0]);
    close(m_stopPipe[1]);
}

std::string BrokenReplyServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

void BrokenReplyServer::serve() {
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN)) return;
        int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        // The request itself does not matter; the answer promises twice the body it sends.
        char request[65536];
        (void)!read(fd, request, sizeof request);
        const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                                  std::to_string(2 * m_partialBody.size() + 1) + "\r\n\r\n" + m_partialBody;
        (void)!write(fd, reply.data(), reply.size());
        if (m_ending == Ending::kClosed)
            close(fd);
        else
            m_heldFds.push_back(fd);
    }
}

namespace {
std::string readProcFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
}  // namespace

std::vector<int> childProcesses(const std::string& name) {
    std::vector<int> pids;
    DIR* proc = opendir("/proc");
    if (!proc) return pids;
    while (dirent* entry = readdir(proc)) {
        int pid = std::atoi(entry->d_name);
        if (pid <= 0) continue;
        std::string stat = readProcFile("/proc/" + std::to_string(pid) + "/stat");
        size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        int parent = 0;
        char state = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &parent) != 2) continue;
        if (parent == getpid() && state != 'Z' && stat.substr(open + 1, close - open - 1) == name) pids.push_back(pid);
    }
    closedir(proc);
    return pids;
}

std::string processCommandLine(int pid) {
    std::string line = readProcFile("/proc/" + std::to_string(pid) + "/cmdline");
    for (char& c : line)
        if (c == '\0') c = ' ';
    return line;
}
