#include "method.hpp"

#include <algorithm>
#include <optional>
#include <utility>

namespace quorvel::simple {
namespace {

// Only A-Z fold, so no locale or non-ASCII letter can ever match a method name.
bool equals_ascii_folded(std::string_view text, std::string_view lower) {
    return std::ranges::equal(text, lower, [](char a, char b) {
        return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
    });
}

template <class Kind, std::size_t N>
std::optional<Kind> lookup(std::string_view text, const std::pair<std::string_view, Kind> (&table)[N]) {
    for (const auto& [name, kind] : table) {
        if (equals_ascii_folded(text, name)) return kind;
    }
    return std::nullopt;
}

}  // namespace

Result<Method> Method::from_str(std::string_view text) {
    static constexpr std::pair<std::string_view, Kind> table[] = {
        {"asls", Asls},         {"arpls", ArPls},     {"airpls", AirPls},
        {"rolling_ball", RollingBall}, {"rolling-ball", RollingBall},
        {"polynomial", Polynomial},    {"poly", Polynomial},
    };
    if (auto kind = lookup(text, table)) return Method{*kind};
    return InvalidParameter{"method", "expected asls, arpls, airpls, rolling_ball, or polynomial"};
}

Result<Method2D> Method2D::from_str(std::string_view text) {
    static constexpr std::pair<std::string_view, Kind> table[] = {
        {"asls", Asls},
        {"arpls", ArPls},
        {"rolling_ball", RollingBall}, {"rolling-ball", RollingBall},
        {"polynomial", Polynomial},    {"poly", Polynomial},
    };
    if (auto kind = lookup(text, table)) return Method2D{*kind};
    return InvalidParameter{"method", "expected asls, arpls, rolling_ball, or polynomial"};
}

}  // namespace quorvel::simple
