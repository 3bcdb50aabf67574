#include "extrema.hpp"

#include <algorithm>
#include <cassert>

namespace quorvel::morphology {
namespace {

// Window extrema in constant time per sample (van Herk / Gil-Werman) over the reflected
// extension, streamed block by block so that only two window-sized buffers are needed.
// Every partial result keeps the earliest of equal candidates, exactly like a left-to-right
// scan that replaces its running value only on a strictly better one, so even the sign of a
// zero matches the direct definition.
template <class Better>
void moving_extremum(std::span<const double> x, std::size_t h, std::span<double> out, Better better) {
    const std::size_t n = x.size(), width = 2 * h + 1, len = n + 2 * h;
    // Position j of the extension is signal position j - h.
    auto ext = [&](std::size_t j) {
        if (j >= h && j < h + n) return x[j - h];
        return x[reflect_index(static_cast<std::int64_t>(j) - static_cast<std::int64_t>(h), n)];
    };
    std::vector<double> suffix(width), prefix(width);
    for (std::size_t start = 0; start < n; start += width) {
        // Suffix extrema of this block, prefix extrema of the next; every window starting in
        // this block ends in the next one.
        const std::size_t end = std::min(start + width, len);
        suffix[end - 1 - start] = ext(end - 1);
        for (std::size_t p = end - 1; p-- > start;) {
            const double v = ext(p), later = suffix[p + 1 - start];
            suffix[p - start] = better(later, v) ? later : v;
        }
        const std::size_t next_end = std::min(end + width, len);
        if (end < next_end) prefix[0] = ext(end);
        for (std::size_t q = end + 1; q < next_end; ++q) {
            const double v = ext(q), earlier = prefix[q - 1 - end];
            prefix[q - end] = better(v, earlier) ? v : earlier;
        }
        out[start] = suffix[0];
        for (std::size_t i = start + 1; i < std::min(start + width, n); ++i) {
            const double earlier = suffix[i - start], later = prefix[i - start - 1];
            out[i] = better(later, earlier) ? later : earlier;
        }
    }
}

}  // namespace

std::size_t reflect_index(std::int64_t j, std::size_t n) {
    // The reflected extension repeats with period 2n, so one remainder replaces the bouncing.
    const auto size = static_cast<std::int64_t>(n);
    std::int64_t r = j % (2 * size);
    if (r < 0) r += 2 * size;
    return static_cast<std::size_t>(r < size ? r : 2 * size - 1 - r);
}

std::vector<double> moving_min_reflect(std::span<const double> x, std::size_t h) {
    std::vector<double> out(x.begin(), x.end());
    if (h == 0 || x.empty()) return out;
    moving_extremum(x, h, out, [](double a, double b) { return a < b; });
    return out;
}

void moving_max_reflect(std::span<const double> x, std::size_t h, std::span<double> out) {
    assert(out.size() == x.size());
    if (h == 0 || x.empty()) {
        std::copy(x.begin(), x.end(), out.begin());
        return;
    }
    moving_extremum(x, h, out, [](double a, double b) { return a > b; });
}

std::vector<double> opening_reflect(std::span<const double> x, std::size_t h) {
    const std::vector<double> eroded = moving_min_reflect(x, h);
    std::vector<double> opened(x.size(), 0.0);
    moving_max_reflect(eroded, h, opened);
    return opened;
}

}  // namespace quorvel::morphology
