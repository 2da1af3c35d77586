#include "core/config/config_table.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "core/config/config_keys.h"
#include "core/config/feed_catalog.h"
#include "platform/file_root.h"

namespace {
using K = KeyKind;
using U = KeyUse;

// The flags of the catalog's feeds that read key; none for the module's own keys.
std::vector<const char*> flagsReading(const ConfigKey& key) {
    std::vector<const char*> flags;
    for (const FeedCatalogEntry& entry : feedCatalog())
        if (isReadBy(key, entry.feedClass) && std::find(flags.begin(), flags.end(), std::string(entry.flag)) == flags.end())
            flags.push_back(entry.flag);
    return flags;
}

// Edit distance with adjacent transpositions, so "rss_ulr" is one slip from "rss_url".
size_t spellingDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string kindText(const ConfigKey& key) {
    switch (key.kind) {
        case K::kFlag: return "flag";
        case K::kSize: return "integer (0 or less: the default)";
        case K::kInteger:
            if (key.minValue != INT_MIN || key.maxValue != INT_MAX)
                return "integer (" + std::to_string(key.minValue) + " to " + std::to_string(key.maxValue) + ")";
            return "integer";
        case K::kString: break;
    }
    switch (key.use) {
        case U::kSecret: return "string (secret)";
        case U::kUrl: return "string (URL)";
        case U::kUrlRoot: return "string (URL root)";
        case U::kPath: return "string (path)";
        case U::kOutputPath: return "string (output path)";
        case U::kText: break;
    }
    return "string";
}

std::string shownDefault(const ConfigKey& key) {
    if (key.shownDefault) return key.shownDefault;
    if (key.kind != K::kString) return key.defaultValue;
    std::string text = std::string("\"") + key.defaultValue + "\"";
    return key.defaultUnderRoot ? text + " (under the file root)" : text;
}
}  // namespace

const std::vector<ConfigKey>& configKeys() {
    static const std::vector<ConfigKey> keys = [] {
        std::vector<ConfigKey> table = moduleKeyRows();
        // Enable flags, in the catalog's creation order.
        for (const FeedCatalogEntry& entry : feedCatalog())
            if (std::string(table.back().name) != entry.flag)
                table.push_back({entry.flag, KeyKind::kFlag, KeyUse::kText, "0", "CWebServices"});
        for (ConfigKey key : feedKeyRows()) {
            key.enabledBy = flagsReading(key);
            table.push_back(key);
        }
        return table;
    }();
    return keys;
}

std::vector<const ConfigKey*> configKeyRows(const std::string& name) {
    std::vector<const ConfigKey*> rows;
    for (const ConfigKey& key : configKeys())
        if (name == key.name) rows.push_back(&key);
    return rows;
}

std::string nearestConfigKey(const std::string& name) {
    const std::string wanted = lower(name);
    // A slip is a character or two, a little more in a long name; further
    // than that a suggestion misleads more than it helps.
    size_t best = std::max<size_t>(2, wanted.size() / 4) + 1;
    std::string nearest;
    for (const ConfigKey& key : configKeys()) {
        size_t distance = spellingDistance(wanted, lower(key.name));
        if (distance < best) {
            best = distance;
            nearest = key.name;
        }
    }
    return nearest;
}

std::string unknownKeyMessage(const std::string& name) {
    std::string message = "unknown key '" + name + "'";
    std::string nearest = nearestConfigKey(name);
    if (!nearest.empty()) message += " (did you mean '" + nearest + "'?)";
    return message;
}

std::vector<std::string> unknownKeyWarnings(const Json::Value& moduleParams) {
    std::vector<std::string> warnings;
    if (!moduleParams.isObject()) return warnings;
    for (const std::string& name : moduleParams.getMemberNames())
        if (configKeyRows(name).empty()) warnings.push_back(unknownKeyMessage(name));
    return warnings;
}

std::string configKeyIndexMarkdown() {
    std::string text = "| key | kind | default | read by |\n|---|---|---|---|\n";
    for (const ConfigKey& key : configKeys())
        text += std::string("| \"") + key.name + "\" | " + kindText(key) + " | " + shownDefault(key) + " | " +
                key.readBy + " |\n";
    return text;
}
