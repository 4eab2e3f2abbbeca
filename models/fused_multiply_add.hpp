// a*b + c rounded once, on targets with and without a fused multiply-add
// instruction.
//
// The project's own exp, log and pow take their bits from steps that round
// a*b + c once. Where the target has the instruction, std::fma is that
// instruction (or the C library's exact routine on a processor without it).
// WebAssembly has none, and its C library computes fma with integer
// arithmetic on the significands, which costs tens of plain operations more
// than the exact sums below. fused_multiply_add picks the way at compile time;
// both give the same, correctly rounded, bits.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

namespace btcfit {

namespace fma_detail {

// Biased exponent field of a double (0 for zeros and subnormals, 2047 for
// infinities and NaN).
[[gnu::always_inline]] inline std::uint32_t exponent_field(double x) {
  return static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(x) >> 52) & 0x7ffu;
}

// s + e = x + y exactly, s = x + y rounded (Knuth's six-operation sum;
// exact for any finite x, y whose sum does not overflow).
[[gnu::always_inline]] inline void two_sum(double x, double y, double& s, double& e) {
  s = x + y;
  const double yy = s - x;
  const double xx = s - yy;
  e = (x - xx) + (y - yy);
}

// hi + lo = x exactly, hi holding the upper 26 bits of the significand
// (Veltkamp's split; exact while 2^27 x does not overflow).
[[gnu::always_inline]] inline void split(double x, double& hi, double& lo) {
  const double t = 134217729.0 * x;  // 2^27 + 1
  hi = t - (t - x);
  lo = x - hi;
}

// p + e = x * y exactly, p = x * y rounded (Dekker's product; exact when
// neither split overflows and the low partial products lie above the
// smallest subnormal).
[[gnu::always_inline]] inline void two_product(double x, double y, double& p, double& e) {
  double xh, xl, yh, yl;
  split(x, xh, xl);
  split(y, yh, yl);
  p = x * y;
  e = ((xh * yh - p) + xh * yl + xl * yh) + xl * yl;
}

// x + y rounded to odd: the exact sum when it is a double, else whichever of
// its two neighbouring doubles has an odd last significand bit. The odd bit
// records that something nonzero was dropped, so that a later rounding to
// nearest of a wider sum cannot mistake a value near a tie for the tie.
[[gnu::always_inline]] inline double sum_rounded_to_odd(double x, double y) {
  double s, e;
  two_sum(x, y, s, e);
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(s);
  const std::uint64_t dropped = std::bit_cast<std::uint64_t>(e);
  // One step of one ulp toward the dropped part e when s is inexact and
  // even (s is nonzero then: a sum that rounds to zero is exact); up in
  // magnitude when e has the sign of s, down otherwise. Written without a
  // branch, which the processor could not predict.
  const std::uint64_t step = static_cast<std::uint64_t>((dropped << 1) != 0) & ~bits & 1u;
  const std::uint64_t down = (dropped ^ bits) >> 63;
  return std::bit_cast<double>(bits + step - ((step & down) << 1));
}

}  // namespace fma_detail

// a*b + c rounded once to the nearest double, ties to even, from plain
// double arithmetic.
//
// First the quick way, which settles most sums where c outweighs a*b: y =
// fl(c + fl(a*b)) with its exact error e (TwoSum). The exact a*b + c lies
// within |e| + u(p) of y, u(p) being half an ulp of p = fl(a*b); when that is
// less than half an ulp of y (and y is no power of two, whose lower
// neighbour is nearer), a*b + c rounds to y. The comparison is made in
// rounded arithmetic, which cannot turn a sum at or above the bound into one
// below it (rounding is monotonic).
//
// Otherwise the exact way: the product split exactly into ph + pl, the sum
// c + ph split exactly into th + tl, the two low parts tl + pl added with
// rounding to odd, and th added to that with one rounding to nearest.
// Rounding the low sum to odd makes the last rounding that of the exact
// a*b + c (no double rounding). Exact when a and b are normal with 2^-968 <=
// |a b| < 2^1021, |a|, |b| < 2^996 and |c| < 2^1021: every partial product
// and sum is then a double. A zero factor with a finite other one gives
// a*b + c in one rounding as it stands. Everything else (a subnormal or huge
// operand, an infinity, a NaN) goes to std::fma, which is just as exact.
[[gnu::always_inline]] inline double fma_by_parts(double a, double b, double c) {
  {
    const double p = a * b;
    double y, e;
    fma_detail::two_sum(c, p, y, e);
    const std::uint32_t ep = fma_detail::exponent_field(p);
    const std::uint32_t ey = fma_detail::exponent_field(y);
    const std::uint64_t y_significand = std::bit_cast<std::uint64_t>(y) << 12;
    // p and y normal, finite and above 2^-969 (their half ulps are normal
    // powers of two), y below 2^1023 (the TwoSum cannot overflow).
    if (ep - 54u < 2046u - 54u && ey - 54u < 2046u - 54u && y_significand != 0) {
      const double half_ulp_p = std::bit_cast<double>(static_cast<std::uint64_t>(ep - 53u) << 52);
      const double half_ulp_y = std::bit_cast<double>(static_cast<std::uint64_t>(ey - 53u) << 52);
      if (std::fabs(e) + half_ulp_p < half_ulp_y) return y;
    }
  }
  const std::uint32_t ea = fma_detail::exponent_field(a);
  const std::uint32_t eb = fma_detail::exponent_field(b);
  const std::uint32_t ec = fma_detail::exponent_field(c);
  // In biased exponents: 1 <= ea, eb <= 2018 (normal, below 2^996),
  // 1078 <= ea + eb <= 3065 (2^-968 <= |a b| < 2^1021), ec <= 2043
  // (|c| < 2^1021). Unsigned wrap-around turns each pair of bounds into one
  // comparison.
  const bool in_range = ea - 1u < 2018u && eb - 1u < 2018u && ea + eb - 1078u <= 3065u - 1078u &&
                        ec <= 2043u;
  if (!in_range) {
    // A zero factor makes the product an exact zero, so that one rounded
    // addition gives the result (the steps of exp and log multiply by a
    // zero index often).
    if ((a == 0.0 && eb < 2047u) || (b == 0.0 && ea < 2047u)) return a * b + c;
    return std::fma(a, b, c);
  }
  double ph, pl, th, tl;
  fma_detail::two_product(a, b, ph, pl);
  fma_detail::two_sum(c, ph, th, tl);
  return th + fma_detail::sum_rounded_to_odd(tl, pl);
}

// The fused multiply-add of the models' exp, log and pow: std::fma where the
// target has the instruction or a correctly rounded library function,
// fma_by_parts on WebAssembly (no instruction) and on Windows, whose
// mingw-w64 library fma is not correctly rounded (it differs in the last
// bit on a few per cent of random triples). The same bits everywhere.
[[gnu::always_inline]] inline double fused_multiply_add(double a, double b, double c) {
#if defined(__wasm__) || defined(_WIN32)
  return fma_by_parts(a, b, c);
#else
  return std::fma(a, b, c);
#endif
}

}  // namespace btcfit
