#include "VornAppVersion.h"

#include "VornBundle.h"
#include "VornUnicode.h"

#include <charconv>
#include <limits>
#include <nlohmann/json.hpp>
#include <vector>

namespace {

constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();

// A decimal integer with an optional sign, the whole text and nothing else, in 64-bit range.
std::optional<std::int64_t> parseInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.front() < '0' || text.front() > '9') {
        return std::nullopt;
    }
    // Parse the magnitude unsigned so that the most negative value is accepted as written.
    std::uint64_t magnitude = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    if (!negative) {
        if (magnitude > static_cast<std::uint64_t>(largest)) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(magnitude);
    }
    if (magnitude > static_cast<std::uint64_t>(largest) + 1) {
        return std::nullopt;
    }
    return magnitude == 0 ? 0 : -static_cast<std::int64_t>(magnitude - 1) - 1;
}

std::int64_t raised(std::int64_t part, const VornSemVer& version) {
    if (part == largest) {
        throw VornSemVerError::invalidFormat(version.description());
    }
    return part + 1;
}

std::string describe(VornSemVerError::Kind kind, const std::string& from, const std::string& to,
                     VornVersionBumpKind expected) {
    switch (kind) {
    case VornSemVerError::Kind::invalidFormat:
        return "Invalid SemVer 2.0.0 string: '" + from + "' (expected MAJOR.MINOR.PATCH).";
    case VornSemVerError::Kind::downgradeNotAllowed:
        return "Version downgrade blocked: " + from + " -> " + to + ".";
    case VornSemVerError::Kind::multiStepJumpBlocked:
        return "Multi-step version jump blocked by Vornworks policy: " + from + " -> " + to +
               ". Only +1 increments are permitted.";
    case VornSemVerError::Kind::unexpectedBumpKind:
        return "Transition " + from + " -> " + to + " does not match requested '" + rawValue(expected) +
               "' bump.";
    }
    return {};
}

std::string versionText(const VornBundle& bundle, std::string_view key, std::string_view fallback) {
    if (auto value = bundle.infoText(key)) {
        std::string trimmed = VornUnicode::trimmed(*value);
        if (!trimmed.empty()) {
            return trimmed;
        }
    }
    return std::string(fallback);
}

}  // namespace

void to_json(nlohmann::json& json, VornVersionBumpKind kind) { json = rawValue(kind); }

void from_json(const nlohmann::json& json, VornVersionBumpKind& kind) {
    kind = vornJSONGetEnumOrTypeError<VornVersionBumpKind>(json);
}

VornSemVerError::VornSemVerError(Kind kind, std::string from, std::string to, VornVersionBumpKind expected)
    : kind_(kind), from_(std::move(from)), to_(std::move(to)), expected_(expected),
      description_(describe(kind_, from_, to_, expected_)) {}

VornSemVerError VornSemVerError::invalidFormat(std::string input) {
    return {Kind::invalidFormat, std::move(input), {}, VornVersionBumpKind::build};
}

VornSemVerError VornSemVerError::downgradeNotAllowed(std::string from, std::string to) {
    return {Kind::downgradeNotAllowed, std::move(from), std::move(to), VornVersionBumpKind::build};
}

VornSemVerError VornSemVerError::multiStepJumpBlocked(std::string from, std::string to) {
    return {Kind::multiStepJumpBlocked, std::move(from), std::move(to), VornVersionBumpKind::build};
}

VornSemVerError VornSemVerError::unexpectedBumpKind(VornVersionBumpKind expected, std::string from, std::string to) {
    return {Kind::unexpectedBumpKind, std::move(from), std::move(to), expected};
}

VornSemVer::VornSemVer(std::int64_t major, std::int64_t minor, std::int64_t patch)
    : major(major < 0 ? 0 : major), minor(minor < 0 ? 0 : minor), patch(patch < 0 ? 0 : patch) {}

std::optional<VornSemVer> VornSemVer::parsing(std::string_view text) {
    std::string_view rest;
    const std::string trimmed = VornUnicode::trimmed(text);
    rest = trimmed;
    if (!rest.empty() && (rest.front() == 'v' || rest.front() == 'V')) {
        rest.remove_prefix(1);
    }
    std::vector<std::int64_t> parts;
    while (true) {
        const size_t dot = rest.find('.');
        const auto number = parseInteger(rest.substr(0, dot));
        if (!number || *number < 0 || parts.size() == 3) {
            return std::nullopt;
        }
        parts.push_back(*number);
        if (dot == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(dot + 1);
    }
    if (parts.size() != 3) {
        return std::nullopt;
    }
    return VornSemVer(parts[0], parts[1], parts[2]);
}

VornSemVer VornSemVer::parse(std::string_view text) {
    if (auto version = parsing(text)) {
        return *version;
    }
    throw VornSemVerError::invalidFormat(std::string(text));
}

VornSemVer VornSemVer::bumped(VornVersionBumpKind kind) const {
    switch (kind) {
    case VornVersionBumpKind::build: return *this;
    case VornVersionBumpKind::patch: return {major, minor, raised(patch, *this)};
    case VornVersionBumpKind::minor: return {major, raised(minor, *this), 0};
    case VornVersionBumpKind::major: return {raised(major, *this), 0, 0};
    }
    return *this;
}

void VornSemVer::validateTransition(const VornSemVer& from, const VornSemVer& to, VornVersionBumpKind kind) {
    if (to < from) {
        throw VornSemVerError::downgradeNotAllowed(from.description(), to.description());
    }
    if (to == from.bumped(kind)) {
        return;
    }
    // Both sides are never negative, so these differences cannot overflow.
    const bool multiStep = to.major - from.major >= 2 || (to.major == from.major && to.minor - from.minor >= 2) ||
                           (to.major == from.major && to.minor == from.minor && to.patch - from.patch >= 2);
    if (multiStep) {
        throw VornSemVerError::multiStepJumpBlocked(from.description(), to.description());
    }
    throw VornSemVerError::unexpectedBumpKind(kind, from.description(), to.description());
}

std::string VornSemVer::description() const {
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

void to_json(nlohmann::json& json, const VornSemVer& version) {
    json = {{"major", version.major}, {"minor", version.minor}, {"patch", version.patch}};
}

void from_json(const nlohmann::json& json, VornSemVer& version) {
    version = VornSemVer(json.at("major").get<std::int64_t>(), json.at("minor").get<std::int64_t>(),
                         json.at("patch").get<std::int64_t>());
}

VornAppVersion::VornAppVersion(std::string shortVersion, std::string buildNumber)
    : shortVersion(std::move(shortVersion)), buildNumber(std::move(buildNumber)) {}

VornAppVersion VornAppVersion::current(const VornBundle& bundle, std::string_view fallbackVersion,
                                       std::string_view fallbackBuild) {
    return {versionText(bundle, VornBundle::shortVersionKey, fallbackVersion),
            versionText(bundle, VornBundle::buildKey, fallbackBuild)};
}

VornAppVersion VornAppVersion::current() { return current(VornBundle::main()); }
