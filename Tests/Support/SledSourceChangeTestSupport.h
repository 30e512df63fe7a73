#pragma once

#include "VornUniqueFd.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Another program changing a file that is being copied: it grows by a few bytes, or its first
// byte is overwritten in place and its time moved on, so that its size or its time tells.
inline void sledChangeFileBeingCopied(const std::filesystem::path& file, bool grow) {
    if (grow) {
        std::ofstream(file, std::ios::app) << "more";
        return;
    }
    VornUniqueFd opened(::open(file.c_str(), O_WRONLY | O_CLOEXEC));
    ASSERT_EQ(::pwrite(opened.get(), "B", 1, 0), 1);
    const struct timespec later[2] = {{0, UTIME_NOW}, {2'000'000'000, 0}};
    ASSERT_EQ(::futimens(opened.get(), later), 0);
}
