// A spectrum's outcome in the lanes against its single fit: the report and the baseline, bit for bit.
#pragma once

#include <string>

#include "support.hpp"
#include "whittaker/lanes/lane_fit.hpp"

namespace quorvel::support {

inline void expect_lane_matches(const whittaker::ItemOutcome& outcome, const FitReport& single, const V& got,
                                const V& expected, const std::string& where) {
    ASSERT_FALSE(outcome.error) << where << ": " << display(*outcome.error);
    EXPECT_EQ(outcome.report.iterations, single.iterations) << where;
    EXPECT_TRUE(same_bits(V{outcome.report.last_change}, V{single.last_change})) << where;
    EXPECT_EQ(outcome.report.converged, single.converged) << where;
    EXPECT_TRUE(same_bits(got, expected)) << where;
}

}  // namespace quorvel::support
