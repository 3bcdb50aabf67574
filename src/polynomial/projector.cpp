#include "projector.hpp"

#include <algorithm>
#include <cmath>

#include "core/numeric.hpp"
#include "fit_setup.hpp"

namespace quorvel::polynomial {

Status prepare_projector(std::span<const double> t, std::span<const double> weights, std::size_t terms,
                         Projector& projector) {
    projector.orthogonal = !factorise(t, weights, terms, projector.system);
    if (!projector.orthogonal) return ok;
    return orthogonalise(t, weights, terms, projector.basis);
}

void project(Projector& projector, std::span<const double> t, std::span<const double> weights,
             std::span<const double> v, std::span<double> out) {
    if (projector.orthogonal) {
        project(projector.basis, weights, v, out);
        return;
    }
    solve_coefficients(projector.system, t, weights, v);
    evaluate(projector.system, t, out);
}

double project_tracking(Projector& projector, std::span<const double> t, std::span<const double> weights,
                        std::span<const double> v, std::span<double> out, std::span<const double> used) {
    if (projector.orthogonal) {
        projector.before.assign(out.begin(), out.end());
        project(projector.basis, weights, v, out);
        return relative_change(projector.before, out, used);
    }
    solve_coefficients(projector.system, t, weights, v);
    const Change change = evaluate(projector.system, t, out, used);
    return std::sqrt(change.distance2) / std::fmax(std::sqrt(change.norm2), epsilon);
}

}  // namespace quorvel::polynomial
