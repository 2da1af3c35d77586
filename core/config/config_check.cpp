#include "core/config/config_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <set>

#include "core/config/config_table.h"
#include "core/config/feed_catalog.h"
#include "core/feed/json_value_text.h"
#include "core/fetch/secrets.h"
#include "platform/file_root.h"

namespace {
constexpr const char* kZoneInfoDir = "/usr/share/zoneinfo/";

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::string errnoText(int error) { return std::strerror(error); }

// Why path cannot be used as a regular file to read, or as a folder with
// the mode's access, or "".
std::string pathProblem(const std::string& path, bool folder, int mode) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? "does not exist" : "cannot be read: " + errnoText(errno);
    const bool rightKind = folder ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode);
    if (!rightKind) return folder ? "is not a folder" : "is not a regular file";
    if (access(path.c_str(), mode) != 0) return (folder ? "cannot be used: " : "cannot be read: ") + errnoText(errno);
    return "";
}

std::string fileProblem(const std::string& path) { return pathProblem(path, false, R_OK); }

std::string folderProblem(const std::string& path, int mode) { return pathProblem(path, true, mode); }

// Optional blanks, a sign and digits that fit an int: text that reads as the number it shows.
bool wholeInteger(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t");
    size_t end = text.find_last_not_of(" \t");
    if (begin == std::string::npos) return false;
    std::string number = text.substr(begin, end - begin + 1);
    size_t digits = number[0] == '-' || number[0] == '+' ? 1 : 0;
    if (digits == number.size()) return false;
    for (size_t i = digits; i < number.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(number[i]))) return false;
    errno = 0;
    long long value = std::strtoll(number.c_str(), nullptr, 10);
    return errno == 0 && value >= INT_MIN && value <= INT_MAX;
}

bool numberKind(KeyKind kind) { return kind != KeyKind::kString; }

// True when the reading rules take value for what it shows: text for a
// string key; an integer, a boolean or text holding an integer for the others.
bool rightKind(KeyKind kind, const Json::Value& value) {
    if (value.isNull()) return true;  // the same as leaving the key out
    if (!numberKind(kind)) return value.isString();
    if (value.isBool()) return true;
    if (value.isString()) return wholeInteger(value.asString());
    if (value.isIntegral()) return value.isConvertibleTo(Json::intValue);
    if (value.isDouble()) {
        double number = value.asDouble();
        return number == static_cast<double>(static_cast<long long>(number)) && number >= INT_MIN &&
               number <= INT_MAX;
    }
    return false;
}

// How a written value is shown; a secret's text only by its first characters and length.
std::string describe(const Json::Value& value, bool secret = false) {
    std::string text;
    if (value.isString()) return "text " + quoted(secret ? maskSecret(value.asString()) : value.asString());
    if (value.isBool()) return value.asBool() ? "true" : "false";
    if (value.isArray()) return "an array";
    if (value.isObject()) return "an object";
    text = value.isInt64()    ? std::to_string(value.asInt64())
           : value.isUInt64() ? std::to_string(value.asUInt64())
                              : shortestNumberText(value.asDouble());
    return "the number " + (secret ? maskSecret(text) : text);
}

std::string shown(const ConfigKey& key, const std::string& value) {
    if (key.kind == KeyKind::kString) return quoted(value);
    if (key.kind == KeyKind::kFlag) return value + (value == "0" ? " (off)" : " (on)");
    return value;
}

// "<value> will be used", or per reader when the readers of a key use different values.
std::string valueUsed(const std::vector<const ConfigKey*>& rows, const Json::Value& params) {
    std::string first = shown(*rows[0], configKeyValue(*rows[0], params));
    bool same = true;
    for (const ConfigKey* row : rows) same = same && shown(*row, configKeyValue(*row, params)) == first;
    if (same) return first + " will be used";
    std::string text;
    for (const ConfigKey* row : rows)
        text += (text.empty() ? "" : ", ") + shown(*row, configKeyValue(*row, params)) + " by " + row->readBy;
    return text + " will be used";
}

std::string lowerScheme(const std::string& url, bool& found) {
    size_t colon = url.find("://");
    found = colon != std::string::npos && colon > 0 && std::isalpha(static_cast<unsigned char>(url[0]));
    std::string scheme = found ? url.substr(0, colon) : "";
    for (char& c : scheme) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') found = false;
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return scheme;
}

