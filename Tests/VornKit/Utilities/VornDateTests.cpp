#include "VornDate.h"
#include "VornJSON.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace std::chrono;

namespace {

VornDate utc(int y, unsigned m, unsigned d, int hh, int mm, int ss, long long micros = 0) {
    return VornDate{sys_days{year{y} / month{m} / day{d}}} + hours{hh} + minutes{mm} + seconds{ss} +
           microseconds{micros};
}

}  // namespace

TEST(VornDate, WritesInternetDateTimeWithMillisecondsInUTC) {
    const struct {
        VornDate date;
        bool fractional;
        const char* text;
    } cases[] = {
        {utc(2026, 3, 1, 9, 15, 2, 481000), true, "2026-03-01T09:15:02.481Z"},
        {utc(2026, 3, 1, 9, 15, 2, 481999), true, "2026-03-01T09:15:02.481Z"},  // truncated
        {utc(2026, 3, 1, 9, 15, 2, 481999), false, "2026-03-01T09:15:02Z"},
        {utc(1969, 12, 31, 23, 59, 59, 999999), true, "1969-12-31T23:59:59.999Z"},
        {utc(2001, 1, 1, 0, 0, 0), true, "2001-01-01T00:00:00.000Z"},
        {utc(2024, 2, 29, 23, 0, 0, 5000), true, "2024-02-29T23:00:00.005Z"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(vornISO8601String(c.date, c.fractional), c.text);
    }
}

TEST(VornDate, ReadsInternetDateTimesWithAndWithoutFractionsAndOffsets) {
    const struct {
        const char* text;
        VornDate date;
    } cases[] = {
        {"2009-10-12T17:50:30.000Z", utc(2009, 10, 12, 17, 50, 30)},
        {"2009-10-12T17:50:30Z", utc(2009, 10, 12, 17, 50, 30)},
        {"2026-03-01T09:15:02.481Z", utc(2026, 3, 1, 9, 15, 2, 481000)},
        {"2026-03-01T09:15:02.1234567Z", utc(2026, 3, 1, 9, 15, 2, 123456)},
        {"2026-03-01T12:15:02+03:00", utc(2026, 3, 1, 9, 15, 2)},
        {"2026-03-01T04:45:02-0430", utc(2026, 3, 1, 9, 15, 2)},
        {"2024-02-29T00:00:00Z", utc(2024, 2, 29, 0, 0, 0)},
    };
    for (const auto& c : cases) {
        const auto date = vornDateFromISO8601(c.text);
        ASSERT_TRUE(date.has_value()) << c.text;
        EXPECT_EQ(*date, c.date) << c.text;
    }
    const VornDate now = vornDateNow();
    EXPECT_EQ(vornDateFromISO8601(vornISO8601String(now)), floor<milliseconds>(now));
}

TEST(VornDate, RejectsMalformedOrImpossibleDates) {
    const char* const bad[] = {
        "",
        "2026-03-01",
        "2026-03-01T09:15:02",        // no zone
        "2026-03-01 09:15:02Z",       // blank instead of T
        "2026-13-01T09:15:02Z",
        "2023-02-29T09:15:02Z",       // not a leap year
        "2026-03-01T24:00:00Z",
        "2026-03-01T09:60:00Z",
        "2026-03-01T09:15:60Z",
        "2026-03-01T09:15:02.Z",      // dot without digits
        "2026-03-01T09:15:02ZZ",
        "2026-03-01T09:15:02+3:00",
        "2026-03-01T09:15:02+03:",
        "+2026-03-01T09:15:02Z",
        "2026-03-01T09:15:02.481Z\n",
    };
    for (const char* text : bad) {
        EXPECT_FALSE(vornDateFromISO8601(text).has_value()) << text;
    }
}

TEST(VornDate, JSONCodingIsSecondsSinceTheReferenceInstant) {
    EXPECT_EQ(vornDateToJSON(utc(2001, 1, 1, 0, 0, 0)).dump(), "0.0");
    EXPECT_DOUBLE_EQ(vornReferenceInterval(utc(2001, 1, 1, 0, 0, 1, 500000)), 1.5);
    EXPECT_DOUBLE_EQ(vornReferenceInterval(utc(1970, 1, 1, 0, 0, 0)), -978307200.0);

    const VornDate samples[] = {utc(2026, 3, 1, 9, 15, 2, 481123), utc(1900, 1, 1, 0, 0, 0, 1),
                                utc(2200, 12, 31, 23, 59, 59, 999999), vornDateNow()};
    for (const VornDate date : samples) {
        const nlohmann::json coded = nlohmann::json::parse(vornDateToJSON(date).dump());
        EXPECT_EQ(vornDateFromJSON(coded), date) << coded.dump();
    }
    EXPECT_EQ(vornDateFromJSON(nlohmann::json(10)), utc(2001, 1, 1, 0, 0, 10));
}

TEST(VornDate, JSONReadingRejectsNonNumbersAndHugeValues) {
    const nlohmann::json bad[] = {"2026-03-01T09:15:02Z", nullptr, true, nlohmann::json::array(),
                                  nlohmann::json(1e300), nlohmann::json(-1e300)};
    for (const auto& value : bad) {
        EXPECT_THROW(vornDateFromJSON(value), VornDecodingError) << value.dump();
    }
    EXPECT_FALSE(vornDateFromReferenceInterval(std::numeric_limits<double>::quiet_NaN()).has_value());
    EXPECT_FALSE(vornDateFromReferenceInterval(std::numeric_limits<double>::infinity()).has_value());
}
