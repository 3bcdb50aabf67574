#include "scaled_system.hpp"

#include <cmath>

namespace quorvel::polynomial {
namespace {

// Lower Cholesky factor in place; false when the matrix is not numerically positive definite.
bool cholesky(std::vector<double>& a, std::size_t m) {
    for (std::size_t j = 0; j < m; ++j) {
        double diagonal = a[j * m + j];
        for (std::size_t k = 0; k < j; ++k) diagonal -= a[j * m + k] * a[j * m + k];
        if (!(diagonal > 0.0)) return false;
        const double root = std::sqrt(diagonal);
        a[j * m + j] = root;
        for (std::size_t i = j + 1; i < m; ++i) {
            double value = a[i * m + j];
            for (std::size_t k = 0; k < j; ++k) value -= a[i * m + k] * a[j * m + k];
            a[i * m + j] = value / root;
        }
    }
    return true;
}

// x = (L L^T)^-1 b in place.
void cholesky_solve(const std::vector<double>& l, std::size_t m, double* x) {
    for (std::size_t i = 0; i < m; ++i) {
        for (std::size_t k = 0; k < i; ++k) x[i] -= l[i * m + k] * x[k];
        x[i] /= l[i * m + i];
    }
    for (std::size_t i = m; i-- > 0;) {
        for (std::size_t k = i + 1; k < m; ++k) x[i] -= l[k * m + i] * x[k];
        x[i] /= l[i * m + i];
    }
}

// ‖A‖₁ ‖A⁻¹‖₁ of the scaled Gram matrix `a` (upper triangle read) from its factor, column by column of A⁻¹.
double condition(const std::vector<double>& a, const std::vector<double>& l, std::size_t m) {
    double norm = 0.0, inverse_norm = 0.0;
    std::vector<double> column(m);
    for (std::size_t j = 0; j < m; ++j) {
        double sum = 0.0;
        for (std::size_t i = 0; i < m; ++i) sum += std::fabs(i <= j ? a[i * m + j] : a[j * m + i]);
        norm = std::fmax(norm, sum);
        for (std::size_t i = 0; i < m; ++i) column[i] = i == j ? 1.0 : 0.0;
        cholesky_solve(l, m, column.data());
        double inverse_sum = 0.0;
        for (const double value : column) inverse_sum += std::fabs(value);
        inverse_norm = std::fmax(inverse_norm, inverse_sum);
    }
    return norm * inverse_norm;
}

}  // namespace

bool factorise_scaled(std::vector<double>& gram, std::size_t m, ScaledSystem& system, double most_condition,
                      double ridge) {
    system.size = m;
    system.scale.assign(m, 0.0);
    for (std::size_t a = 0; a < m; ++a) {
        if (!(gram[a * m + a] > 0.0)) return false;
        system.scale[a] = 1.0 / std::sqrt(gram[a * m + a]);
    }
    for (std::size_t a = 0; a < m; ++a) {
        for (std::size_t b = a; b < m; ++b) gram[a * m + b] *= system.scale[a] * system.scale[b];
        gram[a * m + a] += ridge;
    }
    system.factor.assign(m * m, 0.0);
    for (std::size_t a = 0; a < m; ++a) {
        for (std::size_t b = 0; b <= a; ++b) system.factor[a * m + b] = gram[b * m + a];
    }
    if (!cholesky(system.factor, m)) return false;
    system.condition = condition(gram, system.factor, m);
    return system.condition <= most_condition;
}

void solve_scaled(const ScaledSystem& system, double* rhs) {
    for (std::size_t a = 0; a < system.size; ++a) rhs[a] *= system.scale[a];
    cholesky_solve(system.factor, system.size, rhs);
    for (std::size_t a = 0; a < system.size; ++a) rhs[a] *= system.scale[a];
}

}  // namespace quorvel::polynomial
