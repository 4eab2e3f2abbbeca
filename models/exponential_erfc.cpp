// exp(A)*erfc(B) without forming the two factors separately.
//
// For X = |B| the product is exp(A - X*X) * [exp(X*X)*erfc(X)]; the bracket
// comes from the rational approximation of Abramowitz and Stegun 7.1.26
// (with its exp(-X*X) factor left out) for X <= 3, and from a truncated
// continued fraction beyond. A negative B uses erfc(B) = 2 - erfc(|B|).
// The steps are in models/exponential_erfc_batch.hpp, shared with the
// evaluation of several argument pairs at once.
#include "models/exponential_erfc.hpp"

#include "models/exponential_erfc_batch.hpp"

namespace btcfit {

double EXF(double A, double B) { return exf_one(A, B); }

}  // namespace btcfit
