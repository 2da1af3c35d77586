// Fuzzes the TfE trip parser: any bytes in, arrivals or a caught jsoncpp error out.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "feeds/opendata/open_data_tfe_feed.h"
#include "fuzz/quiet_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (bool timingPointsOnly : {true, false}) {
        try {
            OpenDataArrivals result = OpenDataTFE_FeedImpl::parseTrip(text, timingPointsOnly);
            OpenDataTFE_FeedImpl feed("http://127.0.0.1:1/");
            feed.addArrivalPairs(result);
        } catch (const std::exception&) {
            // The feed's cycle catches these and reports a parse failure.
        }
    }
    return 0;
}
