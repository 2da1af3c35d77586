#include "feeds/opendata/tfl_line_status_feed.h"

#include <algorithm>
#include <iterator>

#include "core/config/config_keys.h"
#include "core/fetch/downloader.h"
#include "core/feed/symbol_list.h"
#include "feeds/opendata/open_data_feed.h"
#include "feeds/opendata/open_data_tfl_feed.h"
#include "platform/debug.h"

namespace {
// A status without a severity is taken as the provider's mildest disruption level.
constexpr int32_t kMissingSeverity = 1;
// No mode has more than a few dozen lines; a longer reply is cut here rather
// than costing a record per element.
constexpr size_t kMaxLinesPerReply = 100;

std::string memberString(JsonValue object, const char* key) {
    return object.isMember(key) ? object[key].asString() : "";
}

// <0, 0, >0 as a sorts before, with or after b on one column.
int compareOn(const std::string& column, const LineStatusRecord& a, const LineStatusRecord& b) {
    if (column == "name") return a.name.compare(b.name);
    if (column == "mode") return a.modeName.compare(b.modeName);
    if (column == "severity") return a.severity < b.severity ? -1 : (a.severity > b.severity ? 1 : 0);
    return 0;
}

LineStatusRecord readLine(JsonValue line) {
    LineStatusRecord record;
    record.id = memberString(line, "id");
    record.name = memberString(line, "name");
    record.modeName = memberString(line, "modeName");
    record.lineColour = tflLineColour(record.id);
    record.textColour = tflTextColour(record.id);
    if (!line.isMember("lineStatuses")) return record;
    for (const auto& status : line["lineStatuses"]) {
        int32_t severity = status.isMember("statusSeverity") ? status["statusSeverity"].asInt() : kMissingSeverity;
        std::string description = memberString(status, "statusSeverityDescription");
        std::string reason = memberString(status, "reason");
        record.severities.push_back(severity);
        record.severityDescriptions.push_back(description);
        record.reasons.push_back(reason);
        // On equal severities the first status stays.
        if (record.severities.size() == 1 || severity < record.severity) {
            record.severity = severity;
            record.severityDescription = description;
            record.reason = reason;
        }
    }
    return record;
}
}  // namespace

const TFL_Line_Status_FeedImpl::ModeKey TFL_Line_Status_FeedImpl::kModeKeys[kModeEnd] = {
    {kTube, "the tube", "tfl_line_status_tube_url"},
    {kElizabeth, "the Elizabeth line", "tfl_line_status_elizabeth_url"},
    {kOverground, "the overground", "tfl_line_status_overground_url"},
    {kDlr, "the DLR", "tfl_line_status_dlr_url"},
    {kTram, "trams", "tfl_line_status_tram_url"},
};

TFL_Line_Status_FeedImpl::TFL_Line_Status_FeedImpl(const std::string& tubeUrl, const std::string& overgroundUrl,
                                                   const std::string& elizabethUrl, const std::string& dlrUrl,
                                                   const std::string& tramUrl)
    : m_urls{tubeUrl, elizabethUrl, overgroundUrl, dlrUrl, tramUrl} {
    logLine(2, "TFL_Line_Status_FeedImpl:TFL_Line_Status_FeedImpl");
}

void TFL_Line_Status_FeedImpl::readModuleParmMap() {
    const Json::Value& params = moduleParams();
    m_appId = readStringKey(params, "tfl_line_status_app_id");
    m_appKey = readStringKey(params, "tfl_line_status_app_key");
    m_linesMask = static_cast<uint32_t>(readIntKey(params, "tfl_line_status_lines"));
    m_sortColumn1 = readStringKey(params, "tfl_line_status_sort_column_1");
    m_sortColumn2 = readStringKey(params, "tfl_line_status_sort_column_2");
    m_sortColumn3 = readStringKey(params, "tfl_line_status_sort_column_3");
}

CurlCommand TFL_Line_Status_FeedImpl::createCurlCommand(int index, const std::string& curlParams,
                                                        std::string& logText) const {
    if (index == kModeEnd) logLine(16, "TFL_Line_Status_FeedImpl::createCurlCommand: error - end marker found");
    const bool known = index >= kTube && index < kModeEnd;
    std::string url = known ? m_urls[index] : "";
    if (url.empty()) {
        logText.clear();
        return CurlCommand("");
    }
    url = addUrlParameter(addUrlParameter(url, "app_id", m_appId), "app_key", m_appKey);
    CurlCommand command = downloader().command(curlParams);
    command.carriesCredential().url(url, kModeKeys[index].urlKey);
    logText = command.logText();
    logLine(2, "TFL line status download command: ", logText);
    return command;
}

