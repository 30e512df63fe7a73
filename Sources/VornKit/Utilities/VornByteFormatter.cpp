#include "VornByteFormatter.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>

namespace {

// printf-style "%.Nf" without the process locale.
std::string fixed(double value, int precision, std::string_view unit) {
    std::array<char, 64> buffer{};
    const auto [end, error] =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed, precision);
    std::string text = error == std::errc() ? std::string(buffer.data(), end) : std::string("0");
    text += unit;
    return text;
}

std::string integer(std::int64_t value) {
    std::array<char, 24> buffer{};
    const auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    (void)error;  // 24 characters hold every 64-bit value
    return std::string(buffer.data(), end);
}

std::string twoDigits(std::int64_t value) {
    std::string text = integer(value);
    return text.size() < 2 ? "0" + text : text;
}

}  // namespace

std::string VornByteFormatter::format(std::int64_t bytes) {
    // The unit comes from the integer before rounding, so 999,999 bytes read "1000.0 KB".
    if (bytes <= 999) {
        return integer(bytes < 0 ? 0 : bytes) + " B";
    }
    const auto n = static_cast<double>(bytes);
    if (bytes <= 999'999) {
        return fixed(n / 1000.0, 1, " KB");
    }
    if (bytes <= 999'999'999) {
        return fixed(n / 1'000'000.0, 1, " MB");
    }
    if (bytes <= 999'999'999'999) {
        return fixed(n / 1e9, 2, " GB");
    }
    return fixed(n / 1e12, 2, " TB");
}

std::string VornByteFormatter::formatRate(double bytesPerSecond) {
    // An infinite rate comes from a zero elapsed time: there is nothing meaningful to show.
    const double r = std::isfinite(bytesPerSecond) && bytesPerSecond > 0 ? bytesPerSecond : 0.0;
    if (r < 1000.0) {
        return integer(static_cast<std::int64_t>(std::round(r))) + " B/s";
    }
    if (r < 1e6) {
        return fixed(r / 1000.0, 1, " KB/s");
    }
    if (r < 1e9) {
        return fixed(r / 1e6, 1, " MB/s");
    }
    return fixed(r / 1e9, 2, " GB/s");
}

std::string VornByteFormatter::formatDuration(double seconds) {
    std::int64_t total = 0;
    const double rounded = std::round(seconds);  // halves away from zero
    // 2^63 is the first double past the 64-bit range; converting it or more would be undefined.
    constexpr double limit = 9'223'372'036'854'775'808.0;
    if (std::isnan(rounded) || rounded <= 0) {
        total = 0;
    } else if (rounded >= limit) {
        total = std::numeric_limits<std::int64_t>::max();
    } else {
        total = static_cast<std::int64_t>(rounded);
    }
    const std::int64_t hours = total / 3600;
    const std::int64_t minutes = (total - hours * 3600) / 60;
    const std::int64_t secs = total % 60;
    if (total < 3600) {
        return twoDigits(minutes) + ":" + twoDigits(secs);
    }
    return integer(hours) + ":" + twoDigits(minutes) + ":" + twoDigits(secs);
}

double VornByteFormatter::savingsPercent(std::int64_t original, std::int64_t optimized) {
    if (original <= 0) {
        return 0;
    }
    return (static_cast<double>(original) - static_cast<double>(optimized)) / static_cast<double>(original) * 100.0;
}

std::string VornByteFormatter::csvSafeField(std::string_view text) {
    std::string field;
    field.reserve(text.size() + 3);
    field.push_back('"');
    // The first byte decides, not the first user-perceived character: a spreadsheet sees "=" even
    // when a combining mark follows it, and "\r\n" still starts with a carriage return.
    if (!text.empty()) {
        switch (text.front()) {
        case '=': case '+': case '-': case '@': case '\t': case '\r':
            field.push_back('\'');
            break;
        default:
            break;
        }
    }
    for (const char c : text) {
        if (c == '"') {
            field.push_back('"');
        }
        field.push_back(c);
    }
    field.push_back('"');
    return field;
}
