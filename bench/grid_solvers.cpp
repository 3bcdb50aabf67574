// Times the grid asls and arpls fits with a chosen solver; driven by grid_solvers.py.
//
// grid_solvers INPUT ROWS COLS asls|arpls cg|multigrid CG_TOL CG_MAX_ITER OUTPUT [LAMBDA [ROWS_LAMBDA COLS_LAMBDA]]
// reads ROWS x COLS native doubles, writes the baseline the same way and prints one JSON
// line: the fit's time, report, and the steps of each solve (from a second, untimed fit).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "two_d/preconditioned_system.hpp"
#include "two_d/whittaker.hpp"

using namespace quorvel;
using namespace quorvel::two_d;
using namespace quorvel::two_d::whittaker;

namespace {

// The fitting loop again, solve by solve, to count each solve's steps.
template <class Rule>
std::string steps_per_solve(const Grid& data, const Whittaker2DParams& params, Rule rule) {
    const std::size_t n = data.data.size();
    std::vector<double> weights(n, 1.0), floored(n), rhs(n), z(data.data.begin(), data.data.end());
    PreconditionedWorkspace ws;
    std::string steps;
    for (std::uint64_t k = 1; k <= params.max_iter; ++k) {
        for (std::size_t i = 0; i < n; ++i) {
            floored[i] = std::fmax(weights[i], 1e-8);
            rhs[i] = floored[i] * data.data[i];
        }
        if (!solve_preconditioned(data.rows, data.cols, params, floored, rhs, z, ws)) return "null";
        if (!steps.empty()) steps.push_back(',');
        steps.append(std::to_string(ws.steps));
        if (reweight(rule, data.data, z, weights) <= params.tol) break;
    }
    steps.insert(steps.begin(), '[');
    steps.push_back(']');
    return steps;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 9 && argc != 10 && argc != 12) {
        std::fprintf(stderr, "usage: %s INPUT ROWS COLS asls|arpls cg|multigrid CG_TOL CG_MAX_ITER OUTPUT "
                             "[LAMBDA [ROWS_LAMBDA COLS_LAMBDA]]\n", argv[0]);
        return 2;
    }
    const std::uint64_t rows = std::strtoull(argv[2], nullptr, 10), cols = std::strtoull(argv[3], nullptr, 10);
    const std::string method = argv[4], solver_name = argv[5];
    std::vector<double> values(rows * cols);
    std::ifstream(argv[1], std::ios::binary).read(reinterpret_cast<char*>(values.data()),
                                                   static_cast<std::streamsize>(values.size() * sizeof(double)));
    const Grid data{values, rows, cols};
    Asls2DParams params{};
    params.lambda = argc > 9 ? std::strtod(argv[9], nullptr) : 1e4;
    if (argc > 10) {
        params.lambda_rows = std::strtod(argv[10], nullptr);
        params.lambda_cols = std::strtod(argv[11], nullptr);
    }
    params.max_iter = 50;
    params.tol = 1e-3;
    params.cg_tol = std::strtod(argv[6], nullptr);
    params.cg_max_iter = std::strtoull(argv[7], nullptr, 10);
    params.p = 0.01;
    const GridSolver solver = solver_name == "cg" ? GridSolver::conjugate_gradients : GridSolver::multigrid;

    const auto start = std::chrono::steady_clock::now();
    auto fit = method == "asls" ? asls(data, params, solver) : arpls(data, params, solver);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!fit) {
        std::printf("{\"error\": \"%s\"}\n", display(fit.error()).c_str());
        return 1;
    }
    std::ofstream(argv[8], std::ios::binary)
        .write(reinterpret_cast<const char*>(fit.value().baseline.data()),
               static_cast<std::streamsize>(values.size() * sizeof(double)));
    const std::string steps = solver == GridSolver::multigrid
                                  ? (method == "asls" ? steps_per_solve(data, params, AslsWeights{params.p})
                                                      : steps_per_solve(data, params, ArPlsWeights{}))
                                  : "null";
    const FitReport& report = fit.value().report;
    std::printf("{\"seconds\": %.6f, \"iterations\": %llu, \"converged\": %s, \"last_change\": %.6g, \"steps\": %s}\n",
                seconds, static_cast<unsigned long long>(report.iterations), report.converged ? "true" : "false",
                report.last_change, steps.c_str());
    return 0;
}
