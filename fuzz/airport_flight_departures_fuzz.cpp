// Fuzzes the airport departures parser with arbitrary reply text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "feeds/airport/flight_departures_feed.h"
#include "fuzz/quiet_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    // The row limit comes from the first byte so that small and unlimited boards are both reached.
    int maxRows = size > 0 ? data[0] % 8 : 30;
    parseFlightDepartures(text, maxRows);
    return 0;
}
