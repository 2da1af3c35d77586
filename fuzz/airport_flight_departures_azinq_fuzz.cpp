// Fuzzes the Azinq departures parser with arbitrary reply text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "feeds/airport/flight_departures_azinq_feed.h"
#include "platform/debug.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Every level is formatted, so the log lines are fuzzed too, but nothing is printed.
    CDebug::setLevelMask(CDebug::kTrace | CDebug::kProgress | CDebug::kNotable | CDebug::kWarning | CDebug::kError);
    CDebug::setSink([](int, const std::string&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    int maxRows = size > 0 ? data[0] % 8 : 30;
    bool showCancelled = size > 1 && (data[1] & 1);
    parseAzinqDepartures(text, maxRows, showCancelled);
    azinqFlightStatusText(text);
    azinqGateActionText(text);
    return 0;
}
