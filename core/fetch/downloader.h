// The one way the module makes a request or runs an external program. A
// request is made inside the process with libcurl when "CurlParams" holds
// only options it maps (core/fetch/curl_options.h), otherwise by the curl
// program. Programs (that curl, the timeline script) start directly (no
// shell) with the default signal mask and dispositions, each in its own
// process group; the request goes in on standard input and the reply comes
// back through a pipe. Either way replies are held to a byte cap, so none
// can exhaust the board's memory, and no secret appears on a command line.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "core/fetch/curl_command.h"

class CurlTransfers;

struct DownloadLimits {
    size_t maxDownloadBytes = 8u << 20;        // every reply but GTFS-Realtime's
    size_t gtfsRtMaxDownloadBytes = 64u << 20;  // GTFS-Realtime feeds are large binary files
    size_t maxJsonValues = 500000;              // the JSON reader spends eight bytes on each, and on each key
};

struct ProgramResult {
    bool ok = false;     // started, and its output within the cap
    int exitStatus = -1;  // its exit status, or -1 when it did not exit by itself
    std::string output;  // the program's whole standard output
};

// The download edge of one module: the limits its replies are held to,
// whether requests that carry a credential check the server's certificate,
// and the programs it has running, so that ending one module's downloads
// leaves any other's alone. Safe to use from several workers at once.
class Downloader {
public:
    // askCompression: every request asks for a compressed reply.
    explicit Downloader(DownloadLimits limits = {}, bool checkCertificates = true, bool askCompression = true);
    ~Downloader();
    Downloader(const Downloader&) = delete;
    Downloader& operator=(const Downloader&) = delete;

    const DownloadLimits& limits() const { return m_limits; }
    // A curl request with "CurlParams" and this edge's certificate setting.
    CurlCommand command(const std::string& curlParams) const {
        return CurlCommand(curlParams, m_checkCertificates, m_askCompression);
    }
    // Whether requests with these "CurlParams" are made in the process. The
    // first time a text is seen that is not, one level-8 line names the
    // word that keeps its requests on the curl program.
    bool inProcess(const std::string& curlParams);

    // Makes the command's request. The complete (decoded) reply, or "" when
    // the request was refused, curl could not start or the transfer failed
    // (an HTTP status of 400 or more, a transfer cut short or timed out:
    // libcurl's result code, the curl program's exit status), the reply went
    // over the cap or the downloads were ended; each is logged.
    std::string fetch(const CurlCommand& command) { return fetch(command, m_limits.maxDownloadBytes); }
    std::string fetch(const CurlCommand& command, size_t cap);

    // Runs a program as execvp would (a file without "#!" runs under /bin/sh),
    // with input on its standard input. logName names it in log lines.
    ProgramResult run(const std::vector<std::string>& argv, const std::string& input, size_t cap,
                      const std::string& logName);

    // Shutdown: ends every program this edge runs, with its process group,
    // aborts every transfer in the process (within about a second), and
    // refuses to start new ones until allow().
    void endAll();
    void allow();

private:
    std::string fetchInProcess(const CurlCommand& command, size_t cap, const std::string& name);
    std::string fetchWithProgram(const CurlCommand& command, size_t cap, const std::string& name);

    const DownloadLimits m_limits;
    const bool m_checkCertificates;
    const bool m_askCompression;
    const std::unique_ptr<CurlTransfers> m_transfers;
    std::atomic<bool> m_stopping{false};
    std::mutex m_mutex;
    // The running children. A pid stays here until it is reaped, so a kill
    // never reaches a reused pid. Guarded by m_mutex.
    std::set<pid_t> m_running;
    // "CurlParams" texts seen, each with the word that keeps it on the curl
    // program ("" when none does). Guarded by m_mutex.
    std::map<std::string, std::string> m_programWords;
};
