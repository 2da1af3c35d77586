#include "feeds/transit/transit_cloud_feed.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/config/config_keys.h"
#include "core/feed/file_write.h"
#include "core/feed/json_document.h"
#include "core/feed/json_value_text.h"
#include "core/fetch/downloader.h"
#include "core/feed/symbol_list.h"
#include "core/fetch/url_text.h"
#include "platform/file_root.h"

namespace {

// A section object; missing when the document has none (or it is not an object).
JsonValue section(JsonValue root, const char* key) {
    const JsonValue found = jsonMember(root, key);
    return found.isObject() ? found : JsonValue();
}

// A member's text, "" when absent or not a scalar.
std::string memberText(JsonValue obj, const char* key) {
    std::string text;
    const JsonValue member = jsonMember(obj, key);
    if (member) jsonScalarText(member, text);
    return text;
}

// The member's text as the item's element of list; an item without it (or
// with a structured value) leaves an empty place, so that lists built from
// the same items stay aligned.
void addMemberText(JsonValue item, const char* key, ListBuilder& list) {
    const JsonValue member = jsonMember(item, key);
    std::string text;
    if (member && jsonScalarText(member, text))
        list.add(text);
    else
        list.addMissing();
}

void exportHeader(JsonValue sec, const std::string& prefix, SymbolPairs& pairs) {
    static const char* const kKeys[][2] = {
        {"Count", "count"},     {"StatusCode", "status_code"}, {"Heading", "heading"},
        {"Display", "display"}, {"Message", "message"},        {"DestinationName", "destination_name"},
    };
    for (const auto& key : kKeys) pairs.emplace_back(prefix + key[1], memberText(sec, key[0]));
}

// "Content" as a non-empty array, or missing.
JsonValue contentItems(JsonValue sec) {
    const JsonValue content = jsonMember(sec, "Content");
    return content.isArray() && !content.empty() ? content : JsonValue();
}

// Live departures and train destinations share one layout. Each departure's
// "Times" becomes one nested element holding its quoted times; a departure
// without times leaves an empty place like any other missing member.
void exportDepartures(JsonValue sec, const std::string& prefix, SymbolPairs& pairs) {
    if (jsonMember(sec, "Content")) {
        static const char* const kMembers[] = {"Mode", "Line", "Dest", "Dir", "Stop"};
        ListBuilder lists[5];
        ListBuilder times;
        if (const JsonValue items = contentItems(sec)) {
            for (const JsonValue item : items) {
                for (int i = 0; i < 5; ++i) addMemberText(item, kMembers[i], lists[i]);
                const JsonValue itemTimes = jsonMember(item, "Times");
                if (itemTimes && itemTimes.isArray() && !itemTimes.empty()) {
                    std::vector<std::string> inner;
                    for (const JsonValue time : itemTimes) {
                        std::string text;
                        if (jsonScalarText(time, text)) inner.push_back(text);
                    }
                    times.addNested(inner);
                } else {
                    times.addMissing();
                }
            }
        }
        static const char* const kSymbols[] = {"mode", "line", "dest", "dir", "stop"};
        for (int i = 0; i < 5; ++i) pairs.emplace_back(prefix + kSymbols[i], lists[i].str());
        pairs.emplace_back(prefix + "times", times.str());
    }
    exportHeader(sec, prefix, pairs);
}

void exportMessages(JsonValue sec, SymbolPairs& pairs) {
    if (jsonMember(sec, "Content")) {
        ListBuilder headings, details;
        if (const JsonValue items = contentItems(sec)) {
            for (const JsonValue item : items) {
                addMemberText(item, "Heading", headings);
                addMemberText(item, "Detail", details);
            }
        }
        pairs.emplace_back("tco_om_headings", headings.str());
        pairs.emplace_back("tco_om_details", details.str());
    }
    exportHeader(sec, "tco_om_", pairs);
}

void exportFollowingStops(JsonValue sec, SymbolPairs& pairs) {
    // An empty stop list is exported as empty arrays: the stops of an
    // earlier document must not stay on the displays.
    if (jsonMember(sec, "Content")) {
        ListBuilder names, times, requested, notes;
        if (const JsonValue items = contentItems(sec)) {
            for (const JsonValue item : items) {
                addMemberText(item, "Name", names);
                addMemberText(item, "Time", times);
                const JsonValue flag = jsonMember(item, "Requested");
                if (flag && flag.isBool())
                    requested.add(flag.asBool() ? "1" : "0");
                else
                    requested.addMissing();
                addMemberText(item, "Note", notes);
            }
        }
        pairs.emplace_back("tco_fs_name", names.str());
        pairs.emplace_back("tco_fs_time", times.str());
        pairs.emplace_back("tco_fs_requested", requested.str());
        pairs.emplace_back("tco_fs_note", notes.str());
    }
    std::string text;
    const JsonValue eta = jsonMember(sec, "ETA");
    if (eta && jsonScalarText(eta, text)) pairs.emplace_back("tco_fs_eta", text);
    const JsonValue etaMinutes = jsonMember(sec, "ETAMinutes");
    if (etaMinutes && jsonScalarText(etaMinutes, text)) pairs.emplace_back("tco_fs_eta_minutes", text);
    exportHeader(sec, "tco_fs_", pairs);
}


}  // namespace

