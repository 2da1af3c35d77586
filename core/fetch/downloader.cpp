#include "core/fetch/downloader.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/fetch/curl_options.h"
#include "core/fetch/curl_transfer.h"
#include "platform/debug.h"

extern char** environ;

namespace {
constexpr size_t kShrinkBelowBytes = 1u << 20;

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int release() {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1) {
        if (m_fd >= 0) close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

bool makePipe(Fd& readEnd, Fd& writeEnd) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    return true;
}

std::vector<char*> cArgs(std::vector<std::string>& args) {
    std::vector<char*> out;
    for (auto& arg : args) out.push_back(arg.data());
    out.push_back(nullptr);
    return out;
}

// True when program is a path to an executable file that is neither a "#!"
// script nor an ELF binary, which execvp would run with /bin/sh. Looked at
// before the start: a C library may report a file it cannot execute only by
// the child's exit status 127 (glibc does so under user-mode emulation).
bool runsWithShell(const std::string& program) {
    if (program.find('/') == std::string::npos || access(program.c_str(), X_OK) != 0) return false;
    int fd = open(program.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    char head[4];
    ssize_t got = read(fd, head, sizeof head);
    close(fd);
    if (got < 0 || (got >= 2 && head[0] == '#' && head[1] == '!')) return false;
    return !(got == 4 && std::memcmp(head, "\177ELF", 4) == 0);
}

// Starts argv[0] (looked up in PATH) with stdin and stdout on the given
// descriptors. Returns 0 and the pid, or an errno value.
int spawnChild(std::vector<std::string> argv, int stdinFd, int stdoutFd, pid_t& pid) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, stdinFd, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // The loop blocks SIGTERM for its signalfd; a child that inherited that
    // mask would ignore the shutdown.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

    std::vector<char*> args = cArgs(argv);
    int rc = runsWithShell(argv[0]) ? ENOEXEC : posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
    if (rc == ENOEXEC) {
        // What execvp does with a script that has no "#!" line.
        std::vector<std::string> shArgv{"/bin/sh"};
        shArgv.insert(shArgv.end(), argv.begin(), argv.end());
        std::vector<char*> shArgs = cArgs(shArgv);
        rc = posix_spawn(&pid, shArgs[0], &actions, &attr, shArgs.data(), environ);
    }
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return rc;
}

// Feeds input to the child and collects its output, at most cap + 1 bytes.
// Takes inFd and closes it. Returns false when the output went over the cap.
bool exchange(int inFd, int outFd, const std::string& input, size_t cap, std::string& output) {
    size_t written = 0;
    bool inputOpen = inFd >= 0;
    if (inputOpen) fcntl(inFd, F_SETFL, fcntl(inFd, F_GETFL) | O_NONBLOCK);
    if (inputOpen && input.empty()) {
        close(inFd);
        inputOpen = false;
    }
    char chunk[65536];
    for (;;) {
        pollfd fds[2] = {{outFd, POLLIN, 0}, {inputOpen ? inFd : -1, POLLOUT, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (inputOpen && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t n = write(inFd, input.data() + written, input.size() - written);
            if (n > 0) written += static_cast<size_t>(n);
            if (n < 0 && errno != EAGAIN && errno != EINTR) written = input.size();  // the child stopped reading
            if (written == input.size()) {
                close(inFd);
                inputOpen = false;
            }
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            size_t room = cap + 1 - output.size();
            ssize_t n = read(outFd, chunk, room < sizeof chunk ? room : sizeof chunk);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) break;
            output.append(chunk, static_cast<size_t>(n));
            if (output.size() > cap) break;
        }
    }
    if (inputOpen) close(inFd);
    return output.size() <= cap;
}

// Writing to a child that has ended raises SIGPIPE; on this thread it is
// held blocked for the exchange and any pending one is taken afterwards.
class SigpipeBlock {
public:
    SigpipeBlock() {
        sigset_t pipeOnly;
        sigemptyset(&pipeOnly);
        sigaddset(&pipeOnly, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeOnly, &m_old);
    }
    ~SigpipeBlock() {
        sigset_t pipeOnly;
        sigemptyset(&pipeOnly);
        sigaddset(&pipeOnly, SIGPIPE);
        timespec zero{0, 0};
        while (sigtimedwait(&pipeOnly, nullptr, &zero) == SIGPIPE) {
        }
        pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }

private:
    sigset_t m_old;
};

// What the statuses a vehicle meets mean, for the operator reading the log.
const char* curlStatusMeaning(int status) {
    switch (status) {
        case -1: return " (ended by a signal)";
        case 6: return " (host name not resolved)";
        case 7: return " (could not connect)";
        case 18: return " (reply cut short)";
        case 22: return " (HTTP error status)";
        case 28: return " (timed out)";
        case 35: return " (TLS handshake failed)";
        case 56: return " (connection lost while receiving)";
        case 60: return " (server certificate not trusted; see tls_insecure and --cacert)";
        case 77: return " (CA certificates unreadable)";
        default: return "";
    }
}
}  // namespace

ProgramResult Downloader::run(const std::vector<std::string>& argv, const std::string& input, size_t cap,
                             const std::string& logName) {
    ProgramResult result;
    Fd inRead, inWrite, outRead, outWrite;
    if (argv.empty() || !makePipe(inRead, inWrite) || !makePipe(outRead, outWrite)) {
        logLine(16, "Download: cannot create pipes for ", logName, ": ", std::strerror(errno));
        return result;
    }
    pid_t pid = -1;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping) return result;
        int rc = spawnChild(argv, inRead.get(), outWrite.get(), pid);
        if (rc != 0) {
            logLine(16, "Download: cannot start ", argv[0], " for ", logName, ": ", std::strerror(rc));
            return result;
        }
        m_running.insert(pid);
    }
    inRead.reset();
    outWrite.reset();

    SigpipeBlock sigpipeBlock;
    // Reserved up front: buffers that grow by doubling take twice the cap at worst.
    result.output.reserve(cap + 1);
    bool withinCap = exchange(inWrite.release(), outRead.get(), input, cap, result.output);
    if (!withinCap) kill(-pid, SIGKILL);
    outRead.reset();
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
    bool stopping;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running.erase(pid);
        stopping = m_stopping;
    }
    if (!withinCap) {
        logLine(8, "Download: reply from ", logName, " stopped at the cap of ", cap, " bytes");
        result.output.clear();
    }
    if (stopping) result.output.clear();
    // A small reply gives back the rest of its reservation. A large one keeps
    // it: copying it again into fresh pages would cost more than the address
    // space, of which only the pages written are ever memory.
    if (result.output.size() < kShrinkBelowBytes) result.output.shrink_to_fit();
    result.ok = withinCap && !stopping;
    return result;
}

