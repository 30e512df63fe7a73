#pragma once

#include <chrono>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>

// An instant in time, to the microsecond, in UTC. Its range (hundreds of thousands of years)
// covers every date a file system, a server or a stored record can hold.
using VornDate = std::chrono::sys_time<std::chrono::microseconds>;

// The current instant.
VornDate vornDateNow();

// ISO 8601 internet date-time in UTC with a "Z" suffix: "2026-03-01T09:15:02.481Z" with
// milliseconds (truncated, never rounded up into the next second), or "2026-03-01T09:15:02Z"
// without fractional seconds. Years outside 0…9999 are clamped to that range.
std::string vornISO8601String(VornDate date, bool fractionalSeconds = true);

// Reads "YYYY-MM-DDTHH:MM:SS", optionally followed by "." and one or more digits (kept to the
// microsecond), then "Z" or an offset "+HH:MM", "-HH:MM", "+HHMM" or "-HHMM". Nothing for any
// other text or an impossible date (month 13, 30 February, hour 24, second 60).
std::optional<VornDate> vornDateFromISO8601(std::string_view text) noexcept;

// Seconds since 2001-01-01T00:00:00Z, the reference instant of the records' stored dates.
double vornReferenceInterval(VornDate date) noexcept;
// The instant that many seconds after the reference instant (rounded to the microsecond);
// nothing when the value is not finite or lies outside the representable range.
std::optional<VornDate> vornDateFromReferenceInterval(double seconds) noexcept;

// JSON coding of dates inside records: a number of seconds since the reference instant
// (2001-01-01T00:00:00Z), written as the shortest text that reads back to the same double.
nlohmann::json vornDateToJSON(VornDate date);
// Reads such a number (integer or floating point); throws VornDecodingError, naming `path`, for
// anything else.
VornDate vornDateFromJSON(const nlohmann::json& value, std::string_view path = "date");
