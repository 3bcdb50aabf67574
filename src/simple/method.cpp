#include "method.hpp"

namespace quorvel::simple {

Result<Method> Method::from_str(std::string_view text) {
    auto id = catalogue::parse<scope>(text);
    if (!id) return id.error();
    return Method{id.value()};
}

Result<Method2D> Method2D::from_str(std::string_view text) {
    auto id = catalogue::parse<scope>(text);
    if (!id) return id.error();
    return Method2D{id.value()};
}

}  // namespace quorvel::simple
