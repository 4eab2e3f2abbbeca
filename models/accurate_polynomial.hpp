// Sum of a polynomial in power form, for the tabulated functions of the
// accurate model evaluation.
#pragma once

namespace btcfit::accurate_detail {

// sum_k a[k] u^k by Estrin's scheme: neighbouring terms are paired,
// a[2i] + u a[2i+1], then the pairs with u^2, and so on, so that the
// additions of one level are independent of each other and the sum takes
// about log2(N) multiply-add steps in sequence instead of N. For u in
// [-1, 1] and the tabulated coefficients the rounding is that of the
// largest |a[k] u^k|, which the tables' generators keep within 4 times the
// value.
template <int N>
double polynomial(const double (&a)[N], double u) {
  double p[N];
  for (int k = 0; k < N; ++k) p[k] = a[k];
  int n = N;
  double x = u;
  while (n > 1) {
    const int half = n / 2;
    for (int i = 0; i < half; ++i) p[i] = p[2 * i] + x * p[2 * i + 1];
    if (n % 2 == 1) p[half] = p[n - 1];
    n = half + n % 2;
    x = x * x;
  }
  return p[0];
}

}  // namespace btcfit::accurate_detail
