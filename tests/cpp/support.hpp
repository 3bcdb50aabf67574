// Helpers shared by the test files.
#pragma once

#include <random>
#include <string>
#include <vector>

#include "error.hpp"

namespace quorvel::testing {

// "ok" on success, the display text otherwise, so expectations read as sentences.
template <class T>
std::string outcome(const Result<T>& result) {
    return result ? std::string("ok") : display(result.error());
}

inline std::vector<double> uniform(std::mt19937_64& rng, std::size_t n, double lo, double hi) {
    std::uniform_real_distribution<double> dist(lo, hi);
    std::vector<double> v(n);
    for (auto& x : v) x = dist(rng);
    return v;
}

}  // namespace quorvel::testing
