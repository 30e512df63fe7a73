#include "LANNetworkHelpers.h"
#include "VornTestSupport.h"
#include "VornUnicode.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <fstream>

namespace {

TEST(LANNetworkHelpers, SanitizerDefusesHostileNames) {
    const std::string longName(10'000, 'n');
    const struct {
        const char* name;
        std::string input;
        std::string expected;
    } cases[] = {
        {"windows path", "C:\\Users\\me\\report.pdf", "report.pdf"},
        {"climbing path", "../../etc/passwd", "passwd"},
        {"absolute path", "/etc/shadow", "shadow"},
        {"dot-dot hidden", "..hidden", "hidden"},
        {"inner dot-dot", "a..b", "a_b"},
        {"four dots inside", "a....b", "a__b"},
        {"empty", "", "sleded-file.bin"},
        {"three dots", "...", "sleded-file.bin"},
        {"only slashes", "///", "___"},
        {"only backslashes", "\\\\", "__"},
        {"white space only", "   \xE3\x80\x80", "sleded-file.bin"},
        {"controls are replaced before trimming", " \t\n ", "__"},
        {"reserved characters keep length", "a:b?c*d\"e<f>g|h", "a_b_c_d_e_f_g_h"},
        {"NUL byte", std::string("evil\0.sh", 8), "evil_.sh"},
        {"control characters", "a\x01\x1f\x7f" "b", "a___b"},
        {"C1 control", "a\xC2\x85" "b", "a_b"},
        {"right-to-left override", "invoice\xE2\x80\xAEgpj.exe", "invoice_gpj.exe"},
        {"zero-width joiner and BOM", "a\xE2\x80\x8D" "b\xEF\xBB\xBF", "a_b_"},
        {"soft hyphen", "pay\xC2\xADroll.txt", "pay_roll.txt"},
        {"ill-formed UTF-8", "caf\xC3", "caf_"},
        {"trailing spaces trimmed", "  report.pdf \xE3\x80\x80", "report.pdf"},
        {"leading dot after trimming", " .bashrc", "bashrc"},
        {"unicode kept", "Ça va — 日本.txt", "Ça va — 日本.txt"},
        {"long name passes through", longName, longName},
    };
    for (const auto& c : cases) {
        const std::string result = LANNetworkHelpers::sanitizeIncomingFileName(c.input);
        EXPECT_EQ(result, c.expected) << c.name;
        EXPECT_EQ(result.find('/'), std::string::npos) << c.name;
        EXPECT_EQ(result.find('\0'), std::string::npos) << c.name;
        EXPECT_TRUE(VornUnicode::isValidUTF8(result)) << c.name;
    }
}

TEST(LANNetworkHelpers, UniqueSaveURLCountsUpAndKeepsExtensions) {
    VornTestTempDir dir;
    for (const char* taken : {"a.txt", "a (1).txt", "archive.tar.gz", "README", ".profile"}) {
        dir.write(taken, "x");
    }
    const std::pair<const char*, const char*> cases[] = {
        {"a.txt", "a (2).txt"},
        {"archive.tar.gz", "archive.tar (1).gz"},
        {"README", "README (1)"},
        {".profile", ".profile (1)"},
        {"new.bin", "new.bin"},
    };
    for (const auto& [name, expected] : cases) {
        EXPECT_EQ(LANNetworkHelpers::uniqueSaveURL(dir.path(), name), dir.path() / expected) << name;
    }
    // A dangling symbolic link still occupies its name.
    std::filesystem::create_symlink(dir / "nowhere", dir / "link.txt");
    EXPECT_EQ(LANNetworkHelpers::uniqueSaveURL(dir.path(), "link.txt"), dir.path() / "link (1).txt");
}

TEST(LANNetworkHelpers, UniqueSaveURLFitsOverlongNamesIntoTheFileSystem) {
    VornTestTempDir dir;
    const std::string base(300, 'x');
    const std::string multiByte = std::string(100, 'a') + std::string(100, '\xC3') ;  // ill-formed tail
    for (const std::string& name : {base + ".pdf", std::string(200, 'y') + "é" + std::string(100, 'z') + ".txt",
                                    "note." + std::string(400, 'e'), multiByte}) {
        const std::filesystem::path first = LANNetworkHelpers::uniqueSaveURL(dir.path(), name);
        const std::string leaf = first.filename().string();
        EXPECT_LE(leaf.size(), LANNetworkHelpers::maximumFileNameBytes);
        std::ofstream(first) << "1";
        ASSERT_TRUE(std::filesystem::exists(first)) << leaf;
        const std::filesystem::path second = LANNetworkHelpers::uniqueSaveURL(dir.path(), name);
        EXPECT_NE(first, second);
        EXPECT_LE(second.filename().string().size(), LANNetworkHelpers::maximumFileNameBytes);
        std::ofstream(second) << "2";
        EXPECT_TRUE(std::filesystem::exists(second));
    }
    const std::filesystem::path pdf = LANNetworkHelpers::uniqueSaveURL(dir.path(), base + ".pdf");
    EXPECT_TRUE(pdf.filename().string().ends_with(" (2).pdf"));
}

TEST(LANNetworkHelpers, AddressesAreDottedIPv4AndNeverEmpty) {
    const std::vector<std::string> addresses = LANNetworkHelpers::localIPv4Addresses();
    ASSERT_FALSE(addresses.empty());
    for (const std::string& address : addresses) {
        in_addr parsed {};
        EXPECT_EQ(::inet_pton(AF_INET, address.c_str(), &parsed), 1) << address;
        EXPECT_FALSE(address.starts_with("169.254.")) << address;
    }
    const std::string primary = LANNetworkHelpers::primaryLANIPv4();
    if (addresses == std::vector<std::string>{"127.0.0.1"}) {
        EXPECT_EQ(primary, "127.0.0.1");
    } else {
        EXPECT_NE(std::find(addresses.begin(), addresses.end(), primary), addresses.end()) << primary;
        EXPECT_NE(primary, "127.0.0.1");
    }
}

// The three finder patterns sit in the corners: a dark 7x7 ring around a light ring around a dark
// 3x3 square, inside a one-module light border.
void expectFinderPattern(const LANQRCodeImage& image, int moduleSize, int moduleX, int moduleY) {
    auto dark = [&](int mx, int my) { return image.pixel((mx + 1) * moduleSize, (my + 1) * moduleSize) == 0; };
    EXPECT_TRUE(dark(moduleX, moduleY));
    EXPECT_TRUE(dark(moduleX + 6, moduleY + 6));
    EXPECT_FALSE(dark(moduleX + 1, moduleY + 1));
    EXPECT_TRUE(dark(moduleX + 3, moduleY + 3));
}

TEST(LANNetworkHelpers, QRCodeScalesToTheRequestedSize) {
    const std::string url = "http://192.168.1.20:53318/";
    const std::optional<LANQRCodeImage> small = LANNetworkHelpers::generateQRCodeImage(url, 1);
    ASSERT_TRUE(small.has_value());
    // Natural size: one pixel per module, version 2 (25 modules) at level M, plus the border.
    EXPECT_EQ(small->pixelWidth, 27);
    EXPECT_EQ(small->pixelHeight, 27);
    EXPECT_EQ(small->displaySize, 1);
    expectFinderPattern(*small, 1, 0, 0);
    expectFinderPattern(*small, 1, 18, 0);
    expectFinderPattern(*small, 1, 0, 18);

    const std::optional<LANQRCodeImage> big = LANNetworkHelpers::generateQRCodeImage(url, 270);
    ASSERT_TRUE(big.has_value());
    EXPECT_EQ(big->pixelWidth, 270);
    EXPECT_EQ(big->pixels.size(), 270u * 270u);
    expectFinderPattern(*big, 10, 0, 0);
    expectFinderPattern(*big, 10, 18, 0);

    EXPECT_FALSE(LANNetworkHelpers::generateQRCodeImage("", 100).has_value());
    EXPECT_FALSE(LANNetworkHelpers::generateQRCodeImage(std::string(3000, 'x'), 100).has_value());
}

}  // namespace

namespace {

TEST(LANNetworkHelpers, MachineNamesComeFromTheHostNameAndTheResolver) {
    const std::string resolver = "# generated\nnameserver 10.0.0.1\nsearch lan Office.Example.\ndomain corp.example  # note\n"
                                 "options ndots:2\n";
    EXPECT_EQ(LANNetworkHelpers::machineNames("Desk", "desk.corp.example.", resolver),
              (std::vector<std::string>{"desk", "desk.local", "desk.corp.example", "desk.lan", "desk.office.example"}));
    // A host name set as a full name still answers to its first label.
    EXPECT_EQ(LANNetworkHelpers::machineNames("desk.home.arpa", "", ""),
              (std::vector<std::string>{"desk.home.arpa", "desk", "desk.local"}));
    EXPECT_TRUE(LANNetworkHelpers::machineNames("", "x.example", resolver).empty());
}

TEST(LANNetworkHelpers, OnlyAddressesLocalhostAndOwnNamesNameThisMachine) {
    const std::vector<std::string> own = LANNetworkHelpers::machineNames("desk", "desk.corp.example", "search lan\n");
    const struct {
        const char* host;
        bool accepted;
    } cases[] = {
        {"192.168.1.20:53318", true},
        {"10.0.0.5", true},
        {"[fe80::1]:53318", true},
        {"[fe80::1%25eth0]:53318", true},
        {"[::ffff:192.168.1.20]", true},
        {"localhost:53318", true},
        {"LocalHost.", true},
        {"desk:53318", true},
        {"desk.", true},
        {"DESK.local:53318", true},
        {"desk.local.:53318", true},
        {"desk.lan", true},
        {"desk.corp.example:53318", true},
        {"attacker.example:53318", false},
        {"desk.attacker.example", false},
        {"desk.local.attacker.example", false},
        {"localhost.attacker.example", false},
        {"sub.localhost", false},
        {"desk..", false},
        {"lan", false},
        {"192.168.1.20.nip.io", false},
        {"3232235796", false},
        {"0xc0.0xa8.1.20", false},
        {"[fe80::1", false},
        {"[fe80::1]x", false},
        {"[attacker.example]", false},
        {"::1", false},
        {"desk:port", false},
        {":53318", false},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LANNetworkHelpers::hostNamesThisMachine(c.host, own), c.accepted) << c.host;
    }
}

}  // namespace

namespace {

TEST(LANNetworkHelpers, PeersAreCountedByAddressOrIPv6Prefix) {
    const struct {
        const char* address;
        const char* group;
    } cases[] = {
        {"192.168.1.20", "192.168.1.20"},
        {"::ffff:192.168.1.20", "192.168.1.20"},
        {"2001:db8:1:2:aaaa:bbbb:cccc:dddd", "2001:db8:1:2::/64"},
        {"2001:db8:1:2::1", "2001:db8:1:2::/64"},
        {"2001:db8:1:3::1", "2001:db8:1:3::/64"},
        {"fe80::1%eth0", "fe80::/64"},
        {"::1", "::/64"},
        {"not an address", "not an address"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LANNetworkHelpers::peerGroup(c.address), c.group) << c.address;
    }
}

}  // namespace
