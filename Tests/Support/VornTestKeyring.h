#pragma once

#include "VornTestSupport.h"

#include <gtest/gtest.h>

#include <optional>

// A fixture whose tests talk to the private keyring daemon of the test services, never to the
// user's: the session bus points there for each test's lifetime.
class VornKeyringTest : public ::testing::Test {
protected:
    void SetUp() override {
        VORN_REQUIRE_SERVICE("keyring");
        VORN_REQUIRE_TOOL("secret-tool");
        bus_.emplace("DBUS_SESSION_BUS_ADDRESS", VornTestServices::value("KEYRING_DBUS_ADDRESS"));
    }
    // False when the test was skipped before reaching the private keyring: clean-up must then not
    // talk to whatever session bus the process has.
    bool onPrivateKeyring() const { return bus_.has_value(); }

private:
    std::optional<VornScopedEnv> bus_;
};
