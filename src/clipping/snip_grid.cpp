#include "snip.hpp"

#include <algorithm>
#include <utility>

#include "core/extrapolated.hpp"
#include "lls.hpp"
#include "passes.hpp"

namespace quorvel::clipping {
namespace {

// Rows [a, rows - a), columns [b, cols - b) of one pass over a grid of `cols` columns.
void clip_grid(const double* from, double* to, std::size_t rows, std::size_t cols, std::size_t a, std::size_t b) {
    const std::size_t up = a * cols;
    for (std::size_t r = a; r < rows - a; ++r) {
        const double* at = from + r * cols;
        const double *above = at - up, *below = at + up;
        double* out = to + r * cols;
        for (std::size_t c = b; c < cols - b; ++c) {
            const double p1 = above[c - b], p2 = above[c + b], p3 = below[c - b], p4 = below[c + b];
            const double s1 = std::max(at[c - b], (p1 + p3) / 2.0), s2 = std::max(above[c], (p1 + p2) / 2.0);
            const double s3 = std::max(below[c], (p3 + p4) / 2.0), s4 = std::max(at[c + b], (p2 + p4) / 2.0);
            const double filter = (s1 + s2 + s3 + s4) / 2.0 - (p1 + p2 + p3 + p4) / 4.0;
            out[c] = std::min(at[c], filter);
        }
    }
}

// Copies what a pass leaves alone: the first and last a rows, the first and last b columns.
void copy_frame(const double* from, double* to, std::size_t rows, std::size_t cols, std::size_t a, std::size_t b) {
    std::copy_n(from, a * cols, to);
    std::copy_n(from + (rows - a) * cols, a * cols, to + (rows - a) * cols);
    for (std::size_t r = a; r < rows - a; ++r) {
        std::copy_n(from + r * cols, b, to + r * cols);
        std::copy_n(from + (r + 1) * cols - b, b, to + (r + 1) * cols - b);
    }
}

// The grid padded by `half_rows` rows and `half_cols` columns on each side: each row carried on along its
// edge lines first, then each column of the result.
void pad_grid(std::span<const double> source, std::size_t rows, std::size_t cols, std::size_t half_rows,
              std::size_t half_cols, SnipWorkspace& work) {
    const std::size_t wide = cols + 2 * half_cols, tall = rows + 2 * half_rows;
    work.current.resize(tall * wide);
    for (std::size_t r = 0; r < rows; ++r) {
        pad_extrapolated_into(source.subspan(r * cols, cols), half_cols,
                              std::span<double>(work.current).subspan((half_rows + r) * wide, wide));
    }
    work.line.resize(rows + tall);
    const std::span<double> column(work.line.data(), rows), padded(work.line.data() + rows, tall);
    for (std::size_t c = 0; c < wide; ++c) {
        for (std::size_t r = 0; r < rows; ++r) column[r] = work.current[(half_rows + r) * wide + c];
        pad_extrapolated_into(column, half_rows, padded);
        for (std::size_t r = 0; r < tall; ++r) work.current[r * wide + c] = padded[r];
    }
}

}  // namespace

Result<FitReport> snip_into(const two_d::Grid& data, const SnipParams& params, const two_d::GridOut& output,
                            SnipWorkspace& work) {
    if (!two_d::same_shape(data, output)) return two_d::output_mismatch(data, output);
    if (auto valid = check_snip(params, {data.rows, data.cols}, false); !valid) return valid.error();
    const std::size_t half_rows = params.max_half_window[0], half_cols = params.max_half_window[1];
    const std::size_t tall = data.rows + 2 * half_rows, wide = data.cols + 2 * half_cols;
    std::span<const double> source = data.data;
    if (params.lls) {
        if (auto valid = lls_forward(data.data, output.data); !valid) return valid.error();
        source = output.data;
    }
    pad_grid(source, data.rows, data.cols, half_rows, half_cols, work);
    work.next = work.current;
    for (const std::size_t p : Passes{std::max(half_rows, half_cols), params.decreasing}) {
        const std::size_t a = std::min(p, half_rows), b = std::min(p, half_cols);
        clip_grid(work.current.data(), work.next.data(), tall, wide, a, b);
        copy_frame(work.current.data(), work.next.data(), tall, wide, a, b);
        std::swap(work.current, work.next);
    }
    for (std::size_t r = 0; r < data.rows; ++r) {
        for (std::size_t c = 0; c < data.cols; ++c) {
            const double value = work.current[(half_rows + r) * wide + half_cols + c];
            output.data[r * data.cols + c] = params.lls ? lls_inverse(value) : value;
        }
    }
    return single_pass;
}

}  // namespace quorvel::clipping
