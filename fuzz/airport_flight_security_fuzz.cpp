// Fuzzes the security waiting-time parser with arbitrary reply text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "feeds/airport/flight_security_feed.h"
#include "fuzz/quiet_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    parseFlightSecurity(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
