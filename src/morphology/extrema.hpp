// Flat moving minimum and maximum with half-sample symmetric edges, and the opening.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quorvel::morphology {

// Folds any position back into [0, n), bouncing as often as needed; n >= 1.
std::size_t reflect_index(std::int64_t j, std::size_t n);

std::vector<double> moving_min_reflect(std::span<const double> x, std::size_t h);
void moving_min_reflect(std::span<const double> x, std::size_t h, std::span<double> out);
void moving_max_reflect(std::span<const double> x, std::size_t h, std::span<double> out);
std::vector<double> opening_reflect(std::span<const double> x, std::size_t h);

// A half window that gives every position of a line of n >= 1 the same extremum as h, and the same earliest
// candidate of equal ones. From n - 1 on every reflected window holds the whole line, and the reflection
// repeats every 2n positions, so a window that starts at the same phase and reaches less than one period
// further finds what h finds; the work per line then stays linear in n, whatever h.
inline std::size_t equivalent_half_window(std::size_t h, std::size_t n) {
    return h < n || n == 0 ? h : n - 1 + (h - (n - 1)) % (2 * n);
}

// Extremum over the reflected window of 2h + 1 positions along a line of n >= 1 positions,
// for `lanes` independent lines at once (position p's values start at read(p); output i's go
// to out + i * stride), in time independent of the window: van Herk / Gil-Werman, streamed one
// window-sized block at a time through `scratch`. Partial results keep the earliest of equal
// candidates, like a left-to-right scan that replaces its running value only on a strictly
// better one, so even the sign of a zero matches the direct definition. With `IgnoreNaN` a
// NaN counts as `start` and never wins (the check costs the finite-only callers speed).
// `Lanes`, when non-zero, fixes `lanes` at compile time.
template <std::size_t Lanes, bool IgnoreNaN, class Read, class Better>
void sliding_extremum(std::size_t n, std::size_t h, std::size_t lanes, Read read, double* out,
                      std::size_t stride, double start, Better better, std::vector<double>& scratch) {
    if constexpr (Lanes != 0) lanes = Lanes;
    h = equivalent_half_window(h, n);
    const std::size_t width = 2 * h + 1, len = n + 2 * h;
    scratch.resize(2 * width * lanes);
    double* suffix = scratch.data();
    double* prefix = suffix + width * lanes;
    // Position j of the extension is line position j - h.
    auto at = [&](std::size_t j) {
        if (j >= h && j < h + n) return read(j - h);
        return read(reflect_index(static_cast<std::int64_t>(j) - static_cast<std::int64_t>(h), n));
    };
    auto clean = [=](double v) {
        if constexpr (IgnoreNaN) return v != v ? start : v;
        return v;
    };
    auto pick = [better](double earlier, double later) { return better(later, earlier) ? later : earlier; };
    for (std::size_t first = 0; first < n; first += width) {
        // Suffix extrema of this block, prefix extrema of the next; every window starting in
        // this block ends in the next one.
        const std::size_t end = std::min(first + width, len), next_end = std::min(end + width, len);
        const double* src = at(end - 1);
        for (std::size_t l = 0; l < lanes; ++l) suffix[(end - 1 - first) * lanes + l] = clean(src[l]);
        for (std::size_t p = end - 1; p-- > first;) {
            src = at(p);
            double* dst = suffix + (p - first) * lanes;
            for (std::size_t l = 0; l < lanes; ++l) dst[l] = pick(clean(src[l]), dst[lanes + l]);
        }
        if (end < next_end) {
            src = at(end);
            for (std::size_t l = 0; l < lanes; ++l) prefix[l] = clean(src[l]);
        }
        for (std::size_t q = end + 1; q < next_end; ++q) {
            src = at(q);
            double* dst = prefix + (q - end) * lanes;
            for (std::size_t l = 0; l < lanes; ++l) dst[l] = pick((dst - lanes)[l], clean(src[l]));
        }
        std::copy_n(suffix, lanes, out + first * stride);
        for (std::size_t i = first + 1; i < std::min(first + width, n); ++i) {
            const double* earlier = suffix + (i - first) * lanes;
            const double* later = prefix + (i - first - 1) * lanes;
            double* dst = out + i * stride;
            for (std::size_t l = 0; l < lanes; ++l) dst[l] = pick(earlier[l], later[l]);
        }
    }
}

// The minimum and maximum over the reflected window of 2h + 1 positions of x in one van Herk pass, handed
// to sink(i, minimum, maximum) for i = 0, 1, ... in turn; ties keep the earliest candidate, as above.
template <class Sink>
void sliding_min_max(std::span<const double> x, std::size_t h, Sink sink, std::vector<double>& scratch) {
    const std::size_t n = x.size();
    h = equivalent_half_window(h, n);
    const std::size_t width = 2 * h + 1, len = n + 2 * h;
    scratch.resize(4 * width);
    double *low = scratch.data(), *high = low + width, *next_low = high + width, *next_high = next_low + width;
    auto at = [&](std::size_t j) {
        if (j >= h && j < h + n) return x[j - h];
        return x[reflect_index(static_cast<std::int64_t>(j) - static_cast<std::int64_t>(h), n)];
    };
    auto lower = [](double earlier, double later) { return later < earlier ? later : earlier; };
    auto higher = [](double earlier, double later) { return later > earlier ? later : earlier; };
    for (std::size_t first = 0; first < n; first += width) {
        const std::size_t end = std::min(first + width, len), next_end = std::min(end + width, len);
        low[end - 1 - first] = high[end - 1 - first] = at(end - 1);
        for (std::size_t p = end - 1; p-- > first;) {
            const double v = at(p);
            low[p - first] = lower(v, low[p - first + 1]);
            high[p - first] = higher(v, high[p - first + 1]);
        }
        if (end < next_end) next_low[0] = next_high[0] = at(end);
        for (std::size_t q = end + 1; q < next_end; ++q) {
            const double v = at(q);
            next_low[q - end] = lower(next_low[q - end - 1], v);
            next_high[q - end] = higher(next_high[q - end - 1], v);
        }
        sink(first, low[0], high[0]);
        for (std::size_t i = first + 1; i < std::min(first + width, n); ++i) {
            sink(i, lower(low[i - first], next_low[i - first - 1]), higher(high[i - first], next_high[i - first - 1]));
        }
    }
}

}  // namespace quorvel::morphology
