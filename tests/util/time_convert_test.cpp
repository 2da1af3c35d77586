#include "util/time_convert.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "tests/support/feed_test.h"
#include "util/time_check.h"

TEST(TimeConvert, Iso8601NeedsANumericOffset) {
    struct Case {
        const char* text;
        int64_t expected;
    } cases[] = {
        {"2026-02-20T04:27:00-07:00", 1771586820},
        {"2026-02-20T11:27:00+00:00", 1771586820},
        {"2026-02-20T16:57:00+05:30", 1771586820},
        {"2026-02-20T07:57:00-03:30", 1771586820},
        {"2026-02-20T11:27:00Z", 0},
        {"2026-02-20T04:27:00.000+01:00", 0},
        {"2026-02-20T11:27", 0},
        {"", 0},
        {"garbage", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(convert_iso8601_local_to_posix(c.text), c.expected) << c.text;
}

TEST(TimeConvert, LocalTextRoundTripsAtAnOffset) {
    ZoneScope gmt("GMT");
    EXPECT_EQ(convert_ymdhms_local_to_posix("2021-03-11 20:55:51", 3600), 1615492551);
    EXPECT_EQ(convert_ymdhms_local_to_posix("2021-03-11 20:55:5", 3600), 0);
    EXPECT_EQ(convert_posix_to_ymdhms_local(1615492551, 0), "2021-03-11 19:55:51");
    EXPECT_EQ(convert_posix_to_ymdhms_local(1615492551, 3600), "2021-03-11 20:55:51");
    EXPECT_EQ(formatPosixTimeUtc(1615492551), "11/03/21 19:55:51");
}

// Known zones: the self-check below and Time2038.RoutinesReadAndWriteTimesPastThe32BitEnd.
TEST(TimeConvert, AnUnknownZoneReadsAsUtc) {
    ZoneScope zone(":/usr/share/zoneinfo/No/Such_Zone");
    EXPECT_EQ(get_tz_offset_from_utc(1654961938), 0);
}

// Every check of the self-check program counts: a wrong offset or conversion
// changes its tally and its exit status.
TEST(TimeConvert, SelfCheckPassesEveryCheckAndExitsZero) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(WEBSERVICES_SELFCHECK_BIN "; echo rc=$?", "r"), pclose);
    ASSERT_TRUE(pipe);
    std::string output;
    char buffer[4096];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) output.append(buffer, got);
    const std::string tail = "Passed:12 Failed:0\nrc=0\n";
    ASSERT_GE(output.size(), tail.size()) << output;
    EXPECT_EQ(output.substr(output.size() - tail.size()), tail) << output;
}
