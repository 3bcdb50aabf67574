#include <gtest/gtest.h>

#include "error.hpp"

using namespace quorvel;

TEST(Error, display_texts) {
    EXPECT_EQ(display(EmptyInput{}), "input signal must not be empty");
}
