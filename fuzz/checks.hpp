// The invariants the fuzz targets assert; a broken one aborts, which libFuzzer reports as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "error.hpp"
#include "numeric.hpp"

namespace quorvel::fuzz {

[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "quorvel fuzz invariant broken: %s\n", what);
    std::abort();
}

inline void require(bool holds, const char* what) {
    if (!holds) fail(what);
}

inline bool same_bits(std::span<const double> a, std::span<const double> b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

inline bool same_bit(double a, double b) { return same_bits({&a, 1}, {&b, 1}); }

inline bool all_finite(std::span<const double> values) { return !first_non_finite(values); }

// Every error must render as a message; rendering also walks the error's static texts.
template <class T>
bool failed(const Result<T>& result) {
    if (result) return false;
    require(!display(result.error()).empty(), "an error renders as an empty message");
    return true;
}

template <class T>
bool same_error(const Result<T>& a, const Result<T>& b) {
    return display(a.error()) == display(b.error());
}

}  // namespace quorvel::fuzz
