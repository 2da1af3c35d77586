// Conversions between POSIX times (signed 64-bit seconds) and the text forms
// the feeds meet. For the two parsers, 0 means "not convertible".
#pragma once

#include <cstdint>
#include <string>

// Offset of the process zone from UTC at t, in seconds east, DST included.
int32_t get_tz_offset_from_utc(int64_t t);
// The wall-clock time at the given offset as "YYYY-MM-DD HH:MM:SS".
std::string convert_posix_to_ymdhms_local(int64_t t, int32_t offset);
// "YYYY-MM-DD HH:MM:SS" read in the process zone (DST off) minus offset;
// 0 for a text of 18 characters or fewer.
int64_t convert_ymdhms_local_to_posix(const std::string& text, int32_t offset);
// "YYYY-MM-DDTHH:MM:SS+HH:MM" (a numeric offset is required); 0 otherwise.
int64_t convert_iso8601_local_to_posix(const std::string& text);
std::string formatCurrentLocalTime(const std::string& format);
// t in UTC as "%d/%m/%y %T".
std::string formatPosixTimeUtc(int64_t t);
// Sets TZ (overwriting) and calls tzset; an unknown zone falls back to UTC.
void setProcessTimeZone(const std::string& zone);
