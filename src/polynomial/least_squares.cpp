#include "least_squares.hpp"

namespace quorvel::polynomial {

Result<FitReport> least_squares_into(const Problem& problem, std::span<double> out, FitWorkspace& ws) {
    if (auto ready = prepare(problem, out, "poly", ws); !ready) return ready.error();
    if (auto built = refit(ws); !built) return built.error();
    fit_through(ws, problem.y, out);
    return single_pass;
}

}  // namespace quorvel::polynomial
