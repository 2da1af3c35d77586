// Fuzzes the TfL predictions parser (the part before any request or look-up).
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "feeds/opendata/open_data_tfl_feed.h"
#include "fuzz/quiet_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        TflPredictions parsed = OpenDataTFL_FeedImpl::parsePredictions(text, size % 2 == 0, 6);
        if (parsed.stops.size() != parsed.arrivals.arrivals.size()) __builtin_trap();
        OpenDataTFL_FeedImpl feed("http://127.0.0.1:1");
        feed.addArrivalPairs(parsed.arrivals);
    } catch (const std::exception&) {
        // The feed's cycle catches these and reports a parse failure.
    }
    return 0;
}
