// Captures the module's log lines while in scope, every level enabled.
// Workers may log while a test reads: contains() and dump() are safe at any
// time, lines() only once no other thread logs.
#pragma once

#include <mutex>
#include <string>
#include <vector>

struct LogLine {
    int level;
    std::string text;
};
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    const std::vector<LogLine>& lines() const { return m_lines; }
    // True when some line at this level contains the text.
    bool contains(const std::string& text, int level = 0) const;
    std::string dump() const;

private:
    mutable std::mutex m_mutex;
    std::vector<LogLine> m_lines;
    int m_previousMask;
};