// The local path a file:// URL names (percent escapes decoded, query and
// fragment left out); false for a URL that names another host.
bool fileUrlPath(const std::string& url, std::string& path) {
    std::string rest = url.substr(std::strlen("file://"));
    if (rest.compare(0, 10, "localhost/") == 0) rest.erase(0, 9);
    if (rest.empty() || rest[0] != '/') return false;
    rest = rest.substr(0, rest.find_first_of("?#"));
    path.clear();
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '%' && i + 2 < rest.size() && std::isxdigit(static_cast<unsigned char>(rest[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(rest[i + 2]))) {
            path += static_cast<char>(std::strtol(rest.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            path += rest[i];
        }
    }
    return true;
}

class Checker {
public:
    explicit Checker(const Json::Value& params) : m_params(params) {}

    std::vector<std::string> run() {
        if (!m_params.isNull() && !m_params.isObject()) {
            add("ModuleParams: " + describe(m_params) + " where an object is read; every key takes its default");
            return m_problems;
        }
        readEnabledFlags();
        for (const std::string& name : m_params.getMemberNames()) checkKey(name);
        checkEnabledFeeds();
        return m_problems;
    }

private:
    void add(const std::string& problem) { m_problems.push_back(problem); }

    bool enabled(const std::string& flag) const { return m_enabled.count(flag) != 0; }

    void readEnabledFlags() {
        EnabledFlags enabled = enabledFlagsIn(m_params);
        m_enabled.insert(enabled.flags.begin(), enabled.flags.end());
        for (const auto& conflict : enabled.conflicts)
            add(std::string(conflict.first->flag) + ", " + conflict.second->flag + ": both are on, so neither feed is created");
    }

    // True when some feed that reads the key is created (module keys always are).
    bool used(const ConfigKey& key) const {
        if (key.enabledBy.empty()) return true;
        for (const char* flag : key.enabledBy)
            if (enabled(flag)) return true;
        return false;
    }

    void checkKey(const std::string& name) {
        std::vector<const ConfigKey*> rows = configKeyRows(name);
        if (rows.empty()) {
            add(unknownKeyMessage(name));
            return;
        }
        const ConfigKey& key = *rows[0];
        const Json::Value& value = m_params[name];
        if (!rightKind(key.kind, value)) {
            // Name the values of the feeds that will read it, if any will.
            std::vector<const ConfigKey*> readers;
            for (const ConfigKey* row : rows)
                if (used(*row)) readers.push_back(row);
            add(name + ": " + describe(value, key.use == KeyUse::kSecret) + " where " + (numberKind(key.kind) ? "a whole number" : "text") +
                " is read; " + valueUsed(readers.empty() ? rows : readers, m_params));
            return;
        }
        if (numberKind(key.kind)) {
            checkRange(key, value);
            return;
        }
        const std::string written = value.isString() ? value.asString() : "";
        if (name == "TimeZone") checkTimeZone(written);
        if (written.empty()) return;
        bool inUse = false;
        for (const ConfigKey* row : rows) inUse = inUse || used(*row);
        switch (key.use) {
            case KeyUse::kUrl:
            case KeyUse::kUrlRoot: checkUrl(key, written, inUse); break;
            case KeyUse::kPath:
                if (inUse) reportFile(name, written, fileProblem(written));
                break;
            case KeyUse::kOutputPath:
                if (inUse) checkOutputPath(name, written);
                break;
            case KeyUse::kText:
            case KeyUse::kSecret: break;
        }
    }

    void checkRange(const ConfigKey& key, const Json::Value& value) {
        if (value.isNull() || key.kind == KeyKind::kSize) return;
        long long written = value.isString() ? std::strtoll(value.asString().c_str(), nullptr, 10)
                                             : static_cast<long long>(value.asDouble());
        if (written >= key.minValue && written <= key.maxValue) return;
        add(std::string(key.name) + ": " + std::to_string(written) + " is outside " + std::to_string(key.minValue) +
            " to " + std::to_string(key.maxValue) + "; " + key.defaultValue + " will be used");
    }

    void checkUrl(const ConfigKey& key, const std::string& url, bool inUse) {
        bool hasScheme = false;
        std::string scheme = lowerScheme(url, hasScheme);
        if (!hasScheme) {
            add(std::string(key.name) + ": " + quoted(maskUrlSecrets(url)) +
                " has no scheme; write http://, https:// or file://");
            return;
        }
        if (scheme != "http" && scheme != "https" && scheme != "file") {
            add(std::string(key.name) + ": " + quoted(maskUrlSecrets(url)) + " has the scheme " + quoted(scheme) +
                "; only http, https and file are read");
            return;
        }
        // A masked form that differs holds a password or a secret query value.
        if (scheme == "http" && maskUrlSecrets(url) != url)
            add(std::string(key.name) + ": " + quoted(maskUrlSecrets(url)) +
                " sends a credential in clear over http; write https://");
        std::string path;
        if (scheme != "file") return;
        if (!fileUrlPath(url, path)) {
            add(std::string(key.name) + ": " + quoted(maskUrlSecrets(url)) +
                " names a file on another host; only file:///path is read");
            return;
        }
        if (!inUse) return;
        // A root gets the feed's own paths appended, so only its folder can be checked.
        if (key.use == KeyUse::kUrlRoot) {
            std::string problem = folderProblem(path, R_OK | X_OK);
            if (!problem.empty()) add(std::string(key.name) + ": folder " + path + " " + problem);
        } else {
            reportFile(key.name, path, fileProblem(path));
        }
    }

    void reportFile(const std::string& name, const std::string& path, const std::string& problem) {
        if (!problem.empty()) add(name + ": " + path + " " + problem);
    }

    void checkOutputPath(const std::string& name, const std::string& path) {
        size_t slash = path.rfind('/');
        std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
        std::string problem = folderProblem(folder, W_OK | X_OK);
        if (!problem.empty()) add(name + ": folder " + folder + " of " + quoted(path) + " " + problem);
    }

    // ":<path>" and "Area/City" name a zone file; anything else is a rule such as "UTC0".
    void checkTimeZone(const std::string& zone) {
        std::string file;
        if (!zone.empty() && zone[0] == ':')
            file = zone.substr(1);
        else if (zone.find('/') != std::string::npos)
            file = zone;
        if (file.empty()) return;
        if (file[0] != '/') file = kZoneInfoDir + file;
        std::string problem = fileProblem(file);
        if (!problem.empty()) add("TimeZone: " + file + " " + problem + "; times are shown in UTC");
    }

    void checkEnabledFeeds() {
        for (const FeedCatalogEntry& entry : feedCatalog()) {
            if (!enabled(entry.flag)) continue;
            FeedCheck check(m_params, entry, m_problems);
            if (!entry.requiredKeys.empty()) check.requireAll(entry.feedClass, entry.requiredKeys);
            if (entry.check) entry.check(check);
        }
    }

    const Json::Value& m_params;
    std::set<std::string> m_enabled;
    std::vector<std::string> m_problems;
};
}  // namespace

std::vector<std::string> checkConfiguration(const Json::Value& parmMap) {
    const Json::Value& params = parmMap.isObject() ? parmMap["ModuleParams"] : Json::Value::nullSingleton();
    return Checker(params).run();
}

std::string FeedCheck::text(const char* key) const { return configKeyValue(*configKeyRows(key).front(), m_params); }

int FeedCheck::number(const char* key) const { return std::atoi(text(key).c_str()); }

bool FeedCheck::readable(const std::string& path) const { return fileProblem(path).empty(); }

void FeedCheck::requireAll(const std::string& feeds, const std::vector<const char*>& keys) {
    std::string missing;
    for (const char* key : keys)
        if (text(key).empty()) missing += (missing.empty() ? "" : ", ") + std::string(key);
    if (missing.empty()) return;
    const std::vector<const char*> offlineFiles = offlineFilesOf(m_entry.flag);
    std::string files;
    bool allThere = !offlineFiles.empty();
    for (const char* file : offlineFiles) {
        allThere = allThere && readable(rootedPath(file));
        files += (files.empty() ? "" : " and ") + rootedPath(file);
    }
    if (allThere) return;
    std::string standIn;
    if (!offlineFiles.empty())
        standIn = std::string(" (or the offline file") + (offlineFiles.size() > 1 ? "s " : " ") + files + ")";
    add(std::string(m_entry.flag) + ": " + feeds + " cannot work without " + missing + standIn);
}
