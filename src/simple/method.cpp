#include "method.hpp"

namespace quorvel::simple {

Result<Method> Method::from_str(std::string_view text) {
    if (auto id = catalogue::find(text, scope)) return Method{*id};
    return InvalidParameter{"method", catalogue::expected<scope>()};
}

Result<Method2D> Method2D::from_str(std::string_view text) {
    if (auto id = catalogue::find(text, scope)) return Method2D{*id};
    return InvalidParameter{"method", catalogue::expected<scope>()};
}

}  // namespace quorvel::simple
