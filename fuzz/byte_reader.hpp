// Turns the fuzzer's bytes into sizes, doubles and signals, front to back. Every byte string
// decodes to something: once the bytes run out every read gives zero. fuzz/make_seeds.py
// writes seeds in this format, so the two change together.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <vector>

namespace quorvel::fuzz {

class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::uint8_t u8() { return pos_ < bytes_.size() ? bytes_[pos_++] : 0; }
    std::uint16_t u16() { return static_cast<std::uint16_t>(little_endian(2)); }
    std::uint64_t u64() { return little_endian(8); }
    bool flag() { return (u8() & 1) != 0; }
    // A value in [0, max].
    std::size_t upto(std::size_t max) { return u16() % (max + 1); }
    // A length in [0, max], three times in four at most 64 so that most runs are quick.
    std::size_t length(std::size_t max) { return u8() < 192 ? upto(std::min<std::size_t>(max, 64)) : upto(max); }

    // Selector byte: 0-63 a value from the table of awkward doubles, 64-127 a raw bit
    // pattern, 128-191 a decimal m * 10^e, 192-255 a small multiple of 1/8.
    double real() {
        const std::uint8_t selector = u8();
        if (selector < 64) return awkward[selector % awkward.size()];
        if (selector < 128) return std::bit_cast<double>(u64());
        if (selector < 192) {
            const auto mantissa = static_cast<std::int16_t>(u16());
            const int exponent = u8() % 41 - 20;
            return static_cast<double>(mantissa) * std::pow(10.0, exponent);
        }
        return static_cast<double>(static_cast<std::int8_t>(u8())) / 8.0;
    }

    // n samples; mode byte 0: one real() each, 1: a smooth curve with peaks, 2: a constant,
    // 3: one signed byte each times a scale. Modes 1-3 then overwrite a few samples with
    // real()s, so non-finite and extreme values reach any position cheaply.
    std::vector<double> signal(std::size_t n) {
        std::vector<double> y(n, 0.0);
        const std::uint8_t mode = u8() % 4;
        if (mode == 0) {
            for (double& v : y) v = real();
            return y;
        }
        if (mode == 1) curve(y);
        if (mode == 2) std::fill(y.begin(), y.end(), real());
        if (mode == 3) {
            const double scale = real();
            for (double& v : y) v = static_cast<double>(static_cast<std::int8_t>(u8())) * scale;
        }
        const std::size_t injected = n == 0 ? 0 : u8() % 4;
        for (std::size_t k = 0; k < injected; ++k) {
            const std::size_t at = u16() % n;
            y[at] = real();
        }
        return y;
    }

    // A mask of n samples, true where a sample is used; an exhausted input keeps every sample.
    std::unique_ptr<bool[]> bits(std::size_t n) {
        auto out = std::make_unique<bool[]>(n);
        std::uint8_t byte = 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (i % 8 == 0) byte = u8();
            out[i] = ((byte >> (i % 8)) & 1) == 0;
        }
        return out;
    }

private:
    static constexpr double inf = std::numeric_limits<double>::infinity();
    static constexpr std::array<double, 24> awkward{
        0.0,     -0.0,    1.0,     -1.0,     inf,      -inf,     std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest(),
        std::numeric_limits<double>::min(), std::numeric_limits<double>::denorm_min(),
        -std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::epsilon(),
        1e308,   -1e308,  1e154,   1e-308,   0.5,      0.01,     0.99,     1e6,     1e12,
        1e-12,   -1e6};

    std::uint64_t little_endian(int count) {
        std::uint64_t value = 0;
        for (int k = 0; k < count; ++k) value |= static_cast<std::uint64_t>(u8()) << (8 * k);
        return value;
    }

    void curve(std::vector<double>& y) {
        const double c0 = real(), c1 = real(), c2 = real();
        const std::size_t n = y.size();
        for (std::size_t i = 0; i < n; ++i) {
            const double x = static_cast<double>(i) / static_cast<double>(std::max<std::size_t>(n, 2) - 1);
            y[i] = c0 + x * (c1 + x * c2);
        }
        const std::size_t peaks = u8() % 5;
        for (std::size_t k = 0; k < peaks && n > 0; ++k) {
            const double centre = static_cast<double>(u16() % n), height = real();
            const double width = 1.0 + u8();
            for (std::size_t i = 0; i < n; ++i) {
                const double t = (static_cast<double>(i) - centre) / width;
                y[i] = y[i] + height * std::exp(-t * t);
            }
        }
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

}  // namespace quorvel::fuzz
