// Timeline parser on arbitrary bytes, over a few cycles so the rotation
// index meets arrays of every size.
#include <cstddef>
#include <cstdint>
#include <string>

#include "feeds/news/twitter_feed.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TwitterFeedImpl feed;
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (int cycle = 0; cycle < 4; ++cycle) feed.parse(text);
    return 0;
}
