#include "core/json_text.h"

#include <sstream>

namespace jsoncpp_string {
Json::Value toJsonObject(const std::string& text) {
    // One reader builder for the life of the process, as parsing is frequent.
    static const Json::CharReaderBuilder builder;
    Json::Value root;
    std::istringstream in(text);
    std::string errors;
    try {
        if (!Json::parseFromStream(builder, in, &root, &errors)) return Json::Value();
    } catch (const std::exception&) {
        return Json::Value();
    }
    return root;
}
}  // namespace jsoncpp_string
