// The one set of rules by which the module and every feed read their
// "ModuleParams" keys.
#pragma once

#include <json/json.h>

#include <string>

// A JSON string's text, otherwise the default.
std::string readStringKey(const Json::Value& section, const char* key, const std::string& defaultValue);
// Null or missing: the default; an integer (or a number or bool convertible
// to one): its value; a string: atoi of its text; anything else: the default.
int readIntKey(const Json::Value& section, const char* key, int defaultValue);
// An integer key read as above, true when not 0.
bool readFlagKey(const Json::Value& section, const char* key, bool defaultValue = false);

// How a key was asked for: as text, as an integer, or looked up (jsonMember).
enum class KeyRead { kText, kInteger, kLookup };
// Sees every key asked of a section through the readers above or jsonMember,
// with the reader's default in text ("" for a look-up). Lets a test prove that
// the key table misses no key the code reads. Called on the reading thread;
// nullptr removes it. Not for production use.
using ConfigKeyObserver = void (*)(const Json::Value& section, const char* key, KeyRead read,
                                   const std::string& defaultText);
void setConfigKeyObserver(ConfigKeyObserver observer);
void noteConfigKeyRead(const Json::Value& section, const char* key, KeyRead read, const std::string& defaultText);
