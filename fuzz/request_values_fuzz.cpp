// Values the module puts into requests: an XML parser reads back what was
// escaped (less the control characters XML can't carry), a query parameter
// decodes back to its key and value, a masked URL no longer holds the key,
// and any "CurlParams" text can be masked for the log.
#include <rapidxml/rapidxml.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/feed/data_feed.h"
#include "core/fetch/secrets.h"
#include "core/fetch/curl_command.h"
#include "core/feed/xml_text.h"

namespace {
bool xmlCarries(char c) { return static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n' || c == '\r'; }

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The text with every %XX decoded; false on a stray %, or on any byte a
// query must not hold as it is.
bool percentDecode(const std::string& text, std::string& out) {
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            const int high = i + 1 < text.size() ? hexDigit(text[i + 1]) : -1;
            const int low = i + 2 < text.size() ? hexDigit(text[i + 2]) : -1;
            if (high < 0 || low < 0) return false;
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else if (std::string("&=#?+").find(c) != std::string::npos || static_cast<unsigned char>(c) < 0x21 ||
                   static_cast<unsigned char>(c) > 0x7e) {
            return false;
        } else {
            out += c;
        }
    }
    return true;
}

void checkXml(const std::string& value) {
    // Brackets keep the parser from taking a value of blanks for no value.
    std::string expected = "[";
    for (char c : value)
        if (xmlCarries(c)) expected += c;
    expected += ']';
    std::string document = "<a>[" + xmlEscape(value) + "]</a>";
    std::vector<char> buffer(document.begin(), document.end());
    buffer.push_back('\0');
    rapidxml::xml_document<> doc;
    try {
        doc.parse<0>(buffer.data());
    } catch (const rapidxml::parse_error&) {
        __builtin_trap();  // the escaped value made the document malformed
    }
    rapidxml::xml_node<>* a = doc.first_node("a");
    if (!a || std::string(a->value(), a->value_size()) != expected) __builtin_trap();
}

void checkQuery(const std::string& key, const std::string& value) {
    const std::string url = DataFeedImpl::addUrlParameter("http://h/p?x=1", key, value);
    const std::string query = url.substr(url.find('&') + 1);
    const size_t eq = query.find('=');
    std::string decodedKey, decodedValue;
    if (eq == std::string::npos || !percentDecode(query.substr(0, eq), decodedKey) ||
        !percentDecode(query.substr(eq + 1), decodedValue) || decodedKey != key || decodedValue != value)
        __builtin_trap();
    // Under a secret key the value never shows, whatever it holds.
    const std::string encoded = url.substr(url.rfind('=') + 1);
    const std::string masked = maskUrlSecrets(DataFeedImpl::addUrlParameter("http://h/p", "app_key", value));
    const std::string shown = masked.substr(masked.find("app_key=") + 8);
    if (encoded.size() > 2 && shown.find(encoded) != std::string::npos) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t keyLength = data[0] % 16;
    if (size - 1 < keyLength) return 0;
    const std::string key(reinterpret_cast<const char*>(data + 1), keyLength);
    const std::string value(reinterpret_cast<const char*>(data + 1 + keyLength), size - 1 - keyLength);
    checkXml(value);
    checkQuery(key, value);
    // Options as a vehicle's map gives them: masking neither splits nor joins words.
    if (splitShellWords(maskCurlParams(value)).size() != splitShellWords(value).size()) __builtin_trap();
    return 0;
}
