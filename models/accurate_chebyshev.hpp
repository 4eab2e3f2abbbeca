// Sum of a Chebyshev series, for the tabulated functions of the accurate
// model evaluation.
#pragma once

namespace btcfit::accurate_detail {

// sum_k c[k] T_k(u) for u in [-1, 1], by Clenshaw's recurrence (stable:
// the rounding errors stay of the order of the sum of |c[k]| times the
// unit roundoff).
template <int N>
double chebyshev_sum(const double (&c)[N], double u) {
  double b1 = 0.0;
  double b2 = 0.0;
  const double u2 = 2.0 * u;
  for (int k = N - 1; k >= 1; --k) {
    const double b0 = u2 * b1 - b2 + c[k];
    b2 = b1;
    b1 = b0;
  }
  return u * b1 - b2 + c[0];
}

}  // namespace btcfit::accurate_detail
