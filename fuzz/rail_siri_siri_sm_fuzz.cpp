// Fuzzes the SIRI departures parse, sort and export with arbitrary answer text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "feeds/rail_siri/siri_sm_feed.h"
#include "fuzz/quiet_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    SiriStopMonitoring monitoring;
    SIRI_SM_FeedImpl::parse(SIRI_SM_Request::makeResult(text), monitoring);
    // The sort mode and row count come from the first bytes so that every mode is reached.
    int mode = size > 0 ? data[0] % 11 : 9;
    int rows = size > 1 ? static_cast<int8_t>(data[1]) : 0;
    SIRI_SM_FeedImpl::sortVisits(monitoring.visits, mode);
    SIRI_SM_FeedImpl feed("http://fuzz.invalid/siri");
    feed.prepareExportsymbols(monitoring, rows);
    int64_t seconds = 0;
    parseSiriTime(text, seconds);
    return 0;
}
