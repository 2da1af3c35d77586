#include "feeds/news/rss_feed.h"

#include "core/config/config_keys.h"
#include "core/fetch/downloader.h"
#include "core/feed/symbol_list.h"
#include "core/feed/xml_dom.h"
#include "util/text_clean.h"

RssFeedImpl::RssFeedImpl(const std::string& url) : m_url(url) {
    logLine(2, "RSS: RssFeedImpl entering constructor");
}

RssFeedImpl::~RssFeedImpl() { logLine(2, "RSS: RssFeedImpl entering destructor"); }

void RssFeedImpl::readModuleParmMap() {
    m_itemCount = readIntKey(moduleParams(), "rss_item_count");
    m_wordWrapTitle = readIntKey(moduleParams(), "rss_word_wrap_title");
    m_wordWrapDescription = readIntKey(moduleParams(), "rss_word_wrap_description");
    logLine(2, "RssFeedImpl::readModuleParmMap: item count: ", m_itemCount,
            ", word wrap title: ", m_wordWrapTitle, ", word wrap description: ", m_wordWrapDescription);
}

int RssFeedImpl::downloadData(std::string curlParams) {
    if (!readOfflineFile(kRssOfflinePath, m_data, 4, "RSS:downloadData - Offline test file used. ")) {
        CurlCommand command = downloader().command(curlParams);
        command.url(m_url, "rss_url");
        logLine(4, "RSS:downloadData - command: ", command.logText());
        m_data = downloader().fetch(command);
        logLine(2, "RSS: Retrieved data; ", m_data.size());
    }
    return parse(m_data);
}

int RssFeedImpl::parse(const std::string& text) {
    logLine(2, "RSS: RssFeedImpl::parse - processing: ", text.size(), " bytes.");
    std::string error;
    int hasConnection = 1;
    if (!parseXmlInPlace(m_document, m_buffer, text, error)) {
        logLine(8, "RSS: RssFeedImpl::parse - parsing failed (", error, ")");
        hasConnection = 0;
    }

    rapidxml::xml_node<>* channel = nullptr;
    rapidxml::xml_node<>* rss = m_document.first_node("rss");
    if (rss) {
        logLine(2, "RSS: rss node found");
        if (hasConnection) channel = rss->first_node("channel");
        if (channel) logLine(2, "RSS: channel found");
    }
    if (!channel) {
        addPair("rss_has_connection", "0");
        addPair("rss_has_data", "0");
        return hasConnection;
    }

    const std::string title = xmlChildText(channel, "title");
    const std::string description = xmlChildText(channel, "description");
    const std::string copyright = xmlChildText(channel, "copyright");
    const std::string category = xmlChildText(channel, "category");
    const std::string link = xmlChildText(channel, "link");
    logLine(2, "RSS: channel title: ", title);
    logLine(2, "RSS: channel description: ", description);
    logLine(2, "RSS: channel copyright: ", copyright);
    logLine(2, "RSS: channel category: ", category);
    logLine(2, "RSS: channel link: ", link);

    // Only "item" elements are headlines: channels put other elements (such
    // as atom:link) between or after them, which must not show as blank items.
    ListBuilder titles;
    ListBuilder descriptions;
    int taken = 0;
    for (rapidxml::xml_node<>* item = channel->first_node("item"); item && taken < m_itemCount;
         item = item->next_sibling("item"), ++taken) {
        logLine(2, "RSS: item found");
        std::string itemTitle = xmlChildText(item, "title");
        logLine(2, "RSS: item title: ", itemTitle);
        std::string itemDescription = xmlChildText(item, "description");
        logLine(2, "RSS: item description: ", itemDescription);
        itemTitle = listSafeText(itemTitle);
        itemDescription = listSafeText(itemDescription);
        if (m_wordWrapTitle > 0) wordWrap(itemTitle, m_wordWrapTitle);
        if (m_wordWrapDescription > 0) wordWrap(itemDescription, m_wordWrapDescription);
        logLine(2, "RSS: RssFeedImpl::parse - RSS: ", itemTitle, " - ", itemDescription);
        titles.add(itemTitle);
        descriptions.add(itemDescription);
    }

    addPair("rss_title", title);
    addPair("rss_description", description);
    addPair("rss_copyright", copyright);
    addPair("rss_category", category);
    addPair("rss_link", link);
    addPair("rss_item_titles", titles.str());
    addPair("rss_item_descriptions", descriptions.str());
    addPair("rss_has_connection", "1");
    markUsableData();
    addPair("rss_has_data", taken > 0 ? "1" : "0");
    return hasConnection;
}
