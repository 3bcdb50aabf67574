// The arrays of one block of lanes, in one allocation, and how spectra enter them.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/mask.hpp"
#include "linalg/pentadiagonal_lanes.hpp"

namespace quorvel::whittaker {

// The rows of one block, each array on a 64-byte boundary so that no lane load splits a cache line.
class LaneArrays {
public:
    static constexpr std::size_t count = 12;

    LaneArrays(std::size_t n, std::size_t width, bool masked)
        : width_(width), len_(n * width), stride_((len_ + 7) / 8 * 8), storage_(count * stride_ + 8, 0.0) {
        const auto misalignment = reinterpret_cast<std::uintptr_t>(storage_.data()) % 64 / sizeof(double);
        base_ = storage_.data() + (8 - misalignment) % 8;
        // A lane without a spectrum solves y = 0 with unit weights, so that it computes ordinary
        // numbers and never slows the others down with subnormal ones.
        std::fill_n(weights(), len_, 1.0);
        std::fill_n(state(), len_, 1.0);
        if (masked) std::fill_n(keep(), len_, 1.0);
    }
    LaneArrays(const LaneArrays&) = delete;
    LaneArrays& operator=(const LaneArrays&) = delete;

    double* y() { return base_; }
    double* weights() { return base_ + stride_; }
    double* keep() { return base_ + 2 * stride_; }
    linalg::pentadiagonal::LaneFactor factor() {
        return {base_ + 3 * stride_, base_ + 4 * stride_, base_ + 5 * stride_, base_ + 6 * stride_};
    }
    double* inv_d() { return base_ + 7 * stride_; }
    double* state() { return base_ + 8 * stride_; }
    std::array<double*, 3> upper() { return {base_ + 9 * stride_, base_ + 10 * stride_, base_ + 11 * stride_}; }

    // Lane l takes the spectrum y: its values, unit weights on its used samples and, when masked, its keep.
    void put_spectrum(std::size_t l, std::span<const double> y, Mask mask) {
        for (std::size_t i = 0; i < y.size(); ++i) {
            const double used = is_masked_out(mask, i) ? 0.0 : 1.0;
            this->y()[i * width_ + l] = y[i];
            weights()[i * width_ + l] = used;
            if (!mask.empty()) keep()[i * width_ + l] = used;
        }
    }

private:
    std::size_t width_, len_, stride_;
    std::vector<double> storage_;
    double* base_;
};

// Lane l of the rows of a block of `width` lanes, written from or read into one spectrum's values.
inline void put_lane(double* rows, std::size_t width, std::size_t l, std::span<const double> values) {
    for (std::size_t i = 0; i < values.size(); ++i) rows[i * width + l] = values[i];
}
inline void take_lane(const double* rows, std::size_t width, std::size_t l, std::span<double> values) {
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = rows[i * width + l];
}

// Gives every idle lane the next item that load(l, item) takes (leaving lane l busy); false once all
// lanes are idle.
template <class Lanes, class Load>
bool refill_lanes(Lanes& lanes, std::size_t& next, std::size_t count, Load load) {
    bool any = false;
    for (std::size_t l = 0; l < lanes.size(); ++l) {
        while (!lanes[l].busy && next < count) load(l, next++);
        any = any || lanes[l].busy;
    }
    return any;
}

}  // namespace quorvel::whittaker
