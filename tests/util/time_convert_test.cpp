#include "util/time_convert.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "util/time_check.h"

namespace {
// Restores the process zone the tests found.
class ZoneGuard {
public:
    ZoneGuard() {
        const char* tz = getenv("TZ");
        m_had = tz != nullptr;
        if (tz) m_zone = tz;
    }
    ~ZoneGuard() {
        if (m_had)
            setProcessTimeZone(m_zone);
        else {
            unsetenv("TZ");
            tzset();
        }
    }

private:
    bool m_had = false;
    std::string m_zone;
};
}  // namespace

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
    ZoneGuard guard;
    setProcessTimeZone("GMT");
    EXPECT_EQ(convert_ymdhms_local_to_posix("2021-03-11 20:55:51", 3600), 1615492551);
    EXPECT_EQ(convert_ymdhms_local_to_posix("2021-03-11 20:55:5", 3600), 0);
    EXPECT_EQ(convert_posix_to_ymdhms_local(1615492551, 0), "2021-03-11 19:55:51");
    EXPECT_EQ(convert_posix_to_ymdhms_local(1615492551, 3600), "2021-03-11 20:55:51");
    EXPECT_EQ(formatPosixTimeUtc(1615492551), "11/03/21 19:55:51");
}

TEST(TimeConvert, OffsetsFollowTheZoneDatabase) {
    ZoneGuard guard;
    struct Case {
        const char* zone;
        int32_t expected;
    } cases[] = {
        {":/usr/share/zoneinfo/Europe/Sarajevo", 7200},
        {":/usr/share/zoneinfo/Europe/London", 3600},
        {":/usr/share/zoneinfo/America/Buenos_Aires", -10800},
        {":/usr/share/zoneinfo/Australia/LHI", 37800},
        {":/usr/share/zoneinfo/No/Such_Zone", 0},
    };
    for (const auto& c : cases) {
        setProcessTimeZone(c.zone);
        EXPECT_EQ(get_tz_offset_from_utc(1654961938), c.expected) << c.zone;
    }
}

TEST(TimeConvert, ProgramsReportEveryCheckAndExitWithTheResult) {
    ZoneGuard guard;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(WEBSERVICES_SELFCHECK_BIN "; echo rc=$?", "r"), pclose);
    ASSERT_TRUE(pipe);
    std::string output;
    char buffer[4096];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) output.append(buffer, got);

    std::string expected;
    const struct {
        const char* zone;
        const char* time;
        int dst;
        const char* offset;
    } rows[] = {
        {"Europe/Sarajevo", "1667491091", 0, "3600"},     {"Europe/London", "1667491091", 0, "0"},
        {"America/Buenos_Aires", "1654961938", 0, "-10800"}, {"Australia/LHI", "1654961938", 0, "37800"},
        {"Europe/Sarajevo", "1654961938", 1, "7200"},     {"Europe/London", "1654961938", 1, "3600"},
        {"America/Buenos_Aires", "1667491091", 1, "-10800"}, {"Australia/LHI", "1667491091", 1, "39600"},
    };
    for (const auto& r : rows) {
        expected += std::string("get_tz_offset_from_utc(") + r.time + ")\n";
        expected += std::string("TZ name::/usr/share/zoneinfo/") + r.zone + "\n";
        expected += "DST:" + std::to_string(r.dst) + "\n";
        expected += std::string("    expected result:") + r.offset + "\n    actual result:" + r.offset + "\n    TEST PASSED\n";
    }
    expected +=
        "convert_posix_to_ymdhms_local(1615492551,0)\n"
        "    expected result:2021-03-11 19:55:51\n    actual result:2021-03-11 19:55:51\n    TEST PASSED\n"
        "convert_ymdhms_local_to_posix(2021-03-11 19:55:51,0)\n"
        "    expected result:1615492551\n    actual result:1615492551\n    TEST PASSED\n"
        "convert_ymdhms_local_to_posix(2021-03-11 20:55:51,3600)\n"
        "    expected result:1615492551\n    actual result:1615492551\n    TEST PASSED\n"
        "test_convert_iso8601_local_to_posix(2026-02-20T04:27:00-07:00)\n"
        "    expected result:1771586820\n    actual result:1771586820\n    TEST PASSED\n"
        "Passed:12 Failed:0\n"
        "rc=0\n";
    EXPECT_EQ(output, expected);
}