Downloader::Downloader(DownloadLimits limits, bool checkCertificates, bool askCompression)
    : m_limits(limits),
      m_checkCertificates(checkCertificates),
      m_askCompression(askCompression),
      m_transfers(std::make_unique<CurlTransfers>()) {}

Downloader::~Downloader() = default;

bool Downloader::inProcess(const std::string& curlParams) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto seen = m_programWords.find(curlParams);
    if (seen == m_programWords.end()) {
        TransferOptions options;
        seen = m_programWords.emplace(curlParams, readCurlWords(splitShellWords(curlParams), options)).first;
        if (!seen->second.empty())
            logLine(8, "Download: CurlParams word '", maskCurlParams(seen->second),
                    "' has no in-process form; every request runs the curl program");
    }
    return seen->second.empty();
}

std::string Downloader::fetch(const CurlCommand& command, size_t cap) {
    if (!command.refusedKey().empty()) {
        logLine(16, "Download: request not sent: the value of '", command.refusedKey(),
                "' holds a line break or NUL, or is too long");
        return "";
    }
    std::string name = command.logUrl().empty() ? std::string("curl") : command.logUrl();
    if (inProcess(command.curlParams())) return fetchInProcess(command, cap, name);
    return fetchWithProgram(command, cap, name);
}

std::string Downloader::fetchInProcess(const CurlCommand& command, size_t cap, const std::string& name) {
    TransferOptions options;
    const std::string word = readCurlWords(command.options(), options);
    if (!word.empty()) {
        // A request's own flag the map lacks: a fault here, not the vehicle's.
        logLine(16, "Download: request option '", word, "' has no in-process form; the curl program makes it");
        return fetchWithProgram(command, cap, name);
    }
    if (m_stopping) return "";
    TransferResult result = m_transfers->perform(command, options, cap, m_stopping);
    if (result.stopped) return "";
    if (result.overCap) {
        logLine(8, "Download: reply from ", name, " stopped at the cap of ", cap, " bytes");
        return "";
    }
    if (result.status != 0) {
        logLine(8, "Download: curl ended with status ", result.status, curlStatusMeaning(result.status), " for ",
                name);
        return "";
    }
    if (result.body.size() < kShrinkBelowBytes) result.body.shrink_to_fit();
    return std::move(result.body);
}

std::string Downloader::fetchWithProgram(const CurlCommand& command, size_t cap, const std::string& name) {
    ProgramResult result = run(command.argv(), command.config(), cap, name);
    if (!result.ok) return "";
    // A transfer curl reports as failed (cut short, timed out, an HTTP error
    // status) gives no reply: part of a body, or an error page, is not data.
    if (result.exitStatus != 0) {
        logLine(8, "Download: curl ended with status ", result.exitStatus, curlStatusMeaning(result.exitStatus),
                " for ", name);
        return "";
    }
    return std::move(result.output);
}

void Downloader::endAll() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;  // transfers in the process see it in their next progress call
    for (pid_t pid : m_running) kill(-pid, SIGKILL);
}

void Downloader::allow() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = false;
}
