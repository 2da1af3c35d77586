// Service status of TfL lines for up to five modes (tube, Elizabeth line,
// overground, DLR, tram), sorted by configurable keys and exported as
// parallel arrays with each line's display colours.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/feed/data_feed.h"
#include "core/feed/json_document.h"
#include "core/fetch/downloader.h"

struct LineStatusRecord {
    std::string id;
    std::string name;
    std::string modeName;
    std::string lineColour;
    std::string textColour;
    // The most severe (lowest) status; -1 when the line reports none.
    int32_t severity = -1;
    std::string severityDescription;
    std::string reason;
    std::vector<int32_t> severities;
    std::vector<std::string> severityDescriptions;
    std::vector<std::string> reasons;
};

class TFL_Line_Status_FeedImpl : public DataFeedImpl {
public:
    // Mode indexes of the request mask: bit (1 << index).
    enum Mode { kTube = 0, kElizabeth, kOverground, kDlr, kTram, kModeEnd };
    struct ModeKey {
        Mode mode;
        const char* name;    // as a sentence names it
        const char* urlKey;  // the key of its URL
    };
    static const ModeKey kModeKeys[kModeEnd];

    TFL_Line_Status_FeedImpl(const std::string& tubeUrl, const std::string& overgroundUrl,
                             const std::string& elizabethUrl, const std::string& dlrUrl, const std::string& tramUrl);

    // One request per mode in the mask; when every request fails the
    // previous cycle's lines are exported again. Never throws.
    int downloadData(std::string curlParams) override;
    void readModuleParmMap() override;

    // The request of one mode, or an empty command text for an index past the modes.
    CurlCommand createCurlCommand(int index, const std::string& curlParams, std::string& logText) const;
    // Appends the lines of one reply (a JSON array of line objects) to lines
    // and raises maxStatuses to the largest status count. Elements that are
    // null or {} are passed over; past 100 lines the rest are left out. False,
    // with lines unchanged, when the reply is not a non-empty array of line
    // objects.
    static bool parse(const std::string& data, std::vector<LineStatusRecord>& lines, int32_t& maxStatuses,
                      size_t maxJsonValues = kDefaultJsonValueBudget);
    // Sorts lines by the three sort columns ("name", "mode", "severity"; any
    // other text compares equal), each ascending.
    static void sortLines(std::vector<LineStatusRecord>& lines, const std::string& column1, const std::string& column2,
                          const std::string& column3);

    const std::vector<LineStatusRecord>& lines() const { return m_lines; }

private:
    void addLinePairs();

    std::string m_urls[kModeEnd];  // by mode
    std::string m_appId;
    std::string m_appKey;
    uint32_t m_linesMask = 0;
    std::vector<LineStatusRecord> m_lines;
    int32_t m_maxSeverityArraySize = 0;
    std::string m_sortColumn1;
    std::string m_sortColumn2;
    std::string m_sortColumn3;
};

class TFL_Line_Status_Feed : public DataFeed {
public:
    TFL_Line_Status_Feed(const std::string& tubeUrl, const std::string& overgroundUrl, const std::string& elizabethUrl,
                         const std::string& dlrUrl, const std::string& tramUrl)
        : DataFeed(std::make_unique<TFL_Line_Status_FeedImpl>(tubeUrl, overgroundUrl, elizabethUrl, dlrUrl, tramUrl)) {}
};
