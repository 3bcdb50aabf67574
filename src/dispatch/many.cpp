#include "fit.hpp"

#include "core/numeric.hpp"
#include "correction.hpp"
#include "masking.hpp"
#include "pspline_many.hpp"
#include "rules.hpp"
#include "whittaker/lanes/many.hpp"

namespace quorvel::dispatch {
namespace {

Mask item_mask(Mask masks, std::size_t k, std::size_t n) { return masks.empty() ? Mask{} : masks.subspan(k * n, n); }

// Item k's result in `out` holds its baseline; turns it into what was asked for.
Status finish_item(std::span<const double> values, Mask masks, std::size_t k, std::size_t n, Output output,
                   std::span<double> out, const char* what) {
    const auto baseline = out.subspan(k * n, n);
    if (output == Output::Corrected) return subtract_checked(values.subspan(k * n, n), baseline, item_mask(masks, k, n), baseline, what);
    if (first_non_finite(baseline)) return InvalidParameter{what, baseline_overflow};
    return ok;
}

// Item by item, stopping at the first failure, which is then the lowest-indexed one.
template <class FitItem>
std::optional<ItemFailure> each_item(std::span<const double> values, std::size_t count, std::size_t n, Mask masks,
                                     Output output, std::span<double> out, std::span<FitReport> reports,
                                     const char* what, FitItem fit_item) {
    for (std::size_t k = 0; k < count; ++k) {
        const auto report = fit_item(values.subspan(k * n, n), item_mask(masks, k, n), out.subspan(k * n, n));
        if (!report) return ItemFailure{k, report.error()};
        if (!reports.empty()) reports[k] = report.value();
        if (auto done = finish_item(values, masks, k, n, output, out, what); !done) return ItemFailure{k, done.error()};
    }
    return std::nullopt;
}

// Each item's outcome, its used samples checked first as fit_1d_into checks them; `values` the data as given.
std::optional<ItemFailure> settle_outcomes(std::span<const double> values, std::size_t n, Mask masks, Output output,
                                           std::span<double> out, std::span<FitReport> reports,
                                           std::span<const whittaker::ItemOutcome> outcomes) {
    for (std::size_t k = 0; k < outcomes.size(); ++k) {
        if (auto bad = first_non_finite_used(values.subspan(k * n, n), item_mask(masks, k, n))) {
            return ItemFailure{k, NonFiniteInput{*bad}};
        }
        if (outcomes[k].error) return ItemFailure{k, *outcomes[k].error};
        if (!reports.empty()) reports[k] = outcomes[k].report;
        if (auto done = finish_item(values, masks, k, n, output, out, "y"); !done) return ItemFailure{k, done.error()};
    }
    return std::nullopt;
}

// Masked-out samples get stand-ins, as in fit_1d_into: zeros, or for pspline_mpls' opening the lines between used
// samples; a used sample that is not finite is reported before anything the fit itself would say, again as there.
template <class Fit>
std::optional<ItemFailure> in_lanes(std::span<const double> values, std::size_t count, std::size_t n, Mask masks,
                                    Output output, std::span<double> out, std::span<FitReport> reports, bool bridged,
                                    Fit fit) {
    std::vector<whittaker::ItemOutcome> outcomes(count);
    std::vector<double> stand_in;
    if (!masks.empty()) {
        stand_in.resize(values.size());
        if (!bridged) zero_masked(values, masks, stand_in);
        for (std::size_t k = 0; bridged && k < count; ++k) {
            bridge_masked(values.subspan(k * n, n), item_mask(masks, k, n), std::span(stand_in).subspan(k * n, n));
        }
    }
    fit(masks.empty() ? values : std::span<const double>(stand_in), std::span<whittaker::ItemOutcome>(outcomes));
    return settle_outcomes(values, n, masks, output, out, reports, outcomes);
}

}  // namespace

std::optional<ItemFailure> fit_1d_many(std::span<const double> values, std::size_t count, std::size_t n,
                                       Mask masks, const Options& options, Output output, std::span<double> out,
                                       std::span<FitReport> reports) {
    if (n > 0) {
        // Outer optional: whether the method is a Whittaker one, which the lanes serve.
        using Served = std::optional<std::optional<ItemFailure>>;
        const Served served = with_rule<1>(
            options,
            [&](const auto& rule) {
                const WhittakerRecord& record = options.whittaker;
                return Served(in_lanes(values, count, n, masks, output, out, reports, false,
                                       [&](std::span<const double> fitted, std::span<whittaker::ItemOutcome> items) {
                                           whittaker::fit_many(fitted, n, whittaker_params(record, options.x), rule,
                                                               masks, record.stop, out, items);
                                       }));
            },
            [] { return Served(); });
        if (served) return *served;
    }
    if (spline_lanes_serve(options, count, n)) {
        const bool bridged = options.method == catalogue::MethodId::PsplineMpls;
        return in_lanes(values, count, n, masks, output, out, reports, bridged,
                        [&](std::span<const double> fitted, std::span<whittaker::ItemOutcome> items) {
                            fit_spline_lanes(fitted, n, masks, options, out, items);
                        });
    }
    Scratch scratch;
    return each_item(values, count, n, masks, output, out, reports, "y",
                     [&](std::span<const double> y, Mask mask, std::span<double> b) {
                         return fit_1d_into(y, mask, options, b, scratch, nullptr);
                     });
}

std::optional<ItemFailure> fit_2d_many(std::span<const double> values, std::size_t count, std::uint64_t rows,
                                       std::uint64_t cols, Mask masks, const Options& options, Output output,
                                       std::span<double> out, std::span<FitReport> reports) {
    Scratch scratch;
    return each_item(values, count, rows * cols, masks, output, out, reports, "data",
                     [&](std::span<const double> data, Mask mask, std::span<double> b) {
                         return fit_2d_into(data, rows, cols, mask, options, b, scratch, nullptr);
                     });
}

}  // namespace quorvel::dispatch
