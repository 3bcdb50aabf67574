#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <utility>

#include "error.hpp"

using namespace quorvel;

// The other suites compare every variant's text through real failures; these are the
// shapes no algorithm produces yet.
TEST(Error, display_texts_join_fields_verbatim) {
    constexpr auto max = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(display(Unsupported{"A", "B"}), "A is not supported yet: B");
    EXPECT_EQ(display(LengthMismatch{"y", max, 0}), "length mismatch for y: expected 18446744073709551615, got 0");
    EXPECT_EQ(display(EmptyInput{}), "input signal must not be empty");
}
