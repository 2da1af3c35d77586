// Every "ModuleParams" key the module and its feeds read, in one table. The
// unknown-key warnings, webservices-host --check-config and the key index in
// docs/configuration.md are all made from it, so they cannot disagree.
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
    std::vector<const char*> enabledBy;  // the flags of those feeds; empty: read whatever is enabled
    bool defaultUnderRoot = false;       // the default is a built-in path, taken under the file root
    int minValue = INT_MIN;              // outside minValue..maxValue the default is used
    int maxValue = INT_MAX;
    const char* shownDefault = nullptr;  // what the index shows when that is not defaultValue
};

// In document order: the module's keys, its enable flags, then each feed's.
const std::vector<ConfigKey>& configKeys();
// The rows of one key: a key that feeds read with different defaults has one
// row per default ("Database"). Empty when no part of the module reads it.
std::vector<const ConfigKey*> configKeyRows(const std::string& name);
// The known key closest in spelling (case ignored), or "" when none is close
// enough to be a likely slip.
std::string nearestConfigKey(const std::string& name);
// "unknown key 'rss_ur1' (did you mean 'rss_url'?)", or without the question
// when no key is close.
std::string unknownKeyMessage(const std::string& name);
// One message for every member of moduleParams that no part of the module
// reads, in the map's order. Nothing when moduleParams is not an object.
std::vector<std::string> unknownKeyWarnings(const Json::Value& moduleParams);
// The default a row's reader uses, as text (built-in paths under the file root).
std::string configKeyDefault(const ConfigKey& key);
// What the row's reader takes from section, as text: the reading rules of
// core/config_keys.h, then the default for a size or a value out of range.
std::string configKeyValue(const ConfigKey& key, const Json::Value& section);
// The key index: a Markdown table of every row.
std::string configKeyIndexMarkdown();
