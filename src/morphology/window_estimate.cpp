#include "window_estimate.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "averaged_opening.hpp"
#include "extrema.hpp"
#include "morphology/two_d/morphology.hpp"

namespace quorvel::morphology {
namespace {

// Tries windows min + 1, min + 2, ... below `most`; distance(h) compares the openings of h - 1 and h.
template <class Distance>
std::size_t settle(const WindowSearch& search, std::size_t most, Distance distance) {
    std::size_t hits = 0, h = search.min_half_window;
    for (std::size_t next = search.min_half_window + 1; next < most; ++next) {
        h = next;
        if (!(distance(h) < search.window_tol)) {
            hits = 0;
        } else if (++hits >= search.max_hits) {
            return h - search.max_hits;
        }
    }
    return h;
}

// Samples that leave the opening at one step, by how far each falls below the level of the component
// that holds them: how many, the sum of the falls and the sum of their squares.
struct Falls {
    double count = 0.0, first = 0.0, second = 0.0;

    // The same falls measured from a level `by` lower.
    Falls lowered(double by) const { return {count, first + by * count, second + by * (2.0 * first + by * count)}; }
    void add(const Falls& other) {
        count += other.count;
        first += other.first;
        second += other.second;
    }
};

constexpr std::size_t never = std::numeric_limits<std::size_t>::max();

// A component of an upper level set of y (an interval), still growing. Its closed children wait in
// `heirs` while their step is the largest seen: if the component vanishes at that same step, their
// samples fall with its own to the same ancestor.
struct Component {
    double level;
    std::size_t start;
    std::size_t heir_step = never;
    std::size_t heir_size = 0;
    Falls heirs{};
};

// Per step h, from the opening of h to that of h + 1: Σ (O_h - O_h+1)² and Σ (O_h² - O_h+1²).
struct Steps {
    std::vector<double> distance2, shrink;

