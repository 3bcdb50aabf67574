// The invariants the core fuzzer asserts of fits with caller-chosen options over blocks of items:
// one item at a time and a block at once agree bit for bit, as do every lane path and the loop of
// single fits; what a masked-out sample holds never changes a result; options that hold the defaults
// give the bits of the fixed dispatch, whose fit, baseline and correct agree. A broken invariant
// aborts, which libFuzzer reports as a crash.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "byte_reader.hpp"
#include "core/error.hpp"
#include "core/numeric.hpp"
#include "dispatch/correction.hpp"
#include "dispatch/fit.hpp"
#include "whittaker/lanes/many.hpp"

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

using dispatch::Output;
using Values = std::vector<double>;
using In = std::span<const double>;
using Out = std::span<double>;

struct Items {
    std::size_t count, n;
    Values values;
    std::unique_ptr<bool[]> flags;  // null: no mask

    Mask mask() const { return flags ? Mask(flags.get(), count * n) : Mask{}; }
    Mask mask(std::size_t k) const { return flags ? mask().subspan(k * n, n) : Mask{}; }
    In item(std::size_t k) const { return std::span(values).subspan(k * n, n); }
};

// Up to `most` items, and at most 16384 samples unless one item has more: runs stay short.
inline Items items(ByteReader& in, std::size_t most, std::size_t n) {
    most = std::clamp<std::size_t>(16384 / std::max<std::size_t>(n, 1), 1, most);
    Items made{1 + in.upto(most - 1), n, {}, nullptr};
    made.values = in.signal(made.count * n);
    if (in.flag()) made.flags = in.bits(made.count * n);
    return made;
}

// What a fit reports; a method that does not reweight makes one pass.
// Own: at most max_iter iterations, converged exactly when the last change is at most tol. Reference (the
// reference library's loop): at most max_iter + 1, converged exactly when below tol, and an early end
// without convergence when the residuals leave nothing to weight by. TwoLoops (brpls): any count of
// inner iterations, each recorded, converged only when the last inner loop settled below tol.
enum class Loop : std::uint8_t { Own, Reference, TwoLoops };

inline void check_report(const Result<FitReport>& fit, const dispatch::Details& details, bool reweighted, Loop loop,
                         std::uint64_t max_iter, double tol) {
    if (failed(fit)) return;
    const FitReport& r = fit.value();
    if (!reweighted) max_iter = 1, tol = 0.0, loop = Loop::Own;
    require(details.history.size() == (reweighted ? r.iterations : 0), "history and report disagree");
    if (!details.history.empty()) require(same_bit(details.history.back(), r.last_change), "last change misreported");
    switch (loop) {
        case Loop::Own:
            require(r.iterations >= 1 && r.iterations <= max_iter, "iteration count out of range");
            require(r.converged == (r.last_change <= tol), "convergence flag contradicts the change");
            require(r.converged || r.iterations == max_iter, "stopped early without converging");
            return;
        case Loop::Reference:
            require(r.iterations <= max_iter + 1, "iteration count out of range");
            require(!r.converged || (r.iterations >= 1 && r.last_change < tol), "converged without a small change");
            return;
        case Loop::TwoLoops: require(!r.converged || r.last_change < tol, "converged without a small change"); return;
    }
}

// Items alone: the output asked for, and the first failure with its text.
struct Alone {
    Values out;
    std::optional<std::size_t> failure;
    std::string error;
};

template <class One>
Alone fit_alone(const Items& made, Output output, const char* what, One one) {
    const std::size_t n = made.n;
    Alone alone{Values(made.count * n), std::nullopt, {}};
    for (std::size_t k = 0; k < made.count && !alone.failure; ++k) {
        const In y = made.item(k);
        const Out out = std::span(alone.out).subspan(k * n, n);
        const auto fit = one(y, made.mask(k), out);
        Status done = fit ? Status(ok) : Status(fit.error());
        if (done && output == Output::Corrected) done = dispatch::subtract_checked(y, out, made.mask(k), out, what);
        if (done && output == Output::Baseline && !all_finite(out)) {
            done = InvalidParameter{what, dispatch::baseline_overflow};
        }
        if (failed(done)) alone.failure = k, alone.error = display(done.error());
    }
    return alone;
}

