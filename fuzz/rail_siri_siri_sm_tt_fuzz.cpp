// Fuzzes the SIRI terminus-time parse with arbitrary answer text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "feeds/rail_siri/siri_sm_tt_feed.h"
#include "fuzz/quiet_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    // The vehicle of the seed answers, so matching visits are reached.
    SIRI_SM_TT_FeedImpl::parse(SIRI_SM_Request::makeResult(text), "FBRI-1234");
    return 0;
}
