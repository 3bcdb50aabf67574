#include "least_squares.hpp"

namespace quorvel::polynomial {

Result<FitReport> least_squares_into(std::span<const double> y, std::span<const double> x, Mask mask,
                                     std::uint64_t order, std::span<double> out, FitWorkspace& ws) {
    if (auto ready = prepare(y, x, mask, order, out, "poly", ws); !ready) return ready.error();
    if (auto built = prepare_projector(ws.positions, ws.weights, order + 1, ws.projector); !built) {
        return built.error();
    }
    project(ws.projector, ws.positions, ws.weights, y, out);
    return single_pass;
}

}  // namespace quorvel::polynomial
