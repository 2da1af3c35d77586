// The current waiting time at the airport's security screening, in whole
// minutes, for vehicles bound for the airport.
#pragma once

#include <string>

#include "core/feed/json_document.h"

#include "feeds/airport/cached_json_feed.h"

// Pairs of one security-time response (a JSON object whose "queue" is the
// wait in seconds): flight_security_wait_time with the wait rounded up to
// whole minutes, or "" when the object has no (or a null) "queue". Text that
// is not a JSON object, or a "queue" that is not a number of seconds, gives
// no pairs, so the display keeps the last wait. Never throws.
SymbolPairs parseFlightSecurity(const std::string& text, size_t maxJsonValues = kDefaultJsonValueBudget);

class FlightSecurityFeedImpl : public CachedJsonFeedImpl {
public:
    explicit FlightSecurityFeedImpl(const std::string& url);

protected:
    CurlCommand downloadCommand(const std::string& curlParams) const override;
    int parse(const std::string& text) override;
};

class FlightSecurityFeed : public DataFeed {
public:
    explicit FlightSecurityFeed(const std::string& url) : DataFeed(std::make_unique<FlightSecurityFeedImpl>(url)) {}
};
