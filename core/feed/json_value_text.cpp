#include "core/feed/json_value_text.h"

#include <cstdio>
#include <cstdlib>

JsonValue jsonMember(JsonValue obj, const char* key) { return obj.isObject() ? obj[key] : JsonValue(); }

std::string shortestNumberText(double value) {
    char buffer[40];
    for (int precision = 15; precision <= 17; ++precision) {
        std::snprintf(buffer, sizeof buffer, "%.*g", precision, value);
        if (std::strtod(buffer, nullptr) == value) break;
    }
    return buffer;
}

bool jsonScalarText(JsonValue value, std::string& text) {
    if (value.isString() || value.isBool()) {
        text = value.asString();
        return true;
    }
    if (!value.isNumeric()) return false;
    text = value.isInt64()         ? std::to_string(value.asInt64())
           : value.isWholeNumber() ? value.asString()  // above the signed range
                                   : shortestNumberText(value.asDouble());
    return true;
}

bool jsonHasMember(JsonValue value, const char* key) { return static_cast<bool>(jsonMember(value, key)); }

std::string jsonMemberText(JsonValue object, const char* key) {
    const JsonValue value = jsonMember(object, key);
    if (value.isString() || value.isNumeric() || value.isBool()) return value.asString();
    return "";
}
