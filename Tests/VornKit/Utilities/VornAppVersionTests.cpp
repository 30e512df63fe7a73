#include "VornAppVersion.h"
#include "VornBundle.h"
#include "VornBuildInfo.h"
#include "VornTestSupport.h"

#include <limits>
#include <nlohmann/json.hpp>

namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

VornSemVer v(std::int64_t major, std::int64_t minor, std::int64_t patch) { return {major, minor, patch}; }

template <typename Call>
VornSemVerError thrownBy(Call&& call) {
    try {
        call();
    } catch (const VornSemVerError& error) {
        return error;
    }
    ADD_FAILURE() << "no VornSemVerError was thrown";
    return VornSemVerError::invalidFormat("<none>");
}

}  // namespace

TEST(VornSemVer, ParsesTrimmedTextWithOptionalLeadingV) {
    const struct {
        const char* text;
        VornSemVer expected;
    } accepted[] = {
        {"1.2.3", v(1, 2, 3)},
        {"  v1.2.3\n", v(1, 2, 3)},
        {"V10.0.1", v(10, 0, 1)},
        {"01.002.0", v(1, 2, 0)},
        {"+1.2.3", v(1, 2, 3)},
        {"1.-0.3", v(1, 0, 3)},
        {"\u00A09223372036854775807.0.0\u2028", v(kMax, 0, 0)},
    };
    for (const auto& c : accepted) {
        const auto parsed = VornSemVer::parsing(c.text);
        ASSERT_TRUE(parsed.has_value()) << c.text;
        EXPECT_EQ(*parsed, c.expected) << c.text;
    }
    const char* rejected[] = {"1.2",     "1.2.3.4", "1..3",   "1.2.",   "a.b.c",
                              "1.-2.3",  "",        "   ",    "v",      "1.2.3-beta",
                              "vv1.2.3", "1. 2.3",  "0x1.2.3", "1.2.+", "9223372036854775808.0.0"};
    for (const char* text : rejected) {
        EXPECT_FALSE(VornSemVer::parsing(text).has_value()) << text;
    }
}

TEST(VornSemVer, ParseThrowsInvalidFormatWithTheUntrimmedText) {
    const VornSemVerError error = thrownBy([] { VornSemVer::parse("  hello  "); });
    EXPECT_EQ(error, VornSemVerError::invalidFormat("  hello  "));
    EXPECT_EQ(error.description(), "Invalid SemVer 2.0.0 string: '  hello  ' (expected MAJOR.MINOR.PATCH).");
}

TEST(VornSemVer, OrdersLexicographicallyAndCodesAsJSON) {
    EXPECT_LT(v(1, 9, 9), v(2, 0, 0));
    EXPECT_LT(v(1, 2, 3), v(1, 10, 0));
    EXPECT_GT(v(1, 2, 4), v(1, 2, 3));
    EXPECT_EQ(v(-1, -5, 3), v(0, 0, 3));
    EXPECT_EQ(v(12, 0, 7).description(), "12.0.7");

    const nlohmann::json json = v(1, 2, 3);
    EXPECT_EQ(json.dump(), R"({"major":1,"minor":2,"patch":3})");
    EXPECT_EQ(json.get<VornSemVer>(), v(1, 2, 3));
    EXPECT_EQ(nlohmann::json(VornVersionBumpKind::minor).dump(), R"("minor")");
    EXPECT_THROW((void)nlohmann::json("Minor").get<VornVersionBumpKind>(), nlohmann::json::exception);
    EXPECT_EQ(fromRawValue<VornVersionBumpKind>("major"), VornVersionBumpKind::major);
    EXPECT_EQ(fromRawValue<VornVersionBumpKind>("MAJOR"), std::nullopt);
}

