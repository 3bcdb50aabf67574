#include "error.hpp"

namespace quorvel {
namespace {

struct Formatter {
    std::string operator()(const EmptyInput&) const { return "input signal must not be empty"; }
    std::string operator()(const InputTooShort& e) const {
        return "input length " + std::to_string(e.len) + " is too short for " + e.method +
               "; minimum is " + std::to_string(e.min);
    }
    std::string operator()(const LengthMismatch& e) const {
        return std::string("length mismatch for ") + e.what + ": expected " +
               std::to_string(e.expected) + ", got " + std::to_string(e.got);
    }
    std::string operator()(const InvalidParameter& e) const {
        return std::string("invalid parameter ") + e.name + ": " + e.reason;
    }
    std::string operator()(const NonFiniteInput& e) const {
        return "input contains a non-finite value at index " + std::to_string(e.index);
    }
    std::string operator()(const LinearSolveFailed& e) const {
        return std::string("linear solve failed: ") + e.reason;
    }
    std::string operator()(const Unsupported& e) const {
        return std::string(e.feature) + " is not supported yet: " + e.reason;
    }
};

}  // namespace

std::string display(const BaselineError& error) { return std::visit(Formatter{}, error); }

}  // namespace quorvel
