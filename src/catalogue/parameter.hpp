// What the catalogue says of one parameter: its type, default, accepted range and meaning.
#pragma once

#include <cstdint>
#include <limits>
#include <string_view>

namespace quorvel::catalogue {

// Samples: one value per sample (an array of the data's shape), each in the range. Flag: true or false,
// the default in `number` as 1 or 0. Points: finite (x, y) pairs, an array of shape (L, 2).
enum class ValueKind : std::uint8_t { Real, Integer, Choice, Samples, Flag, Points };

// Checks that need the data's shape besides the value: a window must fit the data (and with Window, whose
// method's cost grows with it, keep the cost bounded; with Extent, whose method's cost does not, only fit), an
// order needs enough used samples.
enum class DataCheck : std::uint8_t { None, Window, Extent, PolyOrder };

inline constexpr double unbounded = std::numeric_limits<double>::infinity();

// The package checks values against it; the algorithms check what they need themselves.
struct Interval {
    double lower, upper;
    bool lower_open, upper_open;
};

inline constexpr Interval positive{0.0, unbounded, true, true};
inline constexpr Interval non_negative{0.0, unbounded, false, true};
inline constexpr Interval open_unit{0.0, 1.0, true, true};
inline constexpr Interval at_least_one{1.0, unbounded, false, true};
inline constexpr Interval unit{0.0, 1.0, false, false};
constexpr Interval from_one_to(double most) { return {1.0, most, false, false}; }
constexpr Interval from_zero_to(double most) { return {0.0, most, false, false}; }
constexpr Interval from_to(double least, double most) { return {least, most, false, false}; }

struct Parameter {
    std::string_view name;
    ValueKind kind;
    double number;             // the default of a Real or Integer; NaN when the data decide it
    std::string_view choices;  // a Choice's accepted texts, separated by '|', the first the default
    Interval range;            // Real and Integer only
    bool per_axis;             // on grids: one value for both axes, or a pair (axis 0, axis 1)
    DataCheck data_check;
    std::string_view meaning;

    constexpr std::string_view default_choice() const { return choices.substr(0, choices.find('|')); }
};

constexpr Parameter real(std::string_view name, double fallback, Interval range, std::string_view meaning,
                         bool per_axis = false) {
    return {name, ValueKind::Real, fallback, {}, range, per_axis, DataCheck::None, meaning};
}

// A parameter whose default the data decide (NaN here; None to Python).
constexpr Parameter from_data(ValueKind kind, std::string_view name, Interval range, std::string_view meaning) {
    return {name, kind, std::numeric_limits<double>::quiet_NaN(), {}, range, false, DataCheck::None, meaning};
}

constexpr Parameter integer(std::string_view name, double fallback, Interval range, std::string_view meaning,
                            bool per_axis = false, DataCheck check = DataCheck::None) {
    return {name, ValueKind::Integer, fallback, {}, range, per_axis, check, meaning};
}

constexpr Parameter flag(std::string_view name, bool fallback, std::string_view meaning) {
    return {name, ValueKind::Flag, fallback ? 1.0 : 0.0, {}, {}, false, DataCheck::None, meaning};
}

// A half window the data decide by default, one value or a pair (spectra: left, right; grids: axis 0, axis 1).
constexpr Parameter window_from_data(std::string_view name, std::string_view meaning) {
    return {name, ValueKind::Integer, std::numeric_limits<double>::quiet_NaN(), {}, {1.0, unbounded, false, true},
            true, DataCheck::Window, meaning};
}

constexpr Parameter choice(std::string_view name, std::string_view choices, std::string_view meaning) {
    return {name, ValueKind::Choice, 0.0, choices, {}, false, DataCheck::None, meaning};
}

}  // namespace quorvel::catalogue