TEST(VornSemVer, TransitionRuleAcceptsOnlySingleStepsOfTheRequestedKind) {
    using K = VornVersionBumpKind;
    const VornSemVer from = v(1, 2, 3);
    for (auto [to, kind] : {std::pair{v(1, 2, 4), K::patch}, {v(1, 3, 0), K::minor}, {v(2, 0, 0), K::major},
                            {v(1, 2, 3), K::build}}) {
        EXPECT_NO_THROW(VornSemVer::validateTransition(from, to, kind)) << to.description();
    }

    const struct {
        VornSemVer to;
        K kind;
        VornSemVerError expected;
    } refused[] = {
        {v(1, 2, 2), K::patch, VornSemVerError::downgradeNotAllowed("1.2.3", "1.2.2")},
        {v(1, 2, 2), K::build, VornSemVerError::downgradeNotAllowed("1.2.3", "1.2.2")},
        {v(1, 2, 5), K::patch, VornSemVerError::multiStepJumpBlocked("1.2.3", "1.2.5")},
        {v(3, 0, 0), K::major, VornSemVerError::multiStepJumpBlocked("1.2.3", "3.0.0")},
        {v(1, 4, 0), K::minor, VornSemVerError::multiStepJumpBlocked("1.2.3", "1.4.0")},
        {v(1, 3, 0), K::patch, VornSemVerError::unexpectedBumpKind(K::patch, "1.2.3", "1.3.0")},
        {v(2, 1, 0), K::major, VornSemVerError::unexpectedBumpKind(K::major, "1.2.3", "2.1.0")},
        {v(1, 2, 3), K::patch, VornSemVerError::unexpectedBumpKind(K::patch, "1.2.3", "1.2.3")},
        {v(1, 2, 4), K::build, VornSemVerError::unexpectedBumpKind(K::build, "1.2.3", "1.2.4")},
    };
    for (const auto& c : refused) {
        EXPECT_EQ(thrownBy([&] { VornSemVer::validateTransition(from, c.to, c.kind); }), c.expected)
            << c.to.description();
    }
    EXPECT_EQ(VornSemVerError::downgradeNotAllowed("1.2.3", "1.2.2").description(),
              "Version downgrade blocked: 1.2.3 -> 1.2.2.");
    EXPECT_EQ(VornSemVerError::unexpectedBumpKind(K::patch, "1.2.3", "1.3.0").description(),
              "Transition 1.2.3 -> 1.3.0 does not match requested 'patch' bump.");
    EXPECT_EQ(VornSemVerError::multiStepJumpBlocked("1.2.3", "1.2.5").description(),
              "Multi-step version jump blocked by Vornworks policy: 1.2.3 -> 1.2.5. Only +1 increments are permitted.");
}

TEST(VornSemVer, ArithmeticThatWouldOverflowFailsWithInvalidFormat) {
    using K = VornVersionBumpKind;
    EXPECT_EQ(v(1, 2, kMax).bumped(K::minor), v(1, 3, 0));
    EXPECT_EQ(v(kMax, 2, 3).bumped(K::build), v(kMax, 2, 3));
    const std::string top = std::to_string(kMax);
    EXPECT_EQ(thrownBy([] { (void)v(1, 2, kMax).bumped(K::patch); }),
              VornSemVerError::invalidFormat("1.2." + top));
    EXPECT_EQ(thrownBy([] { (void)v(kMax, 0, 0).bumped(K::major); }),
              VornSemVerError::invalidFormat(top + ".0.0"));
    EXPECT_EQ(thrownBy([] { VornSemVer::validateTransition(v(1, kMax, 0), v(2, 0, 0), K::minor); }),
              VornSemVerError::invalidFormat("1." + top + ".0"));
    // Differences at the extremes are not an overflow either.
    EXPECT_EQ(thrownBy([] { VornSemVer::validateTransition(v(0, 0, 0), v(kMax, 0, 0), K::major); }),
              VornSemVerError::multiStepJumpBlocked("0.0.0", top + ".0.0"));
}

TEST(VornAppVersion, ReadsTheBundleWithFallbacksForMissingBlankOrNonTextValues) {
    const struct {
        nlohmann::json info;
        VornAppVersion expected;
    } cases[] = {
        {{{"CFBundleShortVersionString", " 2.4.1\n"}, {"CFBundleVersion", "57"}}, {"2.4.1", "57"}},
        {{{"CFBundleShortVersionString", "2.0"}, {"CFBundleVersion", 57}}, {"2.0", "100"}},
        {{{"CFBundleShortVersionString", " \t\n"}, {"CFBundleVersion", " 9 "}}, {"1.0.0", "9"}},
        {nlohmann::json::object(), {"1.0.0", "100"}},
    };
    for (const auto& c : cases) {
        const VornBundle bundle(std::nullopt, c.info, {});
        EXPECT_EQ(VornAppVersion::current(bundle), c.expected) << c.info.dump();
    }
    const VornBundle blank(std::nullopt, nlohmann::json::object(), {});
    EXPECT_EQ(VornAppVersion::current(blank, " 0.1 ", "x"), VornAppVersion(" 0.1 ", "x"));
}

TEST(VornAppVersion, DisplayFormsAndTheRunningProgramsVersion) {
    const VornAppVersion version("2.0", "57");
    EXPECT_EQ(version.tag(), "v2.0");
    EXPECT_EQ(version.detailedDisplay(), "v2.0 (57)");
    EXPECT_EQ(version.semVer(), std::nullopt);
    EXPECT_EQ(VornAppVersion("v3.1.4", "1").semVer(), v(3, 1, 4));

    EXPECT_EQ(VornAppVersion::current(), VornAppVersion(VORN_APP_VERSION, VORN_APP_BUILD));
}
