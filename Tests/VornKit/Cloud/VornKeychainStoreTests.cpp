#include "VornKeychainStore.h"
#include "VornTestKeyring.h"
#include "VornTestSupport.h"
#include "VornUUID.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <vector>

namespace {

class VornKeychainStoreTest : public VornKeyringTest {
protected:
    void TearDown() override {
        if (!onPrivateKeyring()) {
            return;
        }
        for (const auto& account : accounts_) {
            VornKeychainStore::remove(service_, account);
        }
    }

    std::string account() {
        accounts_.push_back(VornUUID::random().uuidString());
        return accounts_.back();
    }

    std::string secretTool(const std::string& arguments) {
        return vornShell("secret-tool " + arguments).output;
    }

    // The object paths of the items of the pair, as secret-tool lists them.
    std::vector<std::string> itemPaths(const std::string& account) {
        std::istringstream lines(secretTool("search --all service " + vornShellQuote(service_) + " account " +
                                            vornShellQuote(account) + " 2>&1"));
        std::vector<std::string> paths;
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with("[")) {
                paths.push_back(line);
            }
        }
        return paths;
    }

    const std::string service_ = "com.vornworks.tests." + VornUUID::random().uuidString();
    std::vector<std::string> accounts_;
};

}  // namespace

TEST_F(VornKeychainStoreTest, SecretsRoundTripAndAgreeWithSecretTool) {
    const std::string secrets[] = {"p@ss w0rd", "   ", "şifre ✓ 密码", "quote\" back\\slash /slash\nline",
                                   std::string(4096, 'k')};
    for (const std::string& secret : secrets) {
        const std::string name = account();
        VornKeychainStore::save(secret, service_, name);
        EXPECT_EQ(VornKeychainStore::load(service_, name), secret);
        EXPECT_EQ(VornKeychainStore::loadOrThrow(service_, name), secret);
        const auto lookedUp = vornShell("secret-tool lookup service " + vornShellQuote(service_) + " account " +
                                        vornShellQuote(name));
        EXPECT_EQ(lookedUp.exitCode, 0);
        EXPECT_EQ(lookedUp.output, secret);
    }

    // An item another program stored under the same attributes is the same item.
    const std::string byTool = account();
    ASSERT_EQ(vornShell("printf %s 'from the tool' | secret-tool store --label=x service " + vornShellQuote(service_) +
                        " account " + vornShellQuote(byTool))
                  .exitCode,
              0);
    EXPECT_EQ(VornKeychainStore::load(service_, byTool), "from the tool");
    VornKeychainStore::save("replaced", service_, byTool);
    EXPECT_EQ(itemPaths(byTool).size(), 1u);
    EXPECT_EQ(secretTool("lookup service " + vornShellQuote(service_) + " account " + vornShellQuote(byTool)),
              "replaced");
}

TEST_F(VornKeychainStoreTest, SavingAgainReplacesTheItemInPlace) {
    const std::string name = account();
    VornKeychainStore::save("first", service_, name);
    const auto before = itemPaths(name);
    ASSERT_EQ(before.size(), 1u);
    VornKeychainStore::save("second", service_, name);
    // The same item holds the new secret: it was never deleted and re-added.
    EXPECT_EQ(itemPaths(name), before);
    EXPECT_EQ(VornKeychainStore::load(service_, name), "second");
}

TEST_F(VornKeychainStoreTest, PairsAreSeparateAndRemovalIsQuiet) {
    const std::string one = account();
    const std::string two = account();
    VornKeychainStore::save("one", service_, one);
    VornKeychainStore::save("two", service_, two);
    VornKeychainStore::save("other service", service_ + ".other", one);
    EXPECT_EQ(VornKeychainStore::load(service_, one), "one");
    EXPECT_EQ(VornKeychainStore::load(service_ + ".other", one), "other service");

    VornKeychainStore::remove(service_, one);
    EXPECT_EQ(VornKeychainStore::load(service_, one), std::nullopt);
    EXPECT_EQ(VornKeychainStore::loadOrThrow(service_, one), std::nullopt);
    EXPECT_TRUE(itemPaths(one).empty());
    EXPECT_EQ(VornKeychainStore::load(service_, two), "two");
    EXPECT_EQ(VornKeychainStore::load(service_ + ".other", one), "other service");
    VornKeychainStore::remove(service_, one);  // already gone: nothing happens
    VornKeychainStore::remove(service_ + ".other", one);
    EXPECT_EQ(VornKeychainStore::load(service_, account()), std::nullopt);  // never saved
}

TEST_F(VornKeychainStoreTest, TextThatIsNotUTF8IsRefusedAndKeepsTheOldSecret) {
    const std::string name = account();
    VornKeychainStore::save("kept", service_, name);
    for (const std::string& bad : {std::string("\xFF\xFE"), std::string("a\0b", 3), std::string("\xC3\x28")}) {
        try {
            VornKeychainStore::save(bad, service_, name);
            ADD_FAILURE() << "saved a secret that is not UTF-8 text";
        } catch (const VornKeychainError& error) {
            EXPECT_NE(std::string(error.what()).find("not UTF-8 text"), std::string::npos) << error.what();
        }
    }
    EXPECT_EQ(VornKeychainStore::load(service_, name), "kept");

    // Bytes another program stored that are not text read as no secret, or as an error when asked.
    ASSERT_EQ(vornShell("printf '\\377\\376' | secret-tool store --label=x service " + vornShellQuote(service_) +
                        " account " + vornShellQuote(name))
                  .exitCode,
              0);
    EXPECT_EQ(VornKeychainStore::load(service_, name), std::nullopt);
    EXPECT_THROW(VornKeychainStore::loadOrThrow(service_, name), VornKeychainError);
}

// Without any session bus the keyring cannot be reached: saving fails with a clear error, loading
// gives nothing (or the error when asked), and nothing waits. Runs in a fresh process, because the
// session bus connection of a process is made once and then shared.
TEST(VornKeychainStoreWithoutBus, SaveFailsClearlyAndLoadGivesNothing) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const VornTestTempDir dir("VORN_TEST_KEYCHAIN_NO_BUS_DIR");
    EXPECT_EXIT(
        {
            ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (dir / "no-bus").string()).c_str(), 1);
            ::unsetenv("DISPLAY");
            ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
            int failures = 0;
            try {
                VornKeychainStore::save("secret", "com.vornworks.tests.nobus", "account");
                ++failures;
            } catch (const VornKeychainError& error) {
                const std::string message = error.what();
                if (message.find("Could not save the secret of \"account\" in the system keyring: ") != 0) {
                    ++failures;
                }
                std::fprintf(stderr, "%s\n", error.what());
            }
            failures += VornKeychainStore::load("com.vornworks.tests.nobus", "account").has_value();
            try {
                (void)VornKeychainStore::loadOrThrow("com.vornworks.tests.nobus", "account");
                ++failures;
            } catch (const VornKeychainError&) {
            }
            VornKeychainStore::remove("com.vornworks.tests.nobus", "account");
            std::fprintf(stderr, "failures=%d\n", failures);
            std::exit(failures);
        },
        ::testing::ExitedWithCode(0), "system keyring: .*\nfailures=0");
}
