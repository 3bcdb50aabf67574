#include "psalsa.hpp"

#include "sample_kernels.hpp"

namespace quorvel::whittaker {

PsalsaWeights grid_start(const PsalsaWeights& rule, std::span<const double> y, Mask mask, std::vector<double>&) {
    return {rule.p, std::isnan(rule.k) ? used_deviation(y, mask) / 10.0 : rule.k};
}

PsalsaWeights start(const PsalsaWeights& rule, std::span<const double> y, Mask mask, WhittakerWorkspace& workspace) {
    set_uniform_weights(workspace.iter.weights, mask);
    return grid_start(rule, y, mask, workspace.state);
}

double update_masked(const PsalsaWeights& rule, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, std::size_t, Mask mask) {
    const auto kernels = sample_kernels();
    return rewrite_in_chunks(weights, mask, [&](std::size_t from, std::span<double> chunk) {
        const std::size_t packed = in_packs(kernels, chunk.size());
        if (packed) {
            kernels->psalsa_weights(y.data() + from, baseline.data() + from, chunk.data(), packed, rule.p, rule.k);
        }
        using One = simd::ScalarPack<1>;
        for (std::size_t j = packed; j < chunk.size(); ++j) {
            chunk[j] = psalsa_weight(One::splat(y[from + j] - baseline[from + j]), One::splat(rule.p),
                                     One::splat(1.0 - rule.p), One::splat(-1.0 / rule.k)).v[0];
        }
    });
}

}  // namespace quorvel::whittaker
