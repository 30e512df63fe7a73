#include "SledCredentialStore.h"
#include "VornKeychainStore.h"
#include "VornTestKeyring.h"
#include "VornTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class SledCredentialStoreTest : public VornKeyringTest {
protected:
    void TearDown() override {
        if (!onPrivateKeyring()) {
            return;
        }
        for (const VornUUID& id : {first_, second_}) {
            SledCredentialStore::deleteSecret(id);
        }
    }

    static std::string lookUp(const VornUUID& id) {
        return vornShell("secret-tool lookup service com.vornworks.vornsled.credentials account " +
                         id.uuidString())
            .output;
    }

    const VornUUID first_ = VornUUID::random();
    const VornUUID second_ = VornUUID::random();
};

}  // namespace

TEST_F(SledCredentialStoreTest, EachProfileHasItsOwnItemUnderItsCanonicalId) {
    SledCredentialStore::saveSecret("wJalrXUtnFEMI/K7MDENG/bPxRfiCYEXAMPLEKEY", first_);
    SledCredentialStore::saveSecret("   ", second_);  // blanks are a secret like any other
    EXPECT_EQ(SledCredentialStore::loadSecret(first_), "wJalrXUtnFEMI/K7MDENG/bPxRfiCYEXAMPLEKEY");
    EXPECT_EQ(SledCredentialStore::loadSecret(second_), "   ");
    EXPECT_EQ(SledCredentialStore::loadSecretOrThrow(second_), "   ");
    // The account is the upper-case id, as another tool sees it.
    EXPECT_EQ(lookUp(first_), "wJalrXUtnFEMI/K7MDENG/bPxRfiCYEXAMPLEKEY");
    EXPECT_EQ(SledCredentialStore::loadSecret(VornUUID::random()), std::nullopt);
    EXPECT_EQ(SledCredentialStore::loadSecretOrThrow(VornUUID::random()), std::nullopt);

    SledCredentialStore::saveSecret("rotated", first_);
    EXPECT_EQ(SledCredentialStore::loadSecret(first_), "rotated");
    EXPECT_EQ(SledCredentialStore::loadSecret(second_), "   ");
}

TEST_F(SledCredentialStoreTest, AnEmptySecretDeletesAndDeletingTwiceIsQuiet) {
    SledCredentialStore::saveSecret("hunter2", first_);
    SledCredentialStore::saveSecret("", first_);
    EXPECT_EQ(SledCredentialStore::loadSecret(first_), std::nullopt);
    EXPECT_EQ(lookUp(first_), "");
    SledCredentialStore::saveSecret("", first_);  // nothing to delete: still no error
    SledCredentialStore::deleteSecret(first_);
    SledCredentialStore::saveSecret("again", first_);
    SledCredentialStore::deleteSecret(first_);
    EXPECT_EQ(SledCredentialStore::loadSecret(first_), std::nullopt);
}

// An unreachable keyring must not look like "no secret" to a caller that would then delete it.
TEST(SledCredentialStoreWithoutBus, FailureIsToldApartFromAbsence) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const VornTestTempDir dir("VORN_TEST_CREDENTIALS_NO_BUS_DIR");
    EXPECT_EXIT(
        {
            ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (dir / "no-bus").string()).c_str(), 1);
            ::unsetenv("DISPLAY");
            const VornUUID id = VornUUID::random();
            int failures = SledCredentialStore::loadSecret(id).has_value() ? 1 : 0;
            try {
                (void)SledCredentialStore::loadSecretOrThrow(id);
                ++failures;
            } catch (const VornKeychainError&) {
            }
            try {
                SledCredentialStore::saveSecret("secret", id);
                ++failures;
            } catch (const VornKeychainError& error) {
                std::fprintf(stderr, "%s\n", error.what());
            }
            SledCredentialStore::saveSecret("", id);  // deleting never fails
            SledCredentialStore::deleteSecret(id);
            std::fprintf(stderr, "failures=%d\n", failures);
            std::exit(failures);
        },
        ::testing::ExitedWithCode(0), "system keyring: .*\nfailures=0");
}
