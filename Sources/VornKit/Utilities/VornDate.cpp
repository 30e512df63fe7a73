#include "VornDate.h"

#include "VornJSON.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>
#include <charconv>
#include <limits>

namespace {

using namespace std::chrono;

// 2001-01-01T00:00:00Z in seconds since the Unix epoch.
constexpr std::int64_t referenceUnixSeconds = 978307200;

// Appends `value` (not negative) as at least `width` decimal digits.
void appendPadded(std::string& text, long long value, int width) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    for (int pad = width - static_cast<int>(result.ptr - digits); pad > 0; --pad) {
        text.push_back('0');
    }
    text.append(digits, result.ptr);
}

bool readDigits(std::string_view text, std::size_t at, std::size_t count, int& value) noexcept {
    if (at + count > text.size()) {
        return false;
    }
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

}  // namespace

VornDate vornDateNow() {
    return time_point_cast<microseconds>(system_clock::now());
}

std::string vornISO8601String(VornDate date, bool fractionalSeconds) {
    constexpr auto earliest = sys_days{year{0} / January / 1};
    constexpr auto latest = sys_days{year{9999} / December / 31} + hours{23} + minutes{59} + seconds{59} +
                            microseconds{999999};
    if (date < earliest) {
        date = VornDate{earliest};
    } else if (date > latest) {
        date = VornDate{latest};
    }
    const sys_days day = floor<days>(date);
    const year_month_day ymd{day};
    const hh_mm_ss<microseconds> time{date - day};
    std::string text;
    text.reserve(24);
    appendPadded(text, static_cast<int>(ymd.year()), 4);
    text.push_back('-');
    appendPadded(text, static_cast<unsigned>(ymd.month()), 2);
    text.push_back('-');
    appendPadded(text, static_cast<unsigned>(ymd.day()), 2);
    text.push_back('T');
    appendPadded(text, time.hours().count(), 2);
    text.push_back(':');
    appendPadded(text, time.minutes().count(), 2);
    text.push_back(':');
    appendPadded(text, time.seconds().count(), 2);
    if (fractionalSeconds) {
        text.push_back('.');
        appendPadded(text, time.subseconds().count() / 1000, 3);
    }
    text += 'Z';
    return text;
}

std::optional<VornDate> vornDateFromISO8601(std::string_view text) noexcept {
    int yearValue = 0, monthValue = 0, dayValue = 0, hourValue = 0, minuteValue = 0, secondValue = 0;
    if (!readDigits(text, 0, 4, yearValue) || text.size() < 20 || text[4] != '-' ||
        !readDigits(text, 5, 2, monthValue) || text[7] != '-' || !readDigits(text, 8, 2, dayValue) ||
        text[10] != 'T' || !readDigits(text, 11, 2, hourValue) || text[13] != ':' ||
        !readDigits(text, 14, 2, minuteValue) || text[16] != ':' || !readDigits(text, 17, 2, secondValue)) {
        return std::nullopt;
    }
    const year_month_day ymd{year{yearValue}, month{static_cast<unsigned>(monthValue)},
                             day{static_cast<unsigned>(dayValue)}};
    if (!ymd.ok() || hourValue > 23 || minuteValue > 59 || secondValue > 59) {
        return std::nullopt;
    }
    std::size_t at = 19;
    std::int64_t micros = 0;
    if (at < text.size() && text[at] == '.') {
        ++at;
        const std::size_t firstDigit = at;
        std::int64_t scale = 100000;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            micros += (text[at] - '0') * scale;
            scale /= 10;
            ++at;
        }
        if (at == firstDigit) {
            return std::nullopt;
        }
    }
    std::int64_t offsetMinutes = 0;
    if (at < text.size() && text[at] == 'Z') {
        ++at;
    } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        const int sign = text[at] == '-' ? -1 : 1;
        int offsetHours = 0, offsetMins = 0;
        if (!readDigits(text, at + 1, 2, offsetHours)) {
            return std::nullopt;
        }
        at += 3;
        if (at < text.size() && text[at] == ':') {
            ++at;
        }
        if (!readDigits(text, at, 2, offsetMins) || offsetHours > 23 || offsetMins > 59) {
            return std::nullopt;
        }
        at += 2;
        offsetMinutes = sign * (offsetHours * 60 + offsetMins);
    } else {
        return std::nullopt;
    }
    if (at != text.size()) {
        return std::nullopt;
    }
    return VornDate{sys_days{ymd}} + hours{hourValue} + minutes{minuteValue} + seconds{secondValue} +
           microseconds{micros} - minutes{offsetMinutes};
}

double vornReferenceInterval(VornDate date) noexcept {
    const std::int64_t micros = date.time_since_epoch().count() - referenceUnixSeconds * 1'000'000;
    return static_cast<double>(micros) / 1e6;
}

std::optional<VornDate> vornDateFromReferenceInterval(double seconds) noexcept {
    if (!std::isfinite(seconds)) {
        return std::nullopt;
    }
    const double micros = std::round(seconds * 1e6) + static_cast<double>(referenceUnixSeconds) * 1e6;
    // Stay clear of the int64 edges, where the conversion itself would overflow.
    constexpr double limit = 9.0e18;
    if (micros <= -limit || micros >= limit) {
        return std::nullopt;
    }
    return VornDate{microseconds{static_cast<std::int64_t>(micros)}};
}

nlohmann::json vornDateToJSON(VornDate date) {
    return nlohmann::json(vornReferenceInterval(date));
}

VornDate vornDateFromJSON(const nlohmann::json& value, std::string_view path) {
    if (!value.is_number()) {
        throw VornDecodingError(std::string(path) + ": expected a date as a number of seconds, found " +
                                std::string(value.type_name()));
    }
    const std::optional<VornDate> date = vornDateFromReferenceInterval(value.get<double>());
    if (!date) {
        throw VornDecodingError(std::string(path) + ": date " + value.dump() + " is out of range");
    }
    return *date;
}
