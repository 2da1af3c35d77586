// Departure board from the airport operator's departures service: the next
// flights that have not yet left, with time, destination, flight number,
// airline, status and gate.
#pragma once

#include <string>

#include "core/feed/json_document.h"

#include "feeds/airport/cached_json_feed.h"

constexpr int kFlightDeparturesDefaultRows = 30;

// Pairs of one departures response (a JSON array of flight objects), in
// export order. Flights whose "Status" is missing or says AIRBORNE, TAXIED or
// GATE CLOSED are left out; at most maxRows flights are kept (0 or less: all).
// A response that is not a JSON array gives flight_departures_has_connection
// = "0" alone. Never throws.
SymbolPairs parseFlightDepartures(const std::string& text, int maxRows, size_t maxJsonValues = kDefaultJsonValueBudget);

class FlightDeparturesFeedImpl : public CachedJsonFeedImpl {
public:
    explicit FlightDeparturesFeedImpl(const std::string& url);

protected:
    void beginCycle() override;
    CurlCommand downloadCommand(const std::string& curlParams) const override;
    int parse(const std::string& text) override;

private:
    int m_maxRowCount = kFlightDeparturesDefaultRows;
};

class FlightDeparturesFeed : public DataFeed {
public:
    explicit FlightDeparturesFeed(const std::string& url)
        : DataFeed(std::make_unique<FlightDeparturesFeedImpl>(url)) {}
};
