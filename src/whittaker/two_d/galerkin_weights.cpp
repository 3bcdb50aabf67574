#include "galerkin_weights.hpp"

#include <algorithm>
#include <array>
#include <cmath>

namespace quorvel::two_d::whittaker {
namespace {

constexpr std::int64_t width = 2 * coupling_reach + 1;

// The nonzero taps of fine point i: two for a halved axis, the point itself otherwise.
struct Taps {
    std::uint64_t at[2];
    double weight[2];
    unsigned count;
};

Taps taps_of(const AxisTransfer& axis, std::uint64_t i) {
    if (axis.identity()) return {{i, 0}, {1.0, 0.0}, 1};
    Taps out{{0, 0}, {0.0, 0.0}, 0};
    for (std::uint64_t t = 0; t < 4 && out.count < 2; ++t) {
        if (axis.taps[i][t] == 0.0) continue;
        out.at[out.count] = axis.first[i] + t;
        out.weight[out.count] = axis.taps[i][t];
        ++out.count;
    }
    return out;
}

std::size_t slot(std::int64_t di, std::int64_t dj) {
    return static_cast<std::size_t>((di + coupling_reach) * width + dj + coupling_reach);
}

// Adds Q(p, I) w Q(q, J) at (I, J) for the coarse points I of fine point p (taps pr, pc) and J of q (qr, qc).
// A linear interpolation keeps J within two points of I whenever q is within two of p.
void spread(const Taps& pr, const Taps& pc, const Taps& qr, const Taps& qc, double w, std::uint64_t cols,
            std::uint64_t size, std::span<double> coarse) {
    for (unsigned a = 0; a < pr.count; ++a) {
        for (unsigned c = 0; c < pc.count; ++c) {
            const double from = pr.weight[a] * pc.weight[c] * w;
            const std::uint64_t point = pr.at[a] * cols + pc.at[c];
            for (unsigned b = 0; b < qr.count; ++b) {
                const auto di = static_cast<std::int64_t>(qr.at[b]) - static_cast<std::int64_t>(pr.at[a]);
                for (unsigned d = 0; d < qc.count; ++d) {
                    const auto dj = static_cast<std::int64_t>(qc.at[d]) - static_cast<std::int64_t>(pc.at[c]);
                    coarse[slot(di, dj) * size + point] += from * (qr.weight[b] * qc.weight[d]);
                }
            }
        }
    }
}

// Both halves of each pair get their mean, so the coarse system is symmetric to the bit; then the scale to an
// average.
void finish(const GridTransfer& t, std::span<double> coarse) {
    const auto rows = static_cast<std::int64_t>(t.rows.coarse), cols = static_cast<std::int64_t>(t.cols.coarse);
    const std::uint64_t size = t.coarse_size();
    for (std::int64_t di = 0; di <= coupling_reach; ++di) {
        for (std::int64_t dj = di == 0 ? 1 : -coupling_reach; dj <= coupling_reach; ++dj) {
            double* c = coarse.data() + slot(di, dj) * size;
            double* mirror = coarse.data() + slot(-di, -dj) * size;
            for (std::int64_t i = 0; i + di < rows; ++i) {
                for (std::int64_t j = std::max<std::int64_t>(0, -dj); j < std::min(cols, cols - dj); ++j) {
                    const std::int64_t k = i * cols + j, l = k + di * cols + dj;
                    const double mean = (c[k] + mirror[l]) * 0.5;
                    c[k] = mean;
                    mirror[l] = mean;
                }
            }
        }
    }
    const double scale = 1.0 / t.ratio();
    for (std::size_t k = 0; k < size * coupling_count; ++k) coarse[k] = coarse[k] * scale;
}

void clear(const GridTransfer& t, std::span<double> coarse) {
    std::fill(coarse.begin(), coarse.begin() + static_cast<std::ptrdiff_t>(t.coarse_size() * coupling_count), 0.0);
}

// The three never overlap: restrict lets the loop run in vector registers.
void add_row_product(const double* __restrict c, const double* __restrict v, double* __restrict out, std::int64_t from,
                     std::int64_t to) {
    for (std::int64_t j = from; j < to; ++j) out[j] = out[j] + c[j] * v[j];
}

}  // namespace

void galerkin_from_weights(const GridTransfer& t, std::span<const double> weights, std::span<double> coarse) {
    clear(t, coarse);
    const std::uint64_t cols = t.cols.fine, size = t.coarse_size();
    for (std::uint64_t i = 0; i < t.rows.fine; ++i) {
        const Taps row = taps_of(t.rows, i);
        for (std::uint64_t j = 0; j < cols; ++j) {
            const Taps col = taps_of(t.cols, j);
            spread(row, col, row, col, weights[i * cols + j], t.cols.coarse, size, coarse);
        }
    }
    finish(t, coarse);
}

void galerkin_from_couplings(const GridTransfer& t, std::span<const double> fine, std::span<double> coarse) {
    clear(t, coarse);
    const auto rows = static_cast<std::int64_t>(t.rows.fine), cols = static_cast<std::int64_t>(t.cols.fine);
    const std::uint64_t fine_size = t.rows.fine * t.cols.fine, size = t.coarse_size();
    std::array<Taps, width> row_taps{}, col_taps{};
    for (std::int64_t i = 0; i < rows; ++i) {
        for (std::int64_t di = -coupling_reach; di <= coupling_reach; ++di) {
            if (i + di >= 0 && i + di < rows) {
                row_taps[di + coupling_reach] = taps_of(t.rows, static_cast<std::uint64_t>(i + di));
            }
        }
        for (std::int64_t j = 0; j < cols; ++j) {
            for (std::int64_t dj = -coupling_reach; dj <= coupling_reach; ++dj) {
                if (j + dj >= 0 && j + dj < cols) {
                    col_taps[dj + coupling_reach] = taps_of(t.cols, static_cast<std::uint64_t>(j + dj));
                }
            }
            const auto k = static_cast<std::uint64_t>(i * cols + j);
            for (std::int64_t di = -coupling_reach; di <= coupling_reach; ++di) {
                for (std::int64_t dj = -coupling_reach; dj <= coupling_reach; ++dj) {
                    const double c = fine[slot(di, dj) * fine_size + k];
                    if (c == 0.0) continue;  // also every coupling that would leave the grid
                    spread(row_taps[coupling_reach], col_taps[coupling_reach], row_taps[di + coupling_reach],
                           col_taps[dj + coupling_reach], c, t.cols.coarse, size, coarse);
                }
            }
        }
    }
    finish(t, coarse);
}

std::uint32_t coupled_slots(std::span<const double> couplings, std::uint64_t size) {
    std::uint32_t mask = 0;
    for (std::size_t s = 0; s < coupling_count; ++s) {
        const auto begin = couplings.begin() + static_cast<std::ptrdiff_t>(s * size);
        if (std::any_of(begin, begin + static_cast<std::ptrdiff_t>(size), [](double c) { return c != 0.0; })) {
            mask |= 1u << s;
        }
    }
    return mask;
}

void add_off_centre(std::uint64_t rows, std::uint64_t cols, std::span<const double> couplings, std::uint32_t slots,
                    std::span<const double> v, std::span<double> out) {
    const auto r = static_cast<std::int64_t>(rows), n = static_cast<std::int64_t>(cols);
    const std::uint64_t size = rows * cols;
    for (std::int64_t di = -coupling_reach; di <= coupling_reach; ++di) {
        for (std::int64_t dj = -coupling_reach; dj <= coupling_reach; ++dj) {
            const std::size_t s = slot(di, dj);
            if (s == coupling_centre || (slots & (1u << s)) == 0) continue;
            const std::int64_t from = std::max<std::int64_t>(0, -dj), to = std::min(n, n - dj);
            for (std::int64_t i = std::max<std::int64_t>(0, -di); i < std::min(r, r - di); ++i) {
                add_row_product(couplings.data() + s * size + i * n, v.data() + (i + di) * n + dj, out.data() + i * n,
                                from, to);
            }
        }
    }
}

double absolute_row_sum(std::span<const double> couplings, std::uint64_t size, std::size_t k) {
    double sum = 0.0;
    for (std::size_t s = 0; s < coupling_count; ++s) sum = sum + std::fabs(couplings[s * size + k]);
    return sum;
}

void add_coupling_bands(std::uint64_t rows, std::uint64_t cols, std::span<const double> couplings, double scale,
                        bool transposed, linalg::banded::SymmetricBandedWorkspace& banded) {
    const auto r = static_cast<std::int64_t>(rows), n = static_cast<std::int64_t>(cols);
    const std::uint64_t size = rows * cols;
    for (std::int64_t di = -coupling_reach; di <= coupling_reach; ++di) {
        for (std::int64_t dj = -coupling_reach; dj <= coupling_reach; ++dj) {
            // Each pair once, from the point of the two that comes first in the band's order.
            const std::int64_t offset = transposed ? dj * r + di : di * n + dj;
            if (offset <= 0) continue;
            const double* c = couplings.data() + slot(di, dj) * size;
            for (std::int64_t i = std::max<std::int64_t>(0, -di); i < std::min(r, r - di); ++i) {
                for (std::int64_t j = std::max<std::int64_t>(0, -dj); j < std::min(n, n - dj); ++j) {
                    const std::int64_t at = transposed ? j * r + i : i * n + j;
                    banded.bands[static_cast<std::uint64_t>(offset) * size + static_cast<std::uint64_t>(at)] +=
                        c[i * n + j] * scale;
                }
            }
        }
    }
}

}  // namespace quorvel::two_d::whittaker
