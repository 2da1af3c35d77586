// Fuzzes the Azinq departures parser with arbitrary reply text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "feeds/airport/flight_departures_azinq_feed.h"
#include "fuzz/quiet_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    int maxRows = size > 0 ? data[0] % 8 : 30;
    bool showCancelled = size > 1 && (data[1] & 1);
    parseAzinqDepartures(text, maxRows, showCancelled);
    azinqFlightStatusText(text);
    azinqGateActionText(text);
    return 0;
}
