// Fits with the caller's parameters and masks: one item at a time and a block at once must
// agree bit for bit, and what a masked-out sample holds must never change a result.
#include <memory>
#include <optional>
#include <vector>

#include "checks.hpp"
#include "targets.hpp"
#include "tunable/fit.hpp"

namespace quorvel::fuzz {
namespace {

struct Items {
    std::size_t count, n;
    std::vector<double> values;
    std::unique_ptr<bool[]> flags;  // null: no mask

    Mask mask() const { return flags ? Mask(flags.get(), count * n) : Mask{}; }
    Mask mask(std::size_t k) const { return flags ? mask().subspan(k * n, n) : Mask{}; }
    std::span<const double> item(std::size_t k) const { return std::span(values).subspan(k * n, n); }
};

Items items(ByteReader& in, std::size_t n) {
    Items made{1 + in.upto(3), n, {}, nullptr};
    made.values = in.signal(made.count * n);
    if (in.flag()) {
        const auto bits = in.bits(made.count * n);
        made.flags = std::make_unique<bool[]>(bits.size());
        for (std::size_t i = 0; i < bits.size(); ++i) made.flags[i] = bits[i];
    }
    return made;
}

// Every item alone, then the block: the block must stop at the first item that fails alone and
// give every earlier item the same bits. Then the masked-out samples get other values.
template <class One, class Many>
void check_items(ByteReader& in, Items& made, One one, Many many) {
    const std::size_t n = made.n;
    std::vector<double> alone(made.count * n), block(made.count * n);
    std::optional<std::size_t> first_failure;
    for (std::size_t k = 0; k < made.count && !first_failure; ++k) {
        const auto out = std::span(alone).subspan(k * n, n);
        const auto report = one(made.item(k), made.mask(k), out);
        if (failed(report) || !tunable::subtract_checked(made.item(k), out, made.mask(k), out, "y")) first_failure = k;
    }
    const auto failure = many(made.values, made.count, made.mask(), block);
    require(failure.has_value() == first_failure.has_value(), "a block fails where its items do not, or not where they do");
    const std::size_t good = failure ? failure->index : made.count;
    require(!failure || failure->index == *first_failure, "a block reports another item than the first failing one");
    require(same_bits(std::span(alone).first(good * n), std::span(block).first(good * n)), "a block differs from its items");
    if (!made.flags || failure) return;
    for (std::size_t i = 0; i < made.values.size(); ++i) {
        if (!made.flags[i]) made.values[i] = in.real();
    }
    std::vector<double> again(made.count * n);
    require(!many(made.values, made.count, made.mask(), again), "masked-out values made a block fail");
    for (std::size_t i = 0; i < again.size(); ++i) {
        if (made.flags[i]) require(same_bits({&again[i], 1}, {&block[i], 1}), "masked-out values changed a result");
    }
}

}  // namespace

void tunable_1d(ByteReader& in) {
    tunable::Options1D options{};
    options.method = simple::Method{static_cast<simple::Method::Kind>(in.u8() % 5)};
    options.whittaker = {in.real(), 1 + in.upto(20), in.real()};
    options.p = in.real();
    options.stop = in.flag() ? whittaker::StopRule::NegativeResiduals : whittaker::StopRule::WeightChange;
    options.window_size = in.upto(70);
    options.order = in.upto(6);
    Items made = items(in, in.length(256));
    tunable::Scratch scratch;
    check_items(
        in, made,
        [&](std::span<const double> y, Mask mask, std::span<double> out) {
            return tunable::fit_1d_into(y, mask, options, out, scratch, nullptr);
        },
        [&](std::span<const double> values, std::size_t count, Mask masks, std::span<double> out) {
            return tunable::fit_1d_many(values, count, made.n, masks, options, tunable::Output::Corrected, out);
        });
}

void tunable_2d(ByteReader& in) {
    tunable::Options2D options{};
    options.method = simple::Method2D{static_cast<simple::Method2D::Kind>(in.u8() % 4)};
    auto& w = options.whittaker;
    w.lambda = in.real();
    if (in.flag()) w.lambda_rows = in.real();
    if (in.flag()) w.lambda_cols = in.real();
    w.max_iter = 1 + in.upto(8);
    w.tol = in.real();
    w.cg_max_iter = 1 + in.upto(60);
    w.cg_tol = in.real();
    options.p = in.real();
    options.window_rows = in.upto(9);
    options.window_cols = in.upto(9);
    options.order = in.upto(3);
    const std::uint64_t rows = 1 + in.upto(20), cols = 1 + in.upto(20);
    Items made = items(in, rows * cols);
    tunable::Scratch scratch;
    check_items(
        in, made,
        [&](std::span<const double> data, Mask mask, std::span<double> out) {
            return tunable::fit_2d_into(data, rows, cols, mask, options, out, scratch, nullptr);
        },
        [&](std::span<const double> values, std::size_t count, Mask masks, std::span<double> out) {
            return tunable::fit_2d_many(values, count, rows, cols, masks, options, tunable::Output::Corrected, out);
        });
}

}  // namespace quorvel::fuzz
