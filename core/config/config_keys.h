// How the module and every feed read their "ModuleParams" keys.
#pragma once

#include <json/json.h>

#include <climits>
#include <string>
#include <vector>

enum class KeyKind {
    kString,
    kInteger,
    kSize,  // an integer where missing, 0 or negative means the default
    kFlag,
};

// What a string key's text names, for the checks that look at it.
enum class KeyUse {
    kText,
    kSecret,      // a token, password or key: masked wherever it is shown
    kUrl,         // a document's URL
    kUrlRoot,     // a URL the feed appends its own paths to
    kPath,        // a database or file that is read
    kOutputPath,  // a file that is written
};

struct ConfigKey {
    const char* name;
    KeyKind kind;
    KeyUse use;
    const char* defaultValue;            // the text, or the integer in decimal
    const char* readBy;                  // "CWebServices" or the feed classes, joined by ", "
    bool defaultUnderRoot = false;       // the default is a built-in path, taken under the file root
    int minValue = INT_MIN;              // outside minValue..maxValue the default is used
    int maxValue = INT_MAX;
    const char* shownDefault = nullptr;  // what the index shows when that is not defaultValue
    // The flags of the feeds that read it (empty: read whatever is enabled),
    // filled in from the feed catalog in the whole table.
    std::vector<const char*> enabledBy = {};
};

// The rows of the module's own keys and of the feeds' keys, in document
// order; the enable flags, which the feed catalog names, come between them in
// the whole table (core/config/config_table.h).
const std::vector<ConfigKey>& moduleKeyRows();
const std::vector<ConfigKey>& feedKeyRows();
// Whether reader is one of the row's readers.
bool isReadBy(const ConfigKey& key, const std::string& reader);
// The default a row's reader uses, as text (built-in paths under the file root).
std::string configKeyDefault(const ConfigKey& key);
// What the row's reader takes from section, as text: the reading rules
// below, then the default for a size or a value out of range.
std::string configKeyValue(const ConfigKey& key, const Json::Value& section);

// Readers of one key. Each takes the key's kind and default from its row in
// the key table (core/config/config_table.h), so no reader states either. A key
// without a row, or read as another kind than its row's, is a fault in the
// code: the first read ends the process with a line naming the key, so every
// test run that reaches the read shows it.
std::string readStringKey(const Json::Value& section, const char* key);
int readIntKey(const Json::Value& section, const char* key);
bool readFlagKey(const Json::Value& section, const char* key);
// For a key that feeds read with different defaults ("Database"): the row of
// the named reader.
std::string readStringKeyOf(const char* reader, const Json::Value& section, const char* key);
// Whether the key is given at all, whatever its value.
bool hasKey(const Json::Value& section, const char* key);

// The reading rules themselves, for the key table.
// A JSON string's text, otherwise the default.
std::string readStringValue(const Json::Value& section, const char* key, const std::string& defaultValue);
// Null or missing: the default; an integer (or a number or bool convertible
// to one): its value; a string: atoi of its text; anything else: the default.
int readIntValue(const Json::Value& section, const char* key, int defaultValue);
