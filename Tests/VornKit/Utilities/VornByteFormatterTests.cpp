#include "VornByteFormatter.h"
#include "VornTestSupport.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

}  // namespace

TEST(VornByteFormatter, FormatPicksTheUnitFromTheCountBeforeRounding) {
    const std::vector<std::pair<std::int64_t, std::string>> cases = {
        {-5, "0 B"},
        {std::numeric_limits<std::int64_t>::min(), "0 B"},
        {0, "0 B"},
        {999, "999 B"},
        {1000, "1.0 KB"},
        {1049, "1.0 KB"},
        {1051, "1.1 KB"},
        {999'999, "1000.0 KB"},
        {1'000'000, "1.0 MB"},
        {1'500'000, "1.5 MB"},
        {999'999'999, "1000.0 MB"},
        {1'000'000'000, "1.00 GB"},
        {2'500'000'000, "2.50 GB"},
        {999'999'999'999, "1000.00 GB"},
        {1'000'000'000'000, "1.00 TB"},
        {1'234'567'890'123'456, "1234.57 TB"},
        {std::numeric_limits<std::int64_t>::max(), "9223372.04 TB"},
    };
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(VornByteFormatter::format(bytes), text) << bytes;
    }
}

TEST(VornByteFormatter, FormatRate) {
    const std::vector<std::pair<double, std::string>> cases = {
        {0, "0 B/s"},          {-12.5, "0 B/s"},        {notANumber, "0 B/s"},
        {-infinity, "0 B/s"},  {infinity, "0 B/s"},     {0.5, "1 B/s"},
        {0.49, "0 B/s"},       {998.5, "999 B/s"},      {999.5, "1000 B/s"},
        {1000, "1.0 KB/s"},    {1550, "1.6 KB/s"},      {999'999, "1000.0 KB/s"},
        {1'000'000, "1.0 MB/s"}, {12'345'678, "12.3 MB/s"}, {1e9, "1.00 GB/s"},
        {2.5e12, "2500.00 GB/s"},
    };
    for (const auto& [rate, text] : cases) {
        EXPECT_EQ(VornByteFormatter::formatRate(rate), text) << rate;
    }
}

TEST(VornByteFormatter, FormatDurationClampsInsteadOfOverflowing) {
    const std::vector<std::pair<double, std::string>> cases = {
        {0, "00:00"},
        {-3, "00:00"},
        {-0.4, "00:00"},
        {0.5, "00:01"},
        {307, "05:07"},
        {59.5, "01:00"},
        {3599.4, "59:59"},
        {3599.5, "1:00:00"},
        {3600, "1:00:00"},
        {100'000, "27:46:40"},
        {360'000, "100:00:00"},
        {notANumber, "00:00"},
        {-infinity, "00:00"},
        {infinity, "2562047788015215:30:07"},
        {1e300, "2562047788015215:30:07"},
        {9.3e18, "2562047788015215:30:07"},
    };
    for (const auto& [seconds, text] : cases) {
        EXPECT_EQ(VornByteFormatter::formatDuration(seconds), text) << seconds;
    }
}

TEST(VornByteFormatter, SavingsPercent) {
    struct Case {
        std::int64_t original;
        std::int64_t optimized;
        double percent;
    };
    const std::vector<Case> cases = {
        {0, 10, 0}, {-100, 10, 0}, {100, 25, 75}, {100, 100, 0}, {100, 150, -50}, {200, 0, 100},
        {std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min(), 200},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(VornByteFormatter::savingsPercent(c.original, c.optimized), c.percent)
            << c.original << " -> " << c.optimized;
    }
}

TEST(VornByteFormatter, CsvSafeFieldQuotesAndDefusesFormulas) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "\"\""},
        {"report.pdf", "\"report.pdf\""},
        {"=SUM(A1:A9)", "\"'=SUM(A1:A9)\""},
        {"+1", "\"'+1\""},
        {"-1", "\"'-1\""},
        {"@cmd", "\"'@cmd\""},
        {"\tx", "\"'\tx\""},
        {"\r\nx", "\"'\r\nx\""},
        {"=\u0301", "\"'=\u0301\""},
        {"a=b", "\"a=b\""},
        {" =x", "\" =x\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"=\"x\"", "\"'=\"\"x\"\"\""},
        {"line\nbreak, comma", "\"line\nbreak, comma\""},
        {"Çağrı", "\"Çağrı\""},
    };
    for (const auto& [text, field] : cases) {
        EXPECT_EQ(VornByteFormatter::csvSafeField(text), field) << text;
    }
}
