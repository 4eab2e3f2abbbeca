// Goldstein's J function of the two-site/two-region exchange.
#pragma once

namespace btcfit {

// J(a, b) = 1 - integral_0^a exp(-b - xi) I0(2 sqrt(b xi)) dxi, for
// non-negative a and b.
double GOLD(double a, double b);

}  // namespace btcfit
