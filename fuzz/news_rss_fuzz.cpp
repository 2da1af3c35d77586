// RSS channel parser on arbitrary bytes: no crash, leak or sanitizer report.
#include <cstddef>
#include <cstdint>
#include <string>

#include "feeds/news/rss_feed.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RssFeedImpl feed("unused");
    feed.parse(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
