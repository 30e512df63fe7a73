#include "VornRandom.h"

#include <gtest/gtest.h>

#include <array>
#include <stdexcept>

TEST(VornRandom, UniformDrawsStayInRangeAndReachEveryValue) {
    std::array<int, 7> counts{};
    for (int i = 0; i < 7000; ++i) {
        const std::uint64_t value = vornRandomUniform(7);
        ASSERT_LT(value, 7u);
        ++counts[value];
    }
    for (const int count : counts) {
        EXPECT_GT(count, 700);  // expected 1000 each; far below means a skewed or stuck source
    }
    EXPECT_EQ(vornRandomUniform(1), 0u);
    EXPECT_THROW(vornRandomUniform(0), std::invalid_argument);
    std::array<unsigned char, 4096> bytes{};
    vornRandomBytes(bytes.data(), bytes.size());
    int zeros = 0;
    for (const unsigned char byte : bytes) {
        zeros += byte == 0;
    }
    EXPECT_LT(zeros, 64);
}