// The block stops at the first item that fails alone, with its error, and gives every earlier item
// the same bits. Then the masked-out samples get other values, which must change nothing.
template <class Many>
void check_block(ByteReader& in, Items& made, Output output, const Alone& alone, Many many) {
    Values block(made.values.size());
    const auto failure = many(made.values, made.mask(), output, block);
    require(failure.has_value() == alone.failure.has_value(), "a block fails where its items do not, or the reverse");
    require(!failure || (failure->index == *alone.failure && display(failure->error) == alone.error),
            "a block reports another failure than its first failing item");
    const std::size_t good = (failure ? failure->index : made.count) * made.n;
    require(same_bits(std::span(alone.out).first(good), std::span(block).first(good)),
            "a block differs from its items");
    if (!made.flags || failure) return;
    for (std::size_t i = 0; i < made.values.size(); ++i) {
        if (!made.flags[i]) made.values[i] = in.real();
    }
    Values again(block.size());
    require(!many(made.values, made.mask(), output, again), "masked-out values made a block fail");
    for (std::size_t i = 0; i < again.size(); ++i) {
        const bool compared = made.flags[i] || output == Output::Baseline;
        require(!compared || same_bit(again[i], block[i]), "masked-out values changed a result");
    }
}

// Without a mask, options that hold the defaults give item 0 the fixed dispatch's bits and errors. Its
// baseline is the fit's, or fails when the fit is not finite; correct is data - baseline, or fails
// when that overflows.
inline void check_fixed(const Items& made, Output output, const Alone& alone, const Result<Fit>& fit,
                        const Result<Values>& baseline, const Result<Values>& corrected) {
    const auto& fixed = output == Output::Corrected ? corrected : baseline;
    require(failed(fixed) == (alone.failure == 0), "the fixed dispatch and the defaults disagree on failing");
    require(failed(fixed) ? display(fixed.error()) == alone.error
                          : same_bits(fixed.value(), std::span(alone.out).first(made.n)),
            "the defaults differ from the fixed dispatch");
    if (failed(fit)) {
        require(failed(baseline) && failed(corrected) && display(fit.error()) == display(baseline.error()) &&
                    same_error(corrected, baseline), "baseline or correct fail otherwise than the fit");
        return;
    }
    const Values& b = fit.value().baseline;
    require(failed(baseline) == !all_finite(b), "baseline fails where the fit is finite, or the reverse");
    if (failed(baseline)) {
        require(failed(corrected) && same_error(corrected, baseline), "correct fails otherwise than baseline");
        return;
    }
    require(same_bits(baseline.value(), b), "baseline differs from the fit of the same input");
    const In y = made.item(0);
    bool overflows = false;
    for (std::size_t i = 0; i < y.size(); ++i) overflows = overflows || is_non_finite(y[i] - b[i]);
    require(failed(corrected) == overflows, "correct fails where no difference overflows, or the reverse");
    for (std::size_t i = 0; i < y.size() && !overflows; ++i) {
        require(same_bit(corrected.value()[i], y[i] - b[i]), "correct is not data - baseline");
    }
}

// Each lane path gives every spectrum the outcome and bits of the loop of single fits: fit(out, outcomes, path).
template <class Fit>
void check_paths(whittaker::LanePath path, const Items& made, Fit fit) {
    const std::size_t n = made.n;
    Values expected(made.values.size()), got(made.values.size());
    std::vector<whittaker::ItemOutcome> reference(made.count), outcomes(made.count);
    fit(expected, std::span(reference), whittaker::LanePath::ScalarLoop);
    fit(got, std::span(outcomes), path);
    for (std::size_t k = 0; k < made.count; ++k) {
        const auto &a = outcomes[k], &b = reference[k];
        require(a.error.has_value() == b.error.has_value(), "a lane path and the loop disagree on failing");
        if (b.error) {
            require(display(*a.error) == display(*b.error), "a lane path fails differently");
            continue;
        }
        require(a.report.iterations == b.report.iterations && a.report.converged == b.report.converged &&
                    same_bit(a.report.last_change, b.report.last_change),
                "a lane path reports another fit");
        require(same_bits(std::span(got).subspan(k * n, n), std::span(expected).subspan(k * n, n)),
                "a lane path changed a baseline");
    }
}

template <class Rule>
void check_lanes(whittaker::LanePath path, const Items& made, const dispatch::Options& options, const Rule& rule) {
    check_paths(path, made, [&](Out out, std::span<whittaker::ItemOutcome> into, whittaker::LanePath p) {
        whittaker::fit_many(made.values, made.n, dispatch::whittaker_params(options.whittaker), rule, made.mask(),
                            options.whittaker.stop, out, into, p);
    });
}

}  // namespace quorvel::fuzz
