// Departure board parser and export on arbitrary bytes, with a minutes
// window so the skip test reads every departure time.
#include <cstddef>
#include <cstdint>
#include <string>

#include "feeds/rail_siri/darwin_feed.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DarwinFeedImpl feed;
    feed.symbolUpdate("crs_xmins", 0, "10");
    if (feed.parse(std::string(reinterpret_cast<const char*>(data), size))) feed.prepareExportsymbols();
    return 0;
}
