// News headlines: one RSS 2.0 channel per update cycle, its descriptive
// fields and the first items' titles and descriptions as symbols.
#pragma once

#include <rapidxml/rapidxml.hpp>

#include <string>
#include <vector>

#include "core/feed/data_feed.h"

constexpr const char* kRssOfflinePath = "/vorn/media/offline/rss.xml";

class RssFeedImpl : public DataFeedImpl {
public:
    explicit RssFeedImpl(const std::string& url);
    ~RssFeedImpl() override;

    // Reads "rss_item_count" (default 10), "rss_word_wrap_title" and
    // "rss_word_wrap_description" (default 0: no wrapping).
    void readModuleParmMap() override;
    // The offline file when present, otherwise curl of the channel URL; then parse.
    int downloadData(std::string curlParams) override;
    // Parses one RSS document and adds its pairs: the channel fields and the
    // two item lists when the document holds rss/channel, then the two flags.
    // Returns 1 when the text parsed as XML, 0 otherwise. Never throws.
    int parse(const std::string& text);

private:
    std::string m_url;
    std::string m_data;
    // Reused every cycle: the DOM points into the buffer.
    rapidxml::xml_document<> m_document;
    std::vector<char> m_buffer;
    int m_itemCount = 10;
    int m_wordWrapTitle = 0;
    int m_wordWrapDescription = 0;
};

class RssFeed : public DataFeed {
public:
    explicit RssFeed(const std::string& url) : DataFeed(std::make_unique<RssFeedImpl>(url)) {}
};
