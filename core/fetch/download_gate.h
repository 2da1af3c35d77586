// Rate limit for feeds that download less often than the module updates.
// "Never downloaded" always counts as due, so a freshly booted vehicle
// downloads on its first cycle whatever its uptime.
#pragma once

#include <cstdint>

class DownloadGate {
public:
    explicit DownloadGate(int64_t intervalSeconds) : m_interval(intervalSeconds) {}
    // True when never downloaded or when more than the interval has passed
    // on the monotonic clock since markDownloaded().
    bool isDue() const;
    void markDownloaded();
    void reset() { m_downloaded = false; }
    int64_t lastDownload() const { return m_last; }

private:
    int64_t m_interval;
    int64_t m_last = 0;
    bool m_downloaded = false;
};
