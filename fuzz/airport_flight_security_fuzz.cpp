// Fuzzes the security waiting-time parser with arbitrary reply text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "feeds/airport/flight_security_feed.h"
#include "platform/debug.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Every level is formatted, so the log lines are fuzzed too, but nothing is printed.
    CDebug::setLevelMask(CDebug::kTrace | CDebug::kProgress | CDebug::kNotable | CDebug::kWarning | CDebug::kError);
    CDebug::setSink([](int, const std::string&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    parseFlightSecurity(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