bool TFL_Line_Status_FeedImpl::parse(const std::string& data, std::vector<LineStatusRecord>& lines,
                                     int32_t& maxStatuses, size_t maxJsonValues) {
    logLine(2, "TFL_Line_Status_FeedImpl::parse - processing: ", data.size(), " bytes.");
    JsonDocument document;
    if (!opendata::readJsonArray(data, document, "TFL_Line_Status_FeedImpl::parse: Parsing failed: ",
                                 "TFL_Line_Status_FeedImpl::parse: JSON root isn't an array.", maxJsonValues))
        return false;
    const JsonValue root = document.root();
    std::vector<LineStatusRecord> parsed;
    int32_t largest = maxStatuses;
    try {
        for (const auto& line : root) {
            // null and {} name no line: they would only add blank entries.
            if (line.isNull() || (line.isObject() && line.empty())) continue;
            if (parsed.size() == kMaxLinesPerReply) {
                logLine(8, "TFL_Line_Status_FeedImpl::parse: more than ", kMaxLinesPerReply,
                        " lines in one reply; the rest are left out");
                break;
            }
            parsed.push_back(readLine(line));
            int32_t statuses = static_cast<int32_t>(parsed.back().severities.size());
            if (largest < statuses) {
                logLine(2, "TFL_Line_Status_FeedImpl::parse: setting max severity array size to ", statuses);
                largest = statuses;
            }
        }
    } catch (const std::exception& e) {
        logLine(8, "TFL_Line_Status_FeedImpl::parse: exception: ", e.what());
        return false;
    }
    lines.insert(lines.end(), std::make_move_iterator(parsed.begin()), std::make_move_iterator(parsed.end()));
    maxStatuses = largest;
    return true;
}

void TFL_Line_Status_FeedImpl::sortLines(std::vector<LineStatusRecord>& lines, const std::string& column1,
                                         const std::string& column2, const std::string& column3) {
    std::sort(lines.begin(), lines.end(), [&](const LineStatusRecord& a, const LineStatusRecord& b) {
        for (const std::string* column : {&column1, &column2, &column3}) {
            int order = compareOn(*column, a, b);
            if (order != 0) return order < 0;
        }
        return false;
    });
}

int TFL_Line_Status_FeedImpl::downloadData(std::string curlParams) {
    std::vector<LineStatusRecord> previous;
    previous.swap(m_lines);
    m_maxSeverityArraySize = 0;

    bool anyParsed = false;
    for (int index = kTube; index < kModeEnd; ++index) {
        if ((m_linesMask & (1u << index)) == 0) continue;
        std::string logText;
        CurlCommand command = createCurlCommand(index, curlParams, logText);
        if (logText.empty()) {
            logLine(8, "TFL_Line_Status_FeedImpl::downloadData: no URL configured for mode index ", index);
            continue;
        }
        if (parse(downloader().fetch(command), m_lines, m_maxSeverityArraySize, downloader().limits().maxJsonValues)) anyParsed = true;
    }

    if (anyParsed) {
        addPair("tfl_line_status_has_connection", "1");
        markUsableData();
    } else {
        m_lines.swap(previous);
        addPair("tfl_line_status_has_connection", "0");
    }
    addPair("tfl_line_status_has_data", m_lines.empty() ? "0" : "1");
    sortLines(m_lines, m_sortColumn1, m_sortColumn2, m_sortColumn3);
    addLinePairs();
    return anyParsed ? 1 : 0;
}

void TFL_Line_Status_FeedImpl::addLinePairs() {
    ListBuilder ids, names, modes, lineColours, textColours, severity, description, reason, severities, descriptions,
        reasons;
    for (const auto& line : m_lines) {
        ids.add(line.id);
        names.add(line.name);
        modes.add(line.modeName);
        lineColours.add(line.lineColour);
        textColours.add(line.textColour);
        severity.addBare(std::to_string(line.severity));
        description.add(line.severityDescription);
        reason.add(line.reason);
        std::vector<std::string> severityTexts;
        for (int32_t s : line.severities) severityTexts.push_back(std::to_string(s));
        severities.addNested(severityTexts, false);
        descriptions.addNested(line.severityDescriptions);
        reasons.addNested(line.reasons);
    }
    addPair("tfl_line_status_id_array", ids.str());
    addPair("tfl_line_status_name_array", names.str());
    addPair("tfl_line_status_mode_name_array", modes.str());
    addPair("tfl_line_status_line_colour_array", lineColours.str());
    addPair("tfl_line_status_text_colour_array", textColours.str());
    addPair("tfl_line_status_status_severity_array", severity.str());
    addPair("tfl_line_status_status_severity_description_array", description.str());
    addPair("tfl_line_status_reason_array", reason.str());
    addPair("tfl_line_status_status_severity_array_array", severities.str());
    addPair("tfl_line_status_status_severity_description_array_array", descriptions.str());
    addPair("tfl_line_status_reason_array_array", reasons.str());
}
