#include "lookup.hpp"

#include <algorithm>

namespace quorvel::catalogue {
namespace {

// Only A-Z fold, so no locale or non-ASCII letter can ever match a method name.
bool equals_ascii_folded(std::string_view text, std::string_view lower) {
    return std::ranges::equal(text, lower, [](char a, char b) {
        return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
    });
}

}  // namespace

std::optional<MethodId> find(std::string_view text, Scope scope) {
    for (const MethodRow& method : table) {
        if (!scope.admits(method)) continue;
        if (equals_ascii_folded(text, method.name)) return method.id;
        for (const std::string_view alias : method.aliases) {
            if (equals_ascii_folded(text, alias)) return method.id;
        }
        if (!scope.fixed_only) continue;
        for (const std::string_view alias : method.fixed_aliases) {
            if (equals_ascii_folded(text, alias)) return method.id;
        }
    }
    return std::nullopt;
}

std::vector<std::string_view> names(Scope scope) {
    std::vector<std::string_view> listed;
    for (const MethodRow& method : table) {
        if (scope.admits(method)) listed.push_back(method.name);
    }
    return listed;
}

}  // namespace quorvel::catalogue
