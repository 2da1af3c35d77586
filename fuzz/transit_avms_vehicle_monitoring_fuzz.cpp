// Fuzzes the AVMS vehicle monitoring delivery parser with arbitrary file text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "feeds/transit/avms.h"
#include "platform/debug.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    CDebug::setSink([](int, const std::string&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    SymbolPairs pairs;
    std::string errors;
    AVMS_FeedImpl::parseVehicleMonitoring(text, pairs, errors);
    AVMS_FeedImpl::timeText(text);
    return 0;
}
