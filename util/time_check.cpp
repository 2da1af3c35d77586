#include "util/time_check.h"

#include <cstdint>
#include <string>

#include "util/time_convert.h"

namespace {
struct OffsetCase {
    const char* zone;
    int64_t time;
    bool dst;  // printed only; the result never depends on it
    int32_t expected;
};

const OffsetCase kOffsetCases[] = {
    {":/usr/share/zoneinfo/Europe/Sarajevo", 1667491091, false, 3600},
    {":/usr/share/zoneinfo/Europe/London", 1667491091, false, 0},
    {":/usr/share/zoneinfo/America/Buenos_Aires", 1654961938, false, -10800},
    {":/usr/share/zoneinfo/Australia/LHI", 1654961938, false, 37800},
    {":/usr/share/zoneinfo/Europe/Sarajevo", 1654961938, true, 7200},
    {":/usr/share/zoneinfo/Europe/London", 1654961938, true, 3600},
    {":/usr/share/zoneinfo/America/Buenos_Aires", 1667491091, true, -10800},
    {":/usr/share/zoneinfo/Australia/LHI", 1667491091, true, 39600},
};

constexpr int64_t kReferencePosix = 1615492551;
const char* const kReferenceText = "2021-03-11 19:55:51";
const char* const kIsoText = "2026-02-20T04:27:00-07:00";
constexpr int64_t kIsoExpected = 1771586820;
constexpr size_t kLocalDateTimeMinLength = 19;

class Report {
public:
    explicit Report(std::ostream& out) : m_out(out) {}
    template <typename Expected, typename Actual>
    bool result(const Expected& expected, const Actual& actual, bool passed) {
        m_out << "    expected result:" << expected << std::endl;
        m_out << "    actual result:" << actual << std::endl;
        return verdict(passed);
    }
    bool verdict(bool passed) {
        m_out << (passed ? "    TEST PASSED" : "    TEST FAILED") << std::endl;
        (passed ? m_passed : m_failed)++;
        return passed;
    }
    std::ostream& out() { return m_out; }
    int passed() const { return m_passed; }
    int failed() const { return m_failed; }

private:
    std::ostream& m_out;
    int m_passed = 0;
    int m_failed = 0;
};

void checkLocalTextToPosix(Report& report, const std::string& text, int32_t offset) {
    report.out() << "convert_ymdhms_local_to_posix(" << text << "," << offset << ")" << std::endl;
    if (text.size() < kLocalDateTimeMinLength) {
        report.result(kReferencePosix, 0, false);
        return;
    }
    int64_t actual = convert_ymdhms_local_to_posix(text, offset);
    report.result(kReferencePosix, actual, actual == kReferencePosix);
}
}  // namespace

int runTimeConversionCheck(std::ostream& out) {
    Report report(out);
    for (const OffsetCase& c : kOffsetCases) {
        out << "get_tz_offset_from_utc(" << c.time << ")" << std::endl;
        out << "TZ name:" << c.zone << std::endl;
        out << "DST:" << (c.dst ? 1 : 0) << std::endl;
        setProcessTimeZone(c.zone);
        int32_t actual = get_tz_offset_from_utc(c.time);
        report.result(c.expected, actual, actual == c.expected);
    }

    setProcessTimeZone("GMT");

    out << "convert_posix_to_ymdhms_local(" << kReferencePosix << "," << 0 << ")" << std::endl;
    std::string text = convert_posix_to_ymdhms_local(kReferencePosix, 0);
    report.result(kReferenceText, text, text == kReferenceText);

    checkLocalTextToPosix(report, "2021-03-11 19:55:51", 0);
    checkLocalTextToPosix(report, "2021-03-11 20:55:51", 3600);

    out << "test_convert_iso8601_local_to_posix(" << kIsoText << ")" << std::endl;
    int64_t iso = convert_iso8601_local_to_posix(kIsoText);
    report.result(kIsoExpected, iso, iso == kIsoExpected);

    out << "Passed:" << report.passed() << " Failed:" << report.failed() << std::endl;
    return report.failed();
}
