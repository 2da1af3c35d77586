// wordWrap and replaceLineFeeds: any width, any text; lengths are kept.
#include <cstddef>
#include <cstdint>
#include <string>

#include "util/text_clean.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    int width = static_cast<int8_t>(data[0]);
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string wrapped = text;
    wordWrap(wrapped, width);
    // A break replaces exactly one whitespace character by a line feed.
    if (wrapped.size() != text.size()) __builtin_trap();
    replaceLineFeeds(wrapped);
    if (wrapped.find('\n') != std::string::npos) __builtin_trap();
    return 0;
}
