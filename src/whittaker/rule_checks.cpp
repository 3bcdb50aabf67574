// The accepted values of the later schemes' parameters, which every fit checks before it starts through
// validate_rule (engine.hpp): the package checks them first, with their ranges in words; these keep
// direct callers of the core safe.
#include <cmath>

#include "aspls.hpp"
#include "brpls.hpp"
#include "core/numeric.hpp"
#include "derpsalsa.hpp"
#include "drpls.hpp"
#include "iasls.hpp"
#include "psalsa.hpp"

namespace quorvel::whittaker {
namespace {

Status check_p(double p) {
    if (is_non_finite(p) || p <= 0.0 || p >= 1.0) return InvalidParameter{"p", "must be finite and between 0 and 1"};
    return ok;
}

// NaN leaves k to the data.
Status check_k(double k) {
    if (!std::isnan(k) && !is_finite_positive(k)) return InvalidParameter{"k", "must be finite and positive"};
    return ok;
}

}  // namespace

Status check_rule(const IaslsWeights& rule) {
    if (auto valid = check_p(rule.p); !valid) return valid;
    for (const double lam_1 : {rule.lam_1, rule.lam_1_cols.value_or(rule.lam_1)}) {
        if (is_non_finite(lam_1) || lam_1 < 0.0) return InvalidParameter{"lam_1", "must be finite and not negative"};
    }
    return ok;
}

Status check_rule(const DrPlsWeights& rule) {
    if (is_non_finite(rule.eta) || rule.eta < 0.0 || rule.eta > 1.0) {
        return InvalidParameter{"eta", "must be finite and from 0 to 1"};
    }
    return ok;
}

Status check_rule(const AsPlsWeights& rule) {
    if (!is_finite_positive(rule.asymmetric_coef)) {
        return InvalidParameter{"asymmetric_coef", "must be finite and positive"};
    }
    for (const double scale : rule.alpha) {
        if (is_non_finite(scale) || scale < 0.0) return InvalidParameter{"alpha", "must be finite and at least 0"};
    }
    return ok;
}

Status check_rule(const PsalsaWeights& rule) {
    if (auto valid = check_p(rule.p); !valid) return valid;
    return check_k(rule.k);
}

// Each smoothing pass costs a transform of the data: a thousand passes is already far past any use.
Status check_rule(const DerPsalsaWeights& rule) {
    if (auto valid = check_p(rule.p); !valid) return valid;
    if (auto valid = check_k(rule.k); !valid) return valid;
    if (rule.num_smooths > 1000) return InvalidParameter{"num_smooths", "must be at most 1000"};
    return ok;
}

Status check_rule(const BrPlsWeights& rule) {
    if (rule.max_iter_2 == 0) return InvalidParameter{"max_iter_2", "must be greater than zero"};
    if (is_non_finite(rule.tol_2)) return InvalidParameter{"tol_2", "must be finite"};
    return ok;
}

}  // namespace quorvel::whittaker
