// The library's one error type and the result type every fallible operation returns.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <type_traits>
#include <variant>

namespace quorvel {

struct EmptyInput {};
struct InputTooShort {
    std::uint64_t len;
    const char* method;
    std::uint64_t min;
};
struct LengthMismatch {
    const char* what;
    std::uint64_t expected;
    std::uint64_t got;
};
struct InvalidParameter {
    const char* name;
    const char* reason;
};
struct NonFiniteInput {
    std::uint64_t index;
};
struct LinearSolveFailed {
    const char* reason;
};
struct Unsupported {
    const char* feature;
    const char* reason;
};

// Fields are integers or static texts only, so an error is a plain value that
// never owns memory and can be created on any path without allocating.
using BaselineError = std::variant<EmptyInput, InputTooShort, LengthMismatch, InvalidParameter,
                                   NonFiniteInput, LinearSolveFailed, Unsupported>;

std::string display(const BaselineError& error);

// Either a value or a BaselineError.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    template <class E>
        requires std::is_constructible_v<BaselineError, E>
    Result(E error) : state_(std::in_place_index<1>, BaselineError(std::move(error))) {}

    explicit operator bool() const noexcept { return state_.index() == 0; }
    T& value() & { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const T& value() const& { return std::get<0>(state_); }
    const BaselineError& error() const { return std::get<1>(state_); }

private:
    std::variant<T, BaselineError> state_;
};

struct Success {};
using Status = Result<Success>;
inline constexpr Success ok{};

}  // namespace quorvel
