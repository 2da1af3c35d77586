// Checks a parameter map the way webservices-host --check-config reports it:
// by reading the map and looking at the files it names, without creating a
// feed, writing a file or starting a download.
#pragma once

#include <json/json.h>

#include <string>
#include <vector>

// One line for every problem in the "ModuleParams" section of parmMap: an
// unknown key (with the nearest known one), a value of the wrong kind or out
// of range (with the value that will be used), a URL that is not http, https
// or file, a database or file named by a key that cannot be read, the TfE and
// R2P feeds enabled together, an enabled feed without a key it cannot work
// without. Empty when there is none. Built-in paths are taken under the
// current file root; paths written in the map are used as written.
std::vector<std::string> checkConfiguration(const Json::Value& parmMap);
