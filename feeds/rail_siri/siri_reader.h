// The reading of SIRI stop-monitoring answers that the departures and the
// terminus-time feeds share: the walk down to the delivery, child texts and
// child times. Each feed reads through its own SiriReader, which carries the
// feed's log prefix.
#pragma once

#include <rapidxml/rapidxml.hpp>

#include <cstdint>
#include <string>
#include <vector>

using SiriNode = rapidxml::xml_node<char>;

// Elements are matched by their local name, so answers that put the SIRI
// namespace on a prefix ("siri:Siri") read the same as those that don't.
bool siriNameIs(const SiriNode* node, const char* name);
// First child element / next following sibling element with that local name, or nullptr.
const SiriNode* siriChild(const SiriNode* parent, const char* name);
const SiriNode* siriNextSibling(const SiriNode* node, const char* name);

// Reads "YYYY-MM-DDTHH:MM:SS", an optional fraction of a second (dropped)
// and an optional zone: "Z", "+HH:MM", "-HH:MM", "+HHMM" or "+HH". No zone
// means UTC. False (seconds untouched) when the text is not of that form.
bool parseSiriTime(const std::string& text, int64_t& seconds);

class SiriReader {
public:
    explicit SiriReader(std::string logPrefix) : m_prefix(std::move(logPrefix)) {}
    SiriReader(const SiriReader&) = delete;
    SiriReader& operator=(const SiriReader&) = delete;

    // Parses a copy of text (nesting bounded, see core/feed/xml_dom.h) and walks Siri / ServiceDelivery /
    // StopMonitoringDelivery. nullptr, logged at level 8, when the text does
    // not parse or a step is missing. The node lives until the next call or
    // the reader's end.
    const SiriNode* openDelivery(const std::string& text);
    // The text of the first child element called name; "" and a level-8
    // "Missing node:" line when there is none.
    std::string getNodeText(const SiriNode* node, const char* name) const;
    // The child's date-time as POSIX seconds. A missing or empty child gives 0;
    // an unreadable text gives 0 and a result not above 0 is returned as it
    // is, both with a level-8 "Invalid node value:" line.
    int64_t getNodeTime(const SiriNode* node, const char* name) const;

    const std::string& prefix() const { return m_prefix; }

private:
    std::string m_prefix;
    std::vector<char> m_buffer;
    rapidxml::xml_document<char> m_document;
};
