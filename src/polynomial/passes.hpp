// The passes over the samples of a polynomial fit: the seven power sums of order <= 2 and the
// abscissa for the evaluation, each with a portable and an AVX2 form of the same bits.
#pragma once

#include <cstddef>

namespace quorvel::polynomial {

// For order <= 2 only seven sums of the normal equations are distinct: 1 * p is p and x * x^k is
// x^(k+1) exactly, so M(0, b) = sum p(b), M(1, 1) = M(0, 2) and the rhs starts with sum y. Each is
// a sum in sample order from 0.0 of products rounded one by one; sum 1 is n.
struct LowOrderSums {
    double x = 0.0, xx = 0.0, xxx = 0.0, xxxx = 0.0, y = 0.0, yx = 0.0, yxx = 0.0;
};

LowOrderSums low_order_sums(const double* y, std::size_t n);
// Needs n >= 2.
LowOrderSums low_order_sums_avx2(const double* y, std::size_t n);

// x[j] = scaled_coordinate(start + j, n) for j < count; needs n >= 2, start + count <= n and
// count < 2^31.
void scaled_coordinates(std::size_t start, std::size_t count, std::size_t n, double* x);
void scaled_coordinates_avx2(std::size_t start, std::size_t count, std::size_t n, double* x);

// The fastest forms this CPU runs.
struct Passes {
    LowOrderSums (*sums)(const double* y, std::size_t n);
    void (*coordinates)(std::size_t start, std::size_t count, std::size_t n, double* x);
};
Passes passes_for_this_cpu();

}  // namespace quorvel::polynomial
