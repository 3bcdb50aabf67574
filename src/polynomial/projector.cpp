#include "projector.hpp"

#include "change.hpp"

namespace quorvel::polynomial {

Status prepare_projector(std::span<const double> t, std::span<const double> weights, std::size_t terms,
                         Projector& projector) {
    projector.orthogonal = !factorise(t, weights, terms, projector.system);
    if (!projector.orthogonal) return ok;
    chebyshev_columns(t, terms, projector.basis);
    return orthogonalise(weights, projector.basis);
}

Status prepare_surface_projector(std::span<const double> x, std::span<const double> z,
                                 std::span<const std::array<std::uint64_t, 2>> terms, std::span<const double> weights,
                                 Projector& projector) {
    projector.orthogonal = true;
    surface_columns(x, z, terms, projector.basis);
    return orthogonalise(weights, projector.basis);
}

void project(Projector& projector, std::span<const double> t, std::span<const double> weights,
             std::span<const double> v, std::span<double> out) {
    if (projector.orthogonal) {
        project(projector.basis, weights, v, out);
        return;
    }
    solve_coefficients(projector.system, t, weights, v);
    (void)evaluate(projector.system, t, out);
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
    return relative(change);
}

}  // namespace quorvel::polynomial
