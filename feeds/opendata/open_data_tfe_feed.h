// Arrivals of the vehicle's current trip from the TfE trip service.
#pragma once

#include <string>

#include "feeds/opendata/open_data_feed.h"

class OpenDataTFE_FeedImpl : public OpenDataFeedImpl {
public:
    explicit OpenDataTFE_FeedImpl(const std::string& url) : OpenDataFeedImpl(url, "open_data_tfe_url") {}

    OpenDataArrivals parse(const std::string& data) override {
        return parseTrip(data, m_timingPointsOnly, downloader().limits().maxJsonValues);
    }

    // The trip document ({"meta":{...},"results":{"arrivals":[...]}}) as
    // arrivals; with timingPointsOnly only arrivals marked "timepoint": true.
    // Throws jsoncpp's exception on a member of the wrong type.
    static OpenDataArrivals parseTrip(const std::string& data, bool timingPointsOnly,
                                      size_t maxJsonValues = kDefaultJsonValueBudget);
};

class OpenDataTFE_Feed : public DataFeed {
public:
    explicit OpenDataTFE_Feed(const std::string& url) : DataFeed(std::make_unique<OpenDataTFE_FeedImpl>(url)) {}
};
