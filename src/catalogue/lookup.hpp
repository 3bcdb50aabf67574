// Finding a method by name, and the text that lists what a failed lookup expected.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "core/error.hpp"
#include "table.hpp"

namespace quorvel::catalogue {

// Canonical names and aliases, with ASCII A-Z folded to lower case and no other byte changed.
std::optional<MethodId> find(std::string_view text, Scope scope);

// The canonical names in table order.
std::vector<std::string_view> names(Scope scope);

namespace detail {

constexpr std::size_t expected_length(Scope scope) {
    std::size_t length = std::string_view("expected ").size(), listed = 0;
    for (const MethodRow& method : table) {
        if (!scope.admits(method)) continue;
        length += method.name.size() + (listed == 0 ? 0 : 2);
        ++listed;
    }
    if (listed == 2) return length - 2 + 4;  // "a or b"
    return length + (listed > 2 ? 3 : 0);    // "a, b, or c"
}

template <Scope scope>
constexpr auto expected_text() {
    std::array<char, expected_length(scope) + 1> text{};
    std::size_t at = 0, left = 0;
    const auto put = [&](std::string_view part) {
        for (const char c : part) text[at++] = c;
    };
    for (const MethodRow& method : table) left += scope.admits(method) ? 1 : 0;
    const bool pair = left == 2;
    put("expected ");
    for (const MethodRow& method : table) {
        if (!scope.admits(method)) continue;
        --left;
        put(method.name);
        if (left > 1) put(", ");
        if (left == 1) put(pair ? " or " : ", or ");
    }
    text[at] = '\0';
    return text;
}

template <Scope scope>
inline constexpr auto expected_storage = expected_text<scope>();

}  // namespace detail

// "expected a, b, or c" ("a or b" for two): the reason of the error for an unknown method name.
template <Scope scope>
constexpr const char* expected() {
    return detail::expected_storage<scope>.data();
}

// find, or the error that names what was expected.
template <Scope scope>
Result<MethodId> parse(std::string_view text) {
    if (auto id = find(text, scope)) return *id;
    return InvalidParameter{"method", expected<scope>()};
}

}  // namespace quorvel::catalogue
