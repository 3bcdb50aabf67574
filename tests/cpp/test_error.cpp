#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "error.hpp"

using namespace quorvel;

TEST(Error, display_texts_join_fields_verbatim) {
    constexpr auto max = std::numeric_limits<std::uint64_t>::max();
    const std::pair<BaselineError, const char*> cases[] = {
        {EmptyInput{}, "input signal must not be empty"},
        {InputTooShort{2, "polynomial", 3}, "input length 2 is too short for polynomial; minimum is 3"},
        {InputTooShort{max, "whittaker", max},
         "input length 18446744073709551615 is too short for whittaker; minimum is 18446744073709551615"},
        {LengthMismatch{"y", 5, 4}, "length mismatch for y: expected 5, got 4"},
        {InvalidParameter{"lambda", "must be finite and positive"},
         "invalid parameter lambda: must be finite and positive"},
        {NonFiniteInput{0}, "input contains a non-finite value at index 0"},
        {LinearSolveFailed{"singular dense linear system"},
         "linear solve failed: singular dense linear system"},
        {Unsupported{"A", "B"}, "A is not supported yet: B"},
    };
    for (const auto& [error, text] : cases) EXPECT_EQ(display(error), text);
}

TEST(Error, result_holds_either_value_or_error) {
    Result<int> good = 7;
    Result<int> bad = NonFiniteInput{3};
    ASSERT_TRUE(good);
    EXPECT_EQ(good.value(), 7);
    ASSERT_FALSE(bad);
    EXPECT_EQ(std::get<NonFiniteInput>(bad.error()).index, 3u);
}
