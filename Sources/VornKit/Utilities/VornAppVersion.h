#pragma once

#include "VornRawValue.h"

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

class VornBundle;

enum class VornVersionBumpKind { build, patch, minor, major };

template <>
struct VornRawValueTable<VornVersionBumpKind> {
    static constexpr std::string_view typeName = "VornVersionBumpKind";
    static constexpr std::array entries{
        std::pair{VornVersionBumpKind::build, std::string_view("build")},
        std::pair{VornVersionBumpKind::patch, std::string_view("patch")},
        std::pair{VornVersionBumpKind::minor, std::string_view("minor")},
        std::pair{VornVersionBumpKind::major, std::string_view("major")},
    };
};

void to_json(nlohmann::json& json, VornVersionBumpKind kind);
// An unknown text throws nlohmann::json::type_error.
void from_json(const nlohmann::json& json, VornVersionBumpKind& kind);

// The errors of version parsing and of the release-numbering rule. The texts are English only.
class VornSemVerError : public std::exception {
public:
    enum class Kind { invalidFormat, downgradeNotAllowed, multiStepJumpBlocked, unexpectedBumpKind };

    static VornSemVerError invalidFormat(std::string input);
    static VornSemVerError downgradeNotAllowed(std::string from, std::string to);
    static VornSemVerError multiStepJumpBlocked(std::string from, std::string to);
    static VornSemVerError unexpectedBumpKind(VornVersionBumpKind expected, std::string from, std::string to);

    Kind kind() const { return kind_; }
    // invalidFormat: the input as given; the other cases: the two versions' text forms.
    const std::string& input() const { return from_; }
    const std::string& from() const { return from_; }
    const std::string& to() const { return to_; }
    VornVersionBumpKind expected() const { return expected_; }

    std::string description() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

    friend bool operator==(const VornSemVerError& a, const VornSemVerError& b) {
        return a.kind_ == b.kind_ && a.from_ == b.from_ && a.to_ == b.to_ && a.expected_ == b.expected_;
    }

private:
    VornSemVerError(Kind kind, std::string from, std::string to, VornVersionBumpKind expected);

    Kind kind_;
    std::string from_;
    std::string to_;
    VornVersionBumpKind expected_;
    std::string description_;
};

// MAJOR.MINOR.PATCH, each never negative; ordered by major, then minor, then patch.
struct VornSemVer {
    std::int64_t major = 0;
    std::int64_t minor = 0;
    std::int64_t patch = 0;

    VornSemVer() = default;
    // Negative parts become 0.
    VornSemVer(std::int64_t major, std::int64_t minor, std::int64_t patch);

    // Surrounding white space and one leading "v" or "V" are ignored; exactly three decimal parts in
    // the signed 64-bit range, none negative; no pre-release or build suffix. Nothing otherwise.
    static std::optional<VornSemVer> parsing(std::string_view text);
    // As `parsing`, throwing invalidFormat with the text as given.
    static VornSemVer parse(std::string_view text);

    // The next version for `kind` (`build` leaves it unchanged). Throws invalidFormat when the part
    // to raise already holds the largest 64-bit value.
    VornSemVer bumped(VornVersionBumpKind kind) const;

    // Accepts only the single-step successor of `from` for `kind`; throws otherwise.
    static void validateTransition(const VornSemVer& from, const VornSemVer& to, VornVersionBumpKind kind);

    std::string description() const;

    friend bool operator==(const VornSemVer&, const VornSemVer&) = default;
    friend auto operator<=>(const VornSemVer&, const VornSemVer&) = default;
};

void to_json(nlohmann::json& json, const VornSemVer& version);
void from_json(const nlohmann::json& json, VornSemVer& version);

// A program's marketing version and build number as its bundle states them.
struct VornAppVersion {
    std::string shortVersion;
    std::string buildNumber;

    VornAppVersion() = default;
    VornAppVersion(std::string shortVersion, std::string buildNumber);

    // Reads the version and build texts of `bundle`, trimmed; a missing, non-text or blank value
    // gives the fallback as given.
    static VornAppVersion current(const VornBundle& bundle, std::string_view fallbackVersion = "1.0.0",
                                  std::string_view fallbackBuild = "100");
    // The running program's version with the usual fallbacks.
    static VornAppVersion current();

    std::string tag() const { return "v" + shortVersion; }
    std::string detailedDisplay() const { return "v" + shortVersion + " (" + buildNumber + ")"; }
    std::optional<VornSemVer> semVer() const { return VornSemVer::parsing(shortVersion); }

    friend bool operator==(const VornAppVersion&, const VornAppVersion&) = default;
};
