#include "core/feed/json_value_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

const Json::Value* jsonMember(const Json::Value& obj, const char* key) {
    if (!obj.isObject()) return nullptr;
    return obj.find(key, key + std::strlen(key));
}

namespace {
std::string realText(double value) {
    char buffer[40];
    for (int precision = 15; precision <= 17; ++precision) {
        std::snprintf(buffer, sizeof buffer, "%.*g", precision, value);
        if (std::strtod(buffer, nullptr) == value) break;
    }
    return buffer;
}
}  // namespace

bool jsonScalarText(const Json::Value& value, std::string& text) {
    switch (value.type()) {
        case Json::stringValue:
            text = value.asString();
            return true;
        case Json::booleanValue:
            text = value.asBool() ? "true" : "false";
            return true;
        case Json::intValue:
            text = std::to_string(value.asInt64());
            return true;
        case Json::uintValue:
            text = std::to_string(value.asUInt64());
            return true;
        case Json::realValue:
            if (value.isInt64()) {
                text = std::to_string(value.asInt64());
            } else {
                text = realText(value.asDouble());
            }
            return true;
        default:
            return false;
    }
}

bool jsonHasMember(const Json::Value& value, const char* key) { return value.isObject() && value.isMember(key); }

std::string jsonMemberText(const Json::Value& object, const char* key) {
    if (!object.isObject()) return "";
    const Json::Value& value = object[key];
    if (value.isString() || value.isNumeric() || value.isBool()) return value.asString();
    return "";
}
