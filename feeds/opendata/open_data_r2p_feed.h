// Arrivals from the R2P live-journeys service. The service lists every live
// journey; the feed picks the vehicle's own by comparing each journey's stop
// codes with the stop list the vehicle system imports.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "feeds/opendata/open_data_feed.h"

class OpenDataR2P_FeedImpl : public OpenDataFeedImpl {
public:
    explicit OpenDataR2P_FeedImpl(const std::string& url) : OpenDataFeedImpl(url, "open_data_r2p_url") {}

    void readModuleParmMap() override;
    // Takes "open_data_point_id_list" (the journey's stop ids joined by ",").
    bool symbolUpdate(const std::string& name, int x, const std::string& value) override;
    // Looks the imported stop ids up in the stop database, then parseJourneys.
    OpenDataArrivals parse(const std::string& data) override;

    // The pure part of the parse: pointIds are the vehicle's stops in journey
    // order, ciCodes their provider codes (same order; "" where unknown).
    // Wall-clock times of the provider are read as local at tzOffset
    // (seconds east of UTC). Never throws on any input.
    static OpenDataArrivals parseJourneys(const std::string& data, const std::vector<std::string>& pointIds,
                                          const std::vector<std::string>& ciCodes, bool timingPointsOnly,
                                          int32_t tzOffset, size_t maxJsonValues = kDefaultJsonValueBudget);
    // The earliest-starting journey whose codes are within the allowed edit
    // distance of ciCodes and that still has a visit due ("E"); null if none.
    static JsonValue getCurrentJourney(JsonValue root, const std::vector<std::string>& ciCodes);
    // Levenshtein distance over whole codes.
    static size_t codeDistance(const std::vector<std::string>& a, const std::vector<std::string>& b);
    static ArrivalRecord getArrivalRecord(JsonValue visit,
                                          const std::map<std::string, std::string>& codeToPointId,
                                          int32_t tzOffset);

private:
    std::string m_databasePath;
    std::string m_pointIdList;
};

class OpenDataR2P_Feed : public DataFeed {
public:
    explicit OpenDataR2P_Feed(const std::string& url) : DataFeed(std::make_unique<OpenDataR2P_FeedImpl>(url)) {}
};
