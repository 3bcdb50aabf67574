// The kernel table of one pack type: each rule's lane form, instantiated. Included only by the
// file that picks the pack, so that each instruction set gets its own copy.
#pragma once

#include <algorithm>
#include <array>

#include "lane_block.hpp"
#include "lane_rows.hpp"
#include "linalg/band_ldl_twisted.hpp"
#include "linalg/band_ldu_lanes.hpp"
#include "linalg/pentadiagonal_lanes.hpp"
#include "whittaker/airpls.hpp"
#include "whittaker/arpls.hpp"
#include "whittaker/aspls.hpp"
#include "whittaker/asls.hpp"
#include "whittaker/band_systems.hpp"
#include "whittaker/brpls.hpp"
#include "whittaker/derpsalsa.hpp"
#include "whittaker/drpls.hpp"
#include "whittaker/iarpls.hpp"
#include "whittaker/lsrpls.hpp"
#include "whittaker/psalsa.hpp"

namespace quorvel::whittaker::lanes {

template <class P>
void solve(const LaneBlock& b, const linalg::pentadiagonal::SecondOrderPenalty& penalty, bool* failed) {
    store_mask(linalg::pentadiagonal::factor_forward<P>(b.y, b.weights, b.n, penalty, b.factor), failed);
    linalg::pentadiagonal::back_substitute<P>(b.n, b.factor, b.factor.t);
}

template <class P, std::size_t B, class System>
void solve_band_of(const LaneBlock& b, const System& system, bool* failed) {
    linalg::band::LaneFactor<B> f{{}, b.inv_d, b.factor.t};
    const std::array<double*, 3> l{b.factor.l_diag, b.factor.l_sub1, b.factor.l_sub2};
    std::copy_n(l.begin(), B, f.l.begin());
    store_mask(linalg::band::solve<P, B>(
                   b.n, [&](std::size_t i, std::size_t k) { return system.entry(i, k); },
                   [&](std::size_t i) { return system.rhs(i); }, f, b.factor.t),
               failed);
}

template <class P, std::size_t B, class System>
void solve_ldu_of(const LaneBlock& b, const System& system, bool* failed) {
    linalg::band::LduFactor<B> f{{}, {}, b.inv_d, b.factor.t};
    const std::array<double*, 3> l{b.factor.l_diag, b.factor.l_sub1, b.factor.l_sub2};
    std::copy_n(l.begin(), B, f.l.begin());
    std::copy_n(b.upper.begin(), B, f.u.begin());
    store_mask(linalg::band::ldu_factor_forward<P, B>(
                   b.n, [&](std::size_t i, std::size_t k) { return system.lower(i, k); },
                   [&](std::size_t i, std::size_t k) { return system.upper(i, k); },
                   [&](std::size_t i) { return system.rhs(i); }, f),
               failed);
    linalg::band::ldu_back_substitute<P, B>(b.n, f, b.factor.t);
}

template <class P, class Penalty>
void solve_drpls(const LaneBlock& b, unsigned order, const DrPlsSystem<P, Penalty>& system, bool* failed) {
    linalg::band::with_width(order, [&](auto width) { solve_ldu_of<P, width()>(b, system, failed); });
}

template <class P, class System>
void solve_band_system(const LaneBlock& b, unsigned order, const System& system, bool* failed) {
    linalg::band::with_width(order, [&](auto width) { solve_band_of<P, width()>(b, system, failed); });
}

template <class P, class Penalty>
void solve_band_on(const LaneBlock& b, const LaneSystem& s, const Penalty& penalty, const Penalty* first,
                   bool* failed) {
    switch (s.kind) {
        case LaneSystem::Kind::Weighted:
            return solve_band_system<P>(b, s.order, WeightedSystem<P, Penalty>{b.y, b.weights, penalty}, failed);
        case LaneSystem::Kind::Iasls:
            return with_iasls_system<P>(b.y, b.weights, b.keep, b.n, s.lam_1, penalty, first,
                                        [&](const auto& system) { solve_band_system<P>(b, s.order, system, failed); });
        case LaneSystem::Kind::DrPls:
            return solve_drpls<P>(b, s.order, DrPlsSystem<P, Penalty>{b.y, b.weights, s.eta, *first, penalty},
                                  failed);
        case LaneSystem::Kind::AsPls:
            return solve_band_system<P>(b, s.order, AsPlsSystem<P, Penalty>{b.y, b.weights, b.state, penalty},
                                        failed);
    }
}

template <class P>
void solve_band(const LaneBlock& b, const LaneSystem& s, bool* failed) {
    if (s.uneven_penalty) return solve_band_on<P>(b, s, *s.uneven_penalty, s.uneven_first, failed);
    // The index's IAsLS never reads its D1'D1; drPLS' is s.first.
    return solve_band_on<P>(b, s, *s.penalty, s.first, failed);
}

template <class P, class Rule>
void reweight_with(const Rule& rule, const LaneBlock& b, LaneChange out) {
    b.keep ? update_lanes<P, true>(rule, b, out) : update_lanes<P, false>(rule, b, out);
}

template <class P>
void reweight(const LaneBlock& b, const LaneRule& rule, LaneChange out) {
    using Kind = LaneRule::Kind;
    switch (rule.kind) {
        case Kind::Asls:
        case Kind::Iasls: return reweight_with<P>(AslsWeights{rule.p}, b, out);
        case Kind::ArPls: return reweight_with<P>(ArPlsWeights{rule.sample_statistics}, b, out);
        case Kind::AirPls: return reweight_with<P>(AirPlsWeights{}, b, out);
        case Kind::AirPlsShare: return reweight_with<P>(AirPlsShare{0.0}, b, out);
        case Kind::IarPls: return reweight_with<P>(IarPlsWeights{}, b, out);
        case Kind::AsPls: return reweight_with<P>(AsPlsWeights{rule.coef}, b, out);
        case Kind::Psalsa: return reweight_with<P>(PsalsaWeights{rule.p, rule.k}, b, out);
        case Kind::DerPsalsa: return reweight_with<P>(DerPsalsaWeights{rule.p, rule.k, 0, 0}, b, out);
        // drPLS weighs as LSRPLS does, with e^t in b.growth where LSRPLS has 10^t.
        case Kind::DrPls:
        case Kind::LsrPls: return reweight_with<P>(LsrPlsWeights{}, b, out);
    }
}

template <class P>
LaneKernels make_lane_kernels() {
    return {
        P::width,
        solve<P>,
        solve_band<P>,
        [](const LaneBlock& b, double* sums) {
            b.keep ? negative_sums<P, true>(b, sums) : negative_sums<P, false>(b, sums);
        },
        reweight<P>,
        [](const LaneBlock& b, LanePosterior posterior, LaneChange out, double* sums) {
            b.keep ? lanes::update_brpls<P, true>(b, posterior, out, sums)
                   : lanes::update_brpls<P, false>(b, posterior, out, sums);
        },
        [](const LaneBlock& b, LaneBrPlsSums out) {
            b.keep ? lanes::brpls_sums<P, true>(b, out) : lanes::brpls_sums<P, false>(b, out);
        },
        [](const LaneBlock& b, LaneBaselineChange out) {
            b.keep ? lanes::baseline_change<P, true>(b, out) : lanes::baseline_change<P, false>(b, out);
        },
    };
}

}  // namespace quorvel::whittaker::lanes
