// Fuzzes the AVMS vehicle monitoring delivery parser with arbitrary file text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "feeds/transit/avms_feed.h"
#include "fuzz/quiet_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    SymbolPairs pairs;
    std::string errors;
    AVMS_FeedImpl::parseVehicleMonitoring(text, pairs, errors);
    AVMS_FeedImpl::timeText(text);
    return 0;
}
