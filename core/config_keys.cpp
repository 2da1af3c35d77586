#include "core/config_keys.h"

#include <atomic>
#include <climits>
#include <cstdlib>

namespace {
std::atomic<ConfigKeyObserver> g_observer{nullptr};

// atoi's reading (leading blanks, a sign, digits up to the first other
// character, 0 when there are none) without its undefined result on overflow:
// out-of-range numbers are clamped.
int atoiClamped(const std::string& text) {
    long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}
}  // namespace

void setConfigKeyObserver(ConfigKeyObserver observer) { g_observer.store(observer); }

void noteConfigKeyRead(const Json::Value& section, const char* key, KeyRead read, const std::string& defaultText) {
    if (ConfigKeyObserver observer = g_observer.load()) observer(section, key, read, defaultText);
}

std::string readStringKey(const Json::Value& section, const char* key, const std::string& defaultValue) {
    noteConfigKeyRead(section, key, KeyRead::kText, defaultValue);
    if (!section.isObject()) return defaultValue;
    const Json::Value& value = section[key];
    return value.isString() ? value.asString() : defaultValue;
}

int readIntKey(const Json::Value& section, const char* key, int defaultValue) {
    if (g_observer.load()) noteConfigKeyRead(section, key, KeyRead::kInteger, std::to_string(defaultValue));
    if (!section.isObject()) return defaultValue;
    const Json::Value& value = section[key];
    if (value.isNull()) return defaultValue;
    if (value.isConvertibleTo(Json::intValue)) return value.asInt();
    if (value.isString()) return atoiClamped(value.asString());
    return defaultValue;
}

bool readFlagKey(const Json::Value& section, const char* key, bool defaultValue) {
    return readIntKey(section, key, defaultValue ? 1 : 0) != 0;
}
