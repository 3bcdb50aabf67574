// The constant part of the bands of W + lambda D'D, shared by every solve of one length and lambda.
#pragma once

#include <cstddef>

namespace quorvel::linalg::pentadiagonal {

// Each product is formed once. Row i adds `end` (rows 0 and n - 1), `next` (rows 1 and n - 2) or `inner`
// to its weight; off1[i] is `off1_end` for i = 0 and i = n - 2 and `off1_inner` otherwise; off2 is
// constant. Defined for n >= 3.
struct SecondOrderPenalty {
    double end, next, inner;
    double off1_end, off1_inner;
    double off2;
};

SecondOrderPenalty second_order_penalty(std::size_t n, double lambda);

}  // namespace quorvel::linalg::pentadiagonal
