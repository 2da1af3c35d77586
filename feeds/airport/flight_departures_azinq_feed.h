// The airport departure board from the Azinq flight data service, which
// wants a user name, a password and a token as request headers and reports
// statuses as one-letter codes. Exports the same symbols as the airport's own
// departures feed, so either can drive one display.
#pragma once

#include <string>

#include "core/feed/json_document.h"

#include "feeds/airport/cached_json_feed.h"

constexpr const char* kAzinqOfflinePath = "/vorn/media/offline/flight_departures_azinq.json";

// Display text of a FlightStatus code (by its first character); "" and a
// level-8 line for an unknown code.
std::string azinqFlightStatusText(const std::string& code);
// Display text of a GateActionCode (by its first character); "" and a
// level-8 line for an unknown code.
std::string azinqGateActionText(const std::string& code);

// Pairs of one Azinq response (a JSON array of flight objects), in export
// order. Arrivals, airborne and off-block flights are left out; cancelled
// ones too unless showCancelled. A flight whose "ScheduledDateTime" is too
// short to hold a time of day is skipped with a level-8 line. At most maxRows
// flights are kept (0 or less: all). Text that is not JSON gives
// flight_departures_has_connection = "0" alone; JSON that is not an array
// gives nothing. Never throws.
SymbolPairs parseAzinqDepartures(const std::string& text, int maxRows, bool showCancelled,
                                 size_t maxJsonValues = kDefaultJsonValueBudget);

class FlightDeparturesFeedAzinqImpl : public CachedJsonFeedImpl {
public:
    explicit FlightDeparturesFeedAzinqImpl(const std::string& url);

    // Reads the credentials and flight_departures_show_cancelled.
    void readModuleParmMap() override;

protected:
    void beginCycle() override;
    bool canDownload() const override;
    CurlCommand downloadCommand(const std::string& curlParams) const override;
    int parse(const std::string& text) override;

private:
    int m_maxRowCount;
    std::string m_username;
    std::string m_password;
    std::string m_token;
    int m_showCancelled = 1;
};

class FlightDeparturesAzinqFeed : public DataFeed {
public:
    explicit FlightDeparturesAzinqFeed(const std::string& url)
        : DataFeed(std::make_unique<FlightDeparturesFeedAzinqImpl>(url)) {}
};
