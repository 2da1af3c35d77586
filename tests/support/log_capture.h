// Captures the module's log lines while in scope, every level enabled.
#pragma once

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
    std::vector<LogLine> m_lines;
    int m_previousMask;
};
