#include "feeds/rail_siri/siri_reader.h"

#include <cstring>
#include <ctime>
#include <exception>

#include "core/feed/xml_dom.h"
#include "platform/debug.h"
#include "platform/strings.h"

namespace {
bool sameLocalName(const SiriNode* node, const char* name) {
    const char* full = node->name();
    size_t size = node->name_size();
    const void* colon = std::memchr(full, ':', size);
    if (colon) {
        size_t skip = static_cast<const char*>(colon) - full + 1;
        full += skip;
        size -= skip;
    }
    return size == std::strlen(name) && std::memcmp(full, name, size) == 0;
}

bool readNumber(const std::string& text, size_t pos, size_t length, int& value) {
    if (pos + length > text.size()) return false;
    value = 0;
    for (size_t i = pos; i < pos + length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}
}  // namespace

bool siriNameIs(const SiriNode* node, const char* name) {
    return node && node->type() == rapidxml::node_element && sameLocalName(node, name);
}

const SiriNode* siriChild(const SiriNode* parent, const char* name) {
    if (!parent) return nullptr;
    for (const SiriNode* child = parent->first_node(); child; child = child->next_sibling())
        if (siriNameIs(child, name)) return child;
    return nullptr;
}

const SiriNode* siriNextSibling(const SiriNode* node, const char* name) {
    if (!node) return nullptr;
    for (const SiriNode* next = node->next_sibling(); next; next = next->next_sibling())
        if (siriNameIs(next, name)) return next;
    return nullptr;
}

bool parseSiriTime(const std::string& raw, int64_t& seconds) {
    std::string text = trim(raw);
    int year, month, day, hour, minute, second;
    if (!readNumber(text, 0, 4, year) || text.size() < 19 || text[4] != '-' || !readNumber(text, 5, 2, month) ||
        text[7] != '-' || !readNumber(text, 8, 2, day) || (text[10] != 'T' && text[10] != ' ') ||
        !readNumber(text, 11, 2, hour) || text[13] != ':' || !readNumber(text, 14, 2, minute) || text[16] != ':' ||
        !readNumber(text, 17, 2, second))
        return false;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 24 || minute > 59 || second > 60) return false;
    if (hour == 24 && (minute != 0 || second != 0)) return false;

    size_t pos = 19;
    if (pos < text.size() && (text[pos] == '.' || text[pos] == ',')) {
        size_t digits = ++pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos;
        if (pos == digits) return false;
    }
    int64_t offset = 0;
    if (pos < text.size()) {
        char sign = text[pos];
        if (sign == 'Z' || sign == 'z') {
            ++pos;
        } else if (sign == '+' || sign == '-') {
            int offsetHours, offsetMinutes = 0;
            if (!readNumber(text, pos + 1, 2, offsetHours)) return false;
            pos += 3;
            if (pos < text.size()) {
                if (text[pos] == ':') ++pos;
                if (!readNumber(text, pos, 2, offsetMinutes)) return false;
                pos += 2;
            }
            if (offsetHours > 23 || offsetMinutes > 59) return false;
            offset = (offsetHours * 3600 + offsetMinutes * 60) * (sign == '+' ? 1 : -1);
        }
        if (pos != text.size()) return false;
    }

    struct tm parts {};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    seconds = static_cast<int64_t>(timegm(&parts)) - offset;
    return true;
}

const SiriNode* SiriReader::openDelivery(const std::string& text) {
    std::string error;
    bool parsed = false;
    try {
        parsed = parseXmlInPlace(m_document, m_buffer, text, error);
    } catch (const std::exception& failure) {
        error = failure.what();
    }
    if (!parsed) {
        logLine(8, m_prefix, "::parse: parsing failed (", error, ")");
        return nullptr;
    }
    const SiriNode* node = &m_document;
    for (const char* step : {"Siri", "ServiceDelivery", "StopMonitoringDelivery"}) {
        node = siriChild(node, step);
        if (!node) {
            logLine(8, m_prefix, "::parse: Missing node: ", step);
            return nullptr;
        }
    }
    return node;
}

std::string SiriReader::getNodeText(const SiriNode* node, const char* name) const {
    const SiriNode* child = siriChild(node, name);
    if (!child) {
        logLine(8, m_prefix, ": Missing node:", name);
        return "";
    }
    if (child->value_size() > 0) return std::string(child->value(), child->value_size());
    // Texts written as CDATA sections.
    for (const SiriNode* part = child->first_node(); part; part = part->next_sibling())
        if (part->type() == rapidxml::node_cdata) return std::string(part->value(), part->value_size());
    return "";
}

int64_t SiriReader::getNodeTime(const SiriNode* node, const char* name) const {
    std::string text = getNodeText(node, name);
    if (text.empty()) return 0;
    int64_t seconds = 0;
    if (!parseSiriTime(text, seconds) || seconds <= 0) logLine(8, m_prefix, ": Invalid node value:", name, ":", text);
    return seconds;
}
