#include "VornHostName.h"
#include "VornTestSupport.h"

#include <gtest/gtest.h>

TEST(VornHostName, PrettyHostnameFromMachineInfoTable) {
    const struct {
        const char* content;
        std::optional<std::string> name;
    } cases[] = {
        {"PRETTY_HOSTNAME=\"Ayşe's Laptop\"\n", "Ayşe's Laptop"},
        {"CHASSIS=laptop\nPRETTY_HOSTNAME=Studio\nDEPLOYMENT=production\n", "Studio"},
        {"PRETTY_HOSTNAME='Quoted \"inside\"'\n", "Quoted \"inside\""},
        {"PRETTY_HOSTNAME=\"Back\\\\slash \\\"q\\\"\"\n", "Back\\slash \"q\""},
        {"PRETTY_HOSTNAME=Escaped\\ blank\n", "Escaped blank"},
        {"PRETTY_HOSTNAME=first\nPRETTY_HOSTNAME=second\n", "second"},
        {"PRETTY_HOSTNAME=\"\"\n", std::nullopt},
        {"# PRETTY_HOSTNAME=commented\n", std::nullopt},
        {"ICON_NAME=computer\n", std::nullopt},
        {"", std::nullopt},
    };
    VornTestTempDir dir;
    for (const auto& c : cases) {
        const auto file = dir.write("machine-info", c.content);
        EXPECT_EQ(VornHostName::prettyHostname(file), c.name) << c.content;
    }
    EXPECT_EQ(VornHostName::prettyHostname(dir / "missing"), std::nullopt);
    EXPECT_EQ(VornHostName::prettyHostname(dir.path()), std::nullopt);  // a folder, not a file
    const std::string huge = "PRETTY_HOSTNAME=x\n" + std::string(100 * 1024, '#');
    EXPECT_EQ(VornHostName::prettyHostname(dir.write("huge", huge)), std::nullopt);
}

TEST(VornHostName, ComputerNameIsNeverEmpty) {
    const auto name = VornHostName::computerName();
    ASSERT_TRUE(name.has_value());
    EXPECT_FALSE(name->empty());
}