TransitCloud_Onboard_FeedImpl::TransitCloud_Onboard_FeedImpl(const std::string& serviceUrl)
    : m_serviceUrl(serviceUrl) {}

void TransitCloud_Onboard_FeedImpl::readModuleParmMap() {
    const Json::Value& params = moduleParams();
    m_testFeedFile = readStringKey(params, "tco_test_feed_file");
    m_savePath = readStringKey(params, "tco_save_download_path");
}

std::vector<std::string> TransitCloud_Onboard_FeedImpl::filesWritten() const {
    if (m_savePath.empty()) return {};
    return {m_savePath};
}

CurlCommand TransitCloud_Onboard_FeedImpl::downloadCommand(const std::string& curlParams,
                                                           const std::string& vehicleId) const {
    // -k: the on-board service presents a certificate no public authority signs.
    CurlCommand cmd = downloader().command(curlParams);
    cmd.arg("-k");
    cmd.url(m_serviceUrl + "/" + percentEncode(vehicleId), "tco_url");
    logLine(2, "TransitCloud_Onboard download command: ", cmd.logText());
    return cmd;
}

void TransitCloud_Onboard_FeedImpl::save(const std::string& document) const {
    if (!replaceFileContent(m_savePath, document))
        logLine(8, "TransitCloud_Onboard_FeedImpl::downloadData: cannot save to ", m_savePath, ": ",
                std::strerror(errno));
}

bool TransitCloud_Onboard_FeedImpl::parseDocument(const std::string& document, SymbolPairs& pairs,
                                                  std::string& errors, size_t maxJsonValues) {
    JsonDocument parsed;
    if (!readJsonDocument(document, parsed, errors, maxJsonValues)) return false;
    const JsonValue root = parsed.root();
    if (const JsonValue ld = section(root, "LD")) exportDepartures(ld, "tco_ld_", pairs);
    if (const JsonValue td = section(root, "TD")) {
        pairs.emplace_back("tco_has_train_destinations", "1");
        exportDepartures(td, "tco_td_", pairs);
    } else {
        pairs.emplace_back("tco_has_train_destinations", "0");
    }
    if (const JsonValue om = section(root, "OM")) exportMessages(om, pairs);
    if (const JsonValue fs = section(root, "FS")) {
        pairs.emplace_back("tco_has_following_stops", "1");
        exportFollowingStops(fs, pairs);
    } else {
        pairs.emplace_back("tco_has_following_stops", "0");
    }
    return true;
}

bool TransitCloud_Onboard_FeedImpl::parse(const std::string& document) {
    logLine(1, "TransitCloud_Onboard_FeedImpl::parse: ", document);
    logLine(1, "TransitCloud_Onboard_FeedImpl::parse - processing: ", document.size(), " bytes.");
    SymbolPairs pairs;
    std::string errors;
    if (!parseDocument(document, pairs, errors, downloader().limits().maxJsonValues)) {
        logLine(8, "TransitCloud_Onboard_FeedImpl:  Parsing failed: ", errors);
        return false;
    }
    for (const auto& pair : pairs) addPair(pair.first, pair.second);
    return true;
}

int TransitCloud_Onboard_FeedImpl::downloadData(std::string curlParams) {
    std::string document;
    const std::string& file = m_testFeedFile;
    if (!file.empty()) {
        std::string content = readFileToString(file);
        if (content.size() > kTransitCloudMaxUnusableBytes) {
            logLine(2, "TransitCloud_Onboard_FeedImpl::downloadData: using offline data file ", file);
            document = std::move(content);
        }
    }
    if (document.empty()) {
        if (m_serviceUrl.empty()) {
            logLine(8, "TransitCloud_Onboard_FeedImpl::downloadData: no service URL configured");
        } else {
            std::string vehicleId = readVehicleId(0);
            if (vehicleId.empty()) logLine(16, "TransitCloud_Onboard_FeedImpl::downloadData: no vehicle id");
            document = downloader().fetch(downloadCommand(curlParams, vehicleId));
        }
    }
    bool connection = document.size() > kTransitCloudMaxUnusableBytes;
    bool data = false;
    if (connection) {
        if (!m_savePath.empty()) save(document);
        data = parse(document);
    } else {
        logLine(2, "TransitCloud_Onboard_FeedImpl::downloadData: no feed downloaded");
    }
    addPair("tco_has_connection", connection ? "1" : "0");
    if (data) markUsableData();
    addPair("tco_has_data", data ? "1" : "0");
    return connection ? 1 : 0;
}
