// Fuzzes the TfL stop-point parser (never throws; a failure leaves the record empty).
#include <cstddef>
#include <cstdint>
#include <string>

#include "feeds/opendata/open_data_tfl_feed.h"
#include "fuzz/quiet_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    ConnectionsRecord record;
    bool ok = OpenDataTFL_FeedImpl::parseStopPoint(text, "490000254W", record);
    if (!ok && !(record.tubeConnections.empty() && record.modes.empty() && record.stopType.empty())) __builtin_trap();
    if (record.tubeConnections.size() != record.tubeConnectionsLineColour.size()) __builtin_trap();
    return 0;
}
