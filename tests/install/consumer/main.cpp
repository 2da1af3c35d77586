// Builds against the installed headers and libraries only: creates the module
// as a host framework would, with one feed and one misspelt key, and checks
// what it made of them. Exits 0 when all is as expected.
#include <iostream>

#include "core/config/config_check.h"
#include "core/module/web_services.h"
#include "core/feed/xml_dom.h"

int main() {
    Json::Value map;
    map["ModuleParams"]["avms_enable"] = 1;
    map["ModuleParams"]["rss_ur1"] = "http://127.0.0.1:9/rss.xml";
    CDebug::setLevelMask(0);
    CWebServices module{CModuleParmMap(map)};
    std::vector<std::string> problems = checkConfiguration(map);
    bool ok = module.feeds().size() == 1 && problems.size() == 1 &&
              problems[0] == "unknown key 'rss_ur1' (did you mean 'rss_url'?)";
    module.Shutdown();
    std::cout << (ok ? "webservices_consumer: ok" : "webservices_consumer: unexpected module") << '\n';
    return ok ? 0 : 1;
}
