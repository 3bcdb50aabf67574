#include "psalsa.hpp"

namespace quorvel::whittaker {

double used_deviation(std::span<const double> y, Mask mask) {
    const double used = static_cast<double>(used_count(y.size(), mask));
    double sum = 0.0, sq = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (!is_masked_out(mask, i)) sum = sum + y[i];
    }
    const double mean = sum / used;
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (!is_masked_out(mask, i)) sq = sq + (y[i] - mean) * (y[i] - mean);
    }
    return std::sqrt(sq / used);
}

PsalsaWeights grid_start(const PsalsaWeights& rule, std::span<const double> y, Mask mask, std::vector<double>&) {
    return {rule.p, std::isnan(rule.k) ? used_deviation(y, mask) / 10.0 : rule.k};
}

PsalsaWeights start(const PsalsaWeights& rule, std::span<const double> y, Mask mask, WhittakerWorkspace& workspace) {
    set_uniform_weights(workspace.iter.weights, mask);
    return grid_start(rule, y, mask, workspace.state);
}

double update_masked(const PsalsaWeights& rule, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, std::size_t, Mask mask) {
    return rewrite_weights(weights, [&](std::size_t i) {
        return is_masked_out(mask, i) ? 0.0 : psalsa_weight(rule, y[i] - baseline[i]);
    });
}

}  // namespace quorvel::whittaker
