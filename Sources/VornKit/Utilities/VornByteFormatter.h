#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Short display texts for sizes, rates and durations, and CSV quoting. Decimal units
// (1 KB = 1000 bytes); the decimal point is always "." whatever the process locale.
// Never fails: out-of-range input is clamped.
struct VornByteFormatter {
    // "0 B" … "999 B", "1.0 KB", "1.5 MB", "2.50 GB", "1.00 TB"; negative counts show as "0 B".
    static std::string format(std::int64_t bytes);

    // "1000 B/s", "1.0 KB/s", "1.0 MB/s", "1.25 GB/s"; negative, infinite and not-a-number rates
    // show as "0 B/s".
    static std::string formatRate(double bytesPerSecond);

    // "05:07" below an hour, "1:00:00" and "27:46:40" from an hour on. Negative and not-a-number
    // durations show as "00:00"; anything beyond the 64-bit range of seconds (infinity included)
    // is held at its end.
    static std::string formatDuration(double seconds);

    // (original − optimized) / original × 100; 0 when original ≤ 0; negative when it grew.
    static double savingsPercent(std::int64_t original, std::int64_t optimized);

    // One CSV field, always enclosed in double quotes with inner quotes doubled. A text that a
    // spreadsheet would take for a formula (starting with "=", "+", "-", "@", tab or carriage
    // return) gets an apostrophe in front.
    static std::string csvSafeField(std::string_view text);
};
