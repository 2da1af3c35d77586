// Fuzzes the service alerts parser with arbitrary reply text and rotation states.
#include <cstddef>
#include <cstdint>
#include <string>

#include "feeds/airport/service_alerts_feed.h"
#include "fuzz/quiet_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    // Any index the rotation may hold, including ones past the end of the list.
    int alertIndex = size > 0 ? static_cast<int8_t>(data[0]) : 0;
    parseServiceAlerts(text, alertIndex);
    parseServiceAlerts(text, alertIndex);
    return 0;
}
