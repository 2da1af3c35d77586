#include "core/config_keys.h"

#include <cstdlib>

std::string readStringKey(const Json::Value& section, const char* key, const std::string& defaultValue) {
    if (!section.isObject()) return defaultValue;
    const Json::Value& value = section[key];
    return value.isString() ? value.asString() : defaultValue;
}

int readIntKey(const Json::Value& section, const char* key, int defaultValue) {
    if (!section.isObject()) return defaultValue;
    const Json::Value& value = section[key];
    if (value.isNull()) return defaultValue;
    if (value.isConvertibleTo(Json::intValue)) return value.asInt();
    if (value.isString()) return std::atoi(value.asCString());
    return defaultValue;
}

bool readFlagKey(const Json::Value& section, const char* key, bool defaultValue) {
    return readIntKey(section, key, defaultValue ? 1 : 0) != 0;
}
