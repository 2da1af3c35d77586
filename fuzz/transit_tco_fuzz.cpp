// Fuzzes the TransitCloud document parse with arbitrary service answers.
#include <cstddef>
#include <cstdint>
#include <string>

#include "feeds/transit/transit_cloud_feed.h"
#include "fuzz/quiet_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    TransitCloud_Onboard_FeedImpl feed("");
    feed.parse(text);
    return 0;
}
