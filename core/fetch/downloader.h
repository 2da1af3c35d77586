// The one way the module runs an external program: curl for every feed's
// request, and the timeline script. Programs start directly (no shell) with
// the default signal mask and dispositions, each in its own process group;
// the request goes in on standard input and the reply comes back through a
// pipe with a byte cap, so no reply can exhaust the board's memory and no
// secret appears on a command line.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "core/fetch/curl_command.h"

struct DownloadLimits {
    size_t maxDownloadBytes = 8u << 20;        // every reply but GTFS-Realtime's
    size_t gtfsRtMaxDownloadBytes = 64u << 20;  // GTFS-Realtime feeds are large binary files
    size_t maxJsonValues = 500000;              // jsoncpp spends about 150 bytes per value
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
    explicit Downloader(DownloadLimits limits = {}, bool checkCertificates = true)
        : m_limits(limits), m_checkCertificates(checkCertificates) {}
    Downloader(const Downloader&) = delete;
    Downloader& operator=(const Downloader&) = delete;

    const DownloadLimits& limits() const { return m_limits; }
    // A curl request with "CurlParams" and this edge's certificate setting.
    CurlCommand command(const std::string& curlParams) const { return CurlCommand(curlParams, m_checkCertificates); }

    // Runs curl with the command's request. The complete reply, or "" when
    // the request was refused, curl could not start or did not end with
    // status 0 (an HTTP status of 400 or more, a transfer cut short or timed
    // out), the reply went over the cap or the downloads were ended; each is logged.
    std::string fetch(const CurlCommand& command) { return fetch(command, m_limits.maxDownloadBytes); }
    std::string fetch(const CurlCommand& command, size_t cap);

    // Runs a program as execvp would (a file without "#!" runs under /bin/sh),
    // with input on its standard input. logName names it in log lines.
    ProgramResult run(const std::vector<std::string>& argv, const std::string& input, size_t cap,
                      const std::string& logName);

    // Shutdown: ends every program this edge runs, with its process group,
    // and refuses to start new ones until allow().
    void endAll();
    void allow();

private:
    const DownloadLimits m_limits;
    const bool m_checkCertificates;
    // The running children. A pid stays here until it is reaped, so a kill
    // never reaches a reused pid.
    std::mutex m_mutex;
    std::set<pid_t> m_running;
    bool m_stopping = false;
};
