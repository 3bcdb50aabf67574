// The closed sets of one- and two-dimensional methods and the parsing of their names.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "../error.hpp"

namespace quorvel::simple {

struct Method {
    enum Kind : std::uint8_t { Asls, ArPls, AirPls, RollingBall, Polynomial };
    Kind kind;

    static constexpr std::array<std::string_view, 5> names{"asls", "arpls", "airpls", "rolling_ball",
                                                           "polynomial"};
    static Result<Method> from_str(std::string_view text);
};

struct Method2D {
    enum Kind : std::uint8_t { Asls, ArPls, RollingBall, Polynomial };
    Kind kind;

    static constexpr std::array<std::string_view, 4> names{"asls", "arpls", "rolling_ball",
                                                           "polynomial"};
    static Result<Method2D> from_str(std::string_view text);
};

}  // namespace quorvel::simple
