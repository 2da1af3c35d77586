#include "feeds/news/twitter_feed.h"


#include <exception>

#include "core/config/config_keys.h"
#include "core/feed/json_document.h"
#include "core/fetch/downloader.h"
#include "platform/clock.h"
#include "platform/file_root.h"
#include "util/text_clean.h"

namespace {
// A member's text (strings, numbers and booleans as written; null as ""), else
// the default: only a missing member shows the default.
std::string memberText(JsonValue object, const char* name, const std::string& defaultValue) {
    if (!object.isObject() || !object.isMember(name)) return defaultValue;
    const JsonValue value = object[name];
    if (value.isNull()) return "";
    if (value.isString() || value.isNumeric() || value.isBool()) return value.asString();
    return defaultValue;
}
}  // namespace

TwitterFeedImpl::TwitterFeedImpl() { logLine(2, "Twitter: TwitterFeedImpl entering constructor"); }

TwitterFeedImpl::~TwitterFeedImpl() { logLine(2, "Twitter: TwitterFeedImpl entering destructor"); }

void TwitterFeedImpl::readModuleParmMap() {
    m_pollInterval = readIntKey(moduleParams(), "twitter_poll_interval");
    m_gate = DownloadGate(m_pollInterval);
    logLine(2, "Twitter: Twitter poll interval set to: ", m_pollInterval);
}

std::vector<std::string> TwitterFeedImpl::scriptCommand(const std::string& curlParams) {
    return {rootedPath(kTwitterScriptPath), curlParams};
}

int TwitterFeedImpl::downloadData(std::string curlParams) {
    std::string offline;
    if (readOfflineFile(kTwitterOfflinePath, offline, 8,
                        std::string("Twitter: downloadData - offline file ") + kTwitterOfflinePath +
                            " used instead of live data.")) {
        m_data = offline;
        m_dataFetchedAt = wallClockSeconds();
    } else {
        const std::vector<std::string> command = scriptCommand(curlParams);
        logLine(4, "Twitter: downloadData():  ", shellQuote(command[0]), " ", shellQuote(maskCurlParams(command[1])));
        if (m_gate.isDue()) {
            m_data = downloader().run(command, "", downloader().limits().maxDownloadBytes, command[0]).output;
            m_dataFetchedAt = wallClockSeconds();
            m_gate.markDownloaded();
        }
    }
    try {
        return parse(m_data);
    } catch (const std::exception& e) {
        logLine(8, "Twitter: downloadData() parsing thrown an exceprion ", e.what());
    }
    return 0;
}

int TwitterFeedImpl::parse(const std::string& text) {
    logLine(2, "Twitter: FeedImpl::parse - processing: ", text.size(), " bytes.");
    std::string errors;
    const JsonDocument document = jsonDocumentOf(text, errors, downloader().limits().maxJsonValues);
    const JsonValue timeline = document.root();
    if (!timeline.isArray()) {
        logLine(8, "Twitter: FeedImpl::parse - parsing failed", errorTail(errors));
        addPair("twitter_has_connection", "0");
        return 1;
    }
    logLine(2, "Twitter: FeedImpl::parse - ", "JSON parsed succesfully.");

    if (m_tweetIndex >= timeline.size()) {
        m_tweetIndex = 0;
        return 0;
    }
    const JsonValue tweet = timeline[static_cast<size_t>(m_tweetIndex)];
    if (!tweet.isObject() || !tweet.isMember("full_text") || !tweet.isMember("created_at") ||
        !tweet.isMember("user")) {
        // Passed over rather than retried: the same post stays in the timeline
        // across downloads and would otherwise stop the rotation for good.
        logLine(8, "Twitter: FeedImpl::parse - post ", m_tweetIndex,
                " lacks full_text, created_at or user; skipped");
        ++m_tweetIndex;
        return 0;
    }

    const JsonValue user = tweet["user"];
    const std::string userId = memberText(user, "id_str", "UserIdStr");
    const std::string userName = memberText(user, "name", "UserName");
    const std::string screenName = memberText(user, "screen_name", "UserScreen Name");
    const std::string location = memberText(user, "location", "UserLocation");
    const std::string description = memberText(user, "description", "UserDescription");
    std::string fullText = memberText(tweet, "full_text", "NotFound");
    const std::string createdAt = memberText(tweet, "created_at", "NotFound");
    ++m_tweetIndex;

    fullText = decodeHtmlEntities(fullText);
    removeURLs(fullText);
    replaceLineFeeds(fullText);
    wordWrap(fullText, kTweetWrapWidth);

    addPair("tweet_user_id", userId);
    addPair("tweet_user_name", userName);
    addPair("tweet_user_screen_name", screenName);
    addPair("tweet_user_location", location);
    addPair("tweet_user_description", description);
    addPair("tweet_text", fullText);
    addPair("tweet_created_at", createdAt);
    addPair("twitter_has_connection", "1");
    // Posts rotate from the timeline fetched last: as old as that fetch.
    markUsableData(m_dataFetchedAt);
    logLine(2, "Twitter: FeedImpl::parse - values", ", user id: ", userId, ", user name: ", userName,
            ", user screen name: ", screenName, ", location: ", location, ", description: ", description,
            ", text: ", fullText, ", created: ", createdAt);
    return 1;
}
