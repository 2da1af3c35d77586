#include "util/time_convert.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {
constexpr size_t kLocalDateTimeMinLength = 19;
constexpr int kIso8601Fields = 9;
}  // namespace

int32_t get_tz_offset_from_utc(int64_t t) {
    time_t tt = static_cast<time_t>(t);
    tm parts{};
    localtime_r(&tt, &parts);
    return static_cast<int32_t>(parts.tm_gmtoff);
}

std::string convert_posix_to_ymdhms_local(int64_t t, int32_t offset) {
    time_t shifted = static_cast<time_t>(t + offset);
    tm parts{};
    gmtime_r(&shifted, &parts);
    char buffer[28] = {};
    strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &parts);
    return buffer;
}

int64_t convert_ymdhms_local_to_posix(const std::string& text, int32_t offset) {
    if (text.size() < kLocalDateTimeMinLength) return 0;
    tm parts{};
    strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &parts);
    parts.tm_isdst = 0;
    return static_cast<int64_t>(mktime(&parts)) - offset;
}

int64_t convert_iso8601_local_to_posix(const std::string& text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, offsetHours = 0, offsetMinutes = 0;
    char sign = 0;
    int fields = std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d%c%d:%d", &year, &month, &day, &hour, &minute, &second,
                             &sign, &offsetHours, &offsetMinutes);
    if (fields < kIso8601Fields) return 0;
    tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    int64_t utc = static_cast<int64_t>(timegm(&parts));
    // The sign field gives the direction of hours and minutes alike: -03:30 is 3 h 30 min west.
    int64_t offset = static_cast<int64_t>(offsetHours) * 3600 + static_cast<int64_t>(offsetMinutes) * 60;
    if (sign == '+') return utc - offset;
    if (sign == '-') return utc + offset;
    return utc;
}

std::string formatCurrentLocalTime(const std::string& format) {
    time_t now = time(nullptr);
    tm parts{};
    localtime_r(&now, &parts);
    char buffer[64] = {};
    strftime(buffer, sizeof buffer, format.c_str(), &parts);
    return buffer;
}

std::string formatPosixTimeUtc(int64_t t) {
    time_t tt = static_cast<time_t>(t);
    tm parts{};
    gmtime_r(&tt, &parts);
    char buffer[80] = {};
    strftime(buffer, sizeof buffer, "%d/%m/%y %T", &parts);
    return buffer;
}

void setProcessTimeZone(const std::string& zone) {
    setenv("TZ", zone.c_str(), 1);
    tzset();
}
