#include "parse.hpp"

#include "../binding/arguments.hpp"
#include "../binding/errors.hpp"

namespace quorvel::binding::tunable {
namespace {

int to_u64(PyObject* object, void* out) {
    const unsigned long long value = PyLong_AsUnsignedLongLong(object);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return 0;
    *static_cast<std::uint64_t*>(out) = value;
    return 1;
}

template <class Method>
std::optional<Method> parse_method(PyObject* name) {
    const auto text = method_text(name);
    if (!text) return std::nullopt;
    auto method = Method::from_str(*text);
    if (!method) {
        python_error(method.error());
        return std::nullopt;
    }
    return method.value();
}

}  // namespace

std::optional<quorvel::tunable::Options1D> parse_1d(PyObject* args, Call& call) {
    PyObject* method = nullptr;
    int stop = 0;
    quorvel::tunable::Options1D options{};
    auto& w = options.whittaker;
    if (!PyArg_ParseTuple(args, "OOOddO&dpO&O&i", &call.values, &call.mask, &method, &w.lambda, &options.p,
                          to_u64, &w.max_iter, &w.tol, &stop, to_u64, &options.window_size, to_u64,
                          &options.order, &call.want)) {
        return std::nullopt;
    }
    const auto parsed = parse_method<simple::Method>(method);
    if (!parsed) return std::nullopt;
    options.method = *parsed;
    options.stop = stop ? whittaker::StopRule::NegativeResiduals : whittaker::StopRule::WeightChange;
    return options;
}

std::optional<quorvel::tunable::Options2D> parse_2d(PyObject* args, Call& call, std::uint64_t* shape) {
    PyObject* method = nullptr;
    double lambda_rows = 0.0, lambda_cols = 0.0;
    int multigrid = 0;
    quorvel::tunable::Options2D options{};
    auto& w = options.whittaker;
    const bool many = shape != nullptr;
    std::uint64_t ignored[2];
    std::uint64_t* dims = many ? shape : ignored;
    if (!PyArg_ParseTuple(args, many ? "OOOdddO&dO&dpO&O&O&iO&O&" : "OOOdddO&dO&dpO&O&O&i", &call.values,
                          &call.mask, &method, &lambda_rows, &lambda_cols, &options.p, to_u64, &w.max_iter, &w.tol,
                          to_u64, &w.cg_max_iter, &w.cg_tol, &multigrid, to_u64, &options.window_rows, to_u64,
                          &options.window_cols, to_u64, &options.order, &call.want, to_u64, &dims[0], to_u64,
                          &dims[1])) {
        return std::nullopt;
    }
    const auto parsed = parse_method<simple::Method2D>(method);
    if (!parsed) return std::nullopt;
    options.method = *parsed;
    w.lambda = lambda_rows;
    w.lambda_rows = lambda_rows;
    w.lambda_cols = lambda_cols;
    options.solver = multigrid ? two_d::whittaker::GridSolver::multigrid : two_d::whittaker::GridSolver::conjugate_gradients;
    return options;
}

}  // namespace quorvel::binding::tunable
