// One post at a time from an account's timeline: a vehicle script prints the
// timeline as a JSON array, downloaded at most once per poll interval; every
// update cycle shows the next post, so the displays rotate through them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/feed/data_feed.h"
#include "core/fetch/download_gate.h"

constexpr const char* kTwitterOfflinePath = "/vorn/media/offline/twitter.json";
constexpr const char* kTwitterScriptPath = "/vorn/twitter/do_curl.sh";
// Posts are wrapped to the width of the displays' text area.
constexpr int kTweetWrapWidth = 36;

class TwitterFeedImpl : public DataFeedImpl {
public:
    TwitterFeedImpl();
    ~TwitterFeedImpl() override;

    // Reads "twitter_poll_interval" (seconds, default 300).
    void readModuleParmMap() override;
    // The offline file when present, otherwise the script when the poll
    // interval has passed (or nothing was downloaded yet); then parse.
    int downloadData(std::string curlParams) override;
    // Shows the post at the rotation index: adds its eight pairs and moves
    // the index on (returns 1). Text that is not a JSON array adds
    // twitter_has_connection "0" (returns 1). Past the last post the index
    // goes back to 0 and nothing is added (returns 0); so does a post lacking
    // full_text, created_at or user, which is then passed over. Never throws.
    int parse(const std::string& text);

    // The shell command that runs the script with the curl options as its one argument.
    static std::vector<std::string> scriptCommand(const std::string& curlParams);

private:
    std::string m_data;
    DownloadGate m_gate{300};
    int64_t m_dataFetchedAt = 0;  // when m_data was fetched, POSIX seconds
    size_t m_tweetIndex = 0;
    int m_pollInterval = 300;
};

class TwitterFeed : public DataFeed {
public:
    TwitterFeed() : DataFeed(std::make_unique<TwitterFeedImpl>()) {}
};
