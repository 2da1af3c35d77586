// Fuzzes the TransitCloud document parse with arbitrary service answers.
#include <cstddef>
#include <cstdint>
#include <string>

#include "feeds/transit/transit_cloud.h"
#include "platform/debug.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Every level is formatted, so the log lines are fuzzed too, but nothing is printed.
    CDebug::setLevelMask(CDebug::kTrace | CDebug::kProgress | CDebug::kNotable | CDebug::kWarning | CDebug::kError);
    CDebug::setSink([](int, const std::string&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    TransitCloud_Onboard_FeedImpl feed("");
    feed.parse(text);
    return 0;
}
