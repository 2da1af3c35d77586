#include "core/fetch/download_gate.h"

#include "platform/clock.h"

bool DownloadGate::isDue() const { return !m_downloaded || monotonicSeconds() - m_last > m_interval; }

void DownloadGate::markDownloaded() {
    m_last = monotonicSeconds();
    m_downloaded = true;
}
