// Fuzzes the R2P journeys parser against a fixed stop list (never throws).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "feeds/opendata/open_data_r2p_feed.h"
#include "fuzz/quiet_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<std::string> pointIds = {"101", "102", "103", "104", "105", "106"};
    static const std::vector<std::string> ciCodes = {"340001", "340002", "340003", "340004", "340005", ""};
    const std::string text(reinterpret_cast<const char*>(data), size);
    OpenDataArrivals result = OpenDataR2P_FeedImpl::parseJourneys(text, pointIds, ciCodes, size % 2 == 0, 3600);
    OpenDataR2P_FeedImpl feed("http://127.0.0.1:1/");
    feed.addArrivalPairs(result);
    return 0;
}
