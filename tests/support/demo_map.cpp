#include "tests/support/demo_map.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

Json::Value demoParameterMap(const TempFileRoot& root) {
    const std::string demo = std::string(WEBSERVICES_SOURCE_DIR) + "/examples/demo";
    std::filesystem::copy(demo + "/root", root.dir(),
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
    std::ifstream in(demo + "/params.json");
    std::stringstream text;
    text << in.rdbuf();
    std::string params = text.str();
    const std::string placeholder = "@DEMO_ROOT@";
    for (size_t at; (at = params.find(placeholder)) != std::string::npos;) params.replace(at, placeholder.size(), root.dir());
    Json::Value map;
    std::string errors;
    std::istringstream stream(params);
    if (!Json::parseFromStream(Json::CharReaderBuilder(), stream, &map, &errors))
        throw std::runtime_error("examples/demo/params.json: " + errors);
    return map;
}
