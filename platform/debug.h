// The process-wide log stream. A line is written as: set its level, insert
// the text, then CDebug::endl, which hands the whole line to the host's sink
// under the stream's mutex. logLine() does the three steps in one call.
// Setting the level on CDebug::Main switches to the calling thread's own line
// stream, so that lines from several threads never share a buffer.
#pragma once

#include <functional>
#include <mutex>
#include <ostream>
#include <sstream>
#include <string>

// Host-installed destination of log lines that pass the level filter.
using CDebugSink = std::function<void(int level, const std::string& line)>;

class CDebugLogStream : public std::ostream {
public:
    CDebugLogStream();

    void setLevel(int level) { m_level = level; }
    int level() const { return m_level; }
    // Ends the current line: passes it to the sink when its level is enabled.
    void endLine();
    // Writes one whole line at the given level, bypassing the line buffer.
    void writeLine(int level, const std::string& text);

private:
    std::stringbuf m_buffer;
    int m_level = 2;
    std::mutex m_mutex;
};

namespace CDebug {
extern CDebugLogStream& Main;

enum Level { kTrace = 1, kProgress = 2, kNotable = 4, kWarning = 8, kError = 16 };
constexpr int kDefaultLevelMask = kNotable | kWarning | kError;

// Which levels reach the sink (a bit mask of Level values).
void setLevelMask(int mask);
int levelMask();
bool levelEnabled(int level);
// True when progress (level 2) lines pass: the diagnostic tables print only then.
bool messageLevelAboveOne();
// Writes a diagnostic table (whole lines) to standard output in one piece, so
// that feeds refreshing on several threads never interleave their tables.
void printTable(const std::string& text);

// nullptr restores the default sink: standard error with a timestamp and the level.
void setSink(CDebugSink sink);

struct LevelManip { int level; };
inline LevelManip level(int l) { return LevelManip{l}; }
std::ostream& endl(std::ostream& os);
}  // namespace CDebug

// On CDebug::Main: starts a line on the calling thread's line stream and returns that.
std::ostream& operator<<(std::ostream& os, CDebug::LevelManip m);

// Counted initialisation: every file that includes this header keeps the
// stream alive until the last of them has been torn down.
class CDebugLogStreamGlobal {
public:
    CDebugLogStreamGlobal();
    ~CDebugLogStreamGlobal();
    static int initCount;
    static void CDebugLogStreamGlobalConstruct();
    static void CDebugLogStreamGlobalDestroy();
};
static CDebugLogStreamGlobal s_debugLogStreamGlobal;

// One log line from its parts; costs nothing when the level is filtered out.
template <typename... Args>
void logLine(int level, const Args&... args) {
    if (!CDebug::levelEnabled(level)) return;
    std::ostringstream text;
    (text << ... << args);
    CDebug::Main.writeLine(level, text.str());
}
