// National Rail departure boards: one SOAP GetDepartureBoard call per update
// for the station the vehicle is approaching (imported "crs"), departures too
// soon to catch left out, the board and its services exported as symbols.
#pragma once

#include <rapidxml/rapidxml.hpp>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "core/feed/data_feed.h"
#include "core/fetch/downloader.h"

constexpr const char* kDarwinOfflinePath = "/vorn/media/offline/darwin.xml";
constexpr const char* kDarwinDefaultEndpoint = "https://lite.realtime.nationalrail.co.uk/OpenLDBWS/ldb11.asmx";

// One departing train or bus of a board, texts as the service sends them.
struct DarwinService {
    std::string platform;
    std::string originName;
    std::string originCrs;
    std::string destinationName;  // with each location's via text
    std::string destinationShortName;
    std::string destinationCrs;
    std::string std;  // scheduled departure, "HH:MM"
    std::string etd;  // "On time", "HH:MM", "Delayed", "Cancelled"
    std::string operatorName;
    std::string operatorCode;
    std::string isCircularRoute = "false";
    std::string isCancelled = "false";
    std::string cancelReason;
    std::string delayReason;
    std::string alerts;
};

class DarwinFeedImpl : public DataFeedImpl {
public:
    DarwinFeedImpl();
    ~DarwinFeedImpl() override;

    // Reads the parameters (every call), fetches the board of the imported or
    // test station (or the offline file), parses and exports it. Returns 1.
    int downloadData(std::string curlParams) override;
    // "crs": the station to show; "crs_xmins": the minutes window. True for
    // any non-empty value, so the module refreshes the board at once.
    bool symbolUpdate(const std::string& name, int x, const std::string& value) override;

    // The curl command line of one request, every value shell-quoted.
    CurlCommand createCurlCommand(const std::string& crs, const std::string& curlParams) const;
    // The SOAP request document, values XML-escaped.
    std::string buildDepartureBoardRequest(const std::string& crs) const;
    // Parses a GetDepartureBoard response into the board fields and the
    // departure list. True when the board was found and every departure in it
    // was complete (a board without services is complete). Never throws.
    bool parse(const std::string& text);
    // Parses first and its following service siblings into the departure
    // list; true when all had their times and location names and codes.
    bool parseService(const rapidxml::xml_node<>* first);
    // The board pairs and the fifteen departure lists, departures within the
    // minutes window of now (wallClockSeconds) left out.
    void prepareExportsymbols();
    // True when the departure at stdText ("HH:MM" local time, today or just
    // after midnight) leaves between 59 s ago and window minutes ahead of now.
    // A window of 0 or below, or a text that is not a time, gives false.
    static bool isWithinMinutes(const std::string& stdText, int window, int64_t now);
    // The diagnostic table of the departures kept now.
    void printDepartureTable(std::ostream& out) const;

    const std::vector<DarwinService>& departures() const { return m_departures; }
    bool boardFound() const { return m_boardFound; }

private:
    void readParameters();
    static std::string requestDocument(const std::string& token, const std::string& rowCount,
                                       const std::string& crs);

    std::string m_locationName;
    std::string m_platformAvailable;
    std::string m_generatedAt;
    std::string m_crs;
    std::string m_servicesAvailable;
    std::string m_messages;
    std::vector<DarwinService> m_departures;
    bool m_boardFound = false;
    rapidxml::xml_document<> m_document;
    std::vector<char> m_buffer;
    std::string m_token;
    std::string m_rowCount;
    std::string m_endpoint = kDarwinDefaultEndpoint;
    std::string m_testCrs;
    std::string m_importedCrs;
    int m_minutesWindow = 0;
};

class DarwinFeed : public DataFeed {
public:
    DarwinFeed() : DataFeed(std::make_unique<DarwinFeedImpl>()) {}
};
