// exp_many: the four-lane evaluation where it gives the bits of the C
// library's exp, the library's exp elsewhere.
#include "models/exponential.hpp"

#include "models/exponential_lanes.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace btcfit {

namespace exp_detail {

namespace {

void exp_many_plain(int n, const double* x, double* y) {
  for (int i = 0; i < n; ++i) y[i] = std::exp(x[i]);
}

// Probes: every table entry with r near 0 and near +-ln2/256, over the
// range of exponents the models use, plus both ends of the main range.
bool wide_matches_library() {
  constexpr int kProbes = 4 * 1024;
  static double x[kProbes], a[kProbes], b[kProbes];
  int n = 0;
  for (int k = -1200; k < 1200 && n + 1 < kProbes; k += 1) {
    x[n++] = k * (0.6931471805599453 / 128.0) + 0.001 * ((k * 37) % 11 - 5) / 128.0;
  }
  for (int k = 0; k < 64 && n < kProbes; ++k) x[n++] = -745.0 + 23.0 * k;
  for (int k = 0; k < 32 && n < kProbes; ++k) x[n++] = std::ldexp(1.0 + k / 32.0, -55 + k / 4);
  exp_many_plain(n, x, a);
  exp_many_wide(n, x, b);
  return std::memcmp(a, b, n * sizeof(double)) == 0;
}

bool decide_wide() { return processor_has_wide_exp() && wide_matches_library(); }

}  // namespace

bool processor_has_avx() {
  static const bool avx = __builtin_cpu_supports("avx");
  return avx;
}

bool processor_has_wide_exp() {
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

__attribute__((target("avx2,fma"))) void exp_many_wide(int n, const double* x, double* y) {
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    const bool main = in_main_range(x[i]) && in_main_range(x[i + 1]) &&
                      in_main_range(x[i + 2]) && in_main_range(x[i + 3]);
    if (main) {
      _mm256_storeu_pd(y + i, exp4(_mm256_loadu_pd(x + i)));
    } else {
      for (int k = i; k < i + 4; ++k) y[k] = std::exp(x[k]);
    }
  }
  if (i < n) {
    // The last one to three arguments, padded with zeros (lanes unused).
    alignas(32) double in[4] = {0.0, 0.0, 0.0, 0.0}, out[4];
    bool main = true;
    for (int k = i; k < n; ++k) {
      in[k - i] = x[k];
      main = main && in_main_range(x[k]);
    }
    if (main) {
      for (int k = n - i; k < 4; ++k) in[k] = in[n - i - 1];
      _mm256_store_pd(out, exp4(_mm256_load_pd(in)));
      for (int k = i; k < n; ++k) y[k] = out[k - i];
    } else {
      for (int k = i; k < n; ++k) y[k] = std::exp(x[k]);
    }
  }
}

bool wide_exp_in_use() {
  static const bool use = decide_wide();
  return use;
}

}  // namespace exp_detail

void exp_many(int n, const double* x, double* y) {
  if (exp_detail::wide_exp_in_use()) {
    exp_detail::exp_many_wide(n, x, y);
  } else {
    exp_detail::exp_many_plain(n, x, y);
  }
}

}  // namespace btcfit
