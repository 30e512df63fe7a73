#include "VornAppIdentity.h"
#include "VornBundle.h"
#include "VornTestSupport.h"

#include <nlohmann/json.hpp>

#include <set>

TEST(VornAppIdentity, CatalogueHas75DistinctLowerCaseIdentitiesInFamilies) {
    const auto& rows = VornAppIdentities::catalogue();
    ASSERT_EQ(rows.size(), 75u);
    std::set<std::string_view> raw;
    std::size_t perFamily[3] = {};
    for (std::size_t tag = 0; tag < rows.size(); ++tag) {
        EXPECT_EQ(rows[tag].identity, allCases<VornAppIdentity>()[tag]);
        EXPECT_EQ(rawValue(rows[tag].identity), rows[tag].rawValue);
        EXPECT_EQ(fromRawValue<VornAppIdentity>(rows[tag].rawValue), rows[tag].identity);
        // Every identity resolves from its display name, its raw value and a bundle identifier.
        EXPECT_EQ(VornAppIdentities::resolve(rows[tag].displayName), rows[tag].identity) << rows[tag].displayName;
        EXPECT_EQ(VornAppIdentities::resolve("com.vornworks." + std::string(rows[tag].caseName)), rows[tag].identity);
        raw.insert(rows[tag].rawValue);
        ++perFamily[static_cast<int>(rows[tag].family)];
    }
    EXPECT_EQ(raw.size(), 75u);
    EXPECT_EQ(perFamily[0], 27u);
    EXPECT_EQ(perFamily[1], 16u);
    EXPECT_EQ(perFamily[2], 32u);
    EXPECT_EQ(rawValue(VornAppIdentity::vornSled), "vornsled");
    EXPECT_EQ(VornAppIdentities::info(VornAppIdentity::vornSled).family, VornAppFamily::systemAndNetwork);
    EXPECT_EQ(static_cast<int>(VornAppIdentity::vornOffload), 50);
    EXPECT_EQ(VornAppIdentity::vornOffload, VornAppIdentity::vornMemoryOffload);
}

TEST(VornAppIdentity, ResolvesFreeFormNames) {
    const struct {
        const char* name;
        std::optional<VornAppIdentity> expected;
    } cases[] = {
        {"com.vornworks.vornsled", VornAppIdentity::vornSled},
        {"Vorn Sled", VornAppIdentity::vornSled},
        {"VornSled", VornAppIdentity::vornSled},
        {"VORN-SLED", VornAppIdentity::vornSled},
        {"vorn_sled!", VornAppIdentity::vornSled},
        {"..vornsled..", VornAppIdentity::vornSled},
        {"sled", VornAppIdentity::vornSled},               // alias
        {"Vorn Sled Transfer", VornAppIdentity::vornSled},  // second alias of the same identity
        {"Vorn Memory", VornAppIdentity::vornMemoryOffload},
        {"vornmemoryoffload", VornAppIdentity::vornMemoryOffload},
        {"Vorn Network Scope", VornAppIdentity::vornNetScope},
        {"com.vornworks.vornsled.helper", std::nullopt},  // only the last part counts
        {"vornsled.", VornAppIdentity::vornSled},
        {"...", std::nullopt},
        {"", std::nullopt},
        {"Vörn Sled", std::nullopt},
        {"vornsled\xff", VornAppIdentity::vornSled},  // ill-formed bytes are not alphanumeric
        {"vornsled2", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VornAppIdentities::resolve(c.name), c.expected) << c.name;
    }
    EXPECT_EQ(VornAppIdentities::normalizedName("Sled Pro 2 — Édition ١٢"), "sledpro2édition١٢");
    EXPECT_EQ(fromRawValue<VornAppIdentity>("VornSled"), std::nullopt);
}

TEST(VornAppIdentity, CurrentTriesIdentifierDisplayNameNameThenProcessName) {
    const auto bundle = [](std::optional<std::string> id, nlohmann::json info) {
        return VornBundle(std::move(id), std::move(info), {});
    };
    EXPECT_EQ(VornAppIdentities::current(bundle("com.example.unknown", {{"CFBundleDisplayName", "Vorn Mail"},
                                                                         {"CFBundleName", "vornnotes"}}),
                                         "vornpdf"),
              VornAppIdentity::vornMail);
    EXPECT_EQ(VornAppIdentities::current(bundle(std::nullopt, {{"CFBundleDisplayName", 7}, {"CFBundleName", "Vorn Notes"}}),
                                         "vornpdf"),
              VornAppIdentity::vornNotes);
    EXPECT_EQ(VornAppIdentities::current(bundle(std::nullopt, nlohmann::json::object()), "vorn-pdf"),
              VornAppIdentity::vornPdf);
    EXPECT_EQ(VornAppIdentities::current(bundle("x", {{"CFBundleName", "y"}}), "z"), std::nullopt);
    EXPECT_EQ(VornAppIdentities::current(), VornAppIdentity::vornSled);  // from the main bundle's identifier
}

TEST(VornAppIdentity, CodesAsItsRawValue) {
    EXPECT_EQ(nlohmann::json(VornAppIdentity::vornSled).dump(), R"("vornsled")");
    EXPECT_EQ(nlohmann::json("vornsled").get<VornAppIdentity>(), VornAppIdentity::vornSled);
    EXPECT_THROW((void)nlohmann::json("VornSled").get<VornAppIdentity>(), nlohmann::json::exception);
    EXPECT_THROW((void)nlohmann::json(3).get<VornAppIdentity>(), nlohmann::json::exception);
}
