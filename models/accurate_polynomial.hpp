// Sum of a polynomial in power form, for the tabulated functions of the
// accurate model evaluation.
#pragma once

#include <bit>

namespace btcfit::accurate_detail {

// sum_k a[k] u^k by Estrin's scheme: neighbouring terms are paired,
// a[2i] + u a[2i+1], then the pairs with u^2, and so on, so that the
// additions of one level are independent of each other and the sum takes
// about log2(N) multiply-add steps in sequence instead of N. For u in
// [-1, 1] and the tabulated coefficients the rounding is that of the
// largest |a[k] u^k|, which the tables' generators keep within 4 times the
// value.
namespace polynomial_detail {

// The first N terms of a with powers[k] = u^(2^k): the low terms up to the
// largest power of two M below N, plus u^M times the rest.
template <int N>
inline double estrin(const double* a, const double* powers) {
  if constexpr (N == 1) {
    return a[0];
  } else {
    constexpr int M = static_cast<int>(std::bit_floor(static_cast<unsigned>(N - 1)));
    constexpr int level = std::countr_zero(static_cast<unsigned>(M));
    return estrin<M>(a, powers) + powers[level] * estrin<N - M>(a + M, powers);
  }
}

}  // namespace polynomial_detail

template <int N>
inline double polynomial(const double (&a)[N], double u) {
  double powers[8];
  powers[0] = u;
  for (int k = 1; k < 8; ++k) powers[k] = powers[k - 1] * powers[k - 1];
  return polynomial_detail::estrin<N>(a, powers);
}

}  // namespace btcfit::accurate_detail
