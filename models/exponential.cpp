// fixed_exp and exp_many: the table evaluation with fused multiply-adds, four
// lanes at a time where the processor has AVX2 and FMA, two with WebAssembly's
// SIMD.
#include "models/exponential.hpp"

#include "models/exponential_lanes.hpp"
#include "models/exponential_pairs.hpp"
#include "models/fused_multiply_add.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace btcfit {

namespace exp_detail {

namespace {

// e^x = 2^(k/128) e^r. Arguments with 2^-54 <= |x| < 512 take the main
// steps; |x| in [512, 1024) may overflow or underflow and is finished with
// a scale of its own; tiny, huge, infinite and NaN arguments have fixed
// results. Each fused multiply-add below stands where the reference library
// rounds once; the plain operations where it rounds twice.
[[gnu::always_inline]] inline double exp_steps(double x) {
  const std::uint32_t abstop = static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(x) >> 52) & 0x7ffu;
  bool near_limit = false;
  if (abstop - 0x3c9u >= 0x408u - 0x3c9u) {
    if (abstop - 0x3c9u >= 0x80000000u) return 1.0 + x;  // |x| < 2^-54
    if (abstop >= 0x409u) {                                // |x| >= 1024
      if (std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(-HUGE_VAL)) return 0.0;
      if (abstop >= 0x7ffu) return 1.0 + x;  // +inf, NaN
      return (std::bit_cast<std::uint64_t>(x) >> 63) ? 0.0 : INFINITY;
    }
    near_limit = true;
  }
  double kd = fused_multiply_add(x, kInvLn2N, kShift);
  const std::uint64_t ki = std::bit_cast<std::uint64_t>(kd);
  kd -= kShift;
  double r = fused_multiply_add(kd, kNegLn2HiN, x);
  r = fused_multiply_add(kd, kNegLn2LoN, r);
  const std::uint64_t idx = 2 * (ki % 128);
  const double tail = std::bit_cast<double>(kTable[idx]);
  std::uint64_t sbits = kTable[idx + 1] + (ki << 45);
  const double r2 = r * r;
  const double tmp =
      fused_multiply_add(r2 * r2, fused_multiply_add(r, kC5, kC4),
                         fused_multiply_add(fused_multiply_add(r, kC3, kC2), r2, r + tail));
  if (near_limit) {
    if ((ki & 0x80000000u) == 0) {
      // k > 0: the exponent of the scale may have overflowed; scaled back.
      sbits -= std::uint64_t{1009} << 52;
      const double scale = std::bit_cast<double>(sbits);
      return 0x1p1009 * fused_multiply_add(scale, tmp, scale);
    }
    // k < 0: a result in the subnormal range is rounded once, to its own
    // precision, before the final scaling.
    sbits += std::uint64_t{1022} << 52;
    const double scale = std::bit_cast<double>(sbits);
    const double p = scale * tmp;
    double y = scale + p;
    if (y < 1.0) {
      double lo = scale - y + p;
      const double hi = 1.0 + y;
      lo = 1.0 - hi + y + lo;
      y = (hi + lo) - 1.0;
      if (y == 0.0) y = 0.0;
    }
    return 0x1p-1022 * y;
  }
  const double scale = std::bit_cast<double>(sbits);
  return fused_multiply_add(scale, tmp, scale);
}

#if defined(__x86_64__)
// The same steps with the fused multiply-add as one instruction.
__attribute__((target("fma"))) double exp_steps_fma(double x) { return exp_steps(x); }
#endif

void exp_many_plain(int n, const double* x, double* y) {
  for (int i = 0; i < n; ++i) y[i] = fixed_exp(x[i]);
}

#if defined(__x86_64__) || defined(__wasm_simd128__)
// Probes: every table entry with r near 0 and near +-ln2/256, over the
// range of exponents the models use, plus both ends of the main range.
bool wide_matches_plain() {
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

bool decide_wide() { return processor_has_wide_exp() && wide_matches_plain(); }
#else
bool decide_wide() { return false; }
#endif

}  // namespace

#if defined(__x86_64__)

bool detect_avx() {
  __builtin_cpu_init();  // may run before the library's own start-up code
  return __builtin_cpu_supports("avx");
}

bool detect_fma() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("fma");
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
      for (int k = i; k < i + 4; ++k) y[k] = exp_steps_fma(x[k]);
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
      for (int k = i; k < n; ++k) y[k] = exp_steps_fma(x[k]);
    }
  }
}

#elif defined(__wasm_simd128__)

bool detect_avx() { return false; }
bool detect_fma() { return false; }

// WebAssembly with SIMD: two lanes, each with the exact sums of
// fma_by_parts (the target has no fused multiply-add).
bool processor_has_wide_exp() { return true; }

void exp_many_wide(int n, const double* x, double* y) {
  int i = 0;
  for (; i + 2 <= n; i += 2) {
    DoublePair v{x[i], x[i + 1]}, r;
    if (exp_pair(v, r)) {
      y[i] = r[0];
      y[i + 1] = r[1];
    } else {
      y[i] = fixed_exp(v[0]);
      y[i + 1] = fixed_exp(v[1]);
    }
  }
  if (i < n) y[i] = fixed_exp(x[i]);
}

#else

bool detect_avx() { return false; }

// No run-time choice outside x86-64: std::fma is compiled for the target
// (one instruction on arm64).
bool detect_fma() { return false; }

bool processor_has_wide_exp() { return false; }

void exp_many_wide(int n, const double* x, double* y) { exp_many_plain(n, x, y); }

#endif

const bool kProcessorHasAvx = detect_avx();
const bool kProcessorHasFma = detect_fma();

bool wide_exp_in_use() {
  static const bool use = decide_wide();
  return use;
}

}  // namespace exp_detail

namespace {

// Out of line, so that the choice in fixed_exp stays a test and a jump.
[[gnu::noinline]] double exp_steps_plain(double x) { return exp_detail::exp_steps(x); }

}  // namespace

double fixed_exp(double x) {
#if defined(__x86_64__)
  if (exp_detail::processor_has_fma()) return exp_detail::exp_steps_fma(x);
#endif
  return exp_steps_plain(x);
}

void exp_many(int n, const double* x, double* y) {
  if (exp_detail::wide_exp_in_use()) {
    exp_detail::exp_many_wide(n, x, y);
  } else {
    exp_detail::exp_many_plain(n, x, y);
  }
}

}  // namespace btcfit
