// The methods of the fixed-default module and the parsing of their names, read from the catalogue.
#pragma once

#include <string_view>
#include <vector>

#include "catalogue/lookup.hpp"
#include "core/error.hpp"

namespace quorvel::simple {

struct Method {
    catalogue::MethodId kind;

    static constexpr catalogue::Scope scope{1, true};
    static std::vector<std::string_view> names() { return catalogue::names(scope); }
    static Result<Method> from_str(std::string_view text);
};

struct Method2D {
    catalogue::MethodId kind;

    static constexpr catalogue::Scope scope{2, true};
    static std::vector<std::string_view> names() { return catalogue::names(scope); }
    static Result<Method2D> from_str(std::string_view text);
};

}  // namespace quorvel::simple
