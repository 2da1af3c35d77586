// convert_iso8601_local_to_posix on arbitrary text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "util/time_convert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    volatile int64_t t = convert_iso8601_local_to_posix(text);
    (void)t;
    return 0;
}
