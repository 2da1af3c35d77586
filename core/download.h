// The one way the module runs an external program: curl for every feed's
// request, and the timeline script. Programs start directly (no shell) with
// the default signal mask and dispositions, each in its own process group;
// the request goes in on standard input and the reply comes back through a
// pipe with a byte cap, so no reply can exhaust the board's memory and no
// secret appears on a command line.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/shell_command.h"

struct DownloadLimits {
    size_t maxDownloadBytes = 8u << 20;        // every reply but GTFS-Realtime's
    size_t gtfsRtMaxDownloadBytes = 64u << 20;  // GTFS-Realtime feeds are large binary files
    size_t maxJsonValues = 500000;              // jsoncpp spends about 150 bytes per value
};

// Module-wide, set once when the module reads its configuration.
DownloadLimits downloadLimits();
void setDownloadLimits(const DownloadLimits& limits);

struct ProgramResult {
    bool ok = false;     // started, and its output within the cap
    int exitStatus = -1;  // its exit status, or -1 when it did not exit by itself
    std::string output;  // the program's whole standard output
};

// Runs curl with the command's request. The complete reply, or "" when the
// request was refused, curl could not start or did not end with status 0
// (an HTTP status of 400 or more, a transfer cut short or timed out), the
// reply went over the cap or the module is shutting down; each is logged.
std::string download(const CurlCommand& command);
std::string download(const CurlCommand& command, size_t cap);

// Runs a program as execvp would (a file without "#!" runs under /bin/sh),
// with input on its standard input. logName names it in log lines.
ProgramResult runProgram(const std::vector<std::string>& argv, const std::string& input, size_t cap,
                         const std::string& logName);

// Shutdown: ends every running program and its process group, and refuses
// to start new ones until allowDownloads().
void endAllDownloads();
void allowDownloads();