    void land(std::size_t step, const Falls& falls, double level) {
        if (step >= distance2.size()) return;
        distance2[step] += falls.second;
        shrink[step] += falls.second + 2.0 * level * falls.first;
    }
};

// In one dimension a flat opening keeps exactly the components at least as long as its window (the
// reflected edges double a component that touches one end), so a sample of the opening of h is the
// level of its deepest component of length 2h + 1 or more. One pass over y builds the component tree
// with a stack; each component vanishes at one step and its samples fall to the nearest ancestor that
// outlives it.
Steps granulometry(std::span<const double> y, std::size_t count) {
    Steps steps{std::vector<double>(count, 0.0), std::vector<double>(count, 0.0)};
    const std::size_t n = y.size();
    std::vector<Component> stack;
    for (std::size_t i = 0; i <= n; ++i) {
        const double v = i < n ? y[i] : -std::numeric_limits<double>::infinity();
        std::size_t start = i;
        while (!stack.empty() && stack.back().level > v) {
            const Component closed = stack.back();
            stack.pop_back();
            const std::size_t size = i - closed.start;
            const std::size_t ends = (closed.start == 0 ? 1 : 0) + (i == n ? 1 : 0);
            if (ends == 2) {  // the whole signal never vanishes
                if (closed.heir_step != never) steps.land(closed.heir_step, closed.heirs, closed.level);
                break;
            }
            const std::size_t step = (size * (ends + 1) - 1) / 2;
            Falls own{static_cast<double>(size), 0.0, 0.0};
            if (closed.heir_step == step) {
                own.count -= static_cast<double>(closed.heir_size);
                own.add(closed.heirs);
            } else if (closed.heir_step != never) {
                steps.land(closed.heir_step, closed.heirs, closed.level);
            }
            if (stack.empty() || stack.back().level < v) stack.push_back({v, closed.start});
            Component& parent = stack.back();
            const Falls moved = own.lowered(closed.level - parent.level);
            if (parent.heir_step == never || step > parent.heir_step) {
                if (parent.heir_step != never) steps.land(parent.heir_step, parent.heirs, parent.level);
                parent.heir_step = step;
                parent.heir_size = size;
                parent.heirs = moved;
            } else if (step == parent.heir_step) {
                parent.heir_size += size;
                parent.heirs.add(moved);
            } else {
                steps.land(step, moved, parent.level);
            }
            start = closed.start;
        }
        if (i < n && (stack.empty() || stack.back().level < v)) stack.push_back({v, start});
    }
    return steps;
}

// The flat opening of finite y at half window 1 as the left-to-right scan of each window of three: the same values
// as opening_reflect's, in a fraction of its time, whose blocks cost more than so short a window.
std::vector<double> opening_of_three(std::span<const double> y) {
    const auto scan = [&](std::vector<double>& values, auto better) {
        const std::size_t n = values.size();
        double before = values[0];
        for (std::size_t i = 0; i < n; ++i) {
            const double here = values[i], after = values[i + 1 < n ? i + 1 : n - 1];
            const double first = better(here, before) ? here : before;
            values[i] = better(after, first) ? after : first;
            before = here;
        }
    };
    std::vector<double> opened(y.begin(), y.end());
    scan(opened, [](double a, double b) { return a < b; });
    scan(opened, [](double a, double b) { return a > b; });
    return opened;
}

double squared_norm(std::span<const double> values) {
    double sum = 0.0;
    for (const double v : values) sum += v * v;
    return sum;
}

}  // namespace

std::size_t estimate_half_window(std::span<const double> y, WindowSearch search) {
    const std::size_t n = y.size();
    const std::size_t most = search.max_half_window ? search.max_half_window : (n == 0 ? 0 : (n - 1) / 2);
    if (most <= search.min_half_window + 1) return search.min_half_window;
    // The openings of min ... most - 1 take part: steps min ... most - 2. Those of windows above min are
    // openings of the opening of min, whose tree is far smaller on noise.
    const std::size_t top = most - 1;
    const std::vector<double> lowest =
        search.min_half_window == 1 ? opening_of_three(y) : opening_reflect(y, search.min_half_window);
    const Steps steps = granulometry(lowest, top);
    std::vector<double> norm2(top, 0.0);
    norm2[search.min_half_window] = squared_norm(lowest);
    for (std::size_t h = search.min_half_window + 1; h < top; ++h) norm2[h] = norm2[h - 1] - steps.shrink[h - 1];
    return settle(search, most, [&](std::size_t h) {
        return relative_distance(steps.distance2[h - 1], std::max(norm2[h - 1], 0.0));
    });
}

std::pair<std::size_t, std::size_t> estimate_half_window(std::span<const double> data, std::uint64_t rows,
                                                         std::uint64_t cols, WindowSearch search) {
    const std::size_t most = search.max_half_window ? search.max_half_window : (cols == 0 ? 0 : (cols - 1) / 2);
    const std::size_t size = data.size();
    std::vector<double> temp(size), previous(size), current(size);
    const auto open = [&](std::size_t h, std::vector<double>& out) {
        two_d::morphology::moving_min_reflect_with_workspace(data, rows, cols, h, h, temp, out);
        two_d::morphology::moving_max_reflect_with_workspace(out, rows, cols, h, h, temp, out);
    };
    if (most > search.min_half_window + 1) open(search.min_half_window, previous);
    const std::size_t h = settle(search, most, [&](std::size_t next) {
        open(next, current);
        double distance2 = 0.0;
        for (std::size_t i = 0; i < size; ++i) {
            const double d = current[i] - previous[i];
            distance2 += d * d;
        }
        const double distance = relative_distance(distance2, squared_norm(previous));
        previous.swap(current);
        return distance;
    });
    return {h, h};
}

}  // namespace quorvel::morphology

namespace quorvel::morphology {
namespace {

std::size_t median_of(std::vector<std::size_t>& values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

}  // namespace

std::pair<std::size_t, std::size_t> estimate_half_window_by_lines(std::span<const double> data, std::uint64_t rows,
                                                                  std::uint64_t cols) {
    std::vector<std::size_t> along_rows(rows), along_cols(cols);
    for (std::uint64_t r = 0; r < rows; ++r) along_rows[r] = estimate_half_window(data.subspan(r * cols, cols));
    std::vector<double> column(rows);
    for (std::uint64_t c = 0; c < cols; ++c) {
        for (std::uint64_t r = 0; r < rows; ++r) column[r] = data[r * cols + c];
        along_cols[c] = estimate_half_window(column);
    }
    return {median_of(along_cols), median_of(along_rows)};
}

}  // namespace quorvel::morphology
