#include "platform/debug.h"

#include <atomic>
#include <cstdio>
#include <ctime>
#include <new>

namespace {
alignas(CDebugLogStream) unsigned char g_streamStorage[sizeof(CDebugLogStream)];
std::atomic<int> g_levelMask{CDebug::kDefaultLevelMask};
std::mutex g_sinkMutex;
CDebugSink g_sink;
std::mutex g_tableMutex;

void defaultSink(int level, const std::string& line) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm parts{};
    gmtime_r(&ts.tv_sec, &parts);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &parts);
    std::fprintf(stderr, "%s.%03ldZ [%d] %s\n", stamp, ts.tv_nsec / 1000000, level, line.c_str());
    std::fflush(stderr);
}
}  // namespace

CDebugLogStream& CDebug::Main = *reinterpret_cast<CDebugLogStream*>(g_streamStorage);
int CDebugLogStreamGlobal::initCount = 0;

CDebugLogStream::CDebugLogStream() : std::ostream(nullptr) { rdbuf(&m_buffer); }

void CDebugLogStream::endLine() {
    std::string line;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        line = m_buffer.str();
        m_buffer.str(std::string());
        clear();
    }
    writeLine(m_level, line);
}

void CDebugLogStream::writeLine(int level, const std::string& text) {
    if (!CDebug::levelEnabled(level)) return;
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    if (g_sink)
        g_sink(level, text);
    else
        defaultSink(level, text);
}

void CDebug::setLevelMask(int mask) { g_levelMask = mask; }
int CDebug::levelMask() { return g_levelMask; }
bool CDebug::levelEnabled(int level) { return (g_levelMask & level) != 0; }
bool CDebug::messageLevelAboveOne() { return levelEnabled(kProgress); }

void CDebug::printTable(const std::string& text) {
    // stdio rather than std::cout: the host prints its broadcasts through
    // std::cout on the loop thread, and an ostream's state is not thread-safe.
    std::lock_guard<std::mutex> lock(g_tableMutex);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void CDebug::setSink(CDebugSink sink) {
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    g_sink = std::move(sink);
}

std::ostream& CDebug::endl(std::ostream& os) {
    if (auto* stream = dynamic_cast<CDebugLogStream*>(&os))
        stream->endLine();
    else
        os << std::endl;
    return os;
}

std::ostream& operator<<(std::ostream& os, CDebug::LevelManip m) {
    auto* stream = dynamic_cast<CDebugLogStream*>(&os);
    if (!stream) return os;
    if (stream == &CDebug::Main) {
        // A std::ostream is not safe to write from two threads (even its width is state).
        thread_local CDebugLogStream line;
        stream = &line;
    }
    stream->setLevel(m.level);
    return *stream;
}

CDebugLogStreamGlobal::CDebugLogStreamGlobal() {
    if (initCount++ == 0) CDebugLogStreamGlobalConstruct();
}

CDebugLogStreamGlobal::~CDebugLogStreamGlobal() {
    if (--initCount == 0) CDebugLogStreamGlobalDestroy();
}

void CDebugLogStreamGlobal::CDebugLogStreamGlobalConstruct() { new (g_streamStorage) CDebugLogStream(); }

void CDebugLogStreamGlobal::CDebugLogStreamGlobalDestroy() { CDebug::Main.~CDebugLogStream(); }
