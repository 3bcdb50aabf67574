// The band systems the rules after the first three solve, written once over packs of P::width spectra
// (sample i of lane l at [i * width + l]) so that a single fit (a width of one) and the lanes of a block
// form every entry with the same operations. Each reads its penalties through at(i, k), on the index
// (PenaltyRows) or on uneven positions (PenaltyBands), a type of its own so that neither pays for the other.
#pragma once

#include <cmath>
#include <cstddef>
#include <type_traits>

#include "linalg/difference_penalty.hpp"
#include "linalg/divided_difference_penalty.hpp"

namespace quorvel::whittaker {

template <class P>
[[gnu::always_inline]] inline P load_at(const double* values, std::size_t i) {
    return P::load(values + i * P::width);
}

// W + lambda D'D, right side W y.
template <class P, class Penalty = linalg::PenaltyRows>
struct WeightedSystem {
    const double* y;
    const double* w;
    const Penalty& penalty;

    [[gnu::always_inline]] P entry(std::size_t i, std::size_t k) const {
        if (k == 0) return load_at<P>(w, i) + P::splat(penalty.at(i, 0));
        return P::splat(penalty.at(i, k));
    }
    [[gnu::always_inline]] P rhs(std::size_t i) const { return load_at<P>(w, i) * load_at<P>(y, i); }
};

// IAsLS: W'W + lam_1 D1'D1 + lambda D'D, right side (W'W + lam_1 D1'D1) y, where D1 joins only pairs of
// used neighbours (keep: 1 for a used sample, 0 otherwise; read only when Masked). On uneven positions D1
// divides by the steps, so the pair (i - 1, i) weighs -first->at(i, 1) = 1 / (t_i - t_{i-1})^2.
template <class P, bool Masked, class Penalty = linalg::PenaltyRows>
struct IaslsSystem {
    static constexpr bool uneven = std::is_same_v<Penalty, linalg::PenaltyBands>;
    const double* y;
    const double* w;
    const double* keep;
    std::size_t n;
    double lam_1;
    const Penalty& penalty;
    const Penalty* first;  // D1'D1 on uneven positions; unused on the index

    // The pair (i - 1, i), as a lane mask.
    [[gnu::always_inline]] auto pair(std::size_t i) const {
        const P zero = P::splat(0.0);
        if (i == 0 || i >= n) return zero > zero;
        if constexpr (Masked) {
            return (load_at<P>(keep, i - 1) > zero) & (load_at<P>(keep, i) > zero);
        } else {
            return equal(zero, zero);
        }
    }
    // lam_1 times the weight of the pair (i - 1, i).
    [[gnu::always_inline]] double lam_at(std::size_t i) const {
        if constexpr (uneven) {
            return i < n ? lam_1 * -first->at(i, 1) : 0.0;
        } else {
            return lam_1;
        }
    }
    // A difference across the pair (i - 1, i), weighted as the pair is.
    [[gnu::always_inline]] P slope(std::size_t i, P difference) const {
        if constexpr (uneven) {
            return difference * P::splat(-first->at(i, 1));
        } else {
            return difference;
        }
    }
    [[gnu::always_inline]] P entry(std::size_t i, std::size_t k) const {
        const P zero = P::splat(0.0);
        if (k == 0) {
            const P wi = load_at<P>(w, i), lam = P::splat(lam_at(i)), next = P::splat(lam_at(i + 1));
            const P used = (wi * wi + blend(pair(i), lam, zero)) + blend(pair(i + 1), next, zero);
            return used + P::splat(penalty.at(i, 0));
        }
        if (k == 1) return P::splat(penalty.at(i, 1)) - blend(pair(i), P::splat(lam_at(i)), zero);
        return P::splat(penalty.at(i, k));
    }
    [[gnu::always_inline]] P rhs(std::size_t i) const {
        const P skip = P::splat(-0.0), yi = load_at<P>(y, i);
        P slope = P::splat(0.0);
        if (i > 0) slope = slope + blend(pair(i), this->slope(i, yi - load_at<P>(y, i - 1)), skip);
        if (i + 1 < n) slope = slope + blend(pair(i + 1), this->slope(i + 1, yi - load_at<P>(y, i + 1)), skip);
        const P wi = load_at<P>(w, i);
        return wi * wi * yi + P::splat(lam_1) * slope;
    }
};

// f(system) with the IAsLS system that reads keep only when there is one.
template <class P, class Penalty, class F>
auto with_iasls_system(const double* y, const double* w, const double* keep, std::size_t n, double lam_1,
                       const Penalty& penalty, const Penalty* first, F f) {
    if (keep) return f(IaslsSystem<P, true, Penalty>{y, w, keep, n, lam_1, penalty, first});
    return f(IaslsSystem<P, false, Penalty>{y, w, keep, n, lam_1, penalty, first});
}

// asPLS, its rows divided by alpha to make it symmetric: W / A + lambda D'D, right side (W / A) y. An
// alpha of exactly 0 pins z_i to y_i; the floor keeps that within 2^-40 lambda of it.
template <class P, class Penalty = linalg::PenaltyRows>
struct AsPlsSystem {
    const double* y;
    const double* w;
    const double* alpha;
    const Penalty& penalty;

    [[gnu::always_inline]] P scaled(std::size_t i) const {
        const P a = load_at<P>(alpha, i), floor = P::splat(0x1p-40);
        return load_at<P>(w, i) / blend(a > floor, a, floor);
    }
    [[gnu::always_inline]] P entry(std::size_t i, std::size_t k) const {
        if (k == 0) return scaled(i) + P::splat(penalty.at(i, 0));
        return P::splat(penalty.at(i, k));
    }
    [[gnu::always_inline]] P rhs(std::size_t i) const { return scaled(i) * load_at<P>(y, i); }
};

// drPLS: W + D1'D1 + diag(1 - eta w) lambda D'D, right side W y; its rows scaled by 1 - eta w make it
// unsymmetric, so it gives the entries below (lower) and above (upper) the diagonal.
template <class P, class Penalty = linalg::PenaltyRows>
struct DrPlsSystem {
    const double* y;
    const double* w;
    double eta;
    const Penalty& first;    // D1'D1
    const Penalty& penalty;  // lambda D'D

    [[gnu::always_inline]] P scale(std::size_t i) const { return P::splat(1.0) - P::splat(eta) * load_at<P>(w, i); }
    [[gnu::always_inline]] P lower(std::size_t i, std::size_t k) const {
        const P own = scale(i) * P::splat(penalty.at(i, k));
        if (k == 0) return (load_at<P>(w, i) + P::splat(first.at(i, 0))) + own;
        return P::splat(first.at(i, k)) + own;
    }
    [[gnu::always_inline]] P upper(std::size_t i, std::size_t k) const {
        if (i < k) return P::splat(0.0);
        return P::splat(first.at(i, k)) + scale(i - k) * P::splat(penalty.at(i, k));
    }
    [[gnu::always_inline]] P rhs(std::size_t i) const { return load_at<P>(w, i) * load_at<P>(y, i); }
};

}  // namespace quorvel::whittaker
