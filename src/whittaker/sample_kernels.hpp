// Elementwise passes of the single fits in packs of consecutive samples, where the CPU has registers
// wider than one: each sample gets the operations of the one-sample form, so the bits do not depend on
// the CPU. The sums that measure a change stay sequential, with their callers.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <span>

#include "core/mask.hpp"
#include "workspace.hpp"

namespace quorvel::whittaker {

struct BrPlsPosterior;

struct SampleKernels {
    std::size_t width;  // every count given to a kernel is a multiple of it
    // out[i] = the asPLS weight of the residual y[i] - z[i] (aspls_weight).
    void (*aspls_weights)(const double* y, const double* z, double* out, std::size_t count, double coef,
                          double sigma);
    // out[i] = the BrPLS weight of the residual y[i] - z[i] (brpls_weight).
    void (*brpls_weights)(const double* y, const double* z, double* out, std::size_t count,
                          const BrPlsPosterior& posterior);
    // out[i] = the psalsa weight of the residual y[i] - z[i] (psalsa_weight).
    void (*psalsa_weights)(const double* y, const double* z, double* out, std::size_t count, double p, double k);
    // out[i] = screen[i] times derpsalsa's decay of the residual y[i] - z[i] (derpsalsa_decay).
    void (*derpsalsa_weights)(const double* y, const double* z, const double* screen, double* out, std::size_t count,
                              double p, double k);
    // out[i] = screen_factor(d1[i], m1) screen_factor(d2[i], m2), derpsalsa's screen.
    void (*derivative_screen)(const double* d1, const double* d2, double* out, std::size_t count, double m1,
                              double m2);
};

// AVX2's where the CPU has it; nothing where samples go one at a time.
std::optional<SampleKernels> sample_kernels();

SampleKernels avx2_sample_kernels();  // built with -mavx2; only where the CPU has AVX2

// How many of `count` samples the kernels take in packs; the rest go one at a time.
inline std::size_t in_packs(const std::optional<SampleKernels>& kernels, std::size_t count) {
    return kernels ? count / kernels->width * kernels->width : 0;
}

// weights[i] = the new weight of sample i (0 where masked out), computed a chunk at a time by
// fill(from, chunk) so that no buffer of the fit's length is needed; the change in index order.
template <class Fill>
double rewrite_in_chunks(std::span<double> weights, Mask mask, Fill fill) {
    std::array<double, 512> fresh;
    WeightChange change;
    for (std::size_t from = 0; from < weights.size(); from += fresh.size()) {
        const std::span<double> chunk = std::span(fresh).first(std::min(fresh.size(), weights.size() - from));
        fill(from, chunk);
        for (std::size_t j = 0; j < chunk.size(); ++j) {
            const double old_weight = weights[from + j];
            weights[from + j] = is_masked_out(mask, from + j) ? 0.0 : chunk[j];
            change.add(old_weight, weights[from + j]);
        }
    }
    return change.value();
}

}  // namespace quorvel::whittaker
