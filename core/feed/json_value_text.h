// Reading JSON members as the plain text that symbols carry, without the
// type errors that the value's own accessors throw on unexpected input.
#pragma once

#include <string>

#include "core/feed/json_value.h"

// The member of obj named key; missing when obj is not an object or has no such member.
JsonValue jsonMember(JsonValue obj, const char* key);

// A scalar's text: a string unchanged, an integral number in decimal, any
// other number in its shortest round-trip form, a boolean as "true"/"false".
// False (text untouched) for null, objects and arrays.
bool jsonScalarText(JsonValue value, std::string& text);

// A double in its shortest text that reads back as the same double.
std::string shortestNumberText(double value);

// The text of member key of an object: strings as they are, numbers and
// booleans as asString gives them, anything else (missing, null, objects,
// arrays, or a value that is not an object) as "".
std::string jsonMemberText(JsonValue object, const char* key);
// True when value is an object holding member key.
bool jsonHasMember(JsonValue value, const char* key);
