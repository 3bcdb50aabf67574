// The arrays of one block of lanes, in one allocation.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "linalg/pentadiagonal_lanes.hpp"

namespace quorvel::whittaker {

// The rows of one block, each array on a 64-byte boundary so that no lane load splits a cache line.
class LaneArrays {
public:
    static constexpr std::size_t count = 12;

    LaneArrays(std::size_t n, std::size_t width, bool masked)
        : len_(n * width), stride_((len_ + 7) / 8 * 8), storage_(count * stride_ + 8, 0.0) {
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

private:
    std::size_t len_, stride_;
    std::vector<double> storage_;
    double* base_;
};

}  // namespace quorvel::whittaker
