#include "fit_setup.hpp"

#include <algorithm>
#include <cmath>

#include "core/abscissa.hpp"
#include "core/numeric.hpp"
#include "passes.hpp"

namespace quorvel::polynomial {
namespace {

Status fill_positions(std::span<const double> x, std::size_t n, const char* name, std::vector<double>& positions) {
    positions.resize(n);
    if (x.empty()) {
        // The vector pass takes fewer than 2^31 positions; the same bits one by one beyond.
        if (n >= 2 && n < (std::size_t{1} << 31)) {
            passes_for_this_cpu().coordinates(0, n, n, positions.data());
        } else {
            for (std::size_t i = 0; i < n; ++i) positions[i] = scaled_coordinate(i, n);
        }
        return ok;
    }
    const auto abscissa = mapped_abscissa(x, n, name);
    if (!abscissa) return abscissa.error();
    for (std::size_t i = 0; i < n; ++i) positions[i] = abscissa.value().at(i);
    return ok;
}

// A grid's terms: every T_a(x) T_b(z) up to the orders, the cross terms only up to max_cross in both.
void fill_terms(const Problem& problem, std::vector<std::array<std::uint64_t, 2>>& terms) {
    terms.clear();
    for (std::uint64_t a = 0; a <= problem.order[0]; ++a) {
        for (std::uint64_t b = 0; b <= problem.order[1]; ++b) {
            if (a == 0 || b == 0 || (a <= problem.max_cross && b <= problem.max_cross)) terms.push_back({a, b});
        }
    }
}

Status check_order(const Problem& problem, std::uint64_t terms, const char* method) {
    const std::size_t n = problem.y.size();
    if (terms <= used_count(n, problem.mask)) return ok;
    if (!problem.mask.empty()) return InvalidParameter{"mask", "must keep at least as many samples as the terms"};
    return InputTooShort{n, method, terms};
}

Status place(const Problem& problem, FitWorkspace& ws) {
    ws.grid = problem.grid();
    ws.surface_normal = false;
    if (!ws.grid) return fill_positions(problem.x, problem.y.size(), "x", ws.positions);
    if (auto rows = fill_positions(problem.x, problem.rows, "x", ws.positions); !rows) return rows.error();
    return fill_positions(problem.z, problem.cols, "z", ws.cross_positions);
}

}  // namespace

Status prepare(const Problem& problem, std::span<double> out, const char* method, FitWorkspace& ws) {
    const std::span<const double> y = problem.y;
    const std::size_t n = y.size();
    if (n == 0) return EmptyInput{};
    if (!problem.mask.empty() && problem.mask.size() != n) return LengthMismatch{"mask", n, problem.mask.size()};
    if (problem.mask.empty()) {
        if (const auto bad = first_non_finite(y)) return NonFiniteInput{*bad};
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            if (problem.mask[i] && is_non_finite(y[i])) return NonFiniteInput{i};
        }
    }
    if (out.size() != n) return LengthMismatch{"baseline", n, out.size()};
    // The kernels keep up to 21 terms per axis in registers and on the stack.
    if (problem.order[0] > 20 || (problem.grid() && problem.order[1] > 20)) {
        return InvalidParameter{"poly_order", "must be from 0 to 20"};
    }
    if (problem.grid() && (problem.order[0] >= problem.rows || problem.order[1] >= problem.cols)) {
        return InvalidParameter{"poly_order", "must be below the number of rows and of columns"};
    }
    if (problem.grid()) {
        fill_terms(problem, ws.terms);
    } else {
        ws.terms.assign(1, {problem.order[0], 0});
    }
    const std::uint64_t order = problem.order[0];
    const std::uint64_t terms = problem.grid() ? ws.terms.size() : order == UINT64_MAX ? order : order + 1;
    if (auto enough = check_order(problem, terms, method); !enough) return enough.error();
    if (auto placed = place(problem, ws); !placed) return placed.error();
    if (problem.mask.empty()) {
        ws.used.assign(n, 1.0);
    } else {
        ws.used.resize(n);
        for (std::size_t i = 0; i < n; ++i) ws.used[i] = problem.mask[i] ? 1.0 : 0.0;
    }
    ws.weights = ws.used;
    return ok;
}

std::uint64_t term_count(const FitWorkspace& ws) { return ws.grid ? ws.terms.size() : ws.terms[0][0] + 1; }

Status refit(FitWorkspace& ws) {
    if (!ws.grid) return prepare_projector(ws.positions, ws.weights, term_count(ws), ws.projector);
    ws.surface_normal = factorise_surface(ws.positions, ws.cross_positions, ws.terms, ws.weights, ws.surface);
    if (ws.surface_normal) return ok;
    return prepare_surface_projector(ws.positions, ws.cross_positions, ws.terms, ws.weights, ws.projector);
}

void fit_through(FitWorkspace& ws, std::span<const double> v, std::span<double> out) {
    if (!ws.surface_normal) return project(ws.projector, ws.positions, ws.weights, v, out);
    solve_surface(ws.surface, ws.positions, ws.cross_positions, ws.terms, ws.weights, v);
    (void)evaluate_surface(ws.surface, ws.positions, ws.cross_positions, ws.terms, out);
}

double fit_tracking(FitWorkspace& ws, std::span<const double> v, std::span<double> out) {
    if (!ws.surface_normal) return project_tracking(ws.projector, ws.positions, ws.weights, v, out, ws.used);
    solve_surface(ws.surface, ws.positions, ws.cross_positions, ws.terms, ws.weights, v);
    const Change change = evaluate_surface(ws.surface, ws.positions, ws.cross_positions, ws.terms, out, ws.used);
    return std::sqrt(change.distance2) / std::fmax(std::sqrt(change.norm2), epsilon);
}

Status check_limits(IterationLimits limits) {
    if (!(limits.tol >= 0.0)) return InvalidParameter{"tol", "must be at least 0"};
    if (limits.max_iter == 0) return InvalidParameter{"max_iter", "must be at least 1"};
    return ok;
}

double used_deviation(std::span<const double> a, std::span<const double> b, std::span<const double> weights) {
    double sum = 0.0, count = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (weights[i] > 0.0) sum += a[i] - b[i], count += 1.0;
    }
    const double mean = sum / count;
    double squares = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = a[i] - b[i] - mean;
        if (weights[i] > 0.0) squares += d * d;
    }
    return std::sqrt(squares / count);
}

double relative_change(std::span<const double> old, std::span<const double> now, std::span<const double> weights) {
    double distance2 = 0.0, norm2 = 0.0;
    for (std::size_t i = 0; i < old.size(); ++i) {
        const bool used = weights[i] > 0.0;
        distance2 += pick(used, (now[i] - old[i]) * (now[i] - old[i]), 0.0);
        norm2 += pick(used, old[i] * old[i], 0.0);
    }
    return std::sqrt(distance2) / std::fmax(std::sqrt(norm2), epsilon);
}

bool finish_iteration(double change, std::uint64_t iteration, IterationLimits limits, FitReport& report,
                      std::vector<double>* history) {
    if (history) history->push_back(change);
    report = {iteration, change, change < limits.tol};
    return report.converged || iteration >= limits.max_iter;
}

}  // namespace quorvel::polynomial
