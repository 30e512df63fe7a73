#pragma once

#include "VornTestSupport.h"

#include <filesystem>
#include <string>

// A small tmpfs mounted on a fresh folder while the object lives: a destination without room, or a
// second file system for moves across devices. Mounting needs root; when it fails, mounted() is
// false and failure() says why.
class VornTestTmpfs {
public:
    explicit VornTestTmpfs(const std::string& size = "1m");
    ~VornTestTmpfs();
    VornTestTmpfs(const VornTestTmpfs&) = delete;
    VornTestTmpfs& operator=(const VornTestTmpfs&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& failure() const { return failure_; }
    const std::filesystem::path& path() const { return directory_.path(); }
    std::filesystem::path operator/(const std::filesystem::path& child) const { return path() / child; }

private:
    VornTestTempDir directory_;
    bool mounted_ = false;
    std::string failure_;
};

// Skips the test with the reason when the tmpfs could not be mounted; fails it under CI=true.
#define VORN_REQUIRE_TMPFS(tmpfs)                                                                  \
    do {                                                                                           \
        if (!(tmpfs).mounted()) {                                                                  \
            if (VornTestServices::inCI()) {                                                        \
                FAIL() << "cannot mount a tmpfs (CI=true): " << (tmpfs).failure();                 \
            }                                                                                      \
            GTEST_SKIP() << "cannot mount a tmpfs (needs root): " << (tmpfs).failure();            \
        }                                                                                          \
    } while (0)
