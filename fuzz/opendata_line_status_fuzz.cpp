// Fuzzes the TfL line-status parser and the sort over its records.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "feeds/opendata/tfl_line_status_feed.h"
#include "fuzz/quiet_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<LineStatusRecord> lines;
    int32_t largest = 0;
    if (TFL_Line_Status_FeedImpl::parse(text, lines, largest)) {
        TFL_Line_Status_FeedImpl::sortLines(lines, "severity", "mode", "name");
        TFL_Line_Status_FeedImpl::sortLines(lines, "mode", "name", "");
    }
    return 0;
}
