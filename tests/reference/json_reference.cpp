#include "tests/reference/json_reference.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "core/feed/json_value.h"

bool readJsonReference(const std::string& text, Json::Value& root, std::string& errors, int maxDepth) {
    root = Json::Value();
    errors.clear();
    // jsoncpp takes a NUL for the end of the text, and would accept whatever follows one.
    if (text.find('\0') != std::string::npos) {
        errors = "a NUL byte in the text";
        return false;
    }
    Json::CharReaderBuilder builder;
    builder["collectComments"] = true;
    builder["allowComments"] = true;
    builder["failIfExtra"] = true;
    builder["stackLimit"] = maxDepth;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    try {
        if (reader->parse(text.data(), text.data() + text.size(), &root, &errors)) return true;
    } catch (const std::exception& e) {
        errors = e.what();  // the depth limit surfaces as an exception
    }
    root = Json::Value();
    return false;
}

Json::Value jsonReferenceOf(const std::string& text) {
    Json::Value root;
    std::string errors;
    readJsonReference(text, root, errors);
    return root;
}

namespace {
bool convertibleToString(const Json::Value& v) { return v.isConvertibleTo(Json::stringValue); }
bool convertibleToString(JsonValue v) { return v.isConvertibleToString(); }

std::vector<std::string> memberNames(const Json::Value& v) { return v.getMemberNames(); }
std::vector<std::string> memberNames(JsonValue v) {
    std::vector<std::string> names;
    for (size_t i = 0; i < v.size(); ++i) names.emplace_back(v.memberName(i));
    return names;
}

template <class Read>
std::string attempt(Read read) {
    try {
        return read();
    } catch (const std::exception&) {
        return "throws";
    }
}

std::string exact(double d) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.17g", d);
    return buffer;
}

template <class Value>
void view(const Value& v, const std::string& path, std::string& out) {
    out += path + ":";
    for (bool flag : {v.isNull(), v.isBool(), v.isString(), v.isNumeric(), v.isArray(), v.isObject(), v.isIntegral(),
                      v.isInt64(), v.isUInt64(), convertibleToString(v), v.empty()})
        out += flag ? '1' : '0';
    out += " size=" + std::to_string(v.size());
    out += " str=" + attempt([&] { return v.asString(); });
    out += " d=" + attempt([&] { return exact(v.asDouble()); });
    // jsoncpp converts a double of exactly 2^63 or 2^64 with undefined
    // behaviour; the reader refuses both.
    const bool past64 = v.isNumeric() && v.asDouble() >= 18446744073709551616.0;
    const bool past63 = v.isNumeric() && v.asDouble() >= 9223372036854775808.0;
    out += " i64=" + attempt([&] { return past63 ? "throws" : std::to_string(v.asInt64()); });
    out += " u64=" + attempt([&] { return past64 ? "throws" : std::to_string(v.asUInt64()); });
    out += " i=" + attempt([&] { return std::to_string(v.asInt()); });
    out += " b=" + attempt([&] { return std::string(v.asBool() ? "true" : "false"); });
    out += " [k]=" + attempt([&] { return std::string(v["k"].isNull() ? "null" : "value"); });
    out += " [0]=" + attempt([&] { return std::string(v[0].isNull() ? "null" : "value"); });
    out += "\n";
    if (v.isArray())
        for (int i = 0; i < static_cast<int>(v.size()); ++i) view(v[i], path + "/" + std::to_string(i), out);
    // Members are asked for by turns as a C string, as feeds spell their
    // names, and as a string, so both ways of looking are compared.
    if (v.isObject()) {
        const std::vector<std::string> names = memberNames(v);
        for (size_t i = 0; i < names.size(); ++i) {
            const std::string& name = names[i];
            const bool asCString = i % 2 == 0 && name.find('\0') == std::string::npos;
            view(asCString ? v[name.c_str()] : v[name], path + "/'" + name + "'", out);
        }
    }
}
}  // namespace

std::string jsonAccessorView(const Json::Value& root) {
    std::string out;
    view(root, "", out);
    return out;
}

std::string jsonAccessorView(JsonValue root) {
    std::string out;
    view(root, "", out);
    return out;
}
