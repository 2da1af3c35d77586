// Every "ModuleParams" key the module and its feeds read, in one table. The
// unknown-key warnings, webservices-host --check-config and the key index in
// docs/configuration.md are all made from it, so they cannot disagree.
#pragma once

#include <json/json.h>

#include "core/config/config_keys.h"

#include <string>
#include <vector>

// In document order: the module's keys, its enable flags, then each feed's.
const std::vector<ConfigKey>& configKeys();
// The rows of one key: a key that feeds read with different defaults has one
// row per default ("Database"). Empty when no part of the module reads it.
std::vector<const ConfigKey*> configKeyRows(const std::string& name);
// The known key closest in spelling (case ignored), or "" when none is close
// enough to be a likely slip.
std::string nearestConfigKey(const std::string& name);
// "unknown key 'rss_ur1' (did you mean 'rss_url'?)", or without the question
// when no key is close.
std::string unknownKeyMessage(const std::string& name);
// One message for every member of moduleParams that no part of the module
// reads, in the map's order. Nothing when moduleParams is not an object.
std::vector<std::string> unknownKeyWarnings(const Json::Value& moduleParams);
// The key index: a Markdown table of every row.
std::string configKeyIndexMarkdown();
