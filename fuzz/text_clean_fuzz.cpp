// removeHTMLtags then removeURLs on arbitrary text: terminates and only removes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "util/text_clean.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;  // the patterns' dot-star makes long inputs slow, not wrong
    std::string text(reinterpret_cast<const char*>(data), size);
    removeHTMLtags(text);
    removeURLs(text);
    if (text.size() > size) __builtin_trap();
    return 0;
}
