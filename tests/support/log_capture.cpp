#include "tests/support/log_capture.h"

#include "platform/debug.h"

LogCapture::LogCapture() : m_previousMask(CDebug::levelMask()) {
    CDebug::setLevelMask(CDebug::kTrace | CDebug::kProgress | CDebug::kNotable | CDebug::kWarning | CDebug::kError);
    CDebug::setSink([this](int level, const std::string& line) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.push_back({level, line});
    });
}

LogCapture::~LogCapture() {
    CDebug::setSink(nullptr);
    CDebug::setLevelMask(m_previousMask);
}

bool LogCapture::contains(const std::string& text, int level) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& line : m_lines)
        if ((level == 0 || line.level == level) && line.text.find(text) != std::string::npos) return true;
    return false;
}

std::string LogCapture::dump() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string out;
    for (const auto& line : m_lines) out += "[" + std::to_string(line.level) + "] " + line.text + "\n";
    return out;
}
