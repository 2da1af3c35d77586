// Reading JSON members as the plain text that symbols carry, without the
// type exceptions that jsoncpp's own accessors throw on unexpected input.
#pragma once

#include <json/json.h>

#include <string>

// The member of obj named key, or nullptr when obj is not an object or has no such member.
const Json::Value* jsonMember(const Json::Value& obj, const char* key);

// A scalar's text: a string unchanged, an integral number in decimal, any
// other number in its shortest round-trip form, a boolean as "true"/"false".
// False (text untouched) for null, objects and arrays.
bool jsonScalarText(const Json::Value& value, std::string& text);

// The text of member key of an object: strings as they are, numbers and
// booleans in their JSON spelling, anything else (missing, null, objects,
// arrays, or a value that is not an object) as "".
std::string jsonMemberText(const Json::Value& object, const char* key);
// True when value is an object holding member key.
bool jsonHasMember(const Json::Value& value, const char* key);
